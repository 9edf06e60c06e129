// The window's messages for a full and a read-only disk, on the disks the fault tests mount.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// A disk the fault_disks fixture mounted (it needs root), as a Windows folder; empty if none.
std::string FaultDiskFolder(const char* variable) {
  const char* folder = std::getenv(variable);
  if (folder == nullptr) return "";
  std::string path = std::string("Z:") + folder;
  std::replace(path.begin(), path.end(), '/', '\\');
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "" : path;
}

TEST_F(KarvelTest, DiskFaultsAreReportedAndLoseNothing) {
  const std::string small = FaultDiskFolder("KARVEL_SMALL_DISK_FOLDER");
  const std::string readOnly = FaultDiskFolder("KARVEL_READ_ONLY_DISK_FOLDER");
  if (small.empty() || readOnly.empty()) GTEST_SKIP() << "the fault disks are not mounted";
  // Together more than the 1 MiB small disk holds.
  const Bytes large(600 << 10, 0x5A);
  WriteBytes(PathOf("large.bin"), large);
  WriteBytes(small + "\\large.bin", large);
  struct Case {
    const char* name;
    std::string target;
    std::string output;
    const char* text;
  };
  const Case cases[] = {
      {"the temporary file fills the disk", small + "\\large.bin", "", "file write failed"},
      {"the copy to a full other disk", PathOf("large.bin"), small + "\\large.bin",
       "file write failed"},
      {"no temporary file on a read-only disk", readOnly + "\\plain", "", "file open failed"},
      // The temporary file is made beside the output, so none can be.
      {"an old output on a read-only disk", PathOf("large.bin"), readOnly + "\\plain",
       "output replace failed"},
  };
  StartKarvel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> smallNames = NamesIn(small);
    const std::vector<std::string> localNames = NamesIn(folder_);
    const Bytes targetBefore = ReadBytes(c.target);
    const Bytes outputBefore = ReadBytes(c.output);
    SetBoxes(c.target, "full", c.output);
    Command(IDC_ENCODE);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, c.text);
    ExpectBoxes(c.target, "full", c.output);
    EXPECT_EQ(ReadBytes(c.target), targetBefore);
    EXPECT_EQ(ReadBytes(c.output), outputBefore);
    EXPECT_EQ(NamesIn(small), smallNames);
    EXPECT_EQ(NamesIn(folder_), localNames);
  }
  DeleteFileA((small + "\\large.bin").c_str());
}

}  // namespace
}  // namespace karvel::window
