#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "engine/file_services.h"
#include "engine/path_limits.h"
#include "engine/trash.h"

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

bool Identity(const struct stat& status, FileIdentity* identity) {
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->index = static_cast<uint64_t>(status.st_ino);
  identity->size = static_cast<uint64_t>(status.st_size);
  identity->lastWrite = static_cast<uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                        static_cast<uint64_t>(status.st_mtim.tv_nsec);
  identity->links = static_cast<uint32_t>(status.st_nlink);
  return true;
}

class PosixFileServices : public FileServices {
 public:
  bool Fits(const char* path) override { return std::strlen(path) < PATH_MAX; }

  // POSIX has no share modes: others can still write the target while it is read, which the
  // transform notices before it replaces anything. Opened without blocking, so that a FIFO
  // with no writer is refused at once instead of hanging.
  FileHandle OpenForReading(const char* path) override {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kNoFile;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
      close(fd);
      return kNoFile;
    }
    return fd;
  }

  CreateResult CreateNew(const char* path, FileHandle* file) override {
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    *file = fd < 0 ? kNoFile : fd;
    if (fd >= 0) return CreateResult::Created;
    if (errno == EEXIST) return CreateResult::NameTaken;
    return errno == ENAMETOOLONG ? CreateResult::NameTooLong : CreateResult::Failed;
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

  bool WriteAt(FileHandle file, uint64_t offset, const void* buffer, size_t size) override {
    const char* bytes = static_cast<const char*>(buffer);
    size_t written = 0;
    while (written < size) {
      ssize_t part = pwrite(Descriptor(file), bytes + written, size - written,
                            static_cast<off_t>(offset + written));
      if (part < 0 && errno == EINTR) continue;
      if (part <= 0) return false;
      written += static_cast<size_t>(part);
    }
    return true;
  }

  bool Identify(FileHandle file, FileIdentity* identity) override {
    struct stat status;
    return fstat(Descriptor(file), &status) == 0 && Identity(status, identity);
  }

  bool IdentifyPath(const char* path, FileIdentity* identity) override {
    struct stat status;
    return stat(path, &status) == 0 && Identity(status, identity);
  }

  bool Flush(FileHandle file) override { return fsync(Descriptor(file)) == 0; }

  bool Close(FileHandle file) override { return close(Descriptor(file)) == 0; }

  // The owner and group are kept where the system lets this user set them (root; a group the
  // user is in); the mode always.
  bool CopyProtection(const char* from, const char* to, bool) override {
    struct stat status;
    if (stat(from, &status) != 0) return false;
    if (chown(to, status.st_uid, status.st_gid) != 0 &&
        chown(to, static_cast<uid_t>(-1), status.st_gid) != 0 && errno != EPERM) {
      return false;
    }
    return chmod(to, status.st_mode & 07777) == 0;
  }

  bool Remove(const char* path) override { return unlink(path) == 0; }

  bool Move(const char* from, const char* to) override {
    if (std::rename(from, to) != 0) return false;
    // The new name is only durable once its folder is; the file is in place either way.
    char folder[kFolderPathSize];
    if (ParentFolder(to, folder, sizeof folder)) {
      int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (fd >= 0) {
        fsync(fd);
        close(fd);
      }
    }
    return true;
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
    if (!S_ISREG(status.st_mode)) return PathKind::NotAFile;
    // Judged by the bits alone, so that a read-only file is refused even for root.
    if ((status.st_mode & 0222) == 0) return PathKind::ReadOnlyFile;
    return PathKind::File;
  }

  bool Exists(const char* path) override {
    struct stat status;
    return lstat(path, &status) == 0;
  }

  bool MoveToTrash(const char* path) override { return karvel::MoveToTrash(path); }

  bool FillRandom(void* buffer, size_t size) override {
#ifdef __linux__
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size);
#else
    return getentropy(buffer, size) == 0;
#endif
  }
};

}  // namespace

FileServices& SystemFileServices() {
  static PosixFileServices services;
  return services;
}

}  // namespace karvel
