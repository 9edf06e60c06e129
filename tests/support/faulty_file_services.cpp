#include "tests/support/faulty_file_services.h"

#include <utility>

#include "engine/encoding_job.h"

namespace karvel {

FaultyFileServices::FaultyFileServices(std::vector<FaultPlan> plans)
    : system_(SystemFileServices()), plans_(std::move(plans)) {}

const FaultPlan* FaultyFileServices::Strike(Call call) {
  int occurrence = ++calls_[call];
  for (const FaultPlan& plan : plans_) {
    if (plan.call == call && plan.occurrence == occurrence) {
      ++struck_;
      if (plan.fault != Fault::Interject) return &plan;
      plan.action();
    }
  }
  return nullptr;
}

bool FaultyFileServices::AllStruck() const { return struck_ == plans_.size(); }

bool FaultyFileServices::Fits(const char* path) { return system_.Fits(path); }

FileHandle FaultyFileServices::OpenForReading(const char* path) {
  return Strike(Call::OpenForReading) ? kNoFile : system_.OpenForReading(path);
}

bool FaultyFileServices::FinalPath(FileHandle file, const char* path, std::string* final) {
  return !Strike(Call::FinalPath) && system_.FinalPath(file, path, final);
}

bool FaultyFileServices::ResolveLinks(const char* path, std::string* final) {
  return !Strike(Call::ResolveLinks) && system_.ResolveLinks(path, final);
}

CreateResult FaultyFileServices::CreateUnnamed(const char* folder, FileHandle* file) {
  if (Strike(Call::CreateUnnamed)) {
    *file = kNoFile;
    return CreateResult::Failed;
  }
  return system_.CreateUnnamed(folder, file);
}

CreateResult FaultyFileServices::Name(FileHandle file, const char* path) {
  if (const FaultPlan* plan = Strike(Call::Name)) {
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return system_.Name(file, path);
}

CreateResult FaultyFileServices::CreateNew(const char* path, FileHandle* file) {
  if (const FaultPlan* plan = Strike(Call::CreateNew)) {
    *file = kNoFile;
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return system_.CreateNew(path, file);
}

bool FaultyFileServices::Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) {
  const FaultPlan* plan = Strike(Call::Read);
  if (plan == nullptr) return system_.Read(file, buffer, size, bytesRead);
  bool read = system_.Read(file, buffer, size / 2, bytesRead);
  return read && plan->fault == Fault::Short;
}

bool FaultyFileServices::Write(FileHandle file, const void* buffer, size_t size,
                               size_t* bytesWritten) {
  const FaultPlan* plan = Strike(Call::Write);
  if (plan == nullptr) return system_.Write(file, buffer, size, bytesWritten);
  bool written = system_.Write(file, buffer, size / 2, bytesWritten);
  return written && plan->fault == Fault::Short;
}

bool FaultyFileServices::WriteAt(FileHandle file, uint64_t offset, const void* buffer,
                                 size_t size) {
  return !Strike(Call::WriteAt) && system_.WriteAt(file, offset, buffer, size);
}

bool FaultyFileServices::Identify(FileHandle file, FileIdentity* identity) {
  return !Strike(Call::Identify) && system_.Identify(file, identity);
}

bool FaultyFileServices::IdentifyPath(const char* path, FileIdentity* identity) {
  return !Strike(Call::IdentifyPath) && system_.IdentifyPath(path, identity);
}

bool FaultyFileServices::Flush(FileHandle file) {
  bool flushed = system_.Flush(file);
  return !Strike(Call::Flush) && flushed;
}

bool FaultyFileServices::Close(FileHandle file) {
  bool closed = system_.Close(file);
  return !Strike(Call::Close) && closed;
}

bool FaultyFileServices::CopyProtection(const char* from, FileHandle to, bool replacing) {
  return !Strike(Call::CopyProtection) && system_.CopyProtection(from, to, replacing);
}

CreateResult FaultyFileServices::Rename(const char* from, const char* to) {
  if (const FaultPlan* plan = Strike(Call::Rename)) {
    return plan->fault == Fault::NameTooLong ? CreateResult::NameTooLong : CreateResult::Failed;
  }
  return system_.Rename(from, to);
}

bool FaultyFileServices::Remove(const char* path) { return system_.Remove(path); }

bool FaultyFileServices::Move(FileHandle file, const char* from, const char* to,
                              const MoveCheck& check, FileHandle held) {
  if (Strike(Call::Move)) {
    if (held != kNoFile) system_.Close(held);
    return false;
  }
  return system_.Move(file, from, to, check, held);
}

PathKind FaultyFileServices::Inspect(const char* path) { return system_.Inspect(path); }

bool FaultyFileServices::Exists(const char* path) { return system_.Exists(path); }

bool FaultyFileServices::MoveToTrash(const char* path) {
  return !Strike(Call::MoveToTrash) && system_.MoveToTrash(path);
}

bool FaultyFileServices::FillRandom(void* buffer, size_t size) {
  return !Strike(Call::FillRandom) && system_.FillRandom(buffer, size);
}

}  // namespace karvel
