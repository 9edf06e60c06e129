#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/file_services.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/job_operation.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/scene.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace karvel {
namespace {

namespace fs = std::filesystem;

const char kPassphrase[] = "fault line";
const size_t kTargetSize = 300000;  // one full chunk and a short one

#ifdef _WIN32
const char kOtherVolume[] = "Z:\\dev\\shm";
#else
const char kOtherVolume[] = "/dev/shm";
#endif

struct RealFault {
  const char* name;
  bool probeToo;  // Probe opens the target too and must give the same answer
  // Makes the fault; returns the target and the output path to use.
  std::function<std::pair<std::string, std::string>(const ScratchFolder&)> arrange;
  JobStatus expected;
};

TEST(TransformFailure, RealFaultsLeaveEverythingAsItWas) {
  const RealFault faults[] = {
      {"missing target", true,
       [](const ScratchFolder& f) { return std::make_pair(f["missing"], f["out"]); },
       JobStatus::OpenFailed},
      {"target is a folder", true,
       [](const ScratchFolder& f) {
         fs::create_directory(f["folder"]);
         return std::make_pair(f["folder"], f["out"]);
       },
       JobStatus::OpenFailed},
      {"output is a folder", false,
       [](const ScratchFolder& f) {
         fs::create_directory(f["folder"]);
         return std::make_pair(f["target"], f["folder"]);
       },
       JobStatus::OutputIsFolder},
      {"output is read-only", false,
       [](const ScratchFolder& f) {
         SetReadOnly(f["old"], true);
         return std::make_pair(f["target"], f["old"]);
       },
       JobStatus::OutputReadOnly},
      {"read-only target in place", false,
       [](const ScratchFolder& f) {
         SetReadOnly(f["target"], true);
         return std::make_pair(f["target"], std::string());
       },
       JobStatus::OutputReadOnly},
      {"output folder missing", false,
       [](const ScratchFolder& f) { return std::make_pair(f["target"], f["nowhere/out"]); },
       JobStatus::OutputFolderMissing},
      {"every temporary name taken", false,
       [](const ScratchFolder& f) {
         WriteBytes(f["out.tmp"], {'t'});
         for (int n = 1; n <= 99; ++n) WriteBytes(f["out." + std::to_string(n) + ".tmp"], {'n'});
         return std::make_pair(f["target"], f["out"]);
       },
       JobStatus::ReplaceFailed},
  };
  for (const RealFault& fault : faults) {
    for (const NamedOperation& op : kTransforms) {
      SCOPED_TRACE(std::string(op.name) + ": " + fault.name);
      Scene scene(op.operation, kPassphrase, kTargetSize);
      auto [target, output] = fault.arrange(scene.folder);
      const auto before = Snapshot(scene.folder.Path());
      EXPECT_EQ(RunJob(op.operation, kPassphrase, target, output), fault.expected);
      if (fault.probeToo) {
        EXPECT_EQ(RunJob(&EncodingJob::Probe, kPassphrase, target, output), fault.expected);
      }
      EXPECT_EQ(Snapshot(scene.folder.Path()), before);
    }
  }
}

TEST(TransformFailure, DecodeOfAMismatchingHeaderLeavesNoTemporaryFile) {
  Scene scene(&EncodingJob::Encode, kPassphrase, kTargetSize);
  const auto before = Snapshot(scene.folder.Path());
  EXPECT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, scene.folder["target"], scene.folder["old"]),
            JobStatus::HeaderMismatch);
  EXPECT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, scene.folder["target"], ""),
            JobStatus::HeaderMismatch);
  EXPECT_EQ(Snapshot(scene.folder.Path()), before);
}

TEST(TransformFailure, FilesAtTheTemporaryNamesAreLeftAlone) {
  for (int taken : {1, 2, 99}) {
    for (const NamedOperation& op : kTransforms) {
      for (bool inPlace : {false, true}) {
        SCOPED_TRACE(std::string(op.name) + " names taken " + std::to_string(taken) +
                     (inPlace ? " in place" : ""));
        Scene scene(op.operation, kPassphrase, kTargetSize);
        // The temporary file is named from the output.
        const std::string output = inPlace ? "target" : "old";
        for (int n = 0; n < taken; ++n) {
          std::string suffix = n == 0 ? ".tmp" : "." + std::to_string(n) + ".tmp";
          WriteBytes(scene.folder[output + suffix], Pattern(100 + n, 3));
        }
        auto expected = Snapshot(scene.folder.Path());
        ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"],
                         inPlace ? "" : scene.folder["old"]),
                  JobStatus::Ok);
        expected[inPlace ? "target" : "old"] = scene.Expected(op.operation);
        EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
      }
    }
  }
}

TEST(TransformFailure, OutputNamedLikeTheTargetsOldTemporaryFileIsAnOrdinaryOutput) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase, kTargetSize);
    auto expected = Snapshot(scene.folder.Path());
    ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["target.tmp"]),
              JobStatus::Ok);
    expected["target.tmp"] = scene.Expected(op.operation);
    EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
  }
}

// True when the two folders lie on different volumes.
bool OnOtherVolumes(const ScratchFolder& local, const ScratchFolder& remote) {
  FileIdentity here, there;
  return SystemFileServices().IdentifyPath(Prepared(local.Path().u8string()), &here) &&
         SystemFileServices().IdentifyPath(Prepared(remote.Path().u8string()), &there) &&
         here.volume != there.volume;
}

TEST(TransformFailure, OutputOnAnotherVolumeIsWrittenThereAlone) {
  if (!fs::is_directory(kOtherVolume)) GTEST_SKIP() << kOtherVolume << " does not exist here";
  ScratchFolder local, remote(kOtherVolume);
  if (!OnOtherVolumes(local, remote)) {
    GTEST_SKIP() << kOtherVolume << " lies on the same volume as " << local.Path();
  }
  for (const NamedOperation& op : kTransforms) {
    for (bool oldOutput : {false, true}) {
      SCOPED_TRACE(std::string(op.name) + (oldOutput ? " over an old output" : ""));
      Scene scene(op.operation, kPassphrase, kTargetSize);
      if (oldOutput) WriteBytes(remote["out"], Pattern(5, 4));
      const auto local = Snapshot(scene.folder.Path());
      // Nothing of the result may pass through the target's volume.
      std::vector<std::string> localNames, remoteNames;
      FaultyFileServices watched({{Call::Move, 1, Fault::Interject, [&] {
                                     localNames = scene.folder.Names();
                                     remoteNames = remote.Names();
                                   }}});
      ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], remote["out"], watched),
                JobStatus::Ok);
      EXPECT_EQ(localNames, (std::vector<std::string>{"old", "target"}));
      EXPECT_EQ(remoteNames.size(), oldOutput ? 2u : 1u);
      EXPECT_TRUE(Snapshot(scene.folder.Path()) == local);
      EXPECT_EQ(remote.Names(), std::vector<std::string>{"out"});
      EXPECT_TRUE(SameEncoding(ReadBytes(remote["out"]), scene.Expected(op.operation)));
      fs::remove(remote["out"]);
    }
  }
}

#ifdef _WIN32
TEST(TransformFailure, TargetHeldOpenWithoutSharingCannotBeOpened) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase, kTargetSize);
    const auto before = Snapshot(scene.folder.Path());
    HANDLE holder = CreateFileA(scene.folder["target"].c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunJob(&EncodingJob::Probe, kPassphrase, scene.folder["target"], ""),
              JobStatus::OpenFailed);
    EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["out"]),
              JobStatus::OpenFailed);
    CloseHandle(holder);
    EXPECT_EQ(Snapshot(scene.folder.Path()), before);
  }
}

TEST(TransformFailure, OutputHeldOpenCannotBeReplaced) {
  for (const NamedOperation& op : kTransforms) {
    SCOPED_TRACE(op.name);
    Scene scene(op.operation, kPassphrase, kTargetSize);
    const auto before = Snapshot(scene.folder.Path());
    HANDLE holder = CreateFileA(scene.folder["old"].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"], scene.folder["old"]),
              JobStatus::ReplaceFailed);
    CloseHandle(holder);
    EXPECT_EQ(Snapshot(scene.folder.Path()), before);
  }
}
#endif

struct InjectedFault {
  const char* name;
  JobCall operation;
  std::vector<FaultPlan> plans;
  JobStatus expected;
};

const JobCall kProbe = &EncodingJob::Probe;
// Where the system makes temporary files without a name, the named ones that other systems use
// are made by refusing it that.
const FaultPlan kNamedTemporaryFile = {Call::CreateUnnamed, 1, Fault::Fail};

// Encode reads the target twice (a full chunk, then the rest) and writes the header and two
// chunks; Decode reads the header first and writes only the two chunks. The result is closed
// before the target; the output is identified before the temporary file is made, the target
// again just before the move.
const InjectedFault kInjectedFaults[] = {
    {"probe: target will not open",
     kProbe,
     {{Call::OpenForReading, 1, Fault::Fail}},
     JobStatus::OpenFailed},
    {"probe: header read fails", kProbe, {{Call::Read, 1, Fault::Fail}}, JobStatus::ReadFailed},

    {"encode: target will not open",
     kEncode,
     {{Call::OpenForReading, 1, Fault::Fail}},
     JobStatus::OpenFailed},
    {"encode: target size unknown",
     kEncode,
     {{Call::Identify, 1, Fault::Fail}},
     JobStatus::ReadFailed},
    {"encode: first read fails", kEncode, {{Call::Read, 1, Fault::Fail}}, JobStatus::ReadFailed},
    {"encode: last read fails", kEncode, {{Call::Read, 2, Fault::Fail}}, JobStatus::ReadFailed},
    {"encode: short read before the end",
     kEncode,
     {{Call::Read, 1, Fault::Short}},
     JobStatus::ReadFailed},
    {"encode: no random bytes for the header",
     kEncode,
     {{Call::FillRandom, 1, Fault::Fail}},
     JobStatus::WriteFailed},
    {"encode: first write fails", kEncode, {{Call::Write, 1, Fault::Fail}}, JobStatus::WriteFailed},
    {"encode: first write short",
     kEncode,
     {{Call::Write, 1, Fault::Short}},
     JobStatus::WriteFailed},
    {"encode: last write fails", kEncode, {{Call::Write, 2, Fault::Fail}}, JobStatus::WriteFailed},
    {"encode: last write short", kEncode, {{Call::Write, 2, Fault::Short}}, JobStatus::WriteFailed},
    {"encode: header written last fails",
     kEncode,
     {{Call::WriteAt, 1, Fault::Fail}},
     JobStatus::WriteFailed},
    {"encode: flush fails", kEncode, {{Call::Flush, 1, Fault::Fail}}, JobStatus::WriteFailed},
#ifdef __linux__
    {"encode: no name for the result",
     kEncode,
     {{Call::Name, 1, Fault::Fail}},
     JobStatus::ReplaceFailed},
#endif
    {"encode: protection not copied",
     kEncode,
     {{Call::CopyProtection, 1, Fault::Fail}},
     JobStatus::WriteFailed},
    {"encode: target gone before the move",
     kEncode,
     {{Call::IdentifyPath, 2, Fault::Fail}},
     JobStatus::TargetChanged},
    {"encode: no temporary name fits",
     kEncode,
     {kNamedTemporaryFile,
      {Call::CreateNew, 1, Fault::NameTooLong},
      {Call::CreateNew, 2, Fault::NameTooLong}},
     JobStatus::PathTooLong},
    {"encode: move fails", kEncode, {{Call::Move, 1, Fault::Fail}}, JobStatus::ReplaceFailed},

    {"decode: target will not open",
     kDecode,
     {{Call::OpenForReading, 1, Fault::Fail}},
     JobStatus::OpenFailed},
    {"decode: target size unknown",
     kDecode,
     {{Call::Identify, 1, Fault::Fail}},
     JobStatus::ReadFailed},
    {"decode: header read fails", kDecode, {{Call::Read, 1, Fault::Fail}}, JobStatus::ReadFailed},
    {"decode: header read short", kDecode, {{Call::Read, 1, Fault::Short}}, JobStatus::ReadFailed},
    {"decode: content read fails", kDecode, {{Call::Read, 2, Fault::Fail}}, JobStatus::ReadFailed},
    {"decode: content read short", kDecode, {{Call::Read, 2, Fault::Short}}, JobStatus::ReadFailed},
    {"decode: last read fails", kDecode, {{Call::Read, 3, Fault::Fail}}, JobStatus::ReadFailed},
    {"decode: write fails", kDecode, {{Call::Write, 1, Fault::Fail}}, JobStatus::WriteFailed},
    {"decode: last write short", kDecode, {{Call::Write, 2, Fault::Short}}, JobStatus::WriteFailed},
    {"decode: flush fails", kDecode, {{Call::Flush, 1, Fault::Fail}}, JobStatus::WriteFailed},
#ifdef __linux__
    {"decode: no name for the result",
     kDecode,
     {{Call::Name, 1, Fault::Fail}},
     JobStatus::ReplaceFailed},
#endif
    {"decode: protection not copied",
     kDecode,
     {{Call::CopyProtection, 1, Fault::Fail}},
     JobStatus::WriteFailed},
    {"decode: target gone before the move",
     kDecode,
     {{Call::IdentifyPath, 2, Fault::Fail}},
     JobStatus::TargetChanged},
    {"decode: no temporary name fits",
     kDecode,
     {kNamedTemporaryFile,
      {Call::CreateNew, 1, Fault::NameTooLong},
      {Call::CreateNew, 2, Fault::NameTooLong}},
     JobStatus::PathTooLong},
    {"decode: move fails", kDecode, {{Call::Move, 1, Fault::Fail}}, JobStatus::ReplaceFailed},

};

// The system's error of the last planned fault, where the status says that a call failed; none
// where the status says it all, or where no call failed (a short read or write).
int ExpectedCause(const InjectedFault& fault) {
  switch (fault.expected) {
    case JobStatus::OpenFailed:
    case JobStatus::ReadFailed:
    case JobStatus::WriteFailed:
    case JobStatus::ReplaceFailed:
      return InjectedError(fault.plans.back().call, fault.plans.back().fault);
    default:
      return 0;
  }
}

TEST(TransformFailure, InjectedFaultsLeaveEverythingAsItWasAndSayWhy) {
  for (const InjectedFault& fault : kInjectedFaults) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(fault.name) + (inPlace ? ", in place" : ", over an old output"));
      Scene scene(fault.operation, kPassphrase, kTargetSize);
      const auto before = Snapshot(scene.folder.Path());
      FaultyFileServices files(fault.plans);
      EncodingJob job;
      ASSERT_EQ(job.SetPassphrase(kPassphrase), JobStatus::Ok);
      ASSERT_EQ(job.SetTargetPath(scene.folder["target"].c_str()), JobStatus::Ok);
      ASSERT_EQ(job.SetOutputPath(inPlace ? "" : scene.folder["old"].c_str()), JobStatus::Ok);
      EXPECT_EQ(fault.operation(job, files), fault.expected);
      EXPECT_EQ(job.systemError, ExpectedCause(fault));
      EXPECT_TRUE(files.AllStruck());
      EXPECT_EQ(Snapshot(scene.folder.Path()), before);
    }
  }
}

// Beside the target it is the target's folder that fails; beside another output, the output's.
TEST(TransformFailure, TemporaryFileNotCreatedLeavesEverythingAsItWas) {
  for (const NamedOperation& op : kTransforms) {
    for (bool inPlace : {true, false}) {
      SCOPED_TRACE(std::string(op.name) + (inPlace ? " in place" : " to an old output"));
      Scene scene(op.operation, kPassphrase, kTargetSize);
      const auto before = Snapshot(scene.folder.Path());
      FaultyFileServices files({kNamedTemporaryFile, {Call::CreateNew, 1, Fault::Fail}});
      EXPECT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"],
                       inPlace ? "" : scene.folder["old"], files),
                inPlace ? JobStatus::OpenFailed : JobStatus::ReplaceFailed);
      EXPECT_TRUE(files.AllStruck());
      EXPECT_EQ(Snapshot(scene.folder.Path()), before);
    }
  }
}

TEST(TransformFailure, ShortTemporaryNameWhenNoneFitsBesideTheOutput) {
  for (const NamedOperation& op : kTransforms) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(op.name) + (inPlace ? " in place" : " over an old output"));
      Scene scene(op.operation, kPassphrase, kTargetSize);
      WriteBytes(scene.folder["karvel.tmp"], Pattern(10, 5));
      auto expected = Snapshot(scene.folder.Path());
      std::vector<std::string> during;
      FaultyFileServices files(
          {kNamedTemporaryFile,
           {Call::CreateNew, 1, Fault::NameTooLong},
           {Call::Flush, 1, Fault::Interject, [&] { during = scene.folder.Names(); }}});
      ASSERT_EQ(RunJob(op.operation, kPassphrase, scene.folder["target"],
                       inPlace ? "" : scene.folder["old"], files),
                JobStatus::Ok);
      EXPECT_TRUE(files.AllStruck());
      EXPECT_EQ(during, (std::vector<std::string>{"karvel.1.tmp", "karvel.tmp", "old", "target"}));
      expected[inPlace ? "target" : "old"] = scene.Expected(op.operation);
      EXPECT_TRUE(SameFiles(Snapshot(scene.folder.Path()), expected));
    }
  }
}

TEST(TransformFailure, FailedCloseOfTheTargetLosesNothing) {
  Scene scene(kEncode, kPassphrase, kTargetSize);
  FaultyFileServices files({{Call::Close, 1, Fault::Fail}});
  ASSERT_EQ(RunJob(kEncode, kPassphrase, scene.folder["target"], scene.folder["out"], files),
            JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder["out"]), scene.Expected(kEncode)));
}

}  // namespace
}  // namespace karvel
