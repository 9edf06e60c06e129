#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/encoding_job.h"
#include "engine/file_services.h"

namespace karvel {

namespace {

constexpr size_t kFolderPathSize = kPathFieldSize + 16;

// The folder that holds path: "." for a bare name; false when it does not fit.
bool ParentFolder(const char* path, char* folder, size_t folderSize) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::memcpy(folder, ".", sizeof ".");
    return true;
  }
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  if (length >= folderSize) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  return true;
}

bool IsFolder(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

int Descriptor(FileHandle file) { return static_cast<int>(file); }

class PosixFileServices : public FileServices {
 public:
  // POSIX has no share modes: others can still write the target while it is read.
  FileHandle OpenForReading(const char* path) override {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      close(fd);
      return kNoFile;
    }
    return fd;
  }

  CreateResult CreateNew(const char* path, FileHandle* file) override {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    *file = fd < 0 ? kNoFile : fd;
    if (fd >= 0) return CreateResult::Created;
    return errno == EEXIST ? CreateResult::NameTaken : CreateResult::Failed;
  }

  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override {
    char* bytes = static_cast<char*>(buffer);
    *bytesRead = 0;
    while (*bytesRead < size) {
      ssize_t part = read(Descriptor(file), bytes + *bytesRead, size - *bytesRead);
      if (part < 0 && errno == EINTR) continue;
      if (part < 0) return false;
      if (part == 0) break;
      *bytesRead += static_cast<size_t>(part);
    }
    return true;
  }

  bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) override {
    const char* bytes = static_cast<const char*>(buffer);
    *bytesWritten = 0;
    while (*bytesWritten < size) {
      ssize_t part = write(Descriptor(file), bytes + *bytesWritten, size - *bytesWritten);
      if (part < 0 && errno == EINTR) continue;
      if (part <= 0) return false;
      *bytesWritten += static_cast<size_t>(part);
    }
    return true;
  }

  bool Size(FileHandle file, uint64_t* size) override {
    struct stat status;
    if (fstat(Descriptor(file), &status) != 0) return false;
    *size = static_cast<uint64_t>(status.st_size);
    return true;
  }

  bool Flush(FileHandle file) override { return fsync(Descriptor(file)) == 0; }

  bool Close(FileHandle file) override { return close(Descriptor(file)) == 0; }

  bool Remove(const char* path) override { return unlink(path) == 0; }

  MoveResult Move(const char* from, const char* to) override {
    if (std::rename(from, to) != 0)
      return errno == EXDEV ? MoveResult::OtherVolume : MoveResult::Failed;
    // The new name is only durable once its folder is; the file is in place either way.
    char folder[kFolderPathSize];
    if (ParentFolder(to, folder, sizeof folder)) {
      int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        fsync(fd);
        close(fd);
      }
    }
    return MoveResult::Moved;
  }

  PathKind Inspect(const char* path) override {
    struct stat status;
    if (stat(path, &status) != 0) {
      if (errno == ENOTDIR) return PathKind::FolderMissing;
      if (errno != ENOENT) return PathKind::Absent;
      char folder[kFolderPathSize];
      bool folderExists = ParentFolder(path, folder, sizeof folder) && IsFolder(folder);
      return folderExists ? PathKind::Absent : PathKind::FolderMissing;
    }
    if (S_ISDIR(status.st_mode)) return PathKind::Directory;
    // Judged by the bits alone, so that a read-only file is refused even for root.
    if ((status.st_mode & 0222) == 0) return PathKind::ReadOnlyFile;
    return PathKind::File;
  }

  bool IsSameFile(FileHandle file, const char* path) override {
    struct stat opened, named;
    return fstat(Descriptor(file), &opened) == 0 && stat(path, &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
  }

  bool Exists(const char* path) override {
    struct stat status;
    return lstat(path, &status) == 0;
  }
};

}  // namespace

FileServices& SystemFileServices() {
  static PosixFileServices services;
  return services;
}

}  // namespace karvel
