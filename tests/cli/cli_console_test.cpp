// The Windows console karvel-cli in its own process, as a script runs it: the
// passphrase from redirected input, standard error into a file.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/file_services.h"
#include "tests/cli/code_page_cases.h"
#include "tests/faults/fault_disks.h"
#include "tests/support/child_process.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

constexpr auto kPatience = std::chrono::seconds(30);
constexpr char kPassphrase[] = "s3cret words";

struct Outcome {
  DWORD exitCode = 0;
  std::string err;  // standard error's bytes
};

// Runs karvel-cli in folder with arguments, input as its standard input; its standard output and
// error go to errPath.
Outcome Run(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
            const std::string& input, const std::string& errPath) {
  ChildStart start;
  start.command = {KARVEL_CLI};
  start.command.insert(start.command.end(), arguments.begin(), arguments.end());
  start.folder = folder.u8string();
  start.inputs = {{0, input, ""}};
  start.out = errPath;
  start.err = errPath;
  start.noWindow = true;
  Outcome outcome;
  outcome.exitCode = ChildProcess(start).Wait(kPatience).exitCode;
  Bytes bytes = ReadBytes(errPath);
  outcome.err.assign(bytes.begin(), bytes.end());
  return outcome;
}

Bytes Plain(unsigned seed) { return Pattern(kChunkSize + 1000 + seed, seed); }

// The system's words for error, in its language, as the program gives them.
std::string SystemSays(DWORD error) {
  char text[kErrorTextSize];
  ErrorText(static_cast<int>(error), text, sizeof text);
  EXPECT_NE(text[0], '\0') << error;
  return text;
}

class CliConsoleTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& arguments, const std::string& input = "") {
    // A new file each time: Wine may still hold the last one while its process ends.
    const std::string errPath = logs_["err" + std::to_string(++runs_)];
    return karvel::Run(folder_.Path(), arguments, input, errPath);
  }

  ScratchFolder folder_;
  ScratchFolder logs_;
  int runs_ = 0;
};

// Names beyond the ANSI code page reach the program whole; its lines are UTF-8 in a file.
TEST_F(CliConsoleTest, UnicodeNamesRoundTripUnderARedirectedPassphrase) {
  const std::string japanese = "日本語.txt", other = "Grüße ✓.bin";
  const Bytes a = Plain(1), b = Plain(2);
  WriteBytes(folder_[japanese], a);
  WriteBytes(folder_[other], b);
  const std::string line = std::string(kPassphrase) + "\r\n";

  Outcome encoded = Run({"encode", "--passphrase-fd", "0", japanese, other}, line);
  EXPECT_EQ(encoded.exitCode, 0u);
  EXPECT_EQ(encoded.err, japanese + ": done\r\n" + other + ": done\r\n" +
                             "karvel-cli: encoded 2 of 2 files\r\n");
  EXPECT_TRUE(SameEncoding(ReadBytes(folder_[japanese]), ReferenceEncode(kPassphrase, a)));
  EXPECT_TRUE(SameEncoding(ReadBytes(folder_[other]), ReferenceEncode(kPassphrase, b)));

  Outcome wrong = Run({"decode", "--passphrase-fd=0", japanese, "absent.bin"}, "other\n");
  EXPECT_EQ(wrong.exitCode, 3u);
  EXPECT_EQ(wrong.err, japanese +
                           ": invalid key: the file was encoded under another passphrase\r\n" +
                           "absent.bin: file open failed: " + SystemSays(ERROR_FILE_NOT_FOUND) +
                           "\r\nkarvel-cli: decoded 0 of 2 files\r\n");

  Outcome decoded = Run({"decode", "--passphrase-fd=0", japanese, other}, line);
  EXPECT_EQ(decoded.exitCode, 0u) << decoded.err;
  EXPECT_EQ(ReadBytes(folder_[japanese]), a);
  EXPECT_EQ(ReadBytes(folder_[other]), b);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{other, japanese}));
}

struct CauseCase {
  const char* command;
  std::string target;  // in the folder, or absolute
  DWORD exitCode;
  std::string cause;  // what the file's line says after "target: "
};

// What the system said, or what the file shows, follows the status on the file's line.
TEST_F(CliConsoleTest, FailuresSayWhy) {
  FaultDisk disk(DiskKind::Small);
  const Bytes plain = Pattern(kSmallDiskSize * 6 / 10, 6);
  WriteBytes(folder_["older.bin"], ReferenceEncode("other words", plain));  // no record
  WriteBytes(folder_["plain.bin"], plain);
  WriteBytes(folder_["recorded.bin"], plain);
  ASSERT_EQ(Run({"encode", "--passphrase-fd=0", "recorded.bin"}, "other words\n").exitCode, 0u);
  WriteBytes(folder_["held.bin"], plain);
  CreateDirectoryA(folder_["folder"].c_str(), nullptr);
  if (disk.Missing().empty()) WriteBytes(disk["big.bin"], plain);  // no room for another copy

  const std::string another = "invalid key: the file was encoded under another passphrase";
  const std::string unknown = "invalid key: not encoded under this passphrase, or never encoded";
  const CauseCase cases[] = {
      {"encode", "folder", 1, "file open failed: Is a folder"},
      {"decode", "absent.bin", 1, "file open failed: " + SystemSays(ERROR_FILE_NOT_FOUND)},
      {"encode", "NUL", 1, "file open failed: Not a regular file"},
      {"encode", "held.bin", 1, "file open failed: " + SystemSays(ERROR_SHARING_VIOLATION)},
      {"encode", disk["big.bin"], 1, "file write failed: " + SystemSays(ERROR_DISK_FULL)},
      {"decode", "recorded.bin", 3, another},
      {"decode", "older.bin", 3, unknown},
      {"decode", "plain.bin", 3, unknown},
  };
  // Another program writes it and lets no one else at it.
  HANDLE holder = CreateFileA(folder_["held.bin"].c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  for (const CauseCase& c : cases) {
    SCOPED_TRACE(c.target);
    if (c.target == disk["big.bin"] && !disk.Missing().empty()) {
      std::printf("[ skipped  ] full disk: %s\n", disk.Missing().c_str());
      continue;
    }
    Outcome outcome =
        Run({c.command, "--passphrase-fd=0", c.target}, std::string(kPassphrase) + "\n");
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.err,
              c.target + ": " + c.cause + "\r\nkarvel-cli: " + c.command + "d 0 of 1 file\r\n");
  }
  CloseHandle(holder);
  EXPECT_EQ(ReadBytes(folder_["plain.bin"]), plain);
  if (disk.Missing().empty()) {
    EXPECT_EQ(ReadBytes(disk["big.bin"]), plain);
  }
}

// Windows' own conversion gives the bytes the POSIX program's gives for the same table.
TEST_F(CliConsoleTest, CodePageGivesTheWindowsBytesOrRefuses) {
  const Bytes plain = Plain(5);
  for (const CodePageCase& test : kCodePageCases) {
    SCOPED_TRACE(std::string(test.typed) + " in code page " + std::to_string(test.codePage));
    WriteBytes(folder_["f.bin"], plain);
    std::vector<std::string> arguments = {"encode", "--passphrase-fd=0", "f.bin"};
    if (test.codePage != 0) arguments.push_back("--code-page=" + std::to_string(test.codePage));
    Outcome outcome = Run(arguments, std::string(test.typed) + "\n");
    if (test.bytes != nullptr) {
      EXPECT_EQ(outcome.exitCode, 0u) << outcome.err;
      EXPECT_TRUE(SameEncoding(ReadBytes(folder_["f.bin"]), ReferenceEncode(test.bytes, plain)));
      continue;
    }
    EXPECT_EQ(outcome.exitCode, 2u);
    EXPECT_EQ(ReadBytes(folder_["f.bin"]), plain);
    // Without --code-page the refusal names the code page the window uses here.
    const std::string expected = test.codePage == 0
                                     ? "this system's is " + std::to_string(GetACP())
                                     : "code page " + std::to_string(test.codePage) + " cannot use";
    EXPECT_NE(outcome.err.find(expected), std::string::npos) << outcome.err;
  }
}

}  // namespace
}  // namespace karvel
