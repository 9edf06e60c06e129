#include "engine/operations.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/situations.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

struct Direction {
  const char* name;
  const Operation& operation;
  JobStatus Situation::*expected;
};
const Direction kDirections[] = {{"Encode", kEncode, &Situation::encode},
                                 {"Decode", kDecode, &Situation::decode}};

// Every refusal comes before anything is asked of the user, and the check changes no file.
TEST(Operations, CheckSaysPerDirectionWhatEveryFrontEndSays) {
  SituationFiles files;
  const Bytes plain = ReadBytes(files["plain"]), encoded = ReadBytes(files["encoded"]);
  for (const Situation& situation : kSituations) {
    for (const Direction& direction : kDirections) {
      SCOPED_TRACE(std::string(direction.name) + " of " + situation.name);
      EncodingJob job;
      ASSERT_EQ(job.SetPassphrase(situation.passphrase), JobStatus::Ok);
      ASSERT_EQ(job.SetTargetPath(files[situation.target].c_str()), JobStatus::Ok);
      ASSERT_EQ(job.SetOutputPath(files[situation.output].c_str()), JobStatus::Ok);
      EXPECT_EQ(direction.operation.Check(job), situation.*direction.expected);
    }
  }
  EXPECT_EQ(ReadBytes(files["plain"]), plain);
  EXPECT_EQ(ReadBytes(files["encoded"]), encoded);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::u8path(files["new"])));
}

// Probe itself still says only whether the header matches.
TEST(Operations, ProbeIsUntouched) {
  SituationFiles files;
  EncodingJob job;
  ASSERT_EQ(job.SetPassphrase(kSituationPassphrase), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(files["encoded"].c_str()), JobStatus::Ok);
  EXPECT_EQ(job.Probe(), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(files["plain"].c_str()), JobStatus::Ok);
  EXPECT_EQ(job.Probe(), JobStatus::HeaderMismatch);
}

// Run carries out the direction it names; only encoding asks for the passphrase twice.
TEST(Operations, RunCarriesOutItsDirection) {
  SituationFiles files;
  const Bytes plain = ReadBytes(files["plain"]);
  EncodingJob job;
  ASSERT_EQ(job.SetPassphrase(kSituationPassphrase), JobStatus::Ok);
  ASSERT_EQ(job.SetTargetPath(files["plain"].c_str()), JobStatus::Ok);
  ASSERT_EQ(kEncode.Check(job), JobStatus::Ok);
  ASSERT_EQ(kEncode.Run(job), JobStatus::Ok);
  EXPECT_EQ(kEncode.Check(job), JobStatus::AlreadyEncoded);
  ASSERT_EQ(kDecode.Check(job), JobStatus::Ok);
  ASSERT_EQ(kDecode.Run(job), JobStatus::Ok);
  EXPECT_EQ(ReadBytes(files["plain"]), plain);
  EXPECT_TRUE(kEncode.confirmsPassphrase);
  EXPECT_FALSE(kDecode.confirmsPassphrase);
}

}  // namespace
}  // namespace karvel
