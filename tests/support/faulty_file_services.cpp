#include "tests/support/faulty_file_services.h"

#include <utility>

#include "engine/encoding_job.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace karvel {

#ifdef _WIN32
constexpr int kDenied = ERROR_ACCESS_DENIED;
constexpr int kDiskFull = ERROR_DISK_FULL;
constexpr int kDeviceError = ERROR_GEN_FAILURE;
constexpr int kGone = ERROR_FILE_NOT_FOUND;
constexpr int kNameTooLong = ERROR_FILENAME_EXCED_RANGE;
#else
constexpr int kDenied = EACCES;
constexpr int kDiskFull = ENOSPC;
constexpr int kDeviceError = EIO;
constexpr int kGone = ENOENT;
constexpr int kNameTooLong = ENAMETOOLONG;
#endif

int InjectedError(Call call, Fault fault) {
  if (fault == Fault::Short || fault == Fault::Interject) return 0;
  if (fault == Fault::NameTooLong) return kNameTooLong;
  switch (call) {
    case Call::Write:
    case Call::WriteAt:
    case Call::Flush:
      return kDiskFull;
    case Call::Read:
    case Call::Identify:
    case Call::Close:
    case Call::FillRandom:
      return kDeviceError;
    case Call::FinalPath:
    case Call::ResolveLinks:
    case Call::IdentifyPath:
      return kGone;
    case Call::OpenForReading:
    case Call::CreateUnnamed:
    case Call::Name:
    case Call::CreateNew:
    case Call::CopyProtection:
    case Call::Rename:
    case Call::Move:
    case Call::MoveToTrash:
      break;
  }
  return kDenied;
}

FaultyFileServices::FaultyFileServices(std::vector<FaultPlan> plans)
    : system_(SystemFileServices()), plans_(std::move(plans)) {}

const FaultPlan* FaultyFileServices::Strike(Call call) {
  int occurrence = ++calls_[call];
  for (const FaultPlan& plan : plans_) {
    if (plan.call == call && plan.occurrence == occurrence) {
      ++struck_;
      if (plan.fault != Fault::Interject) {
        injected_ = InjectedError(call, plan.fault);
        injectedLast_ = true;
        return &plan;
      }
      plan.action();
    }
  }
  return nullptr;
}

bool FaultyFileServices::AllStruck() const { return struck_ == plans_.size(); }

bool FaultyFileServices::Passed(bool succeeded) {
  if (!succeeded) injectedLast_ = false;
  return succeeded;
}

CreateResult FaultyFileServices::Passed(CreateResult result) {
  Passed(result == CreateResult::Created);
  return result;
}

int FaultyFileServices::LastError() { return injectedLast_ ? injected_ : system_.LastError(); }

PathForm FaultyFileServices::Prepare(const char* text, SystemPath* path) {
  PathForm form = system_.Prepare(text, path);
  Passed(form == PathForm::Ok);
  return form;
}

bool FaultyFileServices::Beside(const SystemPath& path, const char* tail, bool replaceName,
                                SystemPath* name) {
  return system_.Beside(path, tail, replaceName, name);
}

FileHandle FaultyFileServices::OpenForReading(const SystemPath& path) {
  if (Strike(Call::OpenForReading)) return kNoFile;
  FileHandle file = system_.OpenForReading(path);
  Passed(file != kNoFile);
  return file;
}

bool FaultyFileServices::FinalPath(FileHandle file, const SystemPath& path, SystemPath* final) {
  return !Strike(Call::FinalPath) && Passed(system_.FinalPath(file, path, final));
}

bool FaultyFileServices::ResolveLinks(const SystemPath& path, SystemPath* final) {
  return !Strike(Call::ResolveLinks) && Passed(system_.ResolveLinks(path, final));
}

CreateResult FaultyFileServices::CreateUnnamed(const SystemPath& beside, FileHandle* file) {
  if (Strike(Call::CreateUnnamed)) {
    *file = kNoFile;
    return CreateResult::Failed;
  }
  return Passed(system_.CreateUnnamed(beside, file));
}

CreateResult FaultyFileServices::Name(FileHandle file, const SystemPath& path) {
  if (const FaultPlan* plan = Strike(Call::Name)) {
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return Passed(system_.Name(file, path));
}

CreateResult FaultyFileServices::CreateNew(const SystemPath& path, FileHandle* file) {
  if (const FaultPlan* plan = Strike(Call::CreateNew)) {
    *file = kNoFile;
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return Passed(system_.CreateNew(path, file));
}

bool FaultyFileServices::Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) {
  const FaultPlan* plan = Strike(Call::Read);
  if (plan == nullptr) return Passed(system_.Read(file, buffer, size, bytesRead));
  bool read = system_.Read(file, buffer, size / 2, bytesRead);
  return read && plan->fault == Fault::Short;
}

bool FaultyFileServices::Write(FileHandle file, const void* buffer, size_t size,
                               size_t* bytesWritten) {
  const FaultPlan* plan = Strike(Call::Write);
  if (plan == nullptr) return Passed(system_.Write(file, buffer, size, bytesWritten));
  bool written = system_.Write(file, buffer, size / 2, bytesWritten);
  return written && plan->fault == Fault::Short;
}

bool FaultyFileServices::WriteAt(FileHandle file, uint64_t offset, const void* buffer,
                                 size_t size) {
  return !Strike(Call::WriteAt) && Passed(system_.WriteAt(file, offset, buffer, size));
}

bool FaultyFileServices::Identify(FileHandle file, FileIdentity* identity) {
  return !Strike(Call::Identify) && Passed(system_.Identify(file, identity));
}

bool FaultyFileServices::IdentifyPath(const SystemPath& path, FileIdentity* identity) {
  return !Strike(Call::IdentifyPath) && Passed(system_.IdentifyPath(path, identity));
}

bool FaultyFileServices::Flush(FileHandle file) {
  bool flushed = Passed(system_.Flush(file));
  return !Strike(Call::Flush) && flushed;
}

bool FaultyFileServices::Close(FileHandle file) {
  bool closed = Passed(system_.Close(file));
  return !Strike(Call::Close) && closed;
}

bool FaultyFileServices::CopyProtection(const SystemPath& from, FileHandle to, bool replacing) {
  return !Strike(Call::CopyProtection) && Passed(system_.CopyProtection(from, to, replacing));
}

CreateResult FaultyFileServices::Rename(const SystemPath& from, const SystemPath& to) {
  if (const FaultPlan* plan = Strike(Call::Rename)) {
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return Passed(system_.Rename(from, to));
}

bool FaultyFileServices::Remove(const SystemPath& path) { return Passed(system_.Remove(path)); }

bool FaultyFileServices::Move(FileHandle file, const SystemPath& from, const SystemPath& to,
                              const MoveCheck& check, FileHandle held) {
  if (Strike(Call::Move)) {
    if (held != kNoFile) system_.Close(held);
    return false;
  }
  return Passed(system_.Move(file, from, to, check, held));
}

PathKind FaultyFileServices::Inspect(const SystemPath& path) { return system_.Inspect(path); }

bool FaultyFileServices::Exists(const SystemPath& path) { return system_.Exists(path); }

bool FaultyFileServices::MoveToTrash(const SystemPath& path) {
  return !Strike(Call::MoveToTrash) && Passed(system_.MoveToTrash(path));
}

FileHandle FaultyFileServices::CreateScratch() {
  FileHandle file = system_.CreateScratch();
  Passed(file != kNoFile);
  return file;
}

FileHandle FaultyFileServices::StandardInput() { return system_.StandardInput(); }

FileHandle FaultyFileServices::StandardOutput() { return system_.StandardOutput(); }

bool FaultyFileServices::Tell(FileHandle file, uint64_t* offset) {
  return Passed(system_.Tell(file, offset));
}

bool FaultyFileServices::Seek(FileHandle file, uint64_t offset) {
  return Passed(system_.Seek(file, offset));
}

bool FaultyFileServices::FillRandom(void* buffer, size_t size) {
  return !Strike(Call::FillRandom) && Passed(system_.FillRandom(buffer, size));
}

}  // namespace karvel
