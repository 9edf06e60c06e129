// The disks the fault tests fill up or find read-only. Natively each test
// mounts its own tmpfs, which needs root. Windows programs cannot mount, so
// under Wine a ctest fixture (fault_disks.sh) mounts them beforehand and maps
// drive letters onto them, named in KARVEL_SMALL_DISK and KARVEL_READ_ONLY_DISK.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/test_files.h"

namespace karvel {

constexpr size_t kSmallDiskSize = 1 << 20;
// The read-only disk holds "plain" and "encoded", the latter under this passphrase.
constexpr char kReadOnlyDiskPassphrase[] = "k";

enum class DiskKind { Small, ReadOnly };

class FaultDisk {
 public:
  explicit FaultDisk(DiskKind kind);
  ~FaultDisk();
  FaultDisk(const FaultDisk&) = delete;
  FaultDisk& operator=(const FaultDisk&) = delete;

  // Empty when the disk is there; otherwise why it is not.
  const std::string& Missing() const { return missing_; }
  // A folder on the disk, empty at first for the small disk.
  const std::filesystem::path& Path() const { return path_; }
  std::string operator[](const std::string& name) const { return (path_ / name).string(); }

 private:
  std::optional<ScratchFolder> folder_;
  std::filesystem::path path_;
  std::string missing_;
#ifndef _WIN32
  bool mounted_ = false;
#endif
};

}  // namespace karvel
