// The engine's only contact with the system: a narrow set of file calls,
// implemented once on Win32 and once on POSIX. Tests wrap it to make a
// chosen call fail.
#pragma once

#include <cstddef>
#include <cstdint>

namespace karvel {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class CreateResult { Created, NameTaken, Failed };
enum class MoveResult { Moved, OtherVolume, Failed };
enum class PathKind { Absent, File, ReadOnlyFile, Directory, FolderMissing };

class FileServices {
 public:
  virtual ~FileServices() = default;

  // Opens an existing regular file for reading, others may only read it meanwhile; kNoFile on failure.
  virtual FileHandle OpenForReading(const char* path) = 0;
  // Creates path only where nothing is, for writing, unshared; NameTaken when an entry already has the name.
  virtual CreateResult CreateNew(const char* path, FileHandle* file) = 0;
  // Reads up to size bytes; false on an error. *bytesRead is 0 at the end of the file.
  virtual bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) = 0;
  // Writes size bytes; false on an error. *bytesWritten may fall short of size.
  virtual bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) = 0;
  // The size of an open file in bytes.
  virtual bool Size(FileHandle file, uint64_t* size) = 0;
  // Forces written data to the disk.
  virtual bool Flush(FileHandle file) = 0;
  virtual bool Close(FileHandle file) = 0;
  virtual bool Remove(const char* path) = 0;
  // Puts from in place of to in one step, replacing a file at to; OtherVolume when they lie on different volumes.
  virtual MoveResult Move(const char* from, const char* to) = 0;
  // What path names now, before anything is written to it.
  virtual PathKind Inspect(const char* path) = 0;
  // True when path names the same file as the open file.
  virtual bool IsSameFile(FileHandle file, const char* path) = 0;
  // True when a directory search for path, exactly as given, finds an entry.
  virtual bool Exists(const char* path) = 0;
};

}  // namespace karvel
