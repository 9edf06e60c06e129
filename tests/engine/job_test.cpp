#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/job_operation.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

TEST(EncodingJob, StartsWithTheSignatureAndEmptyFields) {
  EncodingJob job;
  EXPECT_STREQ(job.signature, "Pelmot ver 1.00 - tovik -");
  EXPECT_STREQ(job.passphrase, "");
  EXPECT_STREQ(job.targetPath, "");
  EXPECT_STREQ(job.outputPath, "");
}

TEST(EncodingJob, SettersTakeTextsUpToTheirLimitAndRefuseLongerOnesWhole) {
  struct Case {
    const char* name;
    JobStatus (EncodingJob::*set)(const char*);
    size_t longest;
    JobStatus tooLong;
  };
  const Case cases[] = {
      {"passphrase", &EncodingJob::SetPassphrase, 127, JobStatus::PassphraseTooLong},
      {"target", &EncodingJob::SetTargetPath, kMaxPathLength, JobStatus::PathTooLong},
      {"output", &EncodingJob::SetOutputPath, kMaxPathLength, JobStatus::PathTooLong},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EncodingJob job;
    const std::string longest(c.longest, 'x');
    ASSERT_EQ((job.*c.set)(longest.c_str()), JobStatus::Ok);
    for (size_t extra : {1, 2, 200, 1000}) {
      ASSERT_EQ((job.*c.set)(std::string(c.longest + extra, 'y').c_str()), c.tooLong);
      ASSERT_EQ((job.*c.set)(longest.c_str()), JobStatus::Ok);
    }
    ASSERT_EQ((job.*c.set)(std::string(c.longest + 1, 'y').c_str()), c.tooLong);
    // Refused whole: the field is empty, and the fields around it are untouched.
    EXPECT_STREQ(job.signature, "Pelmot ver 1.00 - tovik -");
    EXPECT_EQ(
        std::strlen(job.passphrase) + std::strlen(job.targetPath) + std::strlen(job.outputPath),
        0u);
  }
}

TEST(EncodingJob, SettersKeepNeighbouringFieldsWhole) {
  EncodingJob job;
  ASSERT_EQ(job.SetPassphrase(std::string(127, 'p').c_str()), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(std::string(kMaxPathLength, 't').c_str()), JobStatus::Ok);
  ASSERT_EQ(job.SetOutputPath(std::string(kMaxPathLength, 'o').c_str()), JobStatus::Ok);
  EXPECT_EQ(job.SetPassphrase(std::string(300, 'P').c_str()), JobStatus::PassphraseTooLong);
  EXPECT_EQ(job.SetTargetPath(std::string(kMaxPathLength + 45, 'T').c_str()),
            JobStatus::PathTooLong);
  EXPECT_STREQ(job.signature, "Pelmot ver 1.00 - tovik -");
  EXPECT_STREQ(job.passphrase, "");
  EXPECT_STREQ(job.targetPath, "");
  EXPECT_EQ(std::string(job.outputPath), std::string(kMaxPathLength, 'o'));
}

class JobOnFiles : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(folder_["plain"], Pattern(1000, 1)); }
  ScratchFolder folder_;
};

TEST_F(JobOnFiles, EmptyFieldsAreReportedPassphraseFirst) {
  for (const NamedOperation& op : kOperations) {
    SCOPED_TRACE(op.name);
    EXPECT_EQ(RunJob(op.operation, "", "", ""), JobStatus::NoPassphrase);
    EXPECT_EQ(RunJob(op.operation, "", folder_["plain"], ""), JobStatus::NoPassphrase);
    EXPECT_EQ(RunJob(op.operation, "key", "", ""), JobStatus::NoTargetPath);
  }
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"plain"});
}

TEST_F(JobOnFiles, FieldsFilledWithoutATerminatorAreRefused) {
  enum Field { Passphrase, Target, Output };
  struct Case {
    Field field;
    JobStatus expected;
  };
  for (const NamedOperation& op : kOperations) {
    for (Case c : {Case{Passphrase, JobStatus::PassphraseTooLong},
                   Case{Target, JobStatus::PathTooLong}, Case{Output, JobStatus::PathTooLong}}) {
      SCOPED_TRACE(std::string(op.name) + " field " + std::to_string(c.field));
      EncodingJob job;
      job.SetPassphrase("key");
      job.SetTargetPath(folder_["plain"].c_str());
      job.SetOutputPath(folder_["out"].c_str());
      char* field = c.field == Passphrase ? job.passphrase
                    : c.field == Target   ? job.targetPath
                                          : job.outputPath;
      size_t size = c.field == Passphrase ? sizeof job.passphrase : sizeof job.targetPath;
      std::memset(field, 'z', size);
      EXPECT_EQ(op.operation(job, SystemFileServices()), c.expected);
    }
    // Terminated paths that fit their fields but are longer than the system takes.
    for (Field field : {Target, Output}) {
      EncodingJob job;
      job.SetPassphrase("key");
      job.SetTargetPath(folder_["plain"].c_str());
      job.SetOutputPath(std::string(kMaxPathLength, 'z').c_str());
      if (field == Target) std::swap(job.targetPath, job.outputPath);
      EXPECT_EQ(op.operation(job, SystemFileServices()), JobStatus::PathTooLong) << op.name;
    }
  }
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"plain"});
}

TEST_F(JobOnFiles, ProbeReportsWhetherTheHeaderMatches) {
  ASSERT_EQ(RunJob(&EncodingJob::Encode, "secret", folder_["plain"], folder_["encoded"]),
            JobStatus::Ok);
  const Bytes plain = ReadBytes(folder_["plain"]), encoded = ReadBytes(folder_["encoded"]);
  EXPECT_EQ(RunJob(&EncodingJob::Probe, "secret", folder_["plain"], ""), JobStatus::HeaderMismatch);
  EXPECT_EQ(RunJob(&EncodingJob::Probe, "secret", folder_["encoded"], ""), JobStatus::Ok);
  EXPECT_EQ(RunJob(&EncodingJob::Probe, "secretsecret", folder_["encoded"], ""), JobStatus::Ok);
  EXPECT_EQ(RunJob(&EncodingJob::Probe, "Secret", folder_["encoded"], ""),
            JobStatus::HeaderMismatch);
  EXPECT_EQ(RunJob(&EncodingJob::Probe, "secret", folder_["missing"], ""), JobStatus::OpenFailed);
  EXPECT_EQ(ReadBytes(folder_["plain"]), plain);
  EXPECT_EQ(ReadBytes(folder_["encoded"]), encoded);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"encoded", "plain"}));
}

// Asked before the user is asked anything more: nothing is written to find it out.
TEST_F(JobOnFiles, OutputStatusTellsWhatWouldRefuseTheOutput) {
  std::filesystem::create_directory(std::filesystem::u8path(folder_["folder"]));
  WriteBytes(folder_["locked"], Pattern(10, 2));
  SetReadOnly(folder_["locked"], true);
  const struct {
    std::string output;
    JobStatus expected;
  } cases[] = {
      {"", JobStatus::Ok},  // the target itself
      {folder_["new"], JobStatus::Ok},
      {folder_["plain"], JobStatus::Ok},
      {folder_["folder"], JobStatus::OutputIsFolder},
      {folder_["locked"], JobStatus::OutputReadOnly},
      {folder_["nowhere"] + "/out", JobStatus::OutputFolderMissing},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.output);
    EncodingJob job;
    ASSERT_EQ(job.SetTargetPath(folder_["plain"].c_str()), JobStatus::Ok);
    ASSERT_EQ(job.SetOutputPath(c.output.c_str()), JobStatus::Ok);
    EXPECT_EQ(job.OutputStatus(), c.expected);
  }
  SetReadOnly(folder_["locked"], false);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"folder", "locked", "plain"}));
}

TEST_F(JobOnFiles, EmptyOrSameOutputReplacesTheTarget) {
  for (bool outputSpelledOut : {false, true}) {
    SCOPED_TRACE(outputSpelledOut);
    const Bytes plain = ReadBytes(folder_["plain"]);
    EncodingJob job;
    job.SetPassphrase("in place");
    job.SetTargetPath(folder_["plain"].c_str());
    if (outputSpelledOut) job.SetOutputPath(folder_["plain"].c_str());
    ASSERT_EQ(job.Encode(), JobStatus::Ok);
    EXPECT_STREQ(job.outputPath, job.targetPath);
    EXPECT_EQ(ReadBytes(folder_["plain"]).size(), plain.size() + kHeaderSize);
    ASSERT_EQ(RunJob(&EncodingJob::Decode, "in place", folder_["plain"], ""), JobStatus::Ok);
    EXPECT_EQ(ReadBytes(folder_["plain"]), plain);
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"plain"});
  }
}

TEST_F(JobOnFiles, ExistingOutputIsReplaced) {
  WriteBytes(folder_["old"], Pattern(5000000, 2));
  ASSERT_EQ(RunJob(&EncodingJob::Encode, "key", folder_["plain"], folder_["old"]), JobStatus::Ok);
  EXPECT_EQ(ReadBytes(folder_["old"]).size(), 1000 + kHeaderSize);
}

TEST_F(JobOnFiles, ExistsFindsFilesAndFolders) {
  FileServices& files = SystemFileServices();
  EXPECT_TRUE(files.Exists(Prepared(folder_["plain"])));
  EXPECT_TRUE(files.Exists(Prepared(folder_.Path().u8string())));
  EXPECT_FALSE(files.Exists(Prepared(folder_["missing"])));
  EXPECT_FALSE(files.Exists(Prepared(folder_["missing/plain"])));
}

// Keeps the texts it is given to prepare.
class PreparingFileServices : public FaultyFileServices {
 public:
  PreparingFileServices() : FaultyFileServices({}) {}
  PathForm Prepare(const char* text, SystemPath* path) override {
    prepared.emplace_back(text);
    return FaultyFileServices::Prepare(text, path);
  }
  std::vector<std::string> prepared;
};

TEST_F(JobOnFiles, EachPathIsPreparedOncePerTransform) {
  struct Case {
    JobCall::Transform transform;
    const char* target;
    const char* output;  // "" for the target itself
  };
  const Case cases[] = {
      {&EncodingJob::Encode, "plain", ""},
      {&EncodingJob::Decode, "plain", ""},
      {&EncodingJob::Encode, "plain", "encoded"},
      {&EncodingJob::Decode, "encoded", "decoded"},
  };
  const Bytes plain = ReadBytes(folder_["plain"]);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " to '" + c.output + "'");
    PreparingFileServices files;
    const std::string target = folder_[c.target];
    const std::string output = c.output[0] != '\0' ? folder_[c.output] : "";
    ASSERT_EQ(RunJob(c.transform, "once", target, output, files), JobStatus::Ok);
    const std::vector<std::string> expected = output.empty()
                                                  ? std::vector<std::string>{target}
                                                  : std::vector<std::string>{target, output};
    EXPECT_EQ(files.prepared, expected);
  }
  EXPECT_EQ(ReadBytes(folder_["decoded"]), plain);
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"decoded", "encoded", "plain"}));
}

#ifdef _WIN32
// Makes folder the current one while it lives.
class InFolder {
 public:
  explicit InFolder(const std::filesystem::path& folder)
      : before_(std::filesystem::current_path()) {
    std::filesystem::current_path(folder);
  }
  ~InFolder() { std::filesystem::current_path(before_); }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  std::filesystem::path before_;
};

// A file dialog of the window's may change the current folder while a transform runs.
TEST_F(JobOnFiles, ARelativePathNamesTheSameFileWhenTheCurrentFolderChangesMidway) {
  ScratchFolder elsewhere;
  const Bytes decoy = Pattern(1000, 2);
  WriteBytes(elsewhere["plain"], decoy);
  const Bytes plain = ReadBytes(folder_["plain"]);
  InFolder here(folder_.Path());
  for (JobCall::Transform transform : {&EncodingJob::Encode, &EncodingJob::Decode}) {
    // Right after the target was opened.
    FaultyFileServices files({{Call::Identify, 1, Fault::Interject,
                               [&] { std::filesystem::current_path(elsewhere.Path()); }}});
    const JobStatus status = RunJob(transform, "moved", "plain", "", files);
    std::filesystem::current_path(folder_.Path());
    ASSERT_TRUE(files.AllStruck());
    ASSERT_EQ(status, JobStatus::Ok);
    EXPECT_EQ(ReadBytes(folder_["plain"]).size(),
              transform == &EncodingJob::Encode ? plain.size() + kHeaderSize : plain.size());
    EXPECT_EQ(elsewhere.Names(), std::vector<std::string>{"plain"});
    EXPECT_EQ(folder_.Names(), std::vector<std::string>{"plain"});
  }
  EXPECT_EQ(ReadBytes(folder_["plain"]), plain);
  EXPECT_EQ(ReadBytes(elsewhere["plain"]), decoy);
}
#endif

}  // namespace
}  // namespace karvel
