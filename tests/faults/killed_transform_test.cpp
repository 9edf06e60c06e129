// A transform killed at any moment, as a crash or the task manager would end
// it: the target must come through whole and nothing may stay behind. Another
// program saving to the target while the finished result is flushed: its
// save must not be lost. Two programs on one file: neither loses the other's
// result.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/faults/tool_process.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "killed halfway";
constexpr uint64_t kLargeSize = uint64_t{64} << 20;

// RAM-backed where there is such a folder, so that the large files cost no disk writes.
fs::path LargeFileFolder() {
#ifdef _WIN32
  const fs::path shared = "Z:\\dev\\shm";
#else
  const fs::path shared = "/dev/shm";
#endif
  return fs::is_directory(shared) ? shared : fs::temp_directory_path();
}

// A file of kLargeSize bytes that takes no room: every byte reads as zero.
void CreateSparseFile(const fs::path& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.string().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(kLargeSize);
  EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
  CloseHandle(file);
#else
  { std::ofstream create(path, std::ios::binary); }
  fs::resize_file(path, kLargeSize);
#endif
}

// A sparse file with patterned stretches at its start, middle and end, so that a chunk lost or
// moved anywhere changes its hash.
void MakeLargeFile(const fs::path& path) {
  ASSERT_NO_FATAL_FAILURE(CreateSparseFile(path));
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  const Bytes stretch = Pattern(kChunkSize + 1000, 10);
  for (uint64_t offset : {uint64_t{0}, kLargeSize / 2 + 17, kLargeSize - stretch.size()}) {
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(stretch.data()),
               static_cast<std::streamsize>(stretch.size()));
  }
  ASSERT_TRUE(file.flush());
}

// FNV-1a over the whole file.
uint64_t HashFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  uint64_t hash = 14695981039346656037u;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) {
      hash = (hash ^ static_cast<unsigned char>(buffer[i])) * 1099511628211u;
    }
  }
  return hash;
}

uint64_t SizeOf(const fs::path& path) {
  std::error_code absent;
  uint64_t size = fs::file_size(path, absent);
  return absent ? 0 : size;
}

// The tool run with arguments, stopped just before the given call; false when it ended first.
bool PausedAt(ToolProcess& tool, const fs::path& target) {
  const fs::path paused = target.string() + ".paused";
  while (tool.Running() && !fs::exists(paused)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  bool stopped = fs::exists(paused);
  fs::remove(paused);
  return stopped;
}

void Resume(const fs::path& target) { std::ofstream(target.string() + ".go").put('1'); }

// Linux gives the unnamed result its name only as the move begins.
#ifdef __linux__
const char kBeforeTheMove[] = "name";
#else
const char kBeforeTheMove[] = "move";
#endif

struct KillPoint {
  const char* name;
  const char* call;
  const char* occurrence;
};

// Nothing of a killed run stays behind, wherever it was killed: the system removes a temporary
// file that was never given its place.
TEST(KilledTransform, TargetSurvivesAndNothingIsLeftBehind) {
  const KillPoint points[] = {
      {"once the temporary file exists", "write", "1"},
      {"mid-stream", "write", "100"},
      {"at the flush", "flush", "1"},
      {"just before the move", kBeforeTheMove, "1"},
  };
  ScratchFolder folder(LargeFileFolder());
  const fs::path target = folder["target"];
  ASSERT_NO_FATAL_FAILURE(MakeLargeFile(target));
  const uint64_t targetHash = HashFile(target);
  for (const KillPoint& point : points) {
    for (const char* operation : {"encode", "decode"}) {
      SCOPED_TRACE(std::string(operation) + " killed " + point.name);
      if (std::string(operation) == "decode") {
        ASSERT_EQ(RunTool({"encode", target.string(), kPassphrase, ""}), 0);
      }
      const uint64_t before = HashFile(target);
      {
        ToolProcess tool(
            {operation, target.string(), kPassphrase, "", point.call, point.occurrence});
        ASSERT_TRUE(tool.Started());
        ASSERT_TRUE(PausedAt(tool, target)) << "the transform ended before it could be killed";
        tool.Kill();
      }
      EXPECT_EQ(HashFile(target), before);
      EXPECT_EQ(folder.Names(), std::vector<std::string>{"target"});
      if (std::string(operation) == "decode") {
        ASSERT_EQ(RunTool({"decode", target.string(), kPassphrase, ""}), 0);
      }
    }
  }
  EXPECT_EQ(HashFile(target), targetHash);
}

// On a disk, where flushing the large result takes a while, unlike in RAM.
TEST(LateWriter, SaveWhileTheResultIsFlushedIsNeverLost) {
  ScratchFolder folder;
  const std::string target = folder["target"];
  ASSERT_NO_FATAL_FAILURE(MakeLargeFile(target));
  const uint64_t targetHash = HashFile(target);
  const Bytes late = {'s', 'a', 'v', 'e', 'd'};

  ToolProcess tool({"encode", target, kPassphrase, "", "flush", "1"});
  ASSERT_TRUE(tool.Started());
  ASSERT_TRUE(PausedAt(tool, target));
  std::ofstream writer(target, std::ios::binary | std::ios::app);
  writer.write(reinterpret_cast<const char*>(late.data()), late.size());
  const bool saved = static_cast<bool>(writer.flush());
  writer.close();
  Resume(target);
  const int status = tool.Status();
  fs::remove(target + ".go");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"target"});
#ifdef _WIN32
  // The target is still open, shared for reading only: the save is refused, so its program
  // knows, and the transform goes ahead.
  EXPECT_FALSE(saved);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(SizeOf(target), kLargeSize + kHeaderSize);
  EXPECT_EQ(RunTool({"decode", target, kPassphrase, ""}), 0);
  EXPECT_EQ(HashFile(target), targetHash);
#else
  // Nothing keeps the writer out; the change is seen before the move and nothing is replaced.
  EXPECT_TRUE(saved);
  EXPECT_EQ(status, static_cast<int>(JobStatus::TargetChanged));
  EXPECT_EQ(SizeOf(target), kLargeSize + late.size());
  fs::resize_file(target, kLargeSize);
  EXPECT_EQ(HashFile(target), targetHash);
#endif
}

// Two programs encode one file in place under different passphrases, the first held just before
// its move while the second runs whole. Either the second replaces the file and the first then
// sees that it is no longer the one it read, or, where the system cannot replace a file that the
// first still holds (Windows before 10 1607, Wine), the second is refused and the first goes on:
// exactly one says done, and the file opens under its passphrase alone.
TEST(TwoTransforms, OnlyTheOneThatSaysDoneLeavesItsResult) {
  ScratchFolder folder(LargeFileFolder());
  const std::string target = folder["target"];
  ASSERT_NO_FATAL_FAILURE(MakeLargeFile(target));
  const uint64_t targetHash = HashFile(target);
  ToolProcess first({"encode", target, "aaaa", "", "move", "1"});
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(PausedAt(first, target));
  const int second = RunTool({"encode", target, "bbbb", ""});
  Resume(target);
  const int firstStatus = first.Status();
  fs::remove(target + ".go");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"target"});
#ifndef _WIN32
  EXPECT_EQ(second, 0) << "nothing holds the file against a rename";
#endif
  if (second == 0) {
    EXPECT_EQ(firstStatus, static_cast<int>(JobStatus::TargetChanged));
  } else {
    EXPECT_EQ(second, static_cast<int>(JobStatus::ReplaceFailed));
    EXPECT_EQ(firstStatus, 0);
  }
  const char* done = second == 0 ? "bbbb" : "aaaa";
  const char* refused = second == 0 ? "aaaa" : "bbbb";
  EXPECT_EQ(RunTool({"decode", target, refused, ""}), static_cast<int>(JobStatus::HeaderMismatch));
  EXPECT_EQ(RunTool({"decode", target, done, ""}), 0);
  EXPECT_EQ(HashFile(target), targetHash);
}

}  // namespace
}  // namespace karvel
