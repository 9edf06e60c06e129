#include "tests/faults/fault_disks.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#else
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

#include "tests/support/reference_encoder.h"
#endif

namespace karvel {

#ifdef _WIN32

FaultDisk::FaultDisk(DiskKind kind) {
  const char* variable = kind == DiskKind::Small ? "KARVEL_SMALL_DISK" : "KARVEL_READ_ONLY_DISK";
  const char* drive = std::getenv(variable);
  if (drive == nullptr) {
    missing_ = std::string(variable) + " is not set: run the test through ctest";
    return;
  }
  std::string root = std::string(drive) + "\\";
  if (GetFileAttributesA(root.c_str()) == INVALID_FILE_ATTRIBUTES) {
    missing_ = root + " is not mapped: fault_disks.sh could not mount its disk (it needs root)";
    return;
  }
  if (kind == DiskKind::Small) {
    folder_.emplace(root);
    path_ = folder_->Path();
  } else {
    path_ = root;
  }
}

FaultDisk::~FaultDisk() = default;

#else

namespace {

// What the read-only disk holds; the fixture script writes the same bytes under Wine.
Bytes ReadOnlyDiskPlain() {
  Bytes bytes(5000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i % 251);
  return bytes;
}

}  // namespace

FaultDisk::FaultDisk(DiskKind kind) {
  folder_.emplace();
  path_ = folder_->Path();
  std::string options = "size=" + std::to_string(kSmallDiskSize);
  if (mount("karvel-test", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    missing_ = std::string("mounting a small tmpfs needs root: ") + std::strerror(errno);
    return;
  }
  mounted_ = true;
  if (kind == DiskKind::ReadOnly) {
    Bytes plain = ReadOnlyDiskPlain();
    WriteBytes(path_ / "plain", plain);
    WriteBytes(path_ / "encoded", ReferenceEncode(kReadOnlyDiskPassphrase, plain));
    if (mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      missing_ = std::string("remounting read-only failed: ") + std::strerror(errno);
    }
  }
}

FaultDisk::~FaultDisk() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
}

#endif

}  // namespace karvel
