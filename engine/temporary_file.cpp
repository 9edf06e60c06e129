#include "engine/temporary_file.h"

#include "engine/paths.h"

namespace karvel {

namespace {

constexpr char kTemporarySuffix[] = ".tmp";

}  // namespace

TemporaryFile::~TemporaryFile() {
  if (handle_ != kNoFile) files_.Close(handle_);
  if (named_) files_.Remove(path_);
}

JobStatus TemporaryFile::CreateFor(const SystemPath& output, bool inPlace) {
  output_ = output;
  if (files_.CreateUnnamed(output, &handle_) == CreateResult::Created) return JobStatus::Ok;
  CreateResult created =
      AtFreeName(files_, output, kTemporarySuffix, &path_,
                 [this](const SystemPath& path) { return files_.CreateNew(path, &handle_); });
  named_ = created == CreateResult::Created;
  switch (created) {
    case CreateResult::Created:
      return JobStatus::Ok;
    case CreateResult::NameTooLong:
      return JobStatus::PathTooLong;
    case CreateResult::NameTaken:
    case CreateResult::Failed:
      break;
  }
  return inPlace ? JobStatus::OpenFailed : JobStatus::ReplaceFailed;
}

bool TemporaryFile::Flush() { return files_.Flush(handle_); }

bool TemporaryFile::Publish(const MoveCheck& check, FileHandle held) {
  if (!named_) {
    named_ = AtFreeName(files_, output_, kTemporarySuffix, &path_, [this](const SystemPath& path) {
               return files_.Name(handle_, path);
             }) == CreateResult::Created;
    if (!named_) {
      if (held != kNoFile) files_.Close(held);
      return false;
    }
  }
  if (!files_.Move(handle_, path_, output_, check, held)) return false;
  named_ = false;
  return true;
}

}  // namespace karvel
