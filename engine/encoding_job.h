// One encode or decode request and the operations that carry it out; the
// engine's chief header, which brings the file format (engine/format.h) along.
//
// Every result is written to a new temporary file beside the output, flushed,
// given the protection of the file it replaces, and only then moved over the
// output in one step; on any failure the target and an existing output are
// left exactly as they were and the temporary file is removed. The one
// exception is an older file decoded in place whose original had stepped
// aside and could not go back to its name: it is then where originalPlace
// says. Paths are UTF-8 text.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/file_services.h"
#include "engine/format.h"
#include "engine/job_status.h"
#include "engine/path_limits.h"

namespace karvel {

constexpr size_t kChunkSize = 262144;  // bytes read, scrambled and written per step

// Where Decode left an older file's original (one without the record, which checks neither the
// whole passphrase nor the content), when it decoded it in place and the result may be garbage.
enum class OriginalPlace {
  None,    // no original was moved aside, or it is back at its name
  Trash,   // in the user's trash (the Recycle Bin), from where the user can restore it
  Beside,  // beside the result, at originalPath, which nothing removes
};

// Shared by a running transform and the thread that watches it or stops it.
struct JobProgress {
  std::atomic<uint64_t> bytesDone{0};   // bytes of the target read so far
  std::atomic<uint64_t> bytesTotal{0};  // the target's size, stored once the transform knows it
  std::atomic<bool> cancelRequested{false};  // stops the transform before its next chunk
};

class EncodingJob {
 public:
  EncodingJob();   // signature set, the other fields empty
  ~EncodingJob();  // wipes the passphrase

  EncodingJob(const EncodingJob&) = delete;
  EncodingJob& operator=(const EncodingJob&) = delete;

  // Each copies text into its field, or refuses it whole (field left empty) when too long.
  JobStatus SetTargetPath(const char* text);
  JobStatus SetPassphrase(const char* text);
  JobStatus SetOutputPath(const char* text);

  // Ok when the target's header matches the passphrase; reads the target, changes no file.
  JobStatus Probe(FileServices& files = SystemFileServices());
  // Why the output (the target when outputPath is empty), or the file a link there leads to, cannot
  // be written, before anything is asked of the user: OutputIsFolder, OutputReadOnly,
  // OutputFolderMissing, OutputNotAFile, LinkUnresolved; or Ok.
  JobStatus OutputStatus(FileServices& files = SystemFileServices()) const;
  // Writes the header and the scrambled target to the output (the target itself when outputPath is
  // empty).
  JobStatus Encode(FileServices& files = SystemFileServices(), JobProgress* progress = nullptr);
  // Checks the header, then writes the unscrambled content after it to the output; says in
  // originalPlace where an older file's original went.
  JobStatus Decode(FileServices& files = SystemFileServices(), JobProgress* progress = nullptr);

  char signature[kSignatureFieldSize];
  char passphrase[kPassphraseFieldSize];
  char targetPath[kPathFieldSize];
  char outputPath[kPathFieldSize];
  OriginalPlace originalPlace;        // set by Decode, whatever it returns
  char originalPath[kPathFieldSize];  // for Beside
  // Set by Probe, Encode and Decode: why the system failed the call behind the status they
  // returned (FileServices::LastError, for ErrorText), or 0 when no failed call is behind it.
  int systemError;
  // Set by Probe and Decode: the target's header carries a record that checks, so this version
  // encoded it, under whatever passphrase the record holds.
  bool recordFound;
};

}  // namespace karvel
