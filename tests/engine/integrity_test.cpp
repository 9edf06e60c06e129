// Files this version writes check the whole passphrase and the whole content
// through the record in their header's free bytes, which survives damage to
// part of itself; files without one decode as they always have, except that
// an in-place decode that may be garbage keeps the encoded file, in the trash
// or beside the result, instead of destroying it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "engine/encoding_job.h"
#include "engine/header_record.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

namespace fs = std::filesystem;

// The passphrase positions the first draws after seed select, by the generator's rule written
// out again here rather than taken from the engine.
std::set<size_t> DrawnPositions(int seed, size_t draws, size_t length) {
  std::set<size_t> positions;
  int state = seed;
  for (size_t i = 0; i < draws; ++i) {
    state = (state * 107 + 1013) % 32768;
    positions.insert(static_cast<size_t>(state) % length);
  }
  return positions;
}

// The first position the content uses that the signature's 26 draws never see; length if none.
size_t UncheckedPosition(size_t length) {
  const std::set<size_t> seen = DrawnPositions(7, 26, length);
  for (size_t position : DrawnPositions(13, 16384, length)) {
    if (seen.count(position) == 0) return position;
  }
  return length;
}

TEST(HeaderRecord, SignatureSeesEveryContentCharacterOnlyForSevenLengths) {
  std::vector<size_t> fullySeen;
  for (size_t length = 1; length <= 127; ++length) {
    bool missed = UncheckedPosition(length) < length;
    EXPECT_EQ(SignatureMissesContentCharacters(length), missed) << length;
    if (!missed) fullySeen.push_back(length);
  }
  EXPECT_EQ(fullySeen, (std::vector<size_t>{1, 2, 3, 5, 6, 7, 10}));
}

class Integrity : public ::testing::Test {
 protected:
  JobStatus Run(JobCall operation, const std::string& passphrase, const std::string& target,
                const std::string& output = "") {
    return RunJob(operation, passphrase, folder_[target], output.empty() ? "" : folder_[output]);
  }
  Bytes Read(const std::string& name) { return ReadBytes(folder_[name]); }
  void Write(const std::string& name, const Bytes& bytes) { WriteBytes(folder_[name], bytes); }
  std::vector<std::string> Names() { return folder_.Names(); }

  // Plain content encoded by the engine under passphrase, as "encoded".
  Bytes EncodeWithRecord(const std::string& passphrase, const Bytes& plain) {
    Write("plain", plain);
    EXPECT_EQ(Run(kEncode, passphrase, "plain", "encoded"), JobStatus::Ok);
    fs::remove(folder_["plain"]);
    return Read("encoded");
  }

  ScratchFolder folder_;
};

TEST_F(Integrity, EveryReaderOfTheFormatReadsWhatThisVersionWrites) {
  for (size_t size : {0, 1, 300000}) {
    SCOPED_TRACE(size);
    const Bytes plain = Pattern(size, 1);
    const Bytes encoded = EncodeWithRecord("compatible", plain);
    ASSERT_EQ(encoded.size(), size + kHeaderSize);
    Bytes read;
    ASSERT_TRUE(ReferenceDecode("compatible", encoded, &read));
    EXPECT_TRUE(read == plain);
    EXPECT_TRUE(SameEncoding(encoded, ReferenceEncode("compatible", plain)));
  }
}

TEST_F(Integrity, FilesWithAnyBytesInTheFreeHeaderBytesDecodeAsBefore) {
  const Bytes plain = Pattern(5000, 2);
  const Bytes reference = ReferenceEncode("other writer", plain);
  const Bytes random = Pattern(kFreeHeaderEnd, 3);
  for (int filler : {0, 0xff, -1}) {
    SCOPED_TRACE(filler);
    Bytes encoded = reference;
    // Filler bytes as another writer would leave them before scrambling.
    for (size_t i = kFreeHeaderBegin; i < kFreeHeaderEnd; ++i) {
      encoded[i] ^= filler < 0 ? random[i] : static_cast<unsigned char>(filler);
    }
    Write("encoded", encoded);
    EXPECT_EQ(Run(&EncodingJob::Probe, "other writer", "encoded"), JobStatus::Ok);
    ASSERT_EQ(Run(kDecode, "other writer", "encoded", "decoded"), JobStatus::Ok);
    EXPECT_TRUE(Read("decoded") == plain);
  }
}

TEST_F(Integrity, NoPassphraseCharacterStandsInTheFreeHeaderBytes) {
  const Bytes plain = Pattern(1000, 4);
  const Bytes first = EncodeWithRecord("Passphrase-16chr", plain);
  const Bytes second = EncodeWithRecord("Passphrase-16chr", plain);
  // Zero filler scrambles to the passphrase's own characters, as the reference writes it.
  const Bytes clear = ReferenceEncode("Passphrase-16chr", plain);
  size_t inClear = 0, repeated = 0;
  for (size_t i = kFreeHeaderBegin; i < kFreeHeaderEnd; ++i) {
    inClear += first[i] == clear[i];
    repeated += first[i] == second[i];
  }
  EXPECT_LT(inClear, 10u);
  EXPECT_LT(repeated, 10u);
}

TEST_F(Integrity, OneSlippedCharacterTheSignatureNeverSeesIsRefused) {
  for (size_t length : {4, 8, 9, 12, 16, 33, 64, 127}) {
    std::string passphrase;
    for (size_t i = 0; i < length; ++i) passphrase += static_cast<char>('a' + i % 26);
    const size_t position = UncheckedPosition(length);
    ASSERT_LT(position, length);
    std::string slip = passphrase;
    slip[position] = slip[position] == 'Z' ? 'Y' : 'Z';
    SCOPED_TRACE(slip);
    const Bytes plain = Pattern(20000, 5);
    const Bytes encoded = EncodeWithRecord(passphrase, plain);

    EXPECT_EQ(Run(&EncodingJob::Probe, slip, "encoded"), JobStatus::HeaderMismatch);
    EXPECT_EQ(Run(kDecode, slip, "encoded", "decoded"), JobStatus::HeaderMismatch);
    EXPECT_EQ(Run(kDecode, slip, "encoded"), JobStatus::HeaderMismatch);
    EXPECT_EQ(Names(), std::vector<std::string>{"encoded"});
    EXPECT_TRUE(Read("encoded") == encoded);

    ASSERT_EQ(Run(kDecode, passphrase, "encoded"), JobStatus::Ok);
    EXPECT_TRUE(Read("encoded") == plain);
    fs::remove(folder_["encoded"]);
  }
}

struct RecordShown {
  const char* name;
  const char* target;
  const char* passphrase;
  JobStatus expected;
  bool recordFound;
};

// Only a record tells a file encoded under another passphrase from one never encoded.
TEST_F(Integrity, ProbeAndDecodeSayWhetherTheTargetCarriesARecord) {
  const std::string passphrase = "abcdefgh";  // eight: the signature misses one character
  std::string slip = passphrase;
  slip[UncheckedPosition(passphrase.size())] = 'Z';
  const RecordShown cases[] = {
      {"record, right passphrase", "recorded", "abcdefgh", JobStatus::Ok, true},
      {"record, another passphrase", "recorded", "other words", JobStatus::HeaderMismatch, true},
      {"record, a slip the signature misses", "recorded", slip.c_str(), JobStatus::HeaderMismatch,
       true},
      {"older file, another passphrase", "older", "other words", JobStatus::HeaderMismatch, false},
      {"never encoded", "plain", "abcdefgh", JobStatus::HeaderMismatch, false},
  };
  const Bytes plain = Pattern(3000, 9);
  EncodeWithRecord(passphrase, plain);
  fs::rename(folder_["encoded"], folder_["recorded"]);
  Write("older", ReferenceEncode(passphrase, plain));
  Write("plain", plain);
  for (const RecordShown& c : cases) {
    for (const NamedOperation& op : {kOperations[0], kOperations[2]}) {
      SCOPED_TRACE(std::string(c.name) + ", " + op.name);
      EncodingJob job;
      ASSERT_EQ(job.SetPassphrase(c.passphrase), JobStatus::Ok);
      ASSERT_EQ(job.SetTargetPath(folder_[c.target].c_str()), JobStatus::Ok);
      ASSERT_EQ(job.SetOutputPath(folder_["decoded"].c_str()), JobStatus::Ok);
      EXPECT_EQ(op.operation(job, SystemFileServices()), c.expected);
      EXPECT_EQ(job.recordFound, c.recordFound);
      EXPECT_EQ(job.systemError, 0);
      fs::remove(folder_["decoded"]);
    }
  }
}

struct Damage {
  const char* name;
  void (*apply)(Bytes& file);
};

const Damage kDamages[] = {
    {"cut in the middle", [](Bytes& file) { file.resize(kHeaderSize + (file.size() - 128) / 2); }},
    {"cut to the header", [](Bytes& file) { file.resize(kHeaderSize); }},
    {"last byte cut", [](Bytes& file) { file.pop_back(); }},
    {"byte added", [](Bytes& file) { file.push_back(0); }},
    {"bit flipped in the first chunk", [](Bytes& file) { file[kHeaderSize + 1000] ^= 0x10; }},
    {"bit flipped in the last byte", [](Bytes& file) { file.back() ^= 0x01; }},
};

TEST_F(Integrity, DamagedContentIsRefusedAndNothingIsWritten) {
  const Bytes plain = Pattern(300000, 6);
  const Bytes whole = EncodeWithRecord("damage", plain);
  for (const Damage& damage : kDamages) {
    for (bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(damage.name) + (inPlace ? ", in place" : ""));
      Bytes damaged = whole;
      damage.apply(damaged);
      Write("encoded", damaged);
      EXPECT_EQ(Run(&EncodingJob::Probe, "damage", "encoded"), JobStatus::Ok);
      EXPECT_EQ(Run(kDecode, "damage", "encoded", inPlace ? "" : "decoded"), JobStatus::Damaged);
      EXPECT_EQ(Names(), std::vector<std::string>{"encoded"});
      EXPECT_TRUE(Read("encoded") == damaged);
    }
  }
}

TEST_F(Integrity, AChangedHeaderByteNeverGivesOtherContentThanThePlainFile) {
  const Bytes plain = Pattern(3000, 7);
  const Bytes whole = EncodeWithRecord("header bytes", plain);
  for (size_t at = kFreeHeaderBegin; at < kFreeHeaderEnd; ++at) {
    SCOPED_TRACE(at);
    Bytes changed = whole;
    changed[at] ^= 0x01;
    Write("encoded", changed);
    // One copy of the record stays whole.
    ASSERT_EQ(Run(kDecode, "header bytes", "encoded", "decoded"), JobStatus::Ok);
    EXPECT_TRUE(Read("decoded") == plain);
  }
}

// Damage to the record's bytes together with damage to the content: one whole copy, or a tag that
// says a record was there, keeps the file from decoding unchecked.
struct RecordCase {
  const char* name;
  size_t begin;  // the run of header bytes changed, none when equal to end
  size_t end;
  bool cut;   // the content cut in half as well
  bool slip;  // decoded under a passphrase with a slip the signature never sees
  JobStatus expected;
};

const RecordCase kRecordCases[] = {
    {"undamaged", 0, 0, false, false, JobStatus::Ok},
    {"passphrase slip", 0, 0, false, true, JobStatus::HeaderMismatch},
    {"cut alone", 0, 0, true, false, JobStatus::Damaged},
    {"copy A's salt", 26, 27, true, false, JobStatus::Damaged},
    {"copy A's tag", 36, 37, true, false, JobStatus::Damaged},
    {"copy A's sealed part", 50, 51, true, false, JobStatus::Damaged},
    {"the lone tag's bytes", 74, 75, true, false, JobStatus::Damaged},
    {"the lone tag", 80, 81, true, false, JobStatus::Damaged},
    {"copy B's sealed part", 100, 101, true, false, JobStatus::Damaged},
    {"copy B's tag", 117, 118, true, false, JobStatus::Damaged},
    {"copy B's salt", 127, 128, true, false, JobStatus::Damaged},
    {"all of copy A", 26, 71, true, false, JobStatus::Damaged},
    {"all of copy B", 83, 128, true, false, JobStatus::Damaged},
    {"copy A and the lone tag", 26, 83, true, false, JobStatus::Damaged},
    {"the lone tag and copy B", 71, 128, true, false, JobStatus::Damaged},
    {"both sealed parts", 39, 115, true, false, JobStatus::Damaged},
    {"from copy A's tag to copy B's sealed part", 38, 115, true, false, JobStatus::Damaged},
    {"all but copy B's tag and salt", 26, 115, true, false, JobStatus::Damaged},
    {"all but copy A's salt and tag", 39, 128, true, false, JobStatus::Damaged},
    {"slip and a damaged copy", 26, 71, false, true, JobStatus::HeaderMismatch},
};

TEST_F(Integrity, ARecordDamagedInOneRunStillRefusesACutFileAndASlip) {
  const std::string passphrase = "Passphrase-16chr";
  std::string slip = passphrase;
  slip[UncheckedPosition(slip.size())] ^= 0x01;
  const Bytes plain = Pattern(4000, 12);
  const Bytes whole = EncodeWithRecord(passphrase, plain);
  for (const RecordCase& test : kRecordCases) {
    SCOPED_TRACE(test.name);
    Bytes damaged = whole;
    for (size_t at = test.begin; at < test.end; ++at) damaged[at] ^= 0xa5;
    if (test.cut) damaged.resize(kHeaderSize + plain.size() / 2);
    Write("encoded", damaged);
    EXPECT_EQ(Run(kDecode, test.slip ? slip : passphrase, "encoded", "decoded"), test.expected);
    if (test.expected == JobStatus::Ok) {
      EXPECT_TRUE(Read("decoded") == plain);
    } else {
      EXPECT_EQ(Names(), std::vector<std::string>{"encoded"});
    }
    fs::remove(folder_["decoded"]);
  }
}

// What the table above shows through the engine for a few runs, for every run: a damaged record
// is never taken for no record, and a copy that still checks tells the truth.
TEST_F(Integrity, EveryDamagedRunThatSparesATagLeavesTheRecordRecognisable) {
  const Bytes plain = Pattern(2000, 13);
  const Bytes whole = EncodeWithRecord("every run", plain);
  size_t runs = 0;
  for (size_t begin = kFreeHeaderBegin; begin < kFreeHeaderEnd; ++begin) {
    for (size_t end = begin + 1; end <= kFreeHeaderEnd; ++end) {
      // A run over bytes 38 to 115 reaches every tag: the file reads as an older writer's.
      if (begin <= 38 && end >= 116) continue;
      Bytes damaged(whole.begin(), whole.begin() + kHeaderSize);
      for (size_t at = begin; at < end; ++at) damaged[at] = ~damaged[at];
      HeaderRecord record;
      const RecordState state = ReadRecord(damaged.data(), &record);
      ASSERT_NE(state, RecordState::None) << begin << " to " << end;
      for (size_t i = 0; i < record.copies; ++i) {
        ASSERT_EQ(record.copy[i].contentLength, plain.size()) << begin << " to " << end;
      }
      ++runs;
    }
  }
  EXPECT_EQ(runs, 102u * 103u / 2 - 13u * 13u);
}

// Copies taken from two files written alike: each checks, but they do not describe one file.
struct Splice {
  const char* name;
  const char* otherPassphrase;
  size_t otherSize;
  unsigned otherSeed;
};

const Splice kSplices[] = {
    {"another length", "splice", 1001, 14},
    {"other content of the same length", "splice", 1000, 15},
    {"another passphrase", "another one", 1000, 14},
};

TEST_F(Integrity, TwoCopiesThatCheckButDisagreeMakeTheFileDamaged) {
  const Bytes plain = Pattern(1000, 14);
  const Bytes file = EncodeWithRecord("splice", plain);
  for (const Splice& splice : kSplices) {
    SCOPED_TRACE(splice.name);
    const Bytes other =
        EncodeWithRecord(splice.otherPassphrase, Pattern(splice.otherSize, splice.otherSeed));
    Bytes spliced = file;
    const size_t copyB = 83;
    std::copy(other.begin() + copyB, other.begin() + kHeaderSize, spliced.begin() + copyB);
    HeaderRecord record;
    ASSERT_NE(ReadRecord(spliced.data(), &record), RecordState::None);
    Write("encoded", spliced);
    EXPECT_EQ(Run(&EncodingJob::Probe, "splice", "encoded"), JobStatus::Ok);
    EXPECT_EQ(Run(kDecode, "splice", "encoded", "decoded"), JobStatus::Damaged);
    EXPECT_EQ(Names(), std::vector<std::string>{"encoded"});
  }
}

// Changes of one to three bytes anywhere in a small file: each is either noticed or harmless.
TEST_F(Integrity, NoRandomChangeOfAFewBytesDecodesToOtherContent) {
  const std::string passphrase = "Passphrase-16chr";
  const Bytes plain = Pattern(600, 16);
  const Bytes whole = EncodeWithRecord(passphrase, plain);
  std::mt19937 random(20261211);
  size_t right = 0, wrong = 0, refused = 0;
  for (int i = 0; i < 2000; ++i) {
    Bytes changed = whole;
    const size_t count = 1 + random() % 3;
    for (size_t n = 0; n < count; ++n) {
      changed[random() % changed.size()] ^= static_cast<unsigned char>(1 + random() % 255);
    }
    Write("encoded", changed);
    if (Run(kDecode, passphrase, "encoded", "decoded") != JobStatus::Ok) {
      ++refused;
      continue;
    }
    Read("decoded") == plain ? ++right : ++wrong;
    fs::remove(folder_["decoded"]);
  }
  std::printf("2000 changes: %zu refused, %zu decoded right, %zu decoded wrong\n", refused, right,
              wrong);
  EXPECT_EQ(wrong, 0u);
  EXPECT_GT(refused, 1500u);
}

// The content check of a record written over the same random bytes and the same content.
std::vector<uint64_t> ContentChecks(const std::string& passphrase, const Bytes& content) {
  const Bytes random = Pattern(kHeaderRandomSize, 17);
  ContentHash hash(kRecordVersion, passphrase.data(), passphrase.size());
  hash.Update(content.data(), content.size());
  unsigned char header[kHeaderSize] = {};
  WriteRecord(header, random.data(), passphrase.data(), passphrase.size(), content.size(), hash);
  HeaderRecord record;
  EXPECT_EQ(ReadRecord(header, &record), RecordState::Valid);
  EXPECT_EQ(record.copies, kRecordCopies);
  std::vector<uint64_t> checks;
  for (size_t i = 0; i < record.copies; ++i) checks.push_back(record.copy[i].contentCheck);
  return checks;
}

TEST(ContentCheck, IsKeyedByThePassphraseAsItScrambles) {
  const Bytes content = Pattern(5000, 18);
  const std::vector<uint64_t> ab = ContentChecks("ab", content);
  EXPECT_EQ(ContentChecks("abab", content), ab);
  for (const std::string other : {"ba", "abc", "aB", "abababababab!"}) {
    SCOPED_TRACE(other);
    const std::vector<uint64_t> checks = ContentChecks(other, content);
    for (size_t i = 0; i < kRecordCopies; ++i) EXPECT_NE(checks[i], ab[i]);
  }
}

// The engine hashes with the widest instructions the processor has; the digest, which files
// store, must be the one XXH3 gives everywhere, here built for any x86-64 processor.
TEST(ContentCheck, TheDigestIsTheSameOnEveryProcessor) {
  const Bytes content = Pattern(3 * kChunkSize + 7, 20);
  for (size_t size :
       {size_t{0}, size_t{200}, size_t{241}, size_t{1024}, size_t{70000}, content.size()}) {
    for (size_t piece : {size_t{1}, size_t{4095}, kChunkSize}) {
      SCOPED_TRACE(std::to_string(size) + " bytes in pieces of " + std::to_string(piece));
      ContentHash hash(1, "", 0);  // version 1: XXH3 unkeyed
      for (size_t at = 0; at < size; at += piece) {
        hash.Update(content.data() + at, std::min(piece, size - at));
      }
      EXPECT_EQ(hash.Digest(), XXH3_64bits(content.data(), size));
    }
  }
}

TEST_F(Integrity, TheStoredContentCheckConfirmsNothingWithoutThePassphrase) {
  const Bytes plain = Pattern(3000, 19);
  const Bytes encoded = EncodeWithRecord("keyed check", plain);
  const uint64_t unkeyed = XXH3_64bits(plain.data(), plain.size());
  HeaderRecord record;
  ASSERT_EQ(ReadRecord(encoded.data(), &record), RecordState::Valid);
  for (size_t i = 0; i < record.copies; ++i) EXPECT_NE(record.copy[i].contentCheck, unkeyed);
  for (size_t at = kFreeHeaderBegin; at + 8 <= kFreeHeaderEnd; ++at) {
    uint64_t stored = 0;
    for (size_t i = 8; i-- > 0;) stored = stored << 8 | encoded[at + i];
    EXPECT_NE(stored, unkeyed) << at;
  }
  // Only the hash keyed by the passphrase fits.
  for (const std::string passphrase : {"keyed check", "other key"}) {
    for (uint8_t version : {uint8_t{1}, kRecordVersion}) {
      ContentHash hash(version, passphrase.data(), passphrase.size());
      hash.Update(plain.data(), plain.size());
      EXPECT_EQ(ContentFits(record, plain.size(), hash),
                version == kRecordVersion && passphrase == "keyed check")
          << passphrase << " " << int{version};
    }
  }
}

// What an in-place decode of an older file left, and where it says the original is.
struct OlderDecode {
  JobStatus status;
  OriginalPlace place;
  std::string path;  // for OriginalPlace::Beside
};

// A trash of the test's own: the user's is never touched.
class LegacyInPlace : public Integrity {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // Wine's shell keeps its trash where the environment the test was started in says, which
    // ctest points at a folder of the build's for every test.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome == nullptr) GTEST_SKIP() << "XDG_DATA_HOME names no trash for this run";
    trash_ = fs::path(std::string("Z:") + dataHome) / "Trash" / "files";
#else
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr) oldDataHome_ = dataHome;
    setenv("XDG_DATA_HOME", home_.Path().c_str(), 1);
    trash_ = home_.Path() / "Trash" / "files";
#endif
    before_ = Entries();
  }

#ifndef _WIN32
  void TearDown() override {
    if (oldDataHome_.empty()) {
      unsetenv("XDG_DATA_HOME");
    } else {
      setenv("XDG_DATA_HOME", oldDataHome_.c_str(), 1);
    }
  }
#endif

  OlderDecode DecodeInPlace(const std::string& passphrase,
                            FileServices& files = SystemFileServices(),
                            JobProgress* progress = nullptr,
                            const std::string& name = "legacy.bin") {
    auto job = std::make_unique<EncodingJob>();
    EXPECT_EQ(job->SetPassphrase(passphrase.c_str()), JobStatus::Ok);
    EXPECT_EQ(job->SetTargetPath(folder_[name].c_str()), JobStatus::Ok);
    OlderDecode decoded;
    decoded.status = job->Decode(files, progress);
    decoded.place = job->originalPlace;
    decoded.path = job->originalPath;
    return decoded;
  }

#ifndef _WIN32
  // The trash folder made a plain file, which no trash can be made in.
  void BlockTrash() {
    fs::remove_all(trash_.parent_path());
    WriteBytes(trash_.parent_path().string(), Bytes{'x'});
  }
#endif

  // Takes what the trash holds now as there before.
  void Forget(const Bytes& bytes) {
    for (const std::string& name : Trashed(bytes)) before_.insert(name);
  }

  // The names this test put into the trash whose content is bytes.
  std::vector<std::string> Trashed(const Bytes& bytes) {
    std::vector<std::string> names;
    for (const std::string& name : Entries()) {
      if (before_.count(name) == 0 && ReadBytes((trash_ / name).u8string()) == bytes) {
        names.push_back(name);
      }
    }
    return names;
  }

 private:
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    if (!fs::is_directory(trash_)) return names;
    for (const auto& entry : fs::directory_iterator(trash_)) {
      names.insert(entry.path().filename().u8string());
    }
    return names;
  }

  fs::path trash_;
  std::set<std::string> before_;
#ifndef _WIN32
  std::string oldDataHome_;
  ScratchFolder home_;
#endif
};

constexpr char kSixteen[] = "Passphrase-16chr";  // a length whose characters the signature misses

TEST_F(LegacyInPlace, TheOriginalGoesToTheTrashUnderASlipAndUnderTheRightPassphrase) {
  const Bytes plain = Pattern(10000, 8);
  const Bytes legacy = ReferenceEncode(kSixteen, plain);
  std::string slip = kSixteen;
  slip[UncheckedPosition(slip.size())] ^= 0x01;
  for (const std::string& passphrase : {slip, std::string(kSixteen)}) {
    SCOPED_TRACE(passphrase);
    Write("legacy.bin", legacy);
    OlderDecode decoded = DecodeInPlace(passphrase);
    ASSERT_EQ(decoded.status, JobStatus::Ok);
    EXPECT_EQ(decoded.place, OriginalPlace::Trash);
    EXPECT_EQ(Read("legacy.bin") == plain, passphrase == kSixteen);
    EXPECT_EQ(Names(), std::vector<std::string>{"legacy.bin"});
    EXPECT_EQ(Trashed(legacy).size(), 1u);
    Forget(legacy);
  }
}

TEST_F(LegacyInPlace, WhatTheSignatureChecksWholeOrGoesToAnOutputIsNotMovedAside) {
  const Bytes plain = Pattern(10000, 9);
  for (const std::string passphrase : {"seven!!", kSixteen}) {
    const Bytes legacy = ReferenceEncode(passphrase, plain);
    Write("legacy.bin", legacy);
    const bool inPlace = passphrase.size() == 7;
    SCOPED_TRACE(passphrase);
    ASSERT_EQ(Run(kDecode, passphrase, "legacy.bin", inPlace ? "" : "decoded"), JobStatus::Ok);
    EXPECT_TRUE(Read(inPlace ? "legacy.bin" : "decoded") == plain);
    EXPECT_TRUE(Trashed(legacy).empty());
    fs::remove(folder_["decoded"]);
    EXPECT_EQ(Names(), std::vector<std::string>{"legacy.bin"});
  }
}

TEST_F(LegacyInPlace, AFileWithARecordIsNeverMovedAside) {
  const Bytes plain = Pattern(10000, 11);
  const Bytes encoded = EncodeWithRecord(kSixteen, plain);
  ASSERT_EQ(Run(kDecode, kSixteen, "encoded"), JobStatus::Ok);
  EXPECT_TRUE(Read("encoded") == plain);
  EXPECT_TRUE(Trashed(encoded).empty());
  EXPECT_EQ(Names(), std::vector<std::string>{"encoded"});
}

// Every way the last steps can go wrong leaves the original's bytes at its name or at the name
// the job reports, and never removes a file of the user's.
TEST_F(LegacyInPlace, TheOriginalIsAlwaysWhereTheJobSaysItIs) {
  const Bytes plain = Pattern(10000, 10);
  const Bytes legacy = ReferenceEncode(kSixteen, plain);
  const Bytes othersFile = Pattern(500, 12);
  JobProgress progress;
  auto saveAtTheName = [&] { Write("legacy.bin", othersFile); };
  auto cancel = [&] { progress.cancelRequested = true; };
  struct Case {
    const char* name;
    std::vector<FaultPlan> plans;
    JobStatus status;
    OriginalPlace place;
    const char* atTheName;  // "original", "result", "other's", or "" for nothing
  };
  const Case cases[] = {
      {"the trash refuses it",
       {{Call::MoveToTrash, 1, Fault::Fail}},
       JobStatus::Ok,
       OriginalPlace::Beside,
       "result"},
      {"no name for it beside",
       {{Call::Rename, 1, Fault::Fail}},
       JobStatus::ReplaceFailed,
       OriginalPlace::None,
       "original"},
      {"the result cannot take the name",
       {{Call::Move, 1, Fault::Fail}},
       JobStatus::ReplaceFailed,
       OriginalPlace::None,
       "original"},
      {"nor can the original take it back",
       {{Call::Move, 1, Fault::Fail}, {Call::Rename, 2, Fault::Fail}},
       JobStatus::ReplaceFailed,
       OriginalPlace::Beside,
       ""},
      {"another program saves a file at the name",
       {{Call::Move, 1, Fault::Interject, saveAtTheName}},
       JobStatus::TargetChanged,
       OriginalPlace::Beside,
       "other's"},
      {"a cancel before the move",
       {{Call::Move, 1, Fault::Interject, cancel}},
       JobStatus::Cancelled,
       OriginalPlace::None,
       "original"},
      {"another program removes it before it steps aside",
       {{Call::Rename, 1, Fault::Interject, [&] { fs::remove(folder_["legacy.bin"]); }}},
       JobStatus::TargetChanged,
       OriginalPlace::None,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    progress.cancelRequested = false;
    Write("legacy.bin", legacy);
    FaultyFileServices files(c.plans);
    OlderDecode decoded = DecodeInPlace(kSixteen, files, &progress);
    EXPECT_TRUE(files.AllStruck());
    EXPECT_EQ(decoded.status, c.status);
    ASSERT_EQ(decoded.place, c.place);
    const std::string atTheName = c.atTheName;
    const std::map<std::string, Bytes> bytesAtTheName = {
        {"original", legacy}, {"result", plain}, {"other's", othersFile}};
    std::vector<std::string> expected;
    if (!atTheName.empty()) {
      EXPECT_TRUE(Read("legacy.bin") == bytesAtTheName.at(atTheName));
      expected.push_back("legacy.bin");
    }
    if (decoded.place == OriginalPlace::Beside) {
      EXPECT_EQ(decoded.path, folder_["legacy.bin.encoded"]);
      EXPECT_TRUE(ReadBytes(decoded.path) == legacy);
      expected.push_back("legacy.bin.encoded");
    }
    EXPECT_EQ(Names(), expected);
    EXPECT_TRUE(Trashed(legacy).empty());
    for (const std::string& name : Names()) fs::remove(folder_[name]);
  }
}

TEST_F(LegacyInPlace, ANameTakenBesideIsLeftAloneAndAnotherOneUsed) {
  const Bytes plain = Pattern(3000, 13);
  const Bytes legacy = ReferenceEncode(kSixteen, plain);
  const Bytes usersFile = Pattern(100, 14);
  Write("legacy.bin", legacy);
  Write("legacy.bin.encoded", usersFile);
  FaultyFileServices files({{Call::MoveToTrash, 1, Fault::Fail}});
  OlderDecode decoded = DecodeInPlace(kSixteen, files);
  ASSERT_EQ(decoded.status, JobStatus::Ok);
  ASSERT_EQ(decoded.place, OriginalPlace::Beside);
  EXPECT_EQ(decoded.path, folder_["legacy.bin.1.encoded"]);
  EXPECT_TRUE(ReadBytes(decoded.path) == legacy);
  EXPECT_TRUE(Read("legacy.bin.encoded") == usersFile);
  EXPECT_TRUE(Read("legacy.bin") == plain);
}

#ifndef _WIN32
// Real refusals of the trash, and a name too long for the original's own name beside it.
TEST_F(LegacyInPlace, WhereTheTrashCannotTakeItTheOriginalStaysBeside) {
  const Bytes plain = Pattern(3000, 15);
  const Bytes legacy = ReferenceEncode(kSixteen, plain);
  const std::string longName = std::string(250, 'n');
  struct Case {
    const char* name;
    std::string file;
    bool trashIsAFile;
    const char* keptAs;
  };
  const Case cases[] = {
      {"the trash is a plain file", "legacy.bin", true, "legacy.bin.encoded"},
      {"a name too long for the trash and for a suffix", longName, true, "karvel.encoded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.trashIsAFile) BlockTrash();
    Write(c.file, legacy);
    OlderDecode decoded = DecodeInPlace(kSixteen, SystemFileServices(), nullptr, c.file);
    ASSERT_EQ(decoded.status, JobStatus::Ok);
    ASSERT_EQ(decoded.place, OriginalPlace::Beside);
    EXPECT_EQ(decoded.path, folder_[c.keptAs]);
    EXPECT_TRUE(ReadBytes(decoded.path) == legacy);
    EXPECT_TRUE(Read(c.file) == plain);
    for (const std::string& name : Names()) fs::remove(folder_[name]);
  }
}
#endif

}  // namespace
}  // namespace karvel
