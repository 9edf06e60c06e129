#include "engine/job_status.h"

namespace karvel {

const char* StatusText(JobStatus status) {
  switch (status) {
    case JobStatus::Ok:
      return "done";
    case JobStatus::OpenFailed:
      return "file open failed";
    case JobStatus::NoTargetPath:
      return "input file name to encode";
    case JobStatus::NoPassphrase:
      return "input encoding key";
    case JobStatus::HeaderMismatch:
      return "invalid key";
    case JobStatus::ReadFailed:
      return "file read failed";
    case JobStatus::WriteFailed:
      return "file write failed";
    case JobStatus::ReplaceFailed:
      return "output replace failed";
    case JobStatus::OutputIsFolder:
      return "output is a folder";
    case JobStatus::OutputReadOnly:
      return "output is read-only";
    case JobStatus::OutputFolderMissing:
      return "output folder not found";
    case JobStatus::PassphraseTooLong:
      return "encoding key too long";
    case JobStatus::PathTooLong:
      return "file name too long";
    case JobStatus::Cancelled:
      return "cancelled";
    case JobStatus::PassphraseUnusable:
      return "encoding key has a character this system cannot use";
    case JobStatus::TargetChanged:
      return "file changed while working";
    case JobStatus::TargetHasOtherNames:
      return "file has more than one name";
    case JobStatus::OutputNotAFile:
      return "output is not a file";
    case JobStatus::Damaged:
      return "file is damaged";
    case JobStatus::LinkUnresolved:
      return "file link cannot be followed";
    case JobStatus::AlreadyEncoded:
      return "alreadly encoded by the passphrase";
  }
  return "";
}

}  // namespace karvel
