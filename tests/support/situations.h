// The situations a job can meet before it runs, and what Encode and Decode
// each say of them, for every front end to be held against: the engine's
// check, karvel-cli and the window must all refuse the same way.
#pragma once

#include <string>

#include "engine/job_status.h"
#include "tests/support/test_files.h"

namespace karvel {

// The signature check sees every byte of it, so an older file decoded in place keeps no original.
constexpr char kSituationPassphrase[] = "seven!!";

struct Situation {
  const char* name;
  const char* passphrase;
  const char* target;  // a name in SituationFiles; "" for no path at all
  const char* output;  // a name in SituationFiles; "" for the target itself
  JobStatus encode;    // what Encode's check says
  JobStatus decode;    // what Decode's check says
};

// The files the situations name, in a folder of their own: "plain", "encoded" (under
// kSituationPassphrase), "other" (under another passphrase), the folder "folder" and the
// read-only file "locked"; "missing" and "nowhere" do not exist.
class SituationFiles {
 public:
  SituationFiles();
  ~SituationFiles();

  // The path of name inside the folder; "" for "".
  std::string operator[](const std::string& name) const;

 private:
  ScratchFolder folder_;
};

inline const Situation kSituations[] = {
    {"a plain file", kSituationPassphrase, "plain", "", JobStatus::Ok, JobStatus::HeaderMismatch},
    {"a file encoded under the passphrase", kSituationPassphrase, "encoded", "",
     JobStatus::AlreadyEncoded, JobStatus::Ok},
    {"a file encoded under another passphrase", kSituationPassphrase, "other", "", JobStatus::Ok,
     JobStatus::HeaderMismatch},
    {"a plain file to another output", kSituationPassphrase, "plain", "new", JobStatus::Ok,
     JobStatus::HeaderMismatch},
    // The output is looked at only once the probe lets the direction run.
    {"a plain file to a folder", kSituationPassphrase, "plain", "folder", JobStatus::OutputIsFolder,
     JobStatus::HeaderMismatch},
    {"an encoded file to a folder", kSituationPassphrase, "encoded", "folder",
     JobStatus::AlreadyEncoded, JobStatus::OutputIsFolder},
    {"a plain file to a read-only output", kSituationPassphrase, "plain", "locked",
     JobStatus::OutputReadOnly, JobStatus::HeaderMismatch},
    {"an encoded file to a read-only output", kSituationPassphrase, "encoded", "locked",
     JobStatus::AlreadyEncoded, JobStatus::OutputReadOnly},
    {"an encoded file into a missing folder", kSituationPassphrase, "encoded", "nowhere/out",
     JobStatus::AlreadyEncoded, JobStatus::OutputFolderMissing},
    {"a missing target", kSituationPassphrase, "missing", "", JobStatus::OpenFailed,
     JobStatus::OpenFailed},
    {"no target path", kSituationPassphrase, "", "", JobStatus::NoTargetPath,
     JobStatus::NoTargetPath},
    {"an empty passphrase", "", "encoded", "", JobStatus::NoPassphrase, JobStatus::NoPassphrase},
};

}  // namespace karvel
