// The engine's only contact with the system: a narrow set of file calls on
// paths prepared once from UTF-8 text, implemented once on Win32 and once on
// POSIX. Tests wrap it to make a chosen call fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace karvel {

using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

enum class CreateResult { Created, NameTaken, NameTooLong, Failed };

#ifdef _WIN32
using SystemPathUnit = wchar_t;
#else
using SystemPathUnit = char;
#endif

// A path as the system's calls take it, made once from UTF-8 text by FileServices::Prepare (on
// Windows made full then, so that the current folder changing later changes nothing); text is the
// UTF-8 it was made from, or that the system gave, for messages.
struct SystemPath {
  std::basic_string<SystemPathUnit> units;
  std::string text;
};

enum class PathForm { Ok, NotText, TooLong };

// What LastError gives, beside the system's own numbers, where a disk file was asked for and the
// path names something else: a folder (POSIX says EISDIR), or a pipe, a device or a socket.
constexpr int kErrorIsFolder = -1;
constexpr int kErrorNotAFile = -2;
constexpr size_t kErrorTextSize = 256;  // ErrorText's room, its terminator included

enum class PathKind { Absent, File, ReadOnlyFile, Directory, FolderMissing, NotAFile };

// What tells one state of a file from another: which file it is, how long, when last written
// and when last changed in any way (a rewrite that puts the old write time back changes this).
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
  uint64_t size;
  uint64_t lastWrite;   // in the system's own units
  uint64_t lastChange;  // in the system's own units
  uint32_t links;       // the number of names the file has
};

// Asked right before each attempt of a move: false stops it.
using MoveCheck = std::function<bool()>;

class FileServices {
 public:
  virtual ~FileServices() = default;

  // Puts into *path the form of text (UTF-8) that the other calls take: NotText when the system
  // cannot name it, TooLong when it is longer than the system takes as a name in its full form.
  virtual PathForm Prepare(const char* text, SystemPath* path) = 0;
  // Puts into *name the path of path's name followed by tail (ASCII), or with replaceName, of tail
  // in path's folder; false when the system takes no path that long.
  virtual bool Beside(const SystemPath& path, const char* tail, bool replaceName,
                      SystemPath* name) = 0;
  // Opens an existing regular disk file for reading, others may only read it meanwhile; never
  // blocks on a pipe or device; kNoFile on failure.
  virtual FileHandle OpenForReading(const SystemPath& path) = 0;
  // The path of the open file that path named, every link on the way followed; false when the
  // system cannot say.
  virtual bool FinalPath(FileHandle file, const SystemPath& path, SystemPath* final) = 0;
  // The path of the file that a link at the end of path leads to, every link on the way
  // followed; path itself when no link ends it, nothing there included; false when the link
  // leads nowhere or cannot be followed.
  virtual bool ResolveLinks(const SystemPath& path, SystemPath* final) = 0;
  // Creates a file without a name in the folder of beside, for writing, readable by its owner
  // alone; it vanishes unless Name gives it one. Failed where the system makes no such files.
  virtual CreateResult CreateUnnamed(const SystemPath& beside, FileHandle* file) = 0;
  // Gives a file from CreateUnnamed the free name path; NameTaken when an entry has it.
  virtual CreateResult Name(FileHandle file, const SystemPath& path) = 0;
  // Creates path only where nothing is, for writing, unshared, readable by its owner alone, and,
  // where the system can, set to vanish if the process ends before a Move; NameTaken when an
  // entry already has the name, NameTooLong when the system refuses the name.
  virtual CreateResult CreateNew(const SystemPath& path, FileHandle* file) = 0;
  // Creates a file for reading and writing, readable by its owner alone, in the system's folder
  // for temporary files, without a name or with one it loses when closed, also when the process
  // ends before; kNoFile on failure.
  virtual FileHandle CreateScratch() = 0;
  // The process's standard input and output; nothing closes them.
  virtual FileHandle StandardInput() = 0;
  virtual FileHandle StandardOutput() = 0;
  // Where the next read of a disk file starts; false for anything that cannot go back to it (a
  // pipe, a terminal, a device).
  virtual bool Tell(FileHandle file, uint64_t* offset) = 0;
  // Makes the next read start at offset.
  virtual bool Seek(FileHandle file, uint64_t offset) = 0;
  // Reads up to size bytes; false on an error. *bytesRead is 0 at the end of the file, and of a
  // pipe whose writers are gone.
  virtual bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) = 0;
  // Writes size bytes; false on an error. *bytesWritten may fall short of size.
  virtual bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) = 0;
  // Writes all size bytes at offset; false on an error. Where Write goes on afterwards is not said.
  virtual bool WriteAt(FileHandle file, uint64_t offset, const void* buffer, size_t size) = 0;
  virtual bool Identify(FileHandle file, FileIdentity* identity) = 0;
  // The identity of the file path names now; false when there is none.
  virtual bool IdentifyPath(const SystemPath& path, FileIdentity* identity) = 0;
  // Forces written data to the disk.
  virtual bool Flush(FileHandle file) = 0;
  virtual bool Close(FileHandle file) = 0;
  // Gives the open file to the protection of from: permissions, with every entry of its access
  // list, and owner and group where allowed, never more rights than from grants, whatever to's
  // folder passes on. When to replaces from, also its hidden, system and not-indexed marks.
  virtual bool CopyProtection(const SystemPath& from, FileHandle to, bool replacing) = 0;
  // Gives the file at from the free name to instead, in one step within one volume; NameTaken
  // when an entry has that name, NameTooLong when the system refuses it.
  virtual CreateResult Rename(const SystemPath& from, const SystemPath& to) = 0;
  // Removes a file, waiting a little for others that hold it briefly.
  virtual bool Remove(const SystemPath& path) = 0;
  // Puts the file from, open as file, in place of to in one step within one volume, replacing a
  // file at to, waiting a little for others that hold either briefly; check runs before each
  // attempt. file stays open; held (the replaced file, open for reading, or kNoFile) is closed,
  // after the first attempt where the system can replace a file that is still open.
  virtual bool Move(FileHandle file, const SystemPath& from, const SystemPath& to,
                    const MoveCheck& check, FileHandle held) = 0;
  // What path names now, before anything is written to it.
  virtual PathKind Inspect(const SystemPath& path) = 0;
  // True when a directory search for path, exactly as given, finds an entry.
  virtual bool Exists(const SystemPath& path) = 0;
  // Moves a file into the user's trash (the Recycle Bin), from where the user can restore it;
  // false, the file left where it is, when the trash cannot take it.
  virtual bool MoveToTrash(const SystemPath& path) = 0;
  // Fills buffer with bytes from the system's random source.
  virtual bool FillRandom(void* buffer, size_t size) = 0;
  // Why the last call on this thread that reported a failure failed: the system's error number
  // (errno, GetLastError) or a kError value; 0 when none has failed.
  virtual int LastError() = 0;
};

// Puts into text (size bytes, terminator included) what the system says of error as UTF-8, cut to
// fit, without a closing period or line end; "" for 0.
void ErrorText(int error, char* text, size_t size);

// The services of the system the program runs on.
FileServices& SystemFileServices();

}  // namespace karvel
