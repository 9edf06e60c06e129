// Faults made for real rather than injected: a disk that fills up, a
// read-only disk, a user without the rights, a target another process holds.
// Each must end in a non-zero JobStatus with the target and any old output
// byte for byte as they were and no file left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "engine/encoding_job.h"
#include "tests/faults/fault_disks.h"
#include "tests/faults/tool_process.h"
#include "tests/support/job_operation.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/scene.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "real fault";

#ifdef _WIN32
constexpr int kDiskFull = ERROR_DISK_FULL;
#else
constexpr int kDiskFull = ENOSPC;
#endif

TEST(FullDisk, TemporaryFileFillingTheDiskFailsForWantOfRoomAndLeavesNothing) {
  FaultDisk disk(DiskKind::Small);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    // More than half the disk: the temporary file beside it cannot fit.
    WriteBytes(disk["target"],
               TargetFor(op.operation, kPassphrase, Pattern(kSmallDiskSize * 6 / 10, 2)));
    const auto diskBefore = Snapshot(disk.Path());
    EncodingJob job;
    ASSERT_EQ(job.SetPassphrase(kPassphrase), JobStatus::Ok);
    ASSERT_EQ(job.SetTargetPath(disk["target"].c_str()), JobStatus::Ok);
    EXPECT_EQ(op.operation(job, SystemFileServices()), JobStatus::WriteFailed);
    EXPECT_EQ(job.systemError, kDiskFull);
    EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
    fs::remove(disk["target"]);
  }
}

TEST(FullDisk, TargetOnAFullDiskGoesToAnotherVolumeWithoutRoomBesideIt) {
  FaultDisk disk(DiskKind::Small);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  ScratchFolder local;
  const Bytes plain = Pattern(kSmallDiskSize * 6 / 10, 2);
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    WriteBytes(disk["target"], TargetFor(op.operation, kPassphrase, plain));
    WriteBytes(local["old"], Pattern(300, 1));
    const auto diskBefore = Snapshot(disk.Path());
    ASSERT_EQ(RunJob(op.operation, kPassphrase, disk["target"], local["old"]), JobStatus::Ok);
    EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
    const Bytes expected = ResultFor(op.operation, kPassphrase, plain);
    EXPECT_TRUE(SameFiles(Snapshot(local.Path()), {{"old", expected}}));
    fs::remove(disk["target"]);
  }
}

TEST(FullDisk, OutputOnAFullOtherVolumeKeepsTheOldOutput) {
  FaultDisk disk(DiskKind::Small);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  ScratchFolder local;
  // The old output leaves less room than the result needs beside it.
  WriteBytes(disk["old"], Pattern(kSmallDiskSize * 7 / 10, 3));
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    WriteBytes(local["target"],
               TargetFor(op.operation, kPassphrase, Pattern(kSmallDiskSize * 4 / 10, 4)));
    const auto diskBefore = Snapshot(disk.Path());
    const auto localBefore = Snapshot(local.Path());
    EXPECT_EQ(RunJob(op.operation, kPassphrase, local["target"], disk["old"]),
              JobStatus::WriteFailed);
    EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
    EXPECT_EQ(Snapshot(local.Path()), localBefore);
  }
}

TEST(OtherVolume, ResultThatFitsReplacesTheOldOutputThere) {
  FaultDisk disk(DiskKind::Small);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  ScratchFolder local;
  const Bytes plain = Pattern(kSmallDiskSize * 3 / 10, 5);
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    WriteBytes(disk["old"], Pattern(kSmallDiskSize / 10, 6));
    WriteBytes(local["target"], TargetFor(op.operation, kPassphrase, plain));
    const auto localBefore = Snapshot(local.Path());
    ASSERT_EQ(RunJob(op.operation, kPassphrase, local["target"], disk["old"]), JobStatus::Ok);
    const Bytes expected = ResultFor(op.operation, kPassphrase, plain);
    EXPECT_TRUE(SameFiles(Snapshot(disk.Path()), {{"old", expected}}));
    EXPECT_EQ(Snapshot(local.Path()), localBefore);
  }
}

TEST(ReadOnlyDisk, NothingIsWrittenAndNothingIsLost) {
  FaultDisk disk(DiskKind::ReadOnly);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  ScratchFolder local;
  const Bytes plain = ReadBytes(disk["plain"]);
  WriteBytes(local["plain"], plain);
  WriteBytes(local["encoded"], ReferenceEncode(kReadOnlyDiskPassphrase, plain));
  WriteBytes(local["old"], Pattern(300, 5));
  ASSERT_EQ(RunJob(&EncodingJob::Probe, kReadOnlyDiskPassphrase, disk["encoded"], ""),
            JobStatus::Ok);

  struct Case {
    const char* name;
    JobCall operation;
    std::string target;
    std::string output;
    JobStatus expected;
  };
  const Case cases[] = {
      // No temporary file can be made beside an output on the read-only disk: for the target
      // itself that is the target's failure, for another output the output's.
      {"encode in place", &EncodingJob::Encode, disk["plain"], "", JobStatus::OpenFailed},
      {"decode in place", &EncodingJob::Decode, disk["encoded"], "", JobStatus::OpenFailed},
      {"encode over an old output there", &EncodingJob::Encode, local["plain"], disk["plain"],
       JobStatus::ReplaceFailed},
      {"decode to a new output there", &EncodingJob::Decode, local["encoded"], disk["new"],
       JobStatus::ReplaceFailed},
  };
  const auto diskBefore = Snapshot(disk.Path());
  const auto localBefore = Snapshot(local.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunJob(c.operation, kReadOnlyDiskPassphrase, c.target, c.output), c.expected);
    EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
    EXPECT_EQ(Snapshot(local.Path()), localBefore);
  }
}

TEST(ReadOnlyDisk, DecodesAndEncodesToAWritableFolder) {
  FaultDisk disk(DiskKind::ReadOnly);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  ScratchFolder local;
  const Bytes plain = ReadBytes(disk["plain"]);
  const auto diskBefore = Snapshot(disk.Path());
  EXPECT_EQ(
      RunJob(&EncodingJob::Decode, kReadOnlyDiskPassphrase, disk["encoded"], local["decoded"]),
      JobStatus::Ok);
  EXPECT_EQ(RunJob(&EncodingJob::Encode, kReadOnlyDiskPassphrase, disk["plain"], local["encoded"]),
            JobStatus::Ok);
  EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
  EXPECT_TRUE(SameFiles(
      Snapshot(local.Path()),
      {{"decoded", plain}, {"encoded", ReferenceEncode(kReadOnlyDiskPassphrase, plain)}}));
}

#ifdef _WIN32

// Wine runs as root, which no folder permission stops; a target held open by
// another process is the fault Windows itself makes.
TEST(HeldTarget, AnotherProcessWritingTheTargetStopsTheTransform) {
  ScratchFolder folder;
  const Bytes plain = Pattern(70000, 6);
  WriteBytes(folder["plain"], plain);
  WriteBytes(folder["encoded"], ReferenceEncode(kPassphrase, plain));
  WriteBytes(folder["old"], Pattern(300, 7));
  const auto before = Snapshot(folder.Path());
  for (const char* name : {"plain", "encoded"}) {
    SCOPED_TRACE(name);
    HANDLE holder = CreateFileA(folder[name].c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const char* command = name == std::string("plain") ? "encode" : "decode";
    EXPECT_EQ(RunTool({command, folder[name], kPassphrase, ""}), 1);
    EXPECT_EQ(RunTool({command, folder[name], kPassphrase, folder["old"]}), 1);
    CloseHandle(holder);
    EXPECT_EQ(Snapshot(folder.Path()), before);
  }
}

#else

// Root passes every permission check, so the tool runs as user nobody instead.
TEST(AnotherUser, MissingRightsStopTheTransformAndLoseNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "running the tool as user nobody needs root";
  ScratchFolder locked;  // root's, nobody may read but not write in it
  ScratchFolder open;    // anyone may write in it
  fs::permissions(open.Path(), fs::perms::all);
  const Bytes plain = Pattern(70000, 8);
  for (const ScratchFolder* folder : {&locked, &open}) {
    WriteBytes((*folder)["plain"], plain);
    WriteBytes((*folder)["encoded"], ReferenceEncode(kPassphrase, plain));
    WriteBytes((*folder)["old"], Pattern(300, 9));
  }
  WriteBytes(locked["secret"], plain);
  chmod(locked["secret"].c_str(), 0600);

  struct Case {
    const char* name;
    ToolArguments arguments;
    int expected;
  };
  const Case cases[] = {
      {"encode in a folder nobody may not write", {"encode", locked["plain"], kPassphrase, ""}, 1},
      {"encode a file nobody may not read",
       {"encode", locked["secret"], kPassphrase, open["new"]},
       1},
      {"encode over an old output nobody may not replace",
       {"encode", open["plain"], kPassphrase, locked["old"]},
       static_cast<int>(JobStatus::ReplaceFailed)},
      {"decode to a new output in a folder nobody may not write",
       {"decode", open["encoded"], kPassphrase, locked["new"]},
       static_cast<int>(JobStatus::ReplaceFailed)},
  };
  const auto lockedBefore = Snapshot(locked.Path());
  const auto openBefore = Snapshot(open.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunTool(c.arguments, true), c.expected);
    EXPECT_EQ(Snapshot(locked.Path()), lockedBefore);
    EXPECT_EQ(Snapshot(open.Path()), openBefore);
  }
  // Reading is all the target's folder must allow.
  EXPECT_EQ(RunTool({"decode", locked["encoded"], kPassphrase, open["new"]}, true), 0);
  EXPECT_EQ(Snapshot(locked.Path()), lockedBefore);
  EXPECT_TRUE(ReadBytes(open["new"]) == plain);
}

#endif

}  // namespace
}  // namespace karvel
