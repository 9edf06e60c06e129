// Encoding and decoding between open handles, as standard input and output
// are: the same bytes as a file transform writes, a pipe read through a
// scratch file that leaves nothing behind, and the record checked at the end.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "engine/encoding_job.h"
#include "engine/format.h"
#include "engine/stream_transform.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

constexpr char kPassphrase[] = "stream words";

FileHandle CreateForWriting(const std::string& path) {
#ifdef _WIN32
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(file);
#else
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  return fd < 0 ? kNoFile : fd;
#endif
}

// A pipe that a thread fills with bytes and then closes, as a program before this one in a
// pipeline does.
class FedPipe {
 public:
  explicit FedPipe(const Bytes& bytes) {
#ifdef _WIN32
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 0));
    read_ = reinterpret_cast<FileHandle>(readEnd);
    FileHandle write = reinterpret_cast<FileHandle>(writeEnd);
#else
    signal(SIGPIPE, SIG_IGN);  // the writer is told by an error that the reader has gone
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    read_ = ends[0];
    FileHandle write = ends[1];
#endif
    writer_ = std::thread([bytes, write] {
      FileServices& files = SystemFileServices();
      size_t written = 0;
      files.Write(write, bytes.data(), bytes.size(), &written);
      files.Close(write);
    });
  }
  // A reader that stops early leaves the writer blocked until the read end goes.
  ~FedPipe() {
    SystemFileServices().Close(read_);
    writer_.join();
  }
  FileHandle Read() const { return read_; }

 private:
  FileHandle read_ = kNoFile;
  std::thread writer_;
};

enum class Source { DiskFile, Pipe };

// Runs transform from source holding bytes into the file out; the status it returned.
template <typename Transform>
JobStatus Transformed(Transform transform, Source source, const Bytes& bytes, const std::string& in,
                      const std::string& out, StreamOutcome* outcome,
                      const char* passphrase = kPassphrase) {
  FileServices& files = SystemFileServices();
  FileHandle output = CreateForWriting(out);
  EXPECT_NE(output, kNoFile);
  JobStatus status;
  if (source == Source::Pipe) {
    FedPipe pipe(bytes);
    status = transform(files, pipe.Read(), output, passphrase, nullptr, outcome);
  } else {
    WriteBytes(in, bytes);
    FileHandle input = files.OpenForReading(Prepared(in));
    EXPECT_NE(input, kNoFile);
    status = transform(files, input, output, passphrase, nullptr, outcome);
    files.Close(input);
  }
  files.Close(output);
  return status;
}

Bytes After(const Bytes& bytes, size_t offset) {
  return offset >= bytes.size() ? Bytes{} : Bytes(bytes.begin() + offset, bytes.end());
}

class StreamTest : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

// Beyond a chunk and beyond a pipe's buffer, both ways: what the stream carries is what a file
// transform writes, and each decodes the other's.
TEST_F(StreamTest, StreamsCarryTheFileTransformsBytesBothWays) {
  const size_t sizes[] = {0, 1, kChunkSize, kChunkSize + 1, 3 << 20};
  for (Source source : {Source::DiskFile, Source::Pipe}) {
    for (size_t size : sizes) {
      SCOPED_TRACE(std::to_string(size) + (source == Source::Pipe ? " through a pipe" : ""));
      const Bytes plain = Pattern(size, static_cast<unsigned>(size % 7));
      StreamOutcome outcome;
      ASSERT_EQ(
          Transformed(EncodeStream, source, plain, folder_["in"], folder_["streamed"], &outcome),
          JobStatus::Ok);
      EXPECT_EQ(outcome.contentLength, size);
      WriteBytes(folder_["file"], plain);
      ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder_["file"], ""), JobStatus::Ok);
      const Bytes streamed = ReadBytes(folder_["streamed"]);
      const Bytes file = ReadBytes(folder_["file"]);
      ASSERT_EQ(streamed.size(), kHeaderSize + size);
      EXPECT_TRUE(After(streamed, kHeaderSize) == After(file, kHeaderSize));

      ASSERT_EQ(Transformed(DecodeStream, source, file, folder_["in"], folder_["back"], &outcome),
                JobStatus::Ok);
      EXPECT_TRUE(outcome.recordFound);
      EXPECT_EQ(outcome.recordedLength, size);
      EXPECT_TRUE(ReadBytes(folder_["back"]) == plain);
      ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, folder_["streamed"], ""), JobStatus::Ok);
      EXPECT_TRUE(ReadBytes(folder_["streamed"]) == plain);
    }
  }
}

// A disk file handed over part read, as "(head -c 5; karvel-cli encode -) < file" does: the
// content starts where it stands, for both of its reads.
TEST_F(StreamTest, ADiskFileIsEncodedFromWhereItStands) {
  const Bytes plain = Pattern(kChunkSize + 10, 3);
  WriteBytes(folder_["in"], plain);
  FileServices& files = SystemFileServices();
  FileHandle input = files.OpenForReading(Prepared(folder_["in"]));
  ASSERT_TRUE(files.Seek(input, 5));
  FileHandle output = CreateForWriting(folder_["out"]);
  StreamOutcome outcome;
  EXPECT_EQ(EncodeStream(files, input, output, kPassphrase, nullptr, &outcome), JobStatus::Ok);
  files.Close(input);
  files.Close(output);
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, folder_["out"], ""), JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(folder_["out"]) == After(plain, 5));
}

// Between the read for the record and the read that is written, another program writes the file.
// Windows holds a file it reads against writers, so there the change itself is refused.
TEST_F(StreamTest, ADiskFileChangedBetweenItsTwoReadsIsRefused) {
  const Bytes plain = Pattern(1000, 4);
  WriteBytes(folder_["in"], plain);
  bool changed = false;
  FaultyFileServices files({{Call::Read, 2, Fault::Interject, [&] {
                               Bytes other = plain;
                               other[500] ^= 1;
                               try {
                                 WriteBytes(folder_["in"], other);
                                 changed = true;
                               } catch (const std::exception&) {
                               }
                             }}});
  FileHandle input = files.OpenForReading(Prepared(folder_["in"]));
  FileHandle output = CreateForWriting(folder_["out"]);
  StreamOutcome outcome;
  const JobStatus status = EncodeStream(files, input, output, kPassphrase, nullptr, &outcome);
  EXPECT_TRUE(files.AllStruck());
  files.Close(input);
  files.Close(output);
#ifdef _WIN32
  EXPECT_FALSE(changed);
  EXPECT_EQ(status, JobStatus::Ok);
#else
  EXPECT_TRUE(changed);
  EXPECT_EQ(status, JobStatus::TargetChanged);
#endif
}

struct DecodeCase {
  const char* name;
  const char* passphrase;
  size_t cutTo;        // the encoded bytes kept; 0 for all
  size_t flipped;      // an encoded byte changed; 0 for none
  bool older;          // written without a record
  JobStatus expected;  // from decoding
  size_t written;      // the plain bytes written
};

// A wrong passphrase is refused before anything is written; damage is told at the end, after
// what was read has been written.
TEST_F(StreamTest, DecodingChecksTheHeaderFirstAndTheContentLast) {
  const size_t size = kChunkSize + 100;
  const DecodeCase cases[] = {
      {"whole", kPassphrase, 0, 0, false, JobStatus::Ok, size},
      {"wrong passphrase", "other words", 0, 0, false, JobStatus::HeaderMismatch, 0},
      {"cut", kPassphrase, kHeaderSize + 1000, 0, false, JobStatus::Damaged, 1000},
      {"cut inside the header", kPassphrase, 100, 0, false, JobStatus::Damaged, 0},
      {"content changed", kPassphrase, 0, kHeaderSize + 7, false, JobStatus::Damaged, size},
      {"older, whole", kPassphrase, 0, 0, true, JobStatus::Ok, size},
      {"older, cut", kPassphrase, kHeaderSize + 1000, 0, true, JobStatus::Ok, 1000},
  };
  const Bytes plain = Pattern(size, 9);
  WriteBytes(folder_["recorded"], plain);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder_["recorded"], ""), JobStatus::Ok);
  const Bytes recorded = ReadBytes(folder_["recorded"]);
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes encoded = c.older ? ReferenceEncode(kPassphrase, plain) : recorded;
    if (c.cutTo != 0) encoded.resize(c.cutTo);
    if (c.flipped != 0) encoded[c.flipped] ^= 0x20;
    for (Source source : {Source::DiskFile, Source::Pipe}) {
      StreamOutcome outcome;
      EXPECT_EQ(Transformed(DecodeStream, source, encoded, folder_["in"], folder_["out"], &outcome,
                            c.passphrase),
                c.expected);
      EXPECT_EQ(outcome.recordFound, !c.older);
      EXPECT_EQ(outcome.contentLength, c.written);
      EXPECT_TRUE(ReadBytes(folder_["out"]) == Bytes(plain.begin(), plain.begin() + c.written) ||
                  c.flipped != 0);
    }
  }
}

// Checking alone writes nothing, and does not read an older file's content, which nothing checks.
TEST_F(StreamTest, CheckingWithoutAnOutputReadsOnlyWhatItCanCheck) {
  const Bytes plain = Pattern(5000, 2);
  WriteBytes(folder_["older"], ReferenceEncode(kPassphrase, plain));
  WriteBytes(folder_["recorded"], plain);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, kPassphrase, folder_["recorded"], ""), JobStatus::Ok);
  FileServices& files = SystemFileServices();
  for (const char* name : {"older", "recorded"}) {
    SCOPED_TRACE(name);
    FileHandle input = files.OpenForReading(Prepared(folder_[name]));
    StreamOutcome outcome;
    EXPECT_EQ(DecodeStream(files, input, kNoFile, kPassphrase, nullptr, &outcome), JobStatus::Ok);
    EXPECT_EQ(outcome.contentLength, std::string(name) == "older" ? 0u : plain.size());
    files.Close(input);
  }
}

// The scratch file a pipe passes through is in the temporary folder while it is read, and gone
// after, on every path.
TEST_F(StreamTest, APipeLeavesNothingInTheTemporaryFolder) {
  ScratchFolder temporary;
#ifdef _WIN32
  ASSERT_TRUE(SetEnvironmentVariableA("TMP", temporary.Path().string().c_str()));
#else
  const char* saved = std::getenv("TMPDIR");
  const std::string before = saved == nullptr ? "" : saved;
  setenv("TMPDIR", temporary.Path().c_str(), 1);
#endif
  const Bytes plain = Pattern(3 << 20, 5);
  StreamOutcome outcome;
  EXPECT_EQ(Transformed(EncodeStream, Source::Pipe, plain, "", folder_["out"], &outcome),
            JobStatus::Ok);
  EXPECT_TRUE(temporary.Names().empty());
  ASSERT_EQ(RunJob(&EncodingJob::Decode, kPassphrase, folder_["out"], ""), JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(folder_["out"]) == plain);
#ifndef _WIN32
  if (saved == nullptr) {
    unsetenv("TMPDIR");
  } else {
    setenv("TMPDIR", before.c_str(), 1);
  }
#endif
}

}  // namespace
}  // namespace karvel
