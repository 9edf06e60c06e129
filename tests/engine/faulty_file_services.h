// Wraps the system's file services and makes the Nth call of a chosen kind
// fail or come up short, for the faults a test cannot make for real.
#pragma once

#include <map>
#include <vector>

#include "engine/file_services.h"

namespace karvel {

enum class Call { OpenForReading, CreateNew, Read, Write, Size, Flush, Close, Move };

enum class Fault {
  Fail,         // the call reports failure (a write or read may have moved some bytes first)
  Short,        // a read or write moves half the bytes asked for and reports success
  OtherVolume,  // a move reports that the destination lies on another volume, moving nothing
};

struct FaultPlan {
  Call call;
  int occurrence;  // 1 for the first call of that kind
  Fault fault;
};

class FaultyFileServices : public FileServices {
 public:
  explicit FaultyFileServices(std::vector<FaultPlan> plans);

  FileHandle OpenForReading(const char* path) override;
  CreateResult CreateNew(const char* path, FileHandle* file) override;
  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override;
  bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) override;
  bool Size(FileHandle file, uint64_t* size) override;
  bool Flush(FileHandle file) override;
  bool Close(FileHandle file) override;
  bool Remove(const char* path) override;
  MoveResult Move(const char* from, const char* to) override;
  PathKind Inspect(const char* path) override;
  bool IsSameFile(FileHandle file, const char* path) override;
  bool Exists(const char* path) override;

  // True when every planned fault has struck.
  bool AllStruck() const;

 private:
  // Counts this call and returns the fault planned for it, if any.
  const FaultPlan* Strike(Call call);

  FileServices& system_;
  std::vector<FaultPlan> plans_;
  std::map<Call, int> calls_;
  size_t struck_ = 0;
};

}  // namespace karvel
