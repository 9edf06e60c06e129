// Files this version writes check the whole passphrase and the whole content
// through the record in their header's free bytes; files without one decode
// as they always have, except that an in-place decode that may be garbage
// keeps the encoded file, in the trash or beside the result, instead of
// destroying it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/header_record.h"
#include "tests/support/faulty_file_services.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

namespace fs = std::filesystem;

const Operation kEncode = &EncodingJob::Encode;
const Operation kDecode = &EncodingJob::Decode;

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
  JobStatus Run(Operation operation, const std::string& passphrase, const std::string& target,
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
    // A broken record is no record: the file decodes as another writer's would.
    ASSERT_EQ(Run(kDecode, "header bytes", "encoded", "decoded"), JobStatus::Ok);
    EXPECT_TRUE(Read("decoded") == plain);
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
    const char* atTheName;  // "original", "result" or "other's"
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
    if (atTheName == "original") EXPECT_TRUE(Read("legacy.bin") == legacy);
    if (atTheName == "result") EXPECT_TRUE(Read("legacy.bin") == plain);
    if (atTheName == "other's") EXPECT_TRUE(Read("legacy.bin") == othersFile);
    if (atTheName.empty()) EXPECT_FALSE(fs::exists(folder_["legacy.bin"]));
    std::vector<std::string> expected = {"legacy.bin"};
    if (decoded.place == OriginalPlace::Beside) {
      EXPECT_EQ(decoded.path, folder_["legacy.bin.encoded"]);
      EXPECT_TRUE(ReadBytes(decoded.path) == legacy);
      expected = atTheName.empty() ? std::vector<std::string>{"legacy.bin.encoded"}
                                   : std::vector<std::string>{"legacy.bin", "legacy.bin.encoded"};
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
