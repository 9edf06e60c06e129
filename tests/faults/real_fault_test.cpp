// Faults made for real rather than injected: a disk that fills up, a
// read-only disk, a user without the rights, a target another process holds.
// Each must end in a non-zero JobStatus with the target and any old output
// byte for byte as they were and no file left behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "engine/encoding_job.h"
#include "tests/engine/job_operation.h"
#include "tests/engine/reference_encoder.h"
#include "tests/engine/test_files.h"
#include "tests/faults/fault_disks.h"
#include "tests/faults/tool_process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "real fault";

struct NamedOperation {
  const char* name;
  Operation operation;
};
const NamedOperation kTransforms[] = {{"Encode", &EncodingJob::Encode},
                                      {"Decode", &EncodingJob::Decode}};

JobStatus RunJob(Operation operation, const std::string& target, const std::string& output,
                 const char* passphrase = kPassphrase) {
  EncodingJob job;
  job.SetPassphrase(passphrase);
  job.SetTargetPath(target.c_str());
  job.SetOutputPath(output.c_str());
  return operation(job, SystemFileServices());
}

// What the operation takes as its target: the plain bytes for Encode, their encoding for Decode.
Bytes TargetFor(Operation operation, const Bytes& plain) {
  return operation == &EncodingJob::Decode ? ReferenceEncode(kPassphrase, plain) : plain;
}

TEST(FullDisk, TemporaryFileFillingTheDiskFailsAndLeavesNothing) {
  FaultDisk disk(DiskKind::Small);
  if (!disk.Missing().empty()) GTEST_SKIP() << disk.Missing();
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    // More than half the disk: the temporary file beside it cannot fit.
    WriteBytes(disk["target"], TargetFor(op.operation, Pattern(kSmallDiskSize * 6 / 10, 2)));
    const auto diskBefore = Snapshot(disk.Path());
    EXPECT_EQ(RunJob(op.operation, disk["target"], ""), JobStatus::WriteFailed);
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
    WriteBytes(disk["target"], TargetFor(op.operation, plain));
    WriteBytes(local["old"], Pattern(300, 1));
    const auto diskBefore = Snapshot(disk.Path());
    ASSERT_EQ(RunJob(op.operation, disk["target"], local["old"]), JobStatus::Ok);
    EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
    const Bytes expected =
        op.operation == &EncodingJob::Decode ? plain : ReferenceEncode(kPassphrase, plain);
    EXPECT_EQ(Snapshot(local.Path()), (std::map<std::string, Bytes>{{"old", expected}}));
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
    WriteBytes(local["target"], TargetFor(op.operation, Pattern(kSmallDiskSize * 4 / 10, 4)));
    const auto diskBefore = Snapshot(disk.Path());
    const auto localBefore = Snapshot(local.Path());
    EXPECT_EQ(RunJob(op.operation, local["target"], disk["old"]), JobStatus::WriteFailed);
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
    WriteBytes(local["target"], TargetFor(op.operation, plain));
    const auto localBefore = Snapshot(local.Path());
    ASSERT_EQ(RunJob(op.operation, local["target"], disk["old"]), JobStatus::Ok);
    const Bytes expected =
        op.operation == &EncodingJob::Decode ? plain : ReferenceEncode(kPassphrase, plain);
    EXPECT_EQ(Snapshot(disk.Path()), (std::map<std::string, Bytes>{{"old", expected}}));
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
  ASSERT_EQ(RunJob(&EncodingJob::Probe, disk["encoded"], "", kReadOnlyDiskPassphrase),
            JobStatus::Ok);

  struct Case {
    const char* name;
    Operation operation;
    std::string target;
    std::string output;
    JobStatus expected;
  };
  const Case cases[] = {
      // No temporary file can be made beside an output on the read-only disk.
      {"encode in place", &EncodingJob::Encode, disk["plain"], "", JobStatus::OpenFailed},
      {"decode in place", &EncodingJob::Decode, disk["encoded"], "", JobStatus::OpenFailed},
      {"encode over an old output there", &EncodingJob::Encode, local["plain"], disk["plain"],
       JobStatus::OpenFailed},
      {"decode to a new output there", &EncodingJob::Decode, local["encoded"], disk["new"],
       JobStatus::OpenFailed},
  };
  const auto diskBefore = Snapshot(disk.Path());
  const auto localBefore = Snapshot(local.Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunJob(c.operation, c.target, c.output, kReadOnlyDiskPassphrase), c.expected);
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
      RunJob(&EncodingJob::Decode, disk["encoded"], local["decoded"], kReadOnlyDiskPassphrase),
      JobStatus::Ok);
  EXPECT_EQ(RunJob(&EncodingJob::Encode, disk["plain"], local["encoded"], kReadOnlyDiskPassphrase),
            JobStatus::Ok);
  EXPECT_EQ(Snapshot(disk.Path()), diskBefore);
  EXPECT_EQ(Snapshot(local.Path()),
            (std::map<std::string, Bytes>{
                {"decoded", plain}, {"encoded", ReferenceEncode(kReadOnlyDiskPassphrase, plain)}}));
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
       1},
      {"decode to a new output in a folder nobody may not write",
       {"decode", open["encoded"], kPassphrase, locked["new"]},
       1},
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
