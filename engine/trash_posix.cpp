// The freedesktop.org trash, which the desktops' file managers show and
// restore from: a folder "files" with the trashed
// file and a folder "info" with a NAME.trashinfo saying where it was and when.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "engine/paths.h"
#include "engine/trash.h"

namespace karvel {

namespace {

constexpr int kMaxTrashNames = 1000;

bool IsOwnFolder(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == getuid();
}

// Makes path as a folder of this user's alone unless it is one already.
bool OwnFolder(const std::string& path) {
  return (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) && IsOwnFolder(path);
}

bool MakeFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  return OwnFolder(path);
}

dev_t Volume(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_dev : static_cast<dev_t>(-1);
}

// The home trash, when it lies on the file's volume.
std::string HomeTrash(dev_t volume) {
  const char* dataHome = getenv("XDG_DATA_HOME");
  std::string data;
  if (dataHome != nullptr && dataHome[0] == '/') {
    data = dataHome;
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') return "";
    data = std::string(home) + "/.local/share";
  }
  // The nearest folder that exists tells the volume before anything is made.
  std::string existing = data;
  while (Volume(existing) == static_cast<dev_t>(-1) && existing.rfind('/') > 0) {
    existing.erase(existing.rfind('/'));
  }
  if (Volume(existing) != volume) return "";
  return data + "/Trash";
}

// The trash at the top of the file's volume: a shared .Trash with the sticky bit holds one folder
// per user; otherwise the user's own .Trash-UID.
std::string VolumeTrash(const std::string& folder, dev_t volume) {
  std::string top = folder;
  while (top != "/") {
    size_t slash = top.rfind('/');
    std::string parent = slash == 0 ? "/" : top.substr(0, slash);
    if (Volume(parent) != volume) break;
    top = parent;
  }
  if (top == "/") top.clear();
  std::string uid = std::to_string(getuid());
  struct stat shared;
  std::string sharedTrash = top + "/.Trash";
  if (lstat(sharedTrash.c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) &&
      (shared.st_mode & S_ISVTX)) {
    return sharedTrash + "/" + uid;
  }
  return top + "/.Trash-" + uid;
}

std::string Escaped(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string escaped;
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      escaped += static_cast<char>(c);
    } else {
      escaped += '%';
      escaped += kHex[c >> 4];
      escaped += kHex[c & 15];
    }
  }
  return escaped;
}

std::string Now() {
  time_t now = time(nullptr);
  struct tm local;
  char text[32];
  localtime_r(&now, &local);
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

bool WriteAll(int fd, const std::string& text) {
  size_t written = 0;
  while (written < text.size()) {
    ssize_t part = write(fd, text.data() + written, text.size() - written);
    if (part < 0 && errno == EINTR) continue;
    if (part <= 0) return false;
    written += static_cast<size_t>(part);
  }
  return true;
}

// Reserves a free name by creating its info file, as every program that trashes files does,
// so that two of them never take the same name, then moves the file in; the info file goes again if
// the move fails.
bool MoveInto(const std::string& trash, const std::string& absolute, const std::string& name) {
  if (!MakeFolders(trash) || !OwnFolder(trash + "/files") || !OwnFolder(trash + "/info")) {
    return false;
  }
  std::string info = "[Trash Info]\nPath=" + Escaped(absolute) + "\nDeletionDate=" + Now() + "\n";
  for (int number = 1; number <= kMaxTrashNames; ++number) {
    std::string entry = number == 1 ? name : name + "." + std::to_string(number);
    std::string infoPath = trash + "/info/" + entry + ".trashinfo";
    std::string filePath = trash + "/files/" + entry;
    int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    bool written = WriteAll(fd, info) && fsync(fd) == 0;
    close(fd);
    struct stat taken;
    bool free = written && lstat(filePath.c_str(), &taken) != 0;
    if (free && rename(absolute.c_str(), filePath.c_str()) == 0) return true;
    unlink(infoPath.c_str());
    if (free || !written) return false;
  }
  return false;
}

}  // namespace

bool MoveToTrash(const SystemPath& path) {
  const std::string& given = path.units;
  size_t length = FolderLength(given.c_str());
  std::string folder = length == 0 ? "." : length == 1 ? "/" : given.substr(0, length - 1);
  std::string name = given.substr(length);
  char* real = realpath(folder.c_str(), nullptr);
  if (real == nullptr) return false;
  std::string realFolder = real;
  free(real);
  std::string absolute = (realFolder == "/" ? "" : realFolder) + "/" + name;
  struct stat file;
  if (name.empty() || lstat(absolute.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return false;
  std::string home = HomeTrash(file.st_dev);
  if (!home.empty()) return MoveInto(home, absolute, name);
  return MoveInto(VolumeTrash(realFolder, file.st_dev), absolute, name);
}

}  // namespace karvel
