// karvel-cli as a user runs it: in a terminal of its own (a pseudo-terminal)
// for the prompts, the progress and Ctrl+C, and without one for scripts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoding_job.h"
#include "res/version.h"
#include "tests/cli/code_page_cases.h"
#include "tests/faults/fault_disks.h"
#include "tests/support/child_process.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/situations.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

namespace fs = std::filesystem;

constexpr auto kPatience = std::chrono::seconds(30);  // the longest any output is waited for
constexpr char kPassphrase[] = "s3cret words";

struct Outcome {
  int exitCode = -1;  // -1 when a signal ended the program
  int signal = 0;
  bool core = false;  // a core dump was written
  std::string out;    // standard output
  std::string err;    // standard error, or everything the terminal showed
};

Outcome Ended(const ChildEnd& end) {
  Outcome outcome;
  if (end.exited) outcome.exitCode = static_cast<int>(end.exitCode);
  outcome.signal = end.signal;
  outcome.core = end.core;
  return outcome;
}

// The program that starts karvel-cli, with its arguments before karvel-cli's path; none for
// karvel-cli itself.
using Launcher = std::vector<std::string>;

std::vector<std::string> Command(const std::vector<std::string>& arguments,
                                 const Launcher& launcher = {}) {
  std::vector<std::string> command = launcher;
  command.push_back(KARVEL_CLI);
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pipe whose read end becomes descriptor target of the program, holding text; or a file.
struct Feed {
  int target;
  std::string text;
  bool file = false;  // a disk file that holds text, opened for reading, instead of a pipe
};

// karvel-cli in folder, in a session of its own, so without a terminal, as from cron or a
// service; its output in files in logs.
ChildStart WithoutTerminal(const fs::path& folder, const std::vector<std::string>& arguments,
                           const std::vector<Feed>& feeds, const fs::path& logs,
                           const Launcher& launcher, bool asNobody) {
  ChildStart start;
  start.command = Command(arguments, launcher);
  start.folder = folder.string();
  for (const Feed& feed : feeds) {
    if (!feed.file) {
      start.inputs.push_back({feed.target, feed.text, ""});
      continue;
    }
    const fs::path held = logs / ("feed" + std::to_string(feed.target));
    WriteBytes(held.string(), Bytes(feed.text.begin(), feed.text.end()));
    start.inputs.push_back({feed.target, "", held.string()});
  }
  start.out = (logs / "out").string();
  start.err = (logs / "err").string();
  start.newSession = true;
  start.asNobody = asNobody;
  return start;
}

class Process {
 public:
  // asNobody: as user nobody, who may not read every file as root does.
  Process(const fs::path& folder, const std::vector<std::string>& arguments,
          const std::vector<Feed>& feeds, const fs::path& logs, const Launcher& launcher = {},
          bool asNobody = false)
      : logs_(logs), child_(WithoutTerminal(folder, arguments, feeds, logs, launcher, asNobody)) {}

  pid_t Pid() const { return child_.Id(); }

  Outcome Wait() {
    Outcome outcome = Ended(child_.Wait(kPatience));
    outcome.out = ReadText(logs_ / "out");
    outcome.err = ReadText(logs_ / "err");
    return outcome;
  }

 private:
  fs::path logs_;
  ChildProcess child_;
};

// A new pseudo-terminal's device; its master side is *master.
std::string NewTerminal(int* master) {
  *master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_GE(*master, 0);
  EXPECT_EQ(grantpt(*master), 0);
  EXPECT_EQ(unlockpt(*master), 0);
  const char* device = ptsname(*master);
  return device == nullptr ? "" : device;
}

ChildStart InTerminal(const fs::path& folder, const std::vector<std::string>& arguments,
                      const std::string& terminal) {
  ChildStart start;
  start.command = Command(arguments);
  start.folder = folder.string();
  start.terminal = terminal;
  return start;
}

// karvel-cli in a pseudo-terminal of its own: what it shows there, keys typed into it.
class Terminal {
 public:
  Terminal(const fs::path& folder, const std::vector<std::string>& arguments)
      : child_(InTerminal(folder, arguments, NewTerminal(&master_))) {}

  ~Terminal() {
    child_.Kill();
    close(master_);
  }

  pid_t Pid() const { return child_.Id(); }
  int Master() const { return master_; }
  const std::string& Shown() const { return shown_; }

  // Reads what the program shows until pattern matches after the last match; false when it does
  // not within kPatience.
  bool Expect(const std::string& pattern) {
    std::regex expected(pattern);
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    std::smatch match;
    while (true) {
      std::string rest = shown_.substr(matched_);
      if (std::regex_search(rest, match, expected)) {
        matched_ += static_cast<size_t>(match.position(0) + match.length(0));
        return true;
      }
      if (std::chrono::steady_clock::now() > deadline || !ReadSome(100)) return false;
    }
  }

  void Type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }

  Outcome Wait() {
    Outcome outcome = Ended(child_.Wait(kPatience));
    while (ReadSome(0)) {
    }
    outcome.err = shown_;
    return outcome;
  }

 private:
  // False once the program has closed the terminal.
  bool ReadSome(int waitMs) {
    pollfd ready = {master_, POLLIN, 0};
    if (poll(&ready, 1, waitMs) <= 0) return waitMs > 0;
    char buffer[4096];
    ssize_t got = read(master_, buffer, sizeof buffer);
    if (got <= 0) return false;
    shown_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  int master_ = -1;  // before child_, which is started on it
  ChildProcess child_;
  std::string shown_;
  size_t matched_ = 0;
};

Bytes Plain(unsigned seed) { return Pattern(kChunkSize + 1000 + seed, seed); }

// The encoding of plain under passphrase, but for the header's free bytes.
void ExpectEncodingOf(const Bytes& actual, const Bytes& plain, const std::string& passphrase) {
  EXPECT_TRUE(SameEncoding(actual, ReferenceEncode(passphrase, plain)));
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(logs_["passphrase"], Bytes(kPassphrase, kPassphrase + 12)); }

  Outcome Run(const std::vector<std::string>& arguments, const std::vector<Feed>& feeds = {}) {
    return Process(folder_.Path(), arguments, feeds, logs_.Path()).Wait();
  }

  // The passphrase from a file outside the folder the files are in.
  std::string PassphraseFile() const { return logs_["passphrase"]; }

  ScratchFolder folder_;
  ScratchFolder logs_;
};

struct HelpCase {
  std::vector<std::string> arguments;
  std::vector<const char*> words;  // beside the options every subcommand takes
};

// Each subcommand's help lists the options it takes, as the program's own does.
TEST_F(CliTest, HelpNamesEveryCommandOptionAndExitCodeAndVersionIsTheWindows) {
  const HelpCase cases[] = {
      {{"--help"},
       {"encode", "decode", "--version", "Exit codes:", "  3    invalid key",
        "  4    a FILE is damaged"}},
      {{"encode", "--help"}, {"Usage: karvel-cli encode [OPTIONS] FILE..."}},
      {{"decode", "-h"}, {"Usage: karvel-cli decode [OPTIONS] FILE..."}},
      {{"verify", "--help"}, {"Usage: karvel-cli verify [OPTIONS] FILE..."}},
  };
  for (const HelpCase& c : cases) {
    Outcome help = Run(c.arguments);
    SCOPED_TRACE(help.out);
    EXPECT_EQ(help.exitCode, 0);
    std::vector<const char*> words = {"-o,--output OUTPUT", "--force", "--passphrase-file FILE",
                                      "--passphrase-fd N", "--code-page N"};
    words.insert(words.end(), c.words.begin(), c.words.end());
    for (const char* word : words) {
      EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
  }
  Outcome version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "karvel-cli " KARVEL_VERSION "\n");
}

struct UsageCase {
  std::vector<std::string> arguments;
  std::string passphraseLine;  // the first line of the file --passphrase-file names
  const char* message;         // what standard error starts with, after "karvel-cli: "
};

TEST_F(CliTest, UsageErrorsSayWhyAndTouchNothing) {
  const std::string file = "--passphrase-file=" + logs_["given"];
  const UsageCase cases[] = {
      {{}, "", "A subcommand is required"},
      {{"encode"}, "", "FILE is required"},
      {{"scramble", "a.txt"},
       "",
       "unknown subcommand 'scramble'; the subcommands are encode, decode"},
      {{"--passphrase-fd", "0", "encdoe", "a.txt"}, "", "unknown subcommand 'encdoe'"},
      {{"encode", "--passphrase", kPassphrase, "a.txt"},
       "",
       "The following argument was not expected: --passphrase"},
      {{"encode", "-o", "out", "a.txt", "b.txt", file}, "x", "-o takes one FILE"},
      {{"encode", "--code-page", "437", "a.txt", file}, "x", "--code-page: 437 not in"},
      {{"encode", file, "--passphrase-fd", "0", "a.txt"},
       "x",
       "--passphrase-file and --passphrase-fd exclude each other"},
      {{"--passphrase-fd", "0", "decode", file, "a.txt"},
       "x",
       "--passphrase-file and --passphrase-fd exclude each other"},
      {{"encode", "a.txt"}, "", "no terminal to ask for the encoding key: give"},
      {{"encode", "--passphrase-file", "absent", "a.txt"},
       "",
       "encoding key cannot be read from absent"},
      {{"decode", "--passphrase-fd", "7", "a.txt"},
       "",
       "encoding key cannot be read from descriptor 7"},
      {{"encode", file, "a.txt"}, "", "input encoding key"},
      {{"encode", file, "a.txt"}, std::string(128, 'k'), "encoding key too long"},
      {{"encode", file, "--code-page", "1252", "a.txt"}, "\xff", "encoding key is not UTF-8 text"},
      {{"encode", file, "a.txt"}, std::string("zero\0byte", 9), "encoding key is not UTF-8 text"},
      {{"encode", "--passphrase-fd", "0", "-"}, "", "--passphrase-fd 0 is standard input"},
      {{"decode", file, "a.txt", "-"}, "x", "FILE - (standard input) must be the only FILE"},
      {{"decode", file, "-", "-o", "a.txt"}, "x", "FILE - writes standard output"},
      {{"verify", file, "-o", "-", "a.txt"}, "x", "verify writes nothing"},
      // The longest line read, 3 × 127 bytes, is read to its line end; one byte more is not.
      {{"encode", file, "a.txt"},
       std::string(380, 'k') + std::string(1, '\0') + "\r\nrest",
       "encoding key is not UTF-8 text"},
      {{"encode", file, "a.txt"},
       std::string(381, 'k') + std::string(1, '\0') + "\r\nrest",
       "encoding key too long"},
  };
  WriteBytes(folder_["a.txt"], Plain(1));
  WriteBytes(folder_["b.txt"], Plain(2));
  const auto before = Snapshot(folder_.Path());
  for (const UsageCase& usage : cases) {
    WriteBytes(logs_["given"], Bytes(usage.passphraseLine.begin(), usage.passphraseLine.end()));
    Outcome outcome = Run(usage.arguments);
    SCOPED_TRACE(outcome.err);
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err.rfind(std::string("karvel-cli: ") + usage.message, 0), 0u);
    EXPECT_EQ(Snapshot(folder_.Path()), before);
  }
}

TEST_F(CliTest, TerminalAsksWithoutEchoTwiceToEncodeAndOnceToDecode) {
  const Bytes plain = Plain(1);
  WriteBytes(folder_["a.txt"], plain);
  {
    Terminal terminal(folder_.Path(), {"encode", "a.txt"});
    ASSERT_TRUE(terminal.Expect("^Passphrase: $"));
    terminal.Type(std::string(kPassphrase) + "\r");
    ASSERT_TRUE(terminal.Expect("^\r\nPassphrase again: $"));
    terminal.Type(std::string(kPassphrase) + "\r");
    ASSERT_TRUE(terminal.Expect("^\r\na.txt: done\r\nkarvel-cli: encoded 1 of 1 file\r\n$"));
    Outcome outcome = terminal.Wait();
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err.find(kPassphrase), std::string::npos) << "echoed";
    termios settings;
    ASSERT_EQ(tcgetattr(terminal.Master(), &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0u) << "the echo is back";
  }
  ExpectEncodingOf(ReadBytes(folder_["a.txt"]), plain, kPassphrase);

  {
    Terminal terminal(folder_.Path(), {"encode", "a.txt"});
    ASSERT_TRUE(terminal.Expect("Passphrase: $"));
    terminal.Type("other\r");
    ASSERT_TRUE(terminal.Expect("Passphrase again: $"));
    terminal.Type("othre\r");
    ASSERT_TRUE(terminal.Expect("karvel-cli: encoding keys differ\r\n$"));
    EXPECT_EQ(terminal.Wait().exitCode, 2);
  }
  {
    Terminal terminal(folder_.Path(), {"decode", "a.txt"});
    ASSERT_TRUE(terminal.Expect("Passphrase: $"));
    terminal.Type(std::string(kPassphrase) + "\r");
    ASSERT_TRUE(terminal.Expect("^\r\na.txt: done\r\nkarvel-cli: decoded 1 of 1 file\r\n$"));
    EXPECT_EQ(terminal.Wait().exitCode, 0);
  }
  EXPECT_EQ(ReadBytes(folder_["a.txt"]), plain);

  {
    Terminal terminal(folder_.Path(), {"decode", "a.txt"});
    ASSERT_TRUE(terminal.Expect("Passphrase: $"));
    terminal.Type("\x03");
    Outcome outcome = terminal.Wait();
    EXPECT_EQ(outcome.signal, SIGINT);
    termios settings;
    ASSERT_EQ(tcgetattr(terminal.Master(), &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0u) << "the echo is back after Ctrl+C";
  }
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.txt"});
}

// Each FILE on its own: a line each, a summary, and the exit code of the first failure.
TEST_F(CliTest, SeveralFilesEachOnItsOwn) {
  const Bytes a = Plain(1), b = Plain(2), c = Plain(3);
  WriteBytes(folder_["a.txt"], a);
  WriteBytes(folder_["b.txt"], b);
  WriteBytes(folder_["c.txt"], c);
  const std::string file = "--passphrase-file=" + PassphraseFile();
  const Feed other = {0, "other words\n"};

  Outcome encoded = Run({"encode", file, "a.txt", "absent.txt", "c.txt"});
  EXPECT_EQ(encoded.exitCode, 1);
  EXPECT_EQ(encoded.err,
            "a.txt: done\nabsent.txt: file open failed: No such file or directory\nc.txt: done\n"
            "karvel-cli: encoded 2 of 3 files\n");
  ExpectEncodingOf(ReadBytes(folder_["a.txt"]), a, kPassphrase);
  ExpectEncodingOf(ReadBytes(folder_["c.txt"]), c, kPassphrase);

  Outcome again = Run({"encode", file, "a.txt"});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_EQ(again.err,
            "a.txt: alreadly encoded by the passphrase\nkarvel-cli: encoded 0 of 1 file\n");
  EXPECT_EQ(Run({"encode", "--passphrase-fd=0", "b.txt"}, {other}).exitCode, 0);

  Outcome mixed = Run({"decode", file, "a.txt", "b.txt", "absent.txt", "c.txt"});
  EXPECT_EQ(mixed.exitCode, 3);
  EXPECT_EQ(mixed.err,
            "a.txt: done\nb.txt: invalid key: the file was encoded under another passphrase\n"
            "absent.txt: file open failed: No such file or directory\nc.txt: done\n"
            "karvel-cli: decoded 2 of 4 files\n");
  EXPECT_EQ(Run({"decode", "--passphrase-fd=0", "b.txt"}, {other}).exitCode, 0);
  EXPECT_EQ(ReadBytes(folder_["a.txt"]), a);
  EXPECT_EQ(ReadBytes(folder_["b.txt"]), b);
  EXPECT_EQ(ReadBytes(folder_["c.txt"]), c);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

// A source that never ends its first line is refused once it has given more than any passphrase
// could take, not read to its end.
TEST_F(CliTest, AnEndlessPassphraseSourceIsRefusedAtOnce) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    Launcher launcher;
  };
  const Case cases[] = {
      {"/dev/zero", {"--passphrase-file", "/dev/zero"}, {}},
      {"an endless pipe",
       {"--passphrase-fd", "0"},
       {"/bin/sh", "-c", "yes a | tr -d '\\n' | \"$0\" \"$@\""}},
  };
  WriteBytes(folder_["a.txt"], Plain(1));
  const auto before = Snapshot(folder_.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"encode", "a.txt"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    Outcome outcome = Process(folder_.Path(), arguments, {}, logs_.Path(), c.launcher).Wait();
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(outcome.err, "karvel-cli: encoding key too long\n");
    EXPECT_EQ(Snapshot(folder_.Path()), before);
  }
}

struct ForceCase {
  const char* name;
  std::vector<std::string> arguments;  // after the passphrase's option
  int exitCode;
  const char* err;
  const char* encoded;  // the file that holds the result; nullptr for none
};

// -o replaces a file that exists only with --force, unless it is the target itself, by whatever
// path; then the target is transformed in place.
TEST_F(CliTest, OutputThatExistsIsReplacedOnlyWithForce) {
  const std::string refused =
      "plain.bin: other.bin exists: give --force to replace it\nkarvel-cli: encoded 0 of 1 file\n";
  const std::string done = "plain.bin: done\nkarvel-cli: encoded 1 of 1 file\n";
  const ForceCase cases[] = {
      {"another file", {"encode", "-o", "other.bin", "plain.bin"}, 1, refused.c_str(), nullptr},
      {"a link to another file",
       {"encode", "-o", "other.lnk", "plain.bin"},
       1,
       "plain.bin: other.lnk exists: give --force to replace it\n"
       "karvel-cli: encoded 0 of 1 file\n",
       nullptr},
      {"--force",
       {"encode", "--force", "-o", "other.bin", "plain.bin"},
       0,
       done.c_str(),
       "other.bin"},
      {"--force before the subcommand",
       {"--force", "encode", "-o", "other.bin", "plain.bin"},
       0,
       done.c_str(),
       "other.bin"},
      {"the target by another path",
       {"encode", "-o", "./plain.bin", "plain.bin"},
       0,
       done.c_str(),
       "plain.bin"},
      {"the target through a link",
       {"encode", "-o", "plain.lnk", "plain.bin"},
       0,
       done.c_str(),
       "plain.bin"},
  };
  const Bytes plain = Plain(6);
  const Bytes other = Pattern(100, 7);
  fs::create_symlink("other.bin", folder_["other.lnk"]);
  fs::create_symlink("plain.bin", folder_["plain.lnk"]);
  for (const ForceCase& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(folder_["plain.bin"], plain);
    WriteBytes(folder_["other.bin"], other);
    // Before the subcommand, as the program takes it too.
    std::vector<std::string> arguments = {"--passphrase-file=" + PassphraseFile()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.err, c.err);
    for (const char* name : {"plain.bin", "other.bin"}) {
      const Bytes& was = std::string(name) == "plain.bin" ? plain : other;
      if (c.encoded != nullptr && std::string(name) == c.encoded) {
        ExpectEncodingOf(ReadBytes(folder_[name]), plain, kPassphrase);
      } else {
        EXPECT_EQ(ReadBytes(folder_[name]), was) << name;
      }
    }
    EXPECT_EQ(folder_.Names(),
              (std::vector<std::string>{"other.bin", "other.lnk", "plain.bin", "plain.lnk"}));
  }
}

struct CauseCase {
  const char* command;
  std::string target;  // in the folder, or absolute
  int exitCode;
  std::string cause;        // what the file's line says after "target: "
  std::string output = {};  // for -o; "" for none
};

// What the system said, or what the file shows, follows the status on the file's line.
TEST_F(CliTest, FailuresSayWhy) {
  FaultDisk disk(DiskKind::Small);
  FaultDisk readOnly(DiskKind::ReadOnly);
  const Bytes plain = Pattern(kSmallDiskSize * 6 / 10, 6);
  WriteBytes(folder_["older.bin"], ReferenceEncode("other words", plain));  // no record
  WriteBytes(folder_["plain.bin"], plain);
  WriteBytes(folder_["recorded.bin"], plain);
  ASSERT_EQ(Run({"encode", "--passphrase-fd=0", "recorded.bin"}, {{0, "other words\n"}}).exitCode,
            0);
  WriteBytes(folder_["unreadable.bin"], plain);
  ASSERT_EQ(chmod(folder_["unreadable.bin"].c_str(), 0), 0);
  ASSERT_EQ(mkfifo(folder_["fifo"].c_str(), 0600), 0);
  fs::create_directory(folder_["folder"]);
  if (disk.Missing().empty()) WriteBytes(disk["big.bin"], plain);  // no room for another copy

  const std::string another = "invalid key: the file was encoded under another passphrase";
  const std::string unknown = "invalid key: not encoded under this passphrase, or never encoded";
  const CauseCase cases[] = {
      {"encode", "folder", 1, "file open failed: Is a directory"},
      {"decode", "absent.bin", 1, "file open failed: No such file or directory"},
      {"encode", "fifo", 1, "file open failed: Not a regular file"},
      {"decode", "/dev/null", 1, "file open failed: Not a regular file"},
      {"encode", "unreadable.bin", 1, "file open failed: Permission denied"},
      {"encode", disk["big.bin"], 1, "file write failed: No space left on device"},
      {"encode", "plain.bin", 1, "output replace failed: Read-only file system",
       readOnly["new.bin"]},
      {"decode", "recorded.bin", 3, another},
      {"decode", "older.bin", 3, unknown},
      {"decode", "plain.bin", 3, unknown},
  };
  const auto before = Snapshot(folder_.Path());
  for (const CauseCase& c : cases) {
    SCOPED_TRACE(c.target);
    const FaultDisk* used = c.target == disk["big.bin"] ? &disk
                            : c.output.empty()          ? nullptr
                                                        : &readOnly;
    if (used != nullptr && !used->Missing().empty()) {
      std::printf("[ skipped  ] %s\n", used->Missing().c_str());
      continue;
    }
    std::vector<std::string> arguments = {c.command, "--passphrase-fd=0", c.target};
    if (!c.output.empty()) arguments.insert(arguments.end(), {"-o", c.output});
    // Root reads every file: the program runs as user nobody, who may not.
    const bool asNobody = c.target == "unreadable.bin" && geteuid() == 0;
    Outcome outcome = Process(folder_.Path(), arguments, {{0, std::string(kPassphrase) + "\n"}},
                              logs_.Path(), {}, asNobody)
                          .Wait();
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.err,
              c.target + ": " + c.cause + "\nkarvel-cli: " + c.command + "d 0 of 1 file\n");
  }
  EXPECT_EQ(Snapshot(folder_.Path()), before);
  if (disk.Missing().empty()) {
    EXPECT_EQ(ReadBytes(disk["big.bin"]), plain);
  }
}

struct SourceCase {
  const char* name;
  std::vector<std::string> options;
  std::vector<Feed> feeds;
  std::string fileText;  // the passphrase file's content
};

// The engine's table of situations, each in a fresh folder, through the command line: a FILE's
// line says what the engine's check says, or "done", and the exit code follows from it.
TEST_F(CliTest, EverySituationIsRefusedAsTheEngineRefusesIt) {
  struct Direction {
    const char* command;
    JobStatus Situation::*expected;
  };
  const Direction directions[] = {{"encode", &Situation::encode}, {"decode", &Situation::decode}};
  for (const Situation& situation : kSituations) {
    for (const Direction& direction : directions) {
      SCOPED_TRACE(std::string(direction.command) + " of " + situation.name);
      SituationFiles files;
      const std::string target = files[situation.target];
      std::vector<std::string> arguments = {direction.command, "--passphrase-fd=0", target};
      if (situation.output[0] != '\0') {
        arguments.insert(arguments.end(), {"-o", files[situation.output]});
      }
      const JobStatus expected = situation.*direction.expected;
      Outcome outcome = Run(arguments, {{0, std::string(situation.passphrase) + "\n"}});
      // An empty passphrase is refused before any FILE.
      const std::string who = expected == JobStatus::NoPassphrase ? "karvel-cli" : target;
      // The window's text, then perhaps why (tested with the causes).
      const std::string line = outcome.err.substr(0, outcome.err.find('\n') + 1);
      const std::string said = who + ": " + StatusText(expected);
      EXPECT_TRUE(line.compare(0, said.size() + 1, said + "\n") == 0 ||
                  line.compare(0, said.size() + 2, said + ": ") == 0)
          << line;
      int exitCode = 1;
      if (expected == JobStatus::Ok) exitCode = 0;
      if (expected == JobStatus::HeaderMismatch) exitCode = 3;
      if (expected == JobStatus::NoPassphrase || expected == JobStatus::NoTargetPath) exitCode = 2;
      EXPECT_EQ(outcome.exitCode, exitCode);
    }
  }
}

// The first line of a file or a descriptor, without its line end; what follows is not read.
TEST_F(CliTest, PassphraseFromAFileOrADescriptorAndOutputElsewhere) {
  const std::string file = logs_["given"];
  const std::string line = std::string(kPassphrase) + "\r\nsecond line\n";
  const SourceCase cases[] = {
      {"file, CR LF", {"--passphrase-file", file}, {}, line},
      {"file, no line end", {"--passphrase-file", file}, {}, kPassphrase},
      {"standard input", {"--passphrase-fd", "0"}, {{0, std::string(kPassphrase) + "\n"}}, ""},
      {"descriptor 3", {"--passphrase-fd", "3"}, {{3, line}}, ""},
  };
  const Bytes plain = Plain(4);
  WriteBytes(folder_["plain.bin"], plain);
  for (const SourceCase& source : cases) {
    SCOPED_TRACE(source.name);
    WriteBytes(file, Bytes(source.fileText.begin(), source.fileText.end()));
    std::vector<std::string> arguments = {"encode", "-o", "out.bin", "plain.bin"};
    arguments.insert(arguments.end(), source.options.begin(), source.options.end());
    Outcome encoded = Run(arguments, source.feeds);
    EXPECT_EQ(encoded.exitCode, 0) << encoded.err;
    EXPECT_EQ(ReadBytes(folder_["plain.bin"]), plain);
    ExpectEncodingOf(ReadBytes(folder_["out.bin"]), plain, kPassphrase);

    arguments = {"decode", "--output=back.bin", "out.bin"};
    arguments.insert(arguments.end(), source.options.begin(), source.options.end());
    Outcome decoded = Run(arguments, source.feeds);
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_EQ(ReadBytes(folder_["back.bin"]), plain);
    fs::remove(folder_["out.bin"]);
    fs::remove(folder_["back.bin"]);
  }
}

// The file's line tells where the encoded original of an older file went, whichever it was.
TEST_F(CliTest, AnOlderFileDecodedInPlaceSaysWhereItsOriginalIs) {
  const Bytes plain = Plain(5);
  const Bytes older = ReferenceEncode(kPassphrase, plain);  // no record, as older writers make
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const std::string savedDataHome = dataHome == nullptr ? "" : dataHome;
  const fs::path home = logs_["data"];
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  struct Case {
    const char* name;
    bool trashIsAFile;
    const char* line;
    fs::path original;
  };
  const Case cases[] = {
      {"the trash takes it", false, "older.bin: done; the encoded original is in the trash\n",
       home / "Trash" / "files" / "older.bin.encoded"},
      {"the trash cannot take it", true,
       "older.bin: done; the encoded original is kept as older.bin.encoded\n",
       folder_["older.bin.encoded"]},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(home);
    fs::create_directories(home);
    if (c.trashIsAFile) WriteBytes((home / "Trash").string(), Bytes{'x'});
    WriteBytes(folder_["older.bin"], older);
    Outcome decoded = Run({"decode", "--passphrase-file", PassphraseFile(), "older.bin"});
    EXPECT_EQ(decoded.exitCode, 0) << decoded.err;
    EXPECT_NE(decoded.err.find(c.line), std::string::npos) << decoded.err;
    EXPECT_EQ(ReadBytes(folder_["older.bin"]), plain);
    EXPECT_EQ(ReadBytes(c.original.string()), older);
    fs::remove(folder_["older.bin.encoded"]);
  }
  if (savedDataHome.empty()) {
    unsetenv("XDG_DATA_HOME");
  } else {
    setenv("XDG_DATA_HOME", savedDataHome.c_str(), 1);
  }
}

struct LinkCase {
  const char* leadsTo;  // in the folder, or absolute
  bool force;
  int exitCode;
  const char* said;
};

// -o through a link writes what it leads to, as a redirection would, and keeps the link.
TEST_F(CliTest, OutputThroughALinkWritesTheFileItLeadsTo) {
  const LinkCase cases[] = {
      {"real.bin", true, 0, "plain.bin: done"},
      {"real.bin", false, 1, "plain.bin: link.bin exists: give --force to replace it"},
      {"/dev/null", false, 1, "plain.bin: output is not a file"},
      {"absent.bin", false, 1, "plain.bin: file link cannot be followed"},
  };
  const Bytes plain = Plain(5);
  WriteBytes(folder_["plain.bin"], plain);
  for (const LinkCase& link : cases) {
    SCOPED_TRACE(link.leadsTo);
    WriteBytes(folder_["real.bin"], Pattern(100, 5));
    fs::create_symlink(link.leadsTo, folder_["link.bin"]);
    std::vector<std::string> arguments = {"encode", "--passphrase-file", PassphraseFile(),
                                          "-o",     "link.bin",          "plain.bin"};
    if (link.force) arguments.push_back("--force");
    Outcome encoded = Run(arguments);
    EXPECT_EQ(encoded.exitCode, link.exitCode);
    EXPECT_NE(encoded.err.find(link.said), std::string::npos) << encoded.err;
    EXPECT_EQ(fs::read_symlink(folder_["link.bin"]), link.leadsTo);
    if (link.exitCode == 0) {
      ExpectEncodingOf(ReadBytes(folder_["real.bin"]), plain, kPassphrase);
    } else {
      EXPECT_EQ(ReadBytes(folder_["real.bin"]), Pattern(100, 5));
    }
    EXPECT_EQ(ReadBytes(folder_["plain.bin"]), plain);
    fs::remove(folder_["link.bin"]);
  }
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  EXPECT_FALSE(fs::exists(folder_["absent.bin"]));
}

TEST_F(CliTest, CodePageGivesTheWindowsBytesOrRefuses) {
  const Bytes plain = Plain(5);
  for (const CodePageCase& test : kCodePageCases) {
    SCOPED_TRACE(std::string(test.typed) + " in code page " + std::to_string(test.codePage));
    WriteBytes(folder_["f.bin"], plain);
    std::string typed = std::string(test.typed) + "\n";
    std::vector<std::string> arguments = {"encode", "--passphrase-fd=0", "f.bin"};
    if (test.codePage != 0) arguments.push_back("--code-page=" + std::to_string(test.codePage));
    Outcome outcome = Run(arguments, {{0, typed}});
    if (test.bytes != nullptr) {
      EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
      ExpectEncodingOf(ReadBytes(folder_["f.bin"]), plain, test.bytes);
      continue;
    }
    EXPECT_EQ(outcome.exitCode, 2);
    EXPECT_EQ(ReadBytes(folder_["f.bin"]), plain);
    if (test.codePage == 0) {
      EXPECT_EQ(outcome.err.rfind("karvel-cli: encoding key has characters beyond ASCII, whose "
                                  "bytes depend on the code page: give --code-page N",
                                  0),
                0u)
          << outcome.err;
    } else {
      EXPECT_EQ(outcome.err, "karvel-cli: encoding key has a character code page " +
                                 std::to_string(test.codePage) + " cannot use\n");
    }
  }
}

Bytes Part(const Bytes& bytes, size_t from, size_t to = std::string::npos) {
  return Bytes(bytes.begin() + from, bytes.begin() + std::min(to, bytes.size()));
}

// The bytes of a file as a feed for standard input: through a pipe, or as a file on it.
Feed Input(const Bytes& bytes, bool file) {
  return {0, std::string(bytes.begin(), bytes.end()), file};
}

struct PipeCase {
  const char* name;
  std::vector<std::string> arguments;  // the passphrase's option added
  bool fromInput;                      // the input on standard input, else in.bin
  bool seekable;                       // standard input a disk file, else a pipe
};

// Beyond a chunk and beyond a pipe's buffer, both ways, standard input a pipe or a file: what
// goes to standard output is what a FILE's transform writes, and each decodes the other's;
// nothing is left in the temporary folder.
TEST_F(CliTest, PipesCarryLargeContentBothWaysAsFilesDo) {
  const Bytes plain = Pattern(3 << 20, 8);
  WriteBytes(folder_["encoded.bin"], plain);
  ASSERT_EQ(Run({"encode", "--passphrase-file", PassphraseFile(), "encoded.bin"}).exitCode, 0);
  const Bytes encoded = ReadBytes(folder_["encoded.bin"]);
  ScratchFolder temporary;
  const char* savedTemporary = std::getenv("TMPDIR");
  const std::string saved = savedTemporary == nullptr ? "" : savedTemporary;
  setenv("TMPDIR", temporary.Path().c_str(), 1);
  const PipeCase cases[] = {
      {"encode from a pipe", {"encode", "-"}, true, false},
      {"encode from a file on standard input", {"encode", "-"}, true, true},
      {"encode a FILE to standard output", {"encode", "in.bin", "-o", "-"}, false, false},
      {"decode from a pipe", {"decode", "-"}, true, false},
      {"decode from a file on standard input", {"decode", "-"}, true, true},
      {"decode a FILE to standard output", {"decode", "in.bin", "-o", "-"}, false, false},
  };
  for (const PipeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const bool encoding = c.arguments[0] == "encode";
    const Bytes& input = encoding ? plain : encoded;
    WriteBytes(folder_["in.bin"], input);
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin() + 1, {"--passphrase-file", PassphraseFile()});
    std::vector<Feed> feeds;
    if (c.fromInput) feeds.push_back(Input(input, c.seekable));
    Outcome outcome = Run(arguments, feeds);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err, std::string(c.fromInput ? "-" : "in.bin") + ": done\nkarvel-cli: " +
                               (encoding ? "encoded" : "decoded") + " 1 of 1 file\n");
    const Bytes out(outcome.out.begin(), outcome.out.end());
    if (encoding) {
      ASSERT_EQ(out.size(), encoded.size());
      EXPECT_TRUE(Part(out, kFreeHeaderEnd) == Part(encoded, kFreeHeaderEnd));
      WriteBytes(folder_["out.bin"], out);
      ASSERT_EQ(Run({"decode", "--passphrase-file", PassphraseFile(), "out.bin"}).exitCode, 0);
      EXPECT_TRUE(ReadBytes(folder_["out.bin"]) == plain);
      fs::remove(folder_["out.bin"]);
    } else {
      EXPECT_TRUE(out == plain);
    }
    EXPECT_TRUE(ReadBytes(folder_["in.bin"]) == input);
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"encoded.bin", "in.bin"}));
    EXPECT_TRUE(temporary.Names().empty());
  }
  if (savedTemporary == nullptr) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", saved.c_str(), 1);
  }
}

// A wrong passphrase is known from the header, before anything is written; a cut stream only at
// its end, after what came has been written, as a decompressor's bad check is.
TEST_F(CliTest, ADecodedStreamIsRefusedForAWrongKeyAtOnceAndForDamageAtItsEnd) {
  const Bytes plain = Pattern(3 << 20, 9);
  WriteBytes(folder_["a.bin"], plain);
  ASSERT_EQ(Run({"encode", "--passphrase-file", PassphraseFile(), "a.bin"}).exitCode, 0);
  const Bytes encoded = ReadBytes(folder_["a.bin"]);
  const size_t kept = kChunkSize * 2 + 5;
  WriteBytes(logs_["other"], Bytes{'o', 't', 'h', 'e', 'r'});

  Outcome wrong =
      Run({"decode", "--passphrase-file", logs_["other"], "-"}, {Input(encoded, false)});
  EXPECT_EQ(wrong.exitCode, 3);
  EXPECT_EQ(wrong.err,
            "-: invalid key: the file was encoded under another passphrase\n"
            "karvel-cli: decoded 0 of 1 file\n");
  EXPECT_TRUE(wrong.out.empty());

  Outcome cut = Run({"decode", "--passphrase-file", PassphraseFile(), "-"},
                    {Input(Part(encoded, 0, kFreeHeaderEnd + kept), false)});
  EXPECT_EQ(cut.exitCode, 4);
  EXPECT_EQ(cut.err, "-: file is damaged: its content ends after " + std::to_string(kept) + " of " +
                         std::to_string(plain.size()) +
                         " bytes\nkarvel-cli: decoded 0 of 1 file\n");
  EXPECT_TRUE(Bytes(cut.out.begin(), cut.out.end()) == Part(plain, 0, kept));
}

struct VerifyCase {
  const char* name;
  int exitCode;
  std::string line;  // after "name: "
};

// verify reads each FILE, writes nothing anywhere and changes no file, and says what it could
// check: an older file's content, which no record describes, cannot be.
TEST_F(CliTest, VerifyChecksEachFileAndWritesNothing) {
  const Bytes plain = Pattern(kChunkSize + 3000, 10);
  WriteBytes(folder_["whole.bin"], plain);
  WriteBytes(folder_["other.bin"], plain);
  ASSERT_EQ(Run({"encode", "--passphrase-file", PassphraseFile(), "whole.bin"}).exitCode, 0);
  ASSERT_EQ(Run({"encode", "--passphrase-fd=0", "other.bin"}, {{0, "other words\n"}}).exitCode, 0);
  const Bytes whole = ReadBytes(folder_["whole.bin"]);
  WriteBytes(folder_["cut.bin"], Part(whole, 0, whole.size() - 10));
  Bytes changed = whole;
  changed[kFreeHeaderEnd + kChunkSize + 1] ^= 0x40;
  WriteBytes(folder_["changed.bin"], changed);
  WriteBytes(folder_["older.bin"], ReferenceEncode(kPassphrase, plain));
  const std::string size = std::to_string(plain.size());
  const VerifyCase cases[] = {
      {"whole.bin", 0, "passphrase and content checked"},
      {"cut.bin", 4,
       "file is damaged: its content ends after " + std::to_string(plain.size() - 10) + " of " +
           size + " bytes"},
      {"changed.bin", 4, "file is damaged: its content is not the one that was encoded"},
      {"other.bin", 3, "invalid key: the file was encoded under another passphrase"},
      {"older.bin", 0,
       "header checked; an older file without a record: its content cannot be checked"},
  };
  std::map<std::string, fs::file_time_type> times;
  for (const VerifyCase& c : cases) times[c.name] = fs::last_write_time(folder_[c.name]);
  const auto before = Snapshot(folder_.Path());
  std::vector<std::string> all = {"verify", "--passphrase-file", PassphraseFile()};
  std::string lines;
  for (const VerifyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome one = Run({"verify", "--passphrase-file", PassphraseFile(), c.name});
    EXPECT_EQ(one.exitCode, c.exitCode);
    EXPECT_EQ(one.err, std::string(c.name) + ": " + c.line + "\nkarvel-cli: verified " +
                           (c.exitCode == 0 ? "1" : "0") + " of 1 file\n");
    EXPECT_TRUE(one.out.empty());
    Outcome piped = Run({"verify", "--passphrase-file", PassphraseFile(), "-"},
                        {Input(ReadBytes(folder_[c.name]), false)});
    EXPECT_EQ(piped.exitCode, c.exitCode);
    EXPECT_EQ(piped.err.substr(0, piped.err.find('\n')), "-: " + c.line);
    all.push_back(c.name);
    lines += std::string(c.name) + ": " + c.line + "\n";
  }
  Outcome together = Run(all);
  EXPECT_EQ(together.exitCode, 4);
  EXPECT_EQ(together.err, lines + "karvel-cli: verified 2 of 5 files\n");
  EXPECT_EQ(Snapshot(folder_.Path()), before);
  for (const VerifyCase& c : cases) EXPECT_EQ(fs::last_write_time(folder_[c.name]), times[c.name]);
}

class LongTransformTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::ofstream(folder_["big.bin"]).close();
    fs::resize_file(folder_["big.bin"], kBigSize);  // sparse: no disk taken, read at full speed
    ASSERT_EQ(stat(folder_["big.bin"].c_str(), &before_), 0);
  }

  // The target as it was: the same file, size and time of its last change, and nothing beside it.
  void ExpectAsItWas() {
    struct stat now;
    ASSERT_EQ(stat(folder_["big.bin"].c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, before_.st_ino);
    EXPECT_EQ(now.st_size, before_.st_size);
    EXPECT_EQ(now.st_mtim.tv_sec, before_.st_mtim.tv_sec);
    EXPECT_EQ(now.st_mtim.tv_nsec, before_.st_mtim.tv_nsec);
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"big.bin"});
  }

  bool ReadPast(pid_t pid, uint64_t bytes);

  static constexpr off_t kBigSize = off_t{1} << 30;
  struct stat before_ = {};
};

// The bar shows on the terminal; the typed passphrase is never in the program's command line.
TEST_F(LongTransformTest, CtrlCCancelsAndLeavesTheFileAsItWas) {
  Terminal terminal(folder_.Path(), {"encode", "big.bin"});
  for (const char* prompt : {"Passphrase: $", "Passphrase again: $"}) {
    ASSERT_TRUE(terminal.Expect(prompt));
    terminal.Type(std::string(kPassphrase) + "\r");
  }
  ASSERT_TRUE(terminal.Expect(
      R"(\rbig\.bin +\[[#.]{10}\] +\d+% \d+\.\d\d/1\.00 GiB \d+\.\d \w+/s \d+:\d\d left +$)"));
  const std::string commandLine = ReadText("/proc/" + std::to_string(terminal.Pid()) + "/cmdline");
  EXPECT_EQ(commandLine, std::string(KARVEL_CLI) + '\0' + "encode" + '\0' + "big.bin" + '\0');
  terminal.Type("\x03");
  ASSERT_TRUE(
      terminal.Expect("\r +\rbig\\.bin: cancelled\r\nkarvel-cli: encoded 0 of 1 file\r\n$"));
  EXPECT_EQ(terminal.Wait().signal, SIGINT);
  ExpectAsItWas();
}

// How far the program has read path, by the position of its descriptor; 0 while it has none.
uint64_t ReadPosition(pid_t pid, const std::string& path) {
  const fs::path process = "/proc/" + std::to_string(pid);
  std::error_code ignored;
  for (const fs::directory_entry& fd : fs::directory_iterator(process / "fd", ignored)) {
    if (fs::read_symlink(fd.path(), ignored) != path) continue;
    std::ifstream info(process / "fdinfo" / fd.path().filename());
    std::string field;
    uint64_t position = 0;
    if (info >> field >> position && field == "pos:") return position;
  }
  return 0;
}

// Waits until the program has read more than bytes of big.bin; false when it does not within
// kPatience.
bool LongTransformTest::ReadPast(pid_t pid, uint64_t bytes) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (ReadPosition(pid, folder_["big.bin"]) <= bytes) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// Where no unnamed temporary file can be made (no /proc, as in some containers), the result is
// written to a named one beside the target, which must go too.
struct Start {
  const char* name;
  Launcher launcher;
  std::vector<std::string> namesWhileRunning;  // in the folder, while the transform runs
};

// A mount namespace of its own, where an empty file system hides /proc.
const Launcher kWithoutProc = {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                               "mount -t tmpfs none /proc && exec \"$0\" \"$@\""};

// The sanitizers' runtime reads /proc and cannot run traced: under it, the runs without /proc and
// the traced ones are left to the plain build.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// Why start cannot run here; nullptr when it can.
const char* CannotStart(const Start& start) {
  if (start.launcher.empty()) return nullptr;
  if (geteuid() != 0) return "a mount namespace needs root";
  if (kSanitized) return "the sanitizers need /proc";
  return nullptr;
}

const Start kStarts[] = {
    {"unnamed temporary file", {}, {"big.bin"}},
    {"named temporary file", kWithoutProc, {"big.bin", "big.bin.tmp"}},
};

// Every signal that ends a program by default and may come to a running one: a script's
// interruption (no bar where standard error is not a terminal), kill, the terminal gone, Ctrl+\,
// a reader gone. Each cancels the running file and ends the program as the signal would.
TEST_F(LongTransformTest, SignalsCancelLeaveTheFileAsItWasAndEndTheProgramAsThemselves) {
  for (const Start& start : kStarts) {
    if (const char* why = CannotStart(start)) {
      std::printf("[ skipped  ] %s: %s\n", start.name, why);
      continue;
    }
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
      SCOPED_TRACE(std::string(start.name) + ", " + strsignal(signal));
      Process process(folder_.Path(), {"encode", "--passphrase-fd=0", "big.bin"},
                      {{0, std::string(kPassphrase) + "\n"}}, logs_.Path(), start.launcher);
      ASSERT_TRUE(ReadPast(process.Pid(), kChunkSize));
      EXPECT_EQ(folder_.Names(), start.namesWhileRunning);
      ASSERT_EQ(kill(process.Pid(), signal), 0);
      Outcome outcome = process.Wait();
      EXPECT_EQ(outcome.signal, signal);
      EXPECT_FALSE(outcome.core) << "a core would hold the passphrase";
      EXPECT_EQ(outcome.err, "big.bin: cancelled\nkarvel-cli: encoded 0 of 1 file\n");
      ExpectAsItWas();
    }
  }
}

// A shell starts a background job with SIGINT ignored, nohup with SIGHUP: the program may not
// undo that. A signal it does catch still ends it as itself.
TEST_F(LongTransformTest, AnIgnoredSignalStaysIgnored) {
  Process process(folder_.Path(), {"encode", "--passphrase-fd=0", "big.bin"},
                  {{0, std::string(kPassphrase) + "\n"}}, logs_.Path(),
                  {"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$@\""});
  ASSERT_TRUE(ReadPast(process.Pid(), kChunkSize));
  ASSERT_EQ(kill(process.Pid(), SIGHUP), 0);
  ASSERT_TRUE(ReadPast(process.Pid(), ReadPosition(process.Pid(), folder_["big.bin"]) + kChunkSize))
      << "the transform goes on";
  ASSERT_EQ(kill(process.Pid(), SIGTERM), 0);
  Outcome outcome = process.Wait();
  EXPECT_EQ(outcome.signal, SIGTERM);
  EXPECT_EQ(outcome.err, "big.bin: cancelled\nkarvel-cli: encoded 0 of 1 file\n");
  ExpectAsItWas();
}

// Stops the program traced as pid as it asks the system to move a file into place, which it does
// only after its last check for a cancel; false when it ends first or not within kPatience. pid
// is left stopped and traced.
bool StopAtTheMove(pid_t pid) {
  if (ptrace(PTRACE_SEIZE, pid, nullptr, PTRACE_O_TRACESYSGOOD) != 0) return false;
  int status = 0;
  if (ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr) != 0 || waitpid(pid, &status, 0) != pid) {
    return false;
  }
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    // A signal for the program is passed on; every other stop is the tracing's own.
    int passed = WIFSTOPPED(status) && status >> 16 == 0 && WSTOPSIG(status) != (SIGTRAP | 0x80)
                     ? WSTOPSIG(status)
                     : 0;
    if (ptrace(PTRACE_SYSCALL, pid, nullptr, passed) != 0 || waitpid(pid, &status, 0) != pid ||
        !WIFSTOPPED(status)) {
      return false;
    }
    __ptrace_syscall_info call = {};
    if (WSTOPSIG(status) == (SIGTRAP | 0x80) &&
        ptrace(PTRACE_GET_SYSCALL_INFO, pid, sizeof call, &call) > 0 &&
        call.op == PTRACE_SYSCALL_INFO_ENTRY &&
        (call.entry.nr == uint64_t{SYS_renameat} || call.entry.nr == uint64_t{SYS_renameat2}
#ifdef SYS_rename
         || call.entry.nr == uint64_t{SYS_rename}
#endif
         )) {
      return true;
    }
  }
  return false;
}

struct LateCase {
  const char* name;
  std::vector<std::string> files;
  int exitCode;  // -1: ended by the signal
  const char* err;
};

// A signal that comes after the last check for a cancel, as the result is moved into place:
// the file is done and says so; the program stops before the next file and then ends as the
// signal, or, after the last file, as though none had come.
TEST_F(CliTest, SignalAfterTheLastCheckLeavesTheFileDone) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers cannot run traced";
  const LateCase cases[] = {
      {"the last file", {"a.txt"}, 0, "a.txt: done\nkarvel-cli: encoded 1 of 1 file\n"},
      {"files to go", {"a.txt", "b.txt"}, -1, "a.txt: done\nkarvel-cli: encoded 1 of 2 files\n"},
  };
  const Bytes a = Plain(1), b = Plain(2);
  const std::string fifo = logs_["fifo"];
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const Start& start : kStarts) {
    if (const char* why = CannotStart(start)) {
      std::printf("[ skipped  ] %s: %s\n", start.name, why);
      continue;
    }
    for (const LateCase& late : cases) {
      SCOPED_TRACE(std::string(start.name) + ", " + late.name);
      WriteBytes(folder_["a.txt"], a);
      WriteBytes(folder_["b.txt"], b);
      std::vector<std::string> arguments = {"encode", "--passphrase-file", fifo};
      arguments.insert(arguments.end(), late.files.begin(), late.files.end());
      Process process(folder_.Path(), arguments, {}, logs_.Path(), start.launcher);
      // The program waits for the passphrase until it is traced.
      std::thread passphrase([&] { std::ofstream(fifo) << kPassphrase << "\n"; });
      bool stopped = StopAtTheMove(process.Pid());
      passphrase.join();
      ASSERT_TRUE(stopped);
      ASSERT_EQ(kill(process.Pid(), SIGTERM), 0);
      ASSERT_EQ(ptrace(PTRACE_DETACH, process.Pid(), nullptr, 0), 0);
      Outcome outcome = process.Wait();
      EXPECT_EQ(outcome.exitCode, late.exitCode);
      EXPECT_EQ(outcome.signal, late.exitCode == 0 ? 0 : SIGTERM);
      EXPECT_EQ(outcome.err, late.err);
      ExpectEncodingOf(ReadBytes(folder_["a.txt"]), a, kPassphrase);
      EXPECT_EQ(ReadBytes(folder_["b.txt"]), b);
      EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    }
  }
}

}  // namespace
}  // namespace karvel
