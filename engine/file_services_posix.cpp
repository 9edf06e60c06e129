#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#ifdef __linux__
#include <acl/libacl.h>
#include <sys/acl.h>
#endif

#include "engine/file_services.h"
#include "engine/paths.h"
#include "engine/trash.h"

namespace karvel {

namespace {

// The folder that holds path: "." for a bare name.
std::string ParentFolder(const char* path) {
  size_t folder = FolderLength(path);
  if (folder == 0) return ".";
  return std::string(path, folder == 1 ? 1 : folder - 1);
}

bool IsFolder(const char* path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// The path of the file path leads to, as the system names it; false when nothing is there.
bool RealPath(const char* path, SystemPath* real) {
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return false;
  real->units = resolved;
  real->text = resolved;
  free(resolved);
  return true;
}

bool IsLink(const char* path) {
  struct stat status;
  return lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
}

int Descriptor(FileHandle file) { return static_cast<int>(file); }

// The cause of the last failure a call on this thread reported.
thread_local int lastError = 0;

// Keeps errno as the cause of the failure the caller reports; false, for it to return.
bool Failed() {
  lastError = errno;
  return false;
}

bool Identity(const struct stat& status, FileIdentity* identity) {
  identity->volume = static_cast<uint64_t>(status.st_dev);
  identity->index = static_cast<uint64_t>(status.st_ino);
  identity->size = static_cast<uint64_t>(status.st_size);
  identity->lastWrite = static_cast<uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
                        static_cast<uint64_t>(status.st_mtim.tv_nsec);
  identity->lastChange = static_cast<uint64_t>(status.st_ctim.tv_sec) * 1000000000u +
                         static_cast<uint64_t>(status.st_ctim.tv_nsec);
  identity->links = static_cast<uint32_t>(status.st_nlink);
  return true;
}

CreateResult Created(int result) {
  if (result == 0) return CreateResult::Created;
  Failed();
  if (errno == EEXIST) return CreateResult::NameTaken;
  return errno == ENAMETOOLONG ? CreateResult::NameTooLong : CreateResult::Failed;
}

// Gives fd exactly the access list of from, a minimal one too, or where from's file system keeps
// none, the list mode describes: no entry fd inherited from its folder's default list survives.
// True where fd's file system keeps no lists.
bool CopyAccessList(const char* from, mode_t mode, int fd) {
#ifdef __linux__
  acl_t list = acl_get_file(from, ACL_TYPE_ACCESS);
  if (list == nullptr && errno == ENOTSUP) list = acl_from_mode(mode);
  if (list == nullptr) return false;
  bool copied = acl_set_fd(fd, list) == 0 || errno == ENOTSUP;
  acl_free(list);
  return copied;
#else
  (void)from;
  (void)mode;
  (void)fd;
  return true;
#endif
}

// Leaves fd with the rights of mode alone; false when an entry beyond them may remain.
bool SetModeOnly(mode_t mode, int fd) {
  if (fchmod(fd, mode) != 0) return false;
#ifdef __linux__
  acl_t list = acl_from_mode(mode);
  if (list == nullptr) return false;
  bool set = acl_set_fd(fd, list) == 0 || errno == ENOTSUP;
  acl_free(list);
  return set;
#else
  return true;
#endif
}

class PosixFileServices : public FileServices {
 public:
  // The kernel resolves the path at each call.
  PathForm Prepare(const char* text, SystemPath* path) override {
    path->units = text;
    path->text = text;
    if (path->units.size() < PATH_MAX) return PathForm::Ok;
    lastError = ENAMETOOLONG;
    return PathForm::TooLong;
  }

  bool Beside(const SystemPath& path, const char* tail, bool replaceName,
              SystemPath* name) override {
    name->units =
        path.units.substr(0, replaceName ? FolderLength(path.units.c_str()) : std::string::npos);
    name->units += tail;
    name->text = name->units;
    return true;
  }

  // POSIX has no share modes: others can still write the target while it is read, which the
  // transform notices before it replaces anything. Opened without blocking, so that a FIFO
  // with no writer is refused at once instead of hanging.
  FileHandle OpenForReading(const SystemPath& path) override {
    int fd = open(path.units.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      Failed();
      return kNoFile;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
      Failed();
    } else if (S_ISDIR(status.st_mode)) {
      lastError = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
      lastError = kErrorNotAFile;
    } else {
      return fd;
    }
    close(fd);
    return kNoFile;
  }

  // Only a link at the end of path would be replaced instead of the file it leads to.
  bool FinalPath(FileHandle file, const SystemPath& path, SystemPath* final) override {
    struct stat status;
    if (lstat(path.units.c_str(), &status) == 0 && !S_ISLNK(status.st_mode)) {
      *final = path;
      return true;
    }
    if (!RealPath(path.units.c_str(), final)) return false;
    // The name must still lead to the file that was opened.
    FileIdentity opened, named;
    return Identify(file, &opened) && IdentifyPath(*final, &named) &&
           opened.volume == named.volume && opened.index == named.index;
  }

  bool ResolveLinks(const SystemPath& path, SystemPath* final) override {
    if (!IsLink(path.units.c_str())) {
      *final = path;
      return true;
    }
    return RealPath(path.units.c_str(), final);
  }

  // Linux makes a file that has no name until linkat gives it one, and that vanishes with the
  // process otherwise; other systems, and file systems that refuse it, make none.
  CreateResult CreateUnnamed(const SystemPath& beside, FileHandle* file) override {
    *file = kNoFile;
#ifdef O_TMPFILE
    // Name reaches the file through /proc, which a container may lack.
    if (access("/proc/self/fd", X_OK) != 0) {
      Failed();
      return CreateResult::Failed;
    }
    int fd =
        open(ParentFolder(beside.units.c_str()).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
      Failed();
      return CreateResult::Failed;
    }
    *file = fd;
    return CreateResult::Created;
#else
    (void)beside;
    return CreateResult::Failed;
#endif
  }

  CreateResult Name(FileHandle file, const SystemPath& path) override {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", Descriptor(file));
    return Created(linkat(AT_FDCWD, link, AT_FDCWD, path.units.c_str(), AT_SYMLINK_FOLLOW));
  }

  CreateResult CreateNew(const SystemPath& path, FileHandle* file) override {
    int fd = open(path.units.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    *file = fd < 0 ? kNoFile : fd;
    return Created(fd < 0 ? -1 : 0);
  }

  // Where the system makes no unnamed files, a name removed at once.
  FileHandle CreateScratch() override {
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
#ifdef O_TMPFILE
    int unnamed = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (unnamed >= 0) return unnamed;
#endif
    std::string path = std::string(folder) + "/karvel-XXXXXX";
    int fd = mkostemp(&path[0], O_CLOEXEC);
    if (fd < 0) {
      Failed();
      return kNoFile;
    }
    unlink(path.c_str());
    return fd;
  }

  FileHandle StandardInput() override { return STDIN_FILENO; }

  FileHandle StandardOutput() override { return STDOUT_FILENO; }

  bool Tell(FileHandle file, uint64_t* offset) override {
    struct stat status;
    if (fstat(Descriptor(file), &status) != 0) return Failed();
    if (!S_ISREG(status.st_mode)) {
      lastError = kErrorNotAFile;
      return false;
    }
    off_t at = lseek(Descriptor(file), 0, SEEK_CUR);
    if (at < 0) return Failed();
    *offset = static_cast<uint64_t>(at);
    return true;
  }

  bool Seek(FileHandle file, uint64_t offset) override {
    return lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0 || Failed();
  }

  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override {
    char* bytes = static_cast<char*>(buffer);
    *bytesRead = 0;
    while (*bytesRead < size) {
      ssize_t part = read(Descriptor(file), bytes + *bytesRead, size - *bytesRead);
      if (part < 0 && errno == EINTR) continue;
      if (part < 0) return Failed();
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
      if (part < 0) return Failed();
      // A regular file takes no bytes at all only when its disk has no room for them.
      if (part == 0) {
        lastError = ENOSPC;
        return false;
      }
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
      if (part < 0) return Failed();
      // A regular file takes no bytes at all only when its disk has no room for them.
      if (part == 0) {
        lastError = ENOSPC;
        return false;
      }
      written += static_cast<size_t>(part);
    }
    return true;
  }

  bool Identify(FileHandle file, FileIdentity* identity) override {
    struct stat status;
    return (fstat(Descriptor(file), &status) == 0 || Failed()) && Identity(status, identity);
  }

  bool IdentifyPath(const SystemPath& path, FileIdentity* identity) override {
    struct stat status;
    return (stat(path.units.c_str(), &status) == 0 || Failed()) && Identity(status, identity);
  }

  bool Flush(FileHandle file) override { return fsync(Descriptor(file)) == 0 || Failed(); }

  bool Close(FileHandle file) override { return close(Descriptor(file)) == 0 || Failed(); }

  // The owner and group are kept where the system lets this user set them (root; a group the
  // user is in). Where the group or the access list cannot be kept, the group's and others' bits
  // go, and every named entry with them, the ones the file inherited from its folder included:
  // the result may then grant fewer rights than from, never more.
  bool CopyProtection(const SystemPath& from, FileHandle to, bool) override {
    int fd = Descriptor(to);
    struct stat status;
    if (stat(from.units.c_str(), &status) != 0) return Failed();
    bool groupKept = fchown(fd, status.st_uid, status.st_gid) == 0 ||
                     fchown(fd, static_cast<uid_t>(-1), status.st_gid) == 0;
    mode_t mode = status.st_mode & 07777;
    if (groupKept && fchmod(fd, mode) == 0 && CopyAccessList(from.units.c_str(), mode, fd))
      return true;
    return SetModeOnly(mode & ~static_cast<mode_t>(077), fd) || Failed();
  }

  // A second name, then the first one gone, where the file system cannot rename without
  // replacing; a file system without second names leaves the file where it is.
  CreateResult Rename(const SystemPath& from, const SystemPath& to) override {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from.units.c_str(), AT_FDCWD, to.units.c_str(), RENAME_NOREPLACE) == 0)
      return CreateResult::Created;
    if (errno != EINVAL && errno != ENOSYS) return Created(-1);
#endif
    if (link(from.units.c_str(), to.units.c_str()) != 0) return Created(-1);
    if (unlink(from.units.c_str()) == 0) return CreateResult::Created;
    Failed();
    unlink(to.units.c_str());
    return CreateResult::Failed;
  }

  bool Remove(const SystemPath& path) override {
    return unlink(path.units.c_str()) == 0 || Failed();
  }

  // Holding the replaced file open keeps no writer out here, so it is closed right away.
  bool Move(FileHandle, const SystemPath& from, const SystemPath& to, const MoveCheck& check,
            FileHandle held) override {
    if (held != kNoFile) Close(held);
    if (!check()) return false;
    if (std::rename(from.units.c_str(), to.units.c_str()) != 0) return Failed();
    // The new name is only durable once its folder is; the file is in place either way.
    int fd = open(ParentFolder(to.units.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
      fsync(fd);
      close(fd);
    }
    return true;
  }

  PathKind Inspect(const SystemPath& path) override {
    struct stat status;
    if (stat(path.units.c_str(), &status) != 0) {
      if (errno == ENOTDIR) return PathKind::FolderMissing;
      if (errno != ENOENT) return PathKind::Absent;
      return IsFolder(ParentFolder(path.units.c_str()).c_str()) ? PathKind::Absent
                                                                : PathKind::FolderMissing;
    }
    if (S_ISDIR(status.st_mode)) return PathKind::Directory;
    if (!S_ISREG(status.st_mode)) return PathKind::NotAFile;
    // Judged by the bits alone, so that a read-only file is refused even for root.
    if ((status.st_mode & 0222) == 0) return PathKind::ReadOnlyFile;
    return PathKind::File;
  }

  bool Exists(const SystemPath& path) override {
    struct stat status;
    return lstat(path.units.c_str(), &status) == 0;
  }

  bool MoveToTrash(const SystemPath& path) override { return karvel::MoveToTrash(path); }

  bool FillRandom(void* buffer, size_t size) override {
#ifdef __linux__
    return getrandom(buffer, size, 0) == static_cast<ssize_t>(size) || Failed();
#else
    return getentropy(buffer, size) == 0 || Failed();
#endif
  }

  int LastError() override { return lastError; }
};

}  // namespace

void ErrorText(int error, char* text, size_t size) {
  const char* said = error == 0                ? ""
                     : error == kErrorIsFolder ? std::strerror(EISDIR)
                     : error == kErrorNotAFile ? "Not a regular file"
                                               : std::strerror(error);
  std::snprintf(text, size, "%s", said);
}

FileServices& SystemFileServices() {
  static PosixFileServices services;
  return services;
}

}  // namespace karvel
