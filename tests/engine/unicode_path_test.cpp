// Paths as UTF-8 text: names no single code page holds, folders whose
// Shift-JIS names end in the byte of a backslash, paths longer than 260
// characters, paths longer than a field or than the system takes, and where
// a path splits into its folder and its name.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/paths.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>

#include "engine/windows_text.h"
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "unicode path";
// In Shift-JIS each of these ends in 0x5C, the byte of a backslash.
const char kBackslashFolders[] = "表/ソ/能/十";
const char kTargetName[] = "한국어😀.bin";
#ifdef _WIN32
const char kSeparator[] = "\\";
#else
const char kSeparator[] = "/";
#endif

JobStatus Probe(const std::string& target) {
  return RunJob(&EncodingJob::Probe, kPassphrase, target, "");
}

// The sorted names in folder. On Windows the long form reaches folders beyond 260 characters,
// which the standard library's listing does not.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
#ifdef _WIN32
  std::wstring pattern;
  EXPECT_EQ(ToWidePath((folder + "\\*").c_str(), &pattern), WidePath::Ok);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  EXPECT_NE(search, INVALID_HANDLE_VALUE);
  do {
    std::string name = fs::path(found.cFileName).u8string();
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
#else
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::u8path(folder))) {
    names.push_back(entry.path().filename().u8string());
  }
#endif
  std::sort(names.begin(), names.end());
  return names;
}

// Encodes in place and to another name, decodes both back, checking every result's bytes.
void RoundTrip(const std::string& folder) {
  const std::string target = folder + kSeparator + kTargetName;
  const std::string other = folder + kSeparator + "結果😀.enc";
  const Bytes plain = Pattern(300000, 1), encoded = ReferenceEncode(kPassphrase, plain);
  WriteBytes(target, plain);
  EXPECT_TRUE(SystemFileServices().Exists(Prepared(target)));
  EXPECT_EQ(Probe(target), JobStatus::HeaderMismatch);

  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, target, other), JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(ReadBytes(other), encoded));
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, target, ""), JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(ReadBytes(target), encoded));
  EXPECT_EQ(Probe(target), JobStatus::Ok);
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, target, ""), JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(target) == plain);
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, other, ""), JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(other) == plain);

  std::vector<std::string> names = Names(folder);
  EXPECT_EQ(names, (std::vector<std::string>{"結果😀.enc", "한국어😀.bin"}));
}

TEST(UnicodePath, NamesBeyondAnyCodePageInFoldersEndingInABackslashByte) {
  ScratchFolder scratch;
  const std::string folder = scratch[kBackslashFolders];
  fs::create_directories(fs::u8path(folder));
  RoundTrip(fs::u8path(folder).u8string());
}

TEST(UnicodePath, PathsLongerThan260Characters) {
  ScratchFolder scratch;
  std::string folder = scratch.Path().u8string();
  while (folder.size() < 600) {
    folder += kSeparator + std::string("表ソ能十 長いフォルダの名前 ") + std::string(40, 'x');
  }
  fs::create_directories(fs::u8path(folder));
  RoundTrip(folder);
}

TEST(UnicodePath, RelativePathsResolveAgainstTheCurrentFolder) {
  ScratchFolder scratch;
  fs::create_directories(fs::u8path(scratch[kBackslashFolders]));
  const fs::path before = fs::current_path();
  fs::current_path(scratch.Path());
  const std::string relative = fs::u8path(kBackslashFolders).make_preferred().u8string();
  RoundTrip(relative);
  fs::current_path(before);
}

TEST(UnicodePath, PathsLongerThanTheSystemTakesAreRefusedWhole) {
  ScratchFolder scratch;
  WriteBytes(scratch["a"], Pattern(10, 2));
  // Within the field, but longer than any full path the system takes.
  std::string tooLong = scratch["a"] + kSeparator + std::string(kMaxPathUnits, 'b');
  EncodingJob job;
  ASSERT_EQ(job.SetPassphrase(kPassphrase), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(tooLong.c_str()), JobStatus::Ok);
  EXPECT_EQ(job.Probe(), JobStatus::PathTooLong);
  EXPECT_EQ(job.Encode(), JobStatus::PathTooLong);
  ASSERT_EQ(job.SetTargetPath(scratch["a"].c_str()), JobStatus::Ok);
  ASSERT_EQ(job.SetOutputPath(tooLong.c_str()), JobStatus::Ok);
  EXPECT_EQ(job.Encode(), JobStatus::PathTooLong);
  // Beyond the field: refused by the setter, never cut to a path that exists.
  std::string padded = scratch["a"] + std::string(kMaxPathLength + 1 - scratch["a"].size(), 'c');
  EXPECT_EQ(job.SetTargetPath(padded.c_str()), JobStatus::PathTooLong);
  EXPECT_STREQ(job.targetPath, "");
  EXPECT_EQ(job.Encode(), JobStatus::NoTargetPath);
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"a"});
  EXPECT_TRUE(ReadBytes(scratch["a"]) == Pattern(10, 2));
}

#ifdef _WIN32
TEST(UnicodePath, RelativePathWhoseFullFormExceedsTheLimitIsRefused) {
  ScratchFolder scratch;
  const fs::path before = fs::current_path();
  fs::current_path(scratch.Path());
  // Fits in UTF-16 as typed; the current folder in front of it does not.
  const std::string relative(kMaxPathUnits - 2, 'r');
  EncodingJob job;
  ASSERT_EQ(job.SetPassphrase(kPassphrase), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(relative.c_str()), JobStatus::Ok);
  EXPECT_EQ(job.Probe(), JobStatus::PathTooLong);
  EXPECT_EQ(job.Encode(), JobStatus::PathTooLong);
  fs::current_path(before);
  EXPECT_TRUE(scratch.Names().empty());
}
#endif

// A name as long as the system takes leaves no room for ".tmp" beside it; a short name in the
// same folder is used, and earlier leftovers there are left alone.
TEST(UnicodePath, LongestNamesUseAShortTemporaryName) {
#ifdef _WIN32
  const std::string longest(255, 'n');
#else
  const std::string longest(NAME_MAX, 'n');
#endif
  ScratchFolder scratch;
  const Bytes plain = Pattern(5000, 3);
  WriteBytes(scratch[longest], plain);
  WriteBytes(scratch["karvel.tmp"], Pattern(7, 4));
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, scratch[longest], ""), JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(ReadBytes(scratch[longest]), ReferenceEncode(kPassphrase, plain)));
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, scratch[longest], scratch["short"]),
            JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(scratch["short"]) == plain);
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"karvel.tmp", longest, "short"}));
  EXPECT_TRUE(ReadBytes(scratch["karvel.tmp"]) == Pattern(7, 4));
}

TEST(UnicodePath, FolderEndsAtTheLastSeparatorOfTheSystem) {
  struct Case {
    const char* path;
    size_t folder;
  };
  const Case kCases[] = {
      {"name", 0},      {"/", 1},      {"dir/name", 4},           {"a/b/\xe8\xa1\xa8", 4},
#ifdef _WIN32
      {"dir\\name", 4}, {"C:name", 2}, {"C:\\dir/sub\\name", 11},
#else
      {"dir\\name", 0},  // a backslash is part of a POSIX name
      {"C:name", 0},    {"a\\b/c\\d", 4},
#endif
  };
  for (const Case& c : kCases) EXPECT_EQ(FolderLength(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace karvel
