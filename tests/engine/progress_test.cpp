#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/scene.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

using Transform = JobStatus (EncodingJob::*)(FileServices&, JobProgress*);

const char kPassphrase[] = "progress key";

// The system's file services, noting how far the job's progress had come at each read and
// asking for a cancel as the chosen read returns.
class WatchingFileServices : public FaultyFileServices {
 public:
  WatchingFileServices(JobProgress& progress, int cancelAtRead)
      : FaultyFileServices({}), progress_(progress), cancelAtRead_(cancelAtRead) {}

  bool Read(FileHandle file, void* buffer, size_t size, size_t* bytesRead) override {
    doneBeforeRead.push_back(progress_.bytesDone.load());
    totalBeforeRead.push_back(progress_.bytesTotal.load());
    bool read = FaultyFileServices::Read(file, buffer, size, bytesRead);
    if (static_cast<int>(doneBeforeRead.size()) == cancelAtRead_) {
      progress_.cancelRequested = true;
    }
    return read;
  }

  bool Write(FileHandle file, const void* buffer, size_t size, size_t* bytesWritten) override {
    writeSizes.push_back(size);
    return FaultyFileServices::Write(file, buffer, size, bytesWritten);
  }

  std::vector<uint64_t> doneBeforeRead;
  std::vector<uint64_t> totalBeforeRead;
  std::vector<size_t> writeSizes;

 private:
  JobProgress& progress_;
  int cancelAtRead_;
};

struct NamedTransform {
  const char* name;
  Transform transform;
};
const NamedTransform kTransforms[] = {{"Encode", &EncodingJob::Encode},
                                      {"Decode", &EncodingJob::Decode}};

// A target (plain for Encode, encoded for Decode) and an old output beside it.
struct Scene {
  Scene(Transform transform, size_t plainSize) : plain(Pattern(plainSize, 3)) {
    target = TargetFor(transform, kPassphrase, plain);
    WriteBytes(folder["target"], target);
    WriteBytes(folder["old"], Pattern(333, 4));
  }

  JobStatus Run(Transform transform, const std::string& output, FileServices& files,
                JobProgress& progress) {
    EncodingJob job;
    job.SetPassphrase(kPassphrase);
    job.SetTargetPath(folder["target"].c_str());
    job.SetOutputPath(output.empty() ? "" : folder[output].c_str());
    return (job.*transform)(files, &progress);
  }

  ScratchFolder folder;
  Bytes plain;
  Bytes target;
};

// Where each read of the target starts: the header first for Decode, then whole chunks.
std::vector<uint64_t> ReadStarts(Transform transform, uint64_t targetSize) {
  std::vector<uint64_t> starts;
  uint64_t at = 0;
  if (transform == &EncodingJob::Decode) {
    starts.push_back(0);
    at = kHeaderSize;
  }
  for (;; at += kChunkSize) {
    starts.push_back(at);
    if (targetSize - at < kChunkSize) break;
  }
  return starts;
}

TEST(Progress, TotalIsTheTargetSizeAndDoneAdvancesByEachChunk) {
  const size_t kSizes[] = {0, 1, kChunkSize, 2 * kChunkSize + 5};
  for (const NamedTransform& t : kTransforms) {
    for (size_t size : kSizes) {
      SCOPED_TRACE(std::string(t.name) + " of " + std::to_string(size) + " plain bytes");
      Scene scene(t.transform, size);
      JobProgress progress;
      WatchingFileServices files(progress, 0);
      ASSERT_EQ(scene.Run(t.transform, "out", files, progress), JobStatus::Ok);
      const uint64_t targetSize = scene.target.size();
      EXPECT_EQ(progress.bytesTotal, targetSize);
      EXPECT_EQ(progress.bytesDone, targetSize);
      EXPECT_EQ(files.doneBeforeRead, ReadStarts(t.transform, targetSize));
      EXPECT_EQ(files.totalBeforeRead,
                std::vector<uint64_t>(files.doneBeforeRead.size(), targetSize))
          << "the total is known before the first read";
      // Whole chunks, so that every write of the result starts on a chunk boundary.
      ASSERT_FALSE(files.writeSizes.empty());
      files.writeSizes.pop_back();
      EXPECT_EQ(files.writeSizes, std::vector<size_t>(files.writeSizes.size(), kChunkSize));
      EXPECT_TRUE(SameEncoding(ReadBytes(scene.folder["out"]),
                               t.transform == &EncodingJob::Decode
                                   ? scene.plain
                                   : ReferenceEncode(kPassphrase, scene.plain)));
    }
  }
}

// Encode reads the plain content in three chunks; Decode reads the header and then the same three.
TEST(Progress, CancelStopsAtTheNextChunkAndLeavesEverythingAsItWas) {
  const size_t plainSize = 2 * kChunkSize + 5;
  for (const NamedTransform& t : kTransforms) {
    const int reads = t.transform == &EncodingJob::Decode ? 4 : 3;
    for (int cancelAt = 0; cancelAt <= reads; ++cancelAt) {
      for (const char* output : {"", "old"}) {
        SCOPED_TRACE(std::string(t.name) + ", cancel at read " + std::to_string(cancelAt) +
                     (output[0] == '\0' ? ", in place" : ", to another file"));
        Scene scene(t.transform, plainSize);
        const Bytes oldOutput = ReadBytes(scene.folder["old"]);
        JobProgress progress;
        progress.cancelRequested = cancelAt == 0;
        WatchingFileServices files(progress, cancelAt);
        EXPECT_EQ(scene.Run(t.transform, output, files, progress), JobStatus::Cancelled);
        // A cancel before the start still lets Decode read the header it checks first.
        const size_t readsMade = cancelAt == 0 ? reads - 3 : cancelAt;
        EXPECT_EQ(files.doneBeforeRead.size(), readsMade) << "no read after the cancel";
        std::vector<uint64_t> starts = ReadStarts(t.transform, scene.target.size());
        uint64_t done = readsMade < starts.size() ? starts[readsMade] : scene.target.size();
        EXPECT_EQ(progress.bytesDone, done);
        EXPECT_EQ(scene.folder.Names(), (std::vector<std::string>{"old", "target"}));
        EXPECT_EQ(ReadBytes(scene.folder["target"]), scene.target);
        EXPECT_EQ(ReadBytes(scene.folder["old"]), oldOutput);
      }
    }
  }
}

}  // namespace
}  // namespace karvel
