// The launcher every test starts programs with: what each descriptor of the program gets, and how
// its end is told.
#include "tests/support/child_process.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

namespace karvel {
namespace {

constexpr auto kPatience = std::chrono::seconds(30);

struct EndCase {
  const char* script;
  bool exited;
  unsigned exitCode;
  int signal;
};

TEST(ChildProcess, TellsTheExitCodeOrTheSignal) {
  const EndCase cases[] = {
      {"exit 0", true, 0, 0},
      {"exit 3", true, 3, 0},
      {"kill -TERM $$", false, 0, SIGTERM},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.script);
    ChildStart start;
    start.command = {"/bin/sh", "-c", c.script};
    const ChildEnd end = ChildProcess(start).Wait(kPatience);
    EXPECT_EQ(end.exited, c.exited);
    EXPECT_EQ(end.exitCode, c.exitCode);
    EXPECT_EQ(end.signal, c.signal);
    EXPECT_FALSE(end.timedOut);
  }
}

struct InputCase {
  const char* name;
  std::vector<ChildInput> inputs;
  const char* script;
  const char* output;
};

// Beyond a pipe's buffer, so that the feed runs while the program reads.
const std::string kLong(1 << 20, 'x');

TEST(ChildProcess, GivesEachDescriptorWhatItShouldRead) {
  ScratchFolder folder;
  WriteBytes(folder["held"], Bytes{'h', 'e', 'l', 'd'});
  const InputCase cases[] = {
      {"nothing", {}, "cat", ""},
      {"a pipe on standard input", {{0, kLong, ""}}, "cat", kLong.c_str()},
      {"a pipe on descriptor 3 and nothing on 0", {{3, "three", ""}}, "cat; cat <&3", "three"},
      {"a file on standard input", {{0, "", folder["held"]}}, "cat", "held"},
  };
  for (const InputCase& c : cases) {
    SCOPED_TRACE(c.name);
    ChildStart start;
    start.command = {"/bin/sh", "-c", c.script};
    start.inputs = c.inputs;
    start.captureOut = true;
    ChildProcess child(start);
    EXPECT_TRUE(child.Wait(kPatience).exited);
    EXPECT_EQ(child.Output(), c.output);
  }
}

TEST(ChildProcess, WritesOutputAndErrorToFilesInItsFolder) {
  ScratchFolder folder, logs;
  ChildStart start;
  start.command = {"/bin/sh", "-c", "echo out; echo err >&2; echo here >made"};
  start.folder = folder.Path().string();
  start.out = logs["both"];
  start.err = logs["both"];
  EXPECT_TRUE(ChildProcess(start).Wait(kPatience).exited);
  const Bytes both = ReadBytes(logs["both"]);
  EXPECT_EQ(std::string(both.begin(), both.end()), "out\nerr\n");
  EXPECT_EQ(ReadBytes(folder["made"]), (Bytes{'h', 'e', 'r', 'e', '\n'}));
}

TEST(ChildProcess, KillsAProgramStillRunningAtTheLimitAndSaysSo) {
  ChildStart start;
  start.command = {"sleep", "30"};
  ChildProcess child(start);
  ChildEnd end;
  EXPECT_NONFATAL_FAILURE(end = child.Wait(std::chrono::milliseconds(100)), "still runs after");
  EXPECT_TRUE(end.timedOut);
  EXPECT_FALSE(end.exited);
  EXPECT_EQ(end.signal, SIGKILL);
}

}  // namespace
}  // namespace karvel
