#include "tests/engine/faulty_file_services.h"

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
      return &plan;
    }
  }
  return nullptr;
}

bool FaultyFileServices::AllStruck() const { return struck_ == plans_.size(); }

FileHandle FaultyFileServices::OpenForReading(const char* path) {
  return Strike(Call::OpenForReading) ? kNoFile : system_.OpenForReading(path);
}

CreateResult FaultyFileServices::CreateNew(const char* path, FileHandle* file) {
  if (Strike(Call::CreateNew)) {
    *file = kNoFile;
    return CreateResult::Failed;
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

bool FaultyFileServices::Size(FileHandle file, uint64_t* size) {
  return !Strike(Call::Size) && system_.Size(file, size);
}

bool FaultyFileServices::Flush(FileHandle file) {
  bool flushed = system_.Flush(file);
  return !Strike(Call::Flush) && flushed;
}

bool FaultyFileServices::Close(FileHandle file) {
  bool closed = system_.Close(file);
  return !Strike(Call::Close) && closed;
}

bool FaultyFileServices::Remove(const char* path) { return system_.Remove(path); }

MoveResult FaultyFileServices::Move(const char* from, const char* to) {
  const FaultPlan* plan = Strike(Call::Move);
  if (plan == nullptr) return system_.Move(from, to);
  return plan->fault == Fault::OtherVolume ? MoveResult::OtherVolume : MoveResult::Failed;
}

PathKind FaultyFileServices::Inspect(const char* path) { return system_.Inspect(path); }

bool FaultyFileServices::IsSameFile(FileHandle file, const char* path) {
  return system_.IsSameFile(file, path);
}

bool FaultyFileServices::Exists(const char* path) { return system_.Exists(path); }

}  // namespace karvel
