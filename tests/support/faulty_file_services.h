// Wraps the system's file services and makes the Nth call of a chosen kind
// fail or come up short, or does something of its own just before that call,
// for the faults a test cannot make for real or cannot time.
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "engine/file_services.h"

namespace karvel {

enum class Call {
  OpenForReading,
  FinalPath,
  ResolveLinks,
  CreateUnnamed,
  Name,
  CreateNew,
  Read,
  Write,
  WriteAt,
  Identify,
  IdentifyPath,
  Flush,
  Close,
  CopyProtection,
  Rename,
  Move,
  MoveToTrash,
  FillRandom
};

enum class Fault {
  Fail,         // the call reports failure (a write or read may have moved some bytes first)
  Short,        // a read or write moves half the bytes asked for and reports success
  NameTooLong,  // a creation or naming reports that the system takes no name that long
  Interject,    // the plan's action runs, then the call as usual
};

// The system's error that LastError gives for a fault of this kind in this call, as the system
// would report it there (a full disk for a write, denied access for a creation...); 0 for Short.
int InjectedError(Call call, Fault fault);

struct FaultPlan {
  Call call;
  int occurrence;  // 1 for the first call of that kind
  Fault fault;
  std::function<void()> action = nullptr;  // for Interject
};

class FaultyFileServices : public FileServices {
 public:
  explicit FaultyFileServices(std::vector<FaultPlan> plans);

  PathForm Prepare(const char* text, SystemPath* path) override;
  bool Beside(const SystemPath& path, const char* tail, bool replaceName,
              SystemPath* name) override;
  FileHandle OpenForReading(const SystemPath& path) override;
  bool FinalPath(FileHandle file, const SystemPath& path, SystemPath* final) override;
  bool ResolveLinks(const SystemPath& path, SystemPath* final) override;
  CreateResult CreateUnnamed(const SystemPath& beside, FileHandle* file) override;
  CreateResult Name(FileHandle file, const SystemPath& path) override;
  CreateResult CreateNew(const SystemPath& path, FileHandle* file) override;
  FileHandle CreateScratch() override;
  FileHandle StandardInput() override;
  FileHandle StandardOutput() override;
  bool Tell(FileHandle file, uint64_t* offset) override;
  bool Seek(FileHandle file, uint64_t offset) override;
  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override;
  bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) override;
  bool WriteAt(FileHandle file, uint64_t offset, const void* buffer, size_t size) override;
  bool Identify(FileHandle file, FileIdentity* identity) override;
  bool IdentifyPath(const SystemPath& path, FileIdentity* identity) override;
  bool Flush(FileHandle file) override;
  bool Close(FileHandle file) override;
  bool CopyProtection(const SystemPath& from, FileHandle to, bool replacing) override;
  CreateResult Rename(const SystemPath& from, const SystemPath& to) override;
  bool Remove(const SystemPath& path) override;
  bool Move(FileHandle file, const SystemPath& from, const SystemPath& to, const MoveCheck& check,
            FileHandle held) override;
  PathKind Inspect(const SystemPath& path) override;
  bool Exists(const SystemPath& path) override;
  bool MoveToTrash(const SystemPath& path) override;
  bool FillRandom(void* buffer, size_t size) override;
  int LastError() override;

  // True when every planned fault has struck.
  bool AllStruck() const;

 private:
  // Counts this call and returns the fault planned for it, if any; an interjection runs here and
  // counts as none.
  const FaultPlan* Strike(Call call);
  // Keeps whether the system's own call failed, so that LastError then gives its error.
  bool Passed(bool succeeded);
  CreateResult Passed(CreateResult result);

  FileServices& system_;
  std::vector<FaultPlan> plans_;
  std::map<Call, int> calls_;
  size_t struck_ = 0;
  int injected_ = 0;  // the last failure's error, when it was a planned fault, else 0
  bool injectedLast_ = false;
};

}  // namespace karvel
