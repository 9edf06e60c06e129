#include <gtest/gtest.h>

#include <string>

#include "engine/encoding_job.h"
#include "tests/support/job_operation.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

class EncodedFormat : public ::testing::Test {
 protected:
  JobStatus Run(JobCall operation, const std::string& passphrase, const std::string& target,
                const std::string& output) {
    return RunJob(operation, passphrase, folder_[target], output.empty() ? "" : folder_[output]);
  }
  JobStatus Encode(const std::string& passphrase, const std::string& target,
                   const std::string& output = "") {
    return Run(&EncodingJob::Encode, passphrase, target, output);
  }
  JobStatus Decode(const std::string& passphrase, const std::string& target,
                   const std::string& output = "") {
    return Run(&EncodingJob::Decode, passphrase, target, output);
  }
  JobStatus Probe(const std::string& passphrase, const std::string& target) {
    return Run(&EncodingJob::Probe, passphrase, target, "");
  }
  Bytes Read(const std::string& name) { return ReadBytes(folder_[name]); }
  void Write(const std::string& name, const Bytes& bytes) { WriteBytes(folder_[name], bytes); }

  ScratchFolder folder_;
};

TEST_F(EncodedFormat, SmallFileEncodedByHand) {
  // Worked out from the rules alone: header bytes from draws after seed 7, content after seed 13.
  const std::string passphrase = "Kq7";
  const Bytes plain = {'h', 'e', 'l', 'l', 'o', 0, 0xff, '\n'};
  Bytes expected;
  const std::string signature = "Pelmot ver 1.00 - tovik -";
  int32_t state = 7;
  auto draw = [&state] {
    state = (state * 107 + 1013) % 32768;
    return state;
  };
  for (size_t i = 0; i < 128; ++i) {
    unsigned char byte = i < signature.size() ? signature[i] : 0;
    expected.push_back(byte ^ passphrase[draw() % 3]);
  }
  state = 13;
  for (unsigned char byte : plain) expected.push_back(byte ^ passphrase[draw() % 3]);

  Write("plain", plain);
  ASSERT_EQ(Encode(passphrase, "plain", "encoded"), JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(Read("encoded"), expected));
  EXPECT_EQ(Read("plain"), plain);
  EXPECT_EQ(expected, ReferenceEncode(passphrase, plain));
}

TEST_F(EncodedFormat, RoundTripsAcrossHeaderCycleAndChunkBoundaries) {
  const size_t lengths[] = {
      0, 1, 25, 26, 127, 128, 16383, 16384, 16385, 262143, 262144, 262145, 3 * 1048576 + 17};
  const std::string passphrase = "round trip 42";
  unsigned seed = 0;
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    const Bytes plain = Pattern(length, ++seed);
    Write("plain", plain);
    ASSERT_EQ(Encode(passphrase, "plain", "encoded"), JobStatus::Ok);
    const Bytes encoded = Read("encoded");
    ASSERT_EQ(encoded.size(), length + kHeaderSize);
    EXPECT_TRUE(SameEncoding(encoded, ReferenceEncode(passphrase, plain)));
    EXPECT_EQ(Probe(passphrase, "encoded"), JobStatus::Ok);
    ASSERT_EQ(Decode(passphrase, "encoded", "decoded"), JobStatus::Ok);
    EXPECT_TRUE(Read("decoded") == plain);
  }
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"decoded", "encoded", "plain"}));
}

TEST_F(EncodedFormat, InPlaceRoundTripRestoresTheTarget) {
  const Bytes plain = Pattern(300000, 7);
  Write("file", plain);
  ASSERT_EQ(Encode("in place", "file"), JobStatus::Ok);
  EXPECT_TRUE(SameEncoding(Read("file"), ReferenceEncode("in place", plain)));
  ASSERT_EQ(Decode("in place", "file", "file"), JobStatus::Ok);
  EXPECT_EQ(Read("file"), plain);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"file"});
}

TEST_F(EncodedFormat, PassphraseWrittenOutTwiceProbesAndDecodes) {
  const Bytes plain = Pattern(70000, 8);
  Write("plain", plain);
  ASSERT_EQ(Encode("abcde", "plain", "encoded"), JobStatus::Ok);
  EXPECT_EQ(Probe("abcdeabcde", "encoded"), JobStatus::Ok);
  EXPECT_EQ(Probe("abcdeabcdeabcde", "encoded"), JobStatus::Ok);
  ASSERT_EQ(Decode("abcdeabcde", "encoded", "decoded"), JobStatus::Ok);
  EXPECT_EQ(Read("decoded"), plain);
  EXPECT_EQ(Probe("abcdf", "encoded"), JobStatus::HeaderMismatch);
}

TEST_F(EncodedFormat, DoubleEncodingPeelsOffInReverseOrder) {
  const Bytes plain = Pattern(5000, 9);
  Write("plain", plain);
  ASSERT_EQ(Encode("first A", "plain", "once"), JobStatus::Ok);
  ASSERT_EQ(Encode("second B", "once", "twice"), JobStatus::Ok);
  EXPECT_EQ(Read("twice").size(), plain.size() + 2 * kHeaderSize);
  EXPECT_EQ(Decode("first A", "twice", "wrong"), JobStatus::HeaderMismatch);
  ASSERT_EQ(Decode("second B", "twice", "peeled"), JobStatus::Ok);
  EXPECT_EQ(Read("peeled"), Read("once"));
  ASSERT_EQ(Decode("first A", "peeled", "back"), JobStatus::Ok);
  EXPECT_EQ(Read("back"), plain);
}

// Every writer puts a whole header block first: a shorter file that matches was cut.
TEST_F(EncodedFormat, HeaderOnlyFileDecodesToEmptyAndAShorterOneIsDamaged) {
  const Bytes header = ReferenceEncode("short", {});
  for (size_t length : {26, 27, 100, 127, 128}) {
    SCOPED_TRACE(length);
    Write("header", Bytes(header.begin(), header.begin() + length));
    EXPECT_EQ(Probe("short", "header"), JobStatus::Ok);
    if (length < 128) {
      EXPECT_EQ(Decode("short", "header", "decoded"), JobStatus::Damaged);
      EXPECT_EQ(folder_.Names(), std::vector<std::string>{"header"});
    } else {
      ASSERT_EQ(Decode("short", "header", "decoded"), JobStatus::Ok);
      EXPECT_TRUE(Read("decoded").empty());
    }
  }
}

TEST_F(EncodedFormat, FilesShorterThan26BytesNeverMatch) {
  // Every byte such a file holds unscrambles to the signature's beginning.
  const Bytes header = ReferenceEncode("short", {});
  for (size_t length = 0; length < 26; ++length) {
    SCOPED_TRACE(length);
    Write("header", Bytes(header.begin(), header.begin() + length));
    EXPECT_EQ(Probe("short", "header"), JobStatus::HeaderMismatch);
    EXPECT_EQ(Decode("short", "header", "decoded"), JobStatus::HeaderMismatch);
  }
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"header"});
}

TEST_F(EncodedFormat, InsignificantHeaderBytesAreIgnored) {
  Bytes encoded = ReferenceEncode("any tail", Pattern(10, 10));
  for (size_t i = 26; i < kHeaderSize; ++i) encoded[i] ^= 0xa5;
  Write("encoded", encoded);
  EXPECT_EQ(Probe("any tail", "encoded"), JobStatus::Ok);
  ASSERT_EQ(Decode("any tail", "encoded", "decoded"), JobStatus::Ok);
  EXPECT_EQ(Read("decoded"), Pattern(10, 10));
}

TEST_F(EncodedFormat, PlainFileBeginningWithTheScrambledSignatureIsTakenForEncoded) {
  Bytes plain = ReferenceEncode("fooled", {});
  plain.resize(26);
  const Bytes tail = Pattern(200, 11);
  plain.insert(plain.end(), tail.begin(), tail.end());
  Write("plain", plain);
  EXPECT_EQ(Probe("fooled", "plain"), JobStatus::Ok);
}

}  // namespace
}  // namespace karvel
