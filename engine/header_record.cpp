#include "engine/header_record.h"

#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "engine/avx2.h"
#include "engine/format.h"
#include "engine/key_stream.h"
#include "engine/scrambler.h"
#include "engine/wipe.h"

namespace karvel {

namespace {

constexpr size_t kNumberSize = 8;

// Each use of XXH3 is keyed apart, so that no value can stand in for another.
constexpr XXH64_hash_t kPassphraseCheckSeed1 = 0x6b617276656c3031;  // "karvel01"
constexpr XXH64_hash_t kRecordCheckSeed1 = 0x6b617276656c3032;
constexpr XXH64_hash_t kMaskSeed1 = 0x6b617276656c3033;
constexpr XXH64_hash_t kPassphraseCheckSeed2 = 0x6b617276656c3034;
constexpr XXH64_hash_t kRecordCheckSeed2 = 0x6b617276656c3035;
constexpr XXH64_hash_t kMaskSeed2 = 0x6b617276656c3036;
constexpr XXH64_hash_t kTagSeed = 0x6b617276656c3037;
constexpr XXH64_hash_t kContentKeySeed = 0x6b617276656c3038;
constexpr XXH64_hash_t kContentCheckSeed = 0x6b617276656c3039;

// Version 1: one copy, offsets within the header block.
constexpr unsigned char kMarker1[4] = {'k', 'r', 'e', 'c'};
constexpr size_t kSaltSize1 = 16;
constexpr size_t kSealed1 = kRecordOffset + kSaltSize1;  // 42
constexpr size_t kMarkerAt1 = 0;                         // offsets within the sealed part
constexpr size_t kVersionAt1 = 4;
constexpr size_t kPassphraseCheckAt1 = 5;
constexpr size_t kContentLengthAt1 = 13;
constexpr size_t kContentHashAt1 = 21;
constexpr size_t kRecordCheckAt1 = 29;
constexpr size_t kSealedSize1 = 37;
constexpr size_t kRecordEnd1 = kSealed1 + kSealedSize1;  // 79

// Version 2: where each part of a copy stands, and the tag that stands alone between them.
constexpr size_t kSaltSize2 = 8;
constexpr size_t kTagSize = 5;
constexpr size_t kPassphraseCheckAt2 = 0;  // offsets within a copy's sealed part
constexpr size_t kContentLengthAt2 = 8;
constexpr size_t kContentCheckAt2 = 16;
constexpr size_t kRecordCheckAt2 = 24;
constexpr size_t kSealedSize2 = 32;
struct CopyPlace {
  size_t salt;
  size_t tag;
  size_t sealed;
};
constexpr CopyPlace kCopyPlaces[kRecordCopies] = {{kRecordOffset, 34, 39}, {120, 115, 83}};
constexpr size_t kLoneTagBytes = 71;
constexpr size_t kLoneTagBytesSize = 7;
constexpr size_t kLoneTag = 78;

static_assert(kSaltSize1 <= kMaxSaltSize && kSaltSize2 <= kMaxSaltSize, "salts fit a copy");
static_assert(kRecordCheckAt1 + kNumberSize == kSealedSize1,
              "the record check ends the sealed part");
static_assert(kRecordEnd1 <= kHeaderSize, "the record fits in the header block");
static_assert(kRecordCheckAt2 + kNumberSize == kSealedSize2,
              "the record check ends the sealed part");
static_assert(kCopyPlaces[0].salt == kRecordOffset &&
                  kCopyPlaces[0].tag == kRecordOffset + kSaltSize2 &&
                  kCopyPlaces[0].sealed == kCopyPlaces[0].tag + kTagSize &&
                  kLoneTagBytes == kCopyPlaces[0].sealed + kSealedSize2 &&
                  kLoneTag == kLoneTagBytes + kLoneTagBytesSize &&
                  kCopyPlaces[1].sealed == kLoneTag + kTagSize &&
                  kCopyPlaces[1].tag == kCopyPlaces[1].sealed + kSealedSize2 &&
                  kCopyPlaces[1].salt == kCopyPlaces[1].tag + kTagSize &&
                  kCopyPlaces[1].salt + kSaltSize2 == kHeaderSize,
              "the parts of version 2 fill the free bytes one after another");

void PutNumber(unsigned char* at, uint64_t value) {
  for (size_t i = 0; i < kNumberSize; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetNumber(const unsigned char* at) {
  uint64_t value = 0;
  for (size_t i = kNumberSize; i-- > 0;) value = value << 8 | at[i];
  return value;
}

// Combines sealed with bytes drawn from the salt; doing it twice undoes it.
void ApplyMask(const unsigned char* salt, size_t saltSize, XXH64_hash_t seed, unsigned char* sealed,
               size_t sealedSize) {
  unsigned char mask[3 * sizeof(XXH128_canonical_t)];
  static_assert(sizeof mask >= kSealedSize1 && sizeof mask >= kSealedSize2,
                "the mask covers the sealed part");
  for (size_t block = 0; block < 3; ++block) {
    XXH128_canonicalFromHash(reinterpret_cast<XXH128_canonical_t*>(mask) + block,
                             XXH3_128bits_withSeed(salt, saltSize, seed + block));
  }
  for (size_t i = 0; i < sealedSize; ++i) sealed[i] ^= mask[i];
  Wipe(mask, sizeof mask);
}

// The shortest run of characters that, repeated, makes up the passphrase.
size_t RepeatedUnit(const char* passphrase, size_t length) {
  for (size_t unit = 1; unit < length; ++unit) {
    if (length % unit == 0 && std::memcmp(passphrase, passphrase + unit, length - unit) == 0) {
      return unit;
    }
  }
  return length;
}

uint64_t PassphraseCheck(uint8_t version, const unsigned char* salt, const char* passphrase,
                         size_t length) {
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset_withSeed(&state, version == 1 ? kPassphraseCheckSeed1 : kPassphraseCheckSeed2);
  XXH3_64bits_update(&state, salt, version == 1 ? kSaltSize1 : kSaltSize2);
  XXH3_64bits_update(&state, passphrase, RepeatedUnit(passphrase, length));
  uint64_t check = XXH3_64bits_digest(&state);
  Wipe(&state, sizeof state);
  return check;
}

// A copy's content check binds the passphrase-keyed hash to the copy's own salt.
uint64_t ContentCheck(uint8_t version, const unsigned char* salt, uint64_t digest) {
  if (version == 1) return digest;
  unsigned char input[kSaltSize2 + kNumberSize];
  std::memcpy(input, salt, kSaltSize2);
  PutNumber(input + kSaltSize2, digest);
  uint64_t check = XXH3_64bits_withSeed(input, sizeof input, kContentCheckSeed);
  Wipe(input, sizeof input);
  return check;
}

bool TagFits(const unsigned char* header, size_t bytes, size_t size, size_t tag) {
  unsigned char expected[kNumberSize];
  PutNumber(expected, XXH3_64bits_withSeed(header + bytes, size, kTagSeed));
  return std::memcmp(header + tag, expected, kTagSize) == 0;
}

void PutTag(unsigned char* header, size_t bytes, size_t size, size_t tag) {
  unsigned char value[kNumberSize];
  PutNumber(value, XXH3_64bits_withSeed(header + bytes, size, kTagSeed));
  std::memcpy(header + tag, value, kTagSize);
}

// The record check of a version 2 copy: its salt and its sealed part up to the check, opened.
uint64_t RecordCheck2(const unsigned char* salt, const unsigned char* sealed) {
  unsigned char input[kSaltSize2 + kRecordCheckAt2];
  std::memcpy(input, salt, kSaltSize2);
  std::memcpy(input + kSaltSize2, sealed, kRecordCheckAt2);
  return XXH3_64bits_withSeed(input, sizeof input, kRecordCheckSeed2);
}

bool ReadRecord1(const unsigned char* header, HeaderRecord* record) {
  unsigned char plain[kRecordEnd1];  // the record with its sealed part opened
  std::memcpy(plain, header, kRecordEnd1);
  unsigned char* sealed = plain + kSealed1;
  ApplyMask(plain + kRecordOffset, kSaltSize1, kMaskSeed1, sealed, kSealedSize1);
  bool valid = std::memcmp(sealed + kMarkerAt1, kMarker1, sizeof kMarker1) == 0 &&
               sealed[kVersionAt1] == 1 &&
               GetNumber(sealed + kRecordCheckAt1) ==
                   XXH3_64bits_withSeed(plain + kRecordOffset, kSaltSize1 + kRecordCheckAt1,
                                        kRecordCheckSeed1);
  if (valid) {
    RecordCopy& copy = record->copy[0];
    std::memcpy(copy.salt, plain + kRecordOffset, kSaltSize1);
    copy.passphraseCheck = GetNumber(sealed + kPassphraseCheckAt1);
    copy.contentLength = GetNumber(sealed + kContentLengthAt1);
    copy.contentCheck = GetNumber(sealed + kContentHashAt1);
    record->version = 1;
    record->copies = 1;
  }
  Wipe(plain, sizeof plain);
  return valid;
}

// Adds the copy at place to *record when it checks; true when its tag does.
bool ReadCopy2(const unsigned char* header, const CopyPlace& place, HeaderRecord* record) {
  if (!TagFits(header, place.salt, kSaltSize2, place.tag)) return false;
  unsigned char sealed[kSealedSize2];
  std::memcpy(sealed, header + place.sealed, kSealedSize2);
  const unsigned char* salt = header + place.salt;
  ApplyMask(salt, kSaltSize2, kMaskSeed2, sealed, kSealedSize2);
  if (GetNumber(sealed + kRecordCheckAt2) == RecordCheck2(salt, sealed)) {
    RecordCopy& copy = record->copy[record->copies++];
    std::memcpy(copy.salt, salt, kSaltSize2);
    copy.passphraseCheck = GetNumber(sealed + kPassphraseCheckAt2);
    copy.contentLength = GetNumber(sealed + kContentLengthAt2);
    copy.contentCheck = GetNumber(sealed + kContentCheckAt2);
  }
  return true;
}

// Marks in used[] the passphrase positions that the first draws after seed select: scrambling
// zeros under a "passphrase" whose characters are their own positions plus one names them.
void MarkDrawnPositions(size_t length, int32_t seed, size_t draws, bool* used) {
  char positions[kMaxPassphraseLength];
  for (size_t i = 0; i < length; ++i) positions[i] = static_cast<char>(i + 1);
  unsigned char drawn[kKeyCycleLength] = {};
  Scrambler(positions, length, seed).Apply(drawn, draws);
  for (size_t i = 0; i < draws; ++i) used[drawn[i] - 1] = true;
}

}  // namespace

ContentHash::ContentHash(uint8_t version, const char* passphrase, size_t length) {
  static_assert(sizeof(XXH3_state_t) <= kStateSize && alignof(XXH3_state_t) <= 64,
                "the state fits its room");
  static_assert(kSecretSize == XXH3_SECRET_DEFAULT_SIZE, "the key is XXH3's usual size");
  auto* state = reinterpret_cast<XXH3_state_t*>(state_);
  if (version == 1) {
    Wipe(secret_, sizeof secret_);
    XXH3_64bits_reset(state);
    return;
  }
  XXH128_canonical_t seed;
  XXH128_canonicalFromHash(
      &seed, XXH3_128bits_withSeed(passphrase, RepeatedUnit(passphrase, length), kContentKeySeed));
  XXH3_generateSecret(secret_, sizeof secret_, &seed, sizeof seed);
  Wipe(&seed, sizeof seed);
  XXH3_64bits_reset_withSecret(state, secret_, sizeof secret_);
}

ContentHash::~ContentHash() {
  Wipe(state_, sizeof state_);
  Wipe(secret_, sizeof secret_);
}

void ContentHash::Update(const unsigned char* bytes, size_t size) {
#if defined(KARVEL_AVX2)
  if (Avx2Usable()) {
    HashUpdateAvx2(state_, bytes, size);
    return;
  }
#endif
  XXH3_64bits_update(reinterpret_cast<XXH3_state_t*>(state_), bytes, size);
}

uint64_t ContentHash::Digest() const {
  return XXH3_64bits_digest(reinterpret_cast<const XXH3_state_t*>(state_));
}

void WriteRecord(unsigned char* header, const unsigned char* random, const char* passphrase,
                 size_t length, uint64_t contentLength, const ContentHash& hash) {
  std::memcpy(header + kRecordOffset, random, kHeaderRandomSize);
  const uint64_t digest = hash.Digest();
  for (const CopyPlace& place : kCopyPlaces) {
    const unsigned char* salt = header + place.salt;
    unsigned char* sealed = header + place.sealed;
    PutTag(header, place.salt, kSaltSize2, place.tag);
    PutNumber(sealed + kPassphraseCheckAt2, PassphraseCheck(2, salt, passphrase, length));
    PutNumber(sealed + kContentLengthAt2, contentLength);
    PutNumber(sealed + kContentCheckAt2, ContentCheck(2, salt, digest));
    PutNumber(sealed + kRecordCheckAt2, RecordCheck2(salt, sealed));
    ApplyMask(salt, kSaltSize2, kMaskSeed2, sealed, kSealedSize2);
  }
  PutTag(header, kLoneTagBytes, kLoneTagBytesSize, kLoneTag);
}

RecordState ReadRecord(const unsigned char* header, HeaderRecord* record) {
  record->version = 0;
  record->copies = 0;
  // Version 1 first: its full check cannot mistake a version 2 record, while a tag alone could
  // mistake a version 1 record for a broken one.
  if (ReadRecord1(header, record)) return RecordState::Valid;
  bool written = TagFits(header, kLoneTagBytes, kLoneTagBytesSize, kLoneTag);
  for (const CopyPlace& place : kCopyPlaces) written = ReadCopy2(header, place, record) || written;
  if (record->copies == 0) return written ? RecordState::Broken : RecordState::None;
  if (record->copies == kRecordCopies &&
      record->copy[0].contentLength != record->copy[1].contentLength) {
    record->copies = 0;
    return RecordState::Broken;
  }
  record->version = 2;
  return RecordState::Valid;
}

Fit PassphraseFits(const HeaderRecord& record, const char* passphrase, size_t length) {
  size_t fitting = 0;
  for (size_t i = 0; i < record.copies; ++i) {
    const RecordCopy& copy = record.copy[i];
    fitting +=
        PassphraseCheck(record.version, copy.salt, passphrase, length) == copy.passphraseCheck;
  }
  if (fitting == record.copies) return Fit::Every;
  return fitting == 0 ? Fit::None : Fit::Some;
}

JobStatus CheckRecord(RecordState state, const HeaderRecord& record, const char* passphrase,
                      size_t length) {
  if (state == RecordState::None) return JobStatus::Ok;
  if (state == RecordState::Broken) return JobStatus::Damaged;
  switch (PassphraseFits(record, passphrase, length)) {
    case Fit::Every:
      return JobStatus::Ok;
    case Fit::None:
      return JobStatus::HeaderMismatch;
    case Fit::Some:
      break;
  }
  return JobStatus::Damaged;
}

bool ContentFits(const HeaderRecord& record, uint64_t contentLength, const ContentHash& hash) {
  const uint64_t digest = hash.Digest();
  for (size_t i = 0; i < record.copies; ++i) {
    const RecordCopy& copy = record.copy[i];
    if (copy.contentLength != contentLength ||
        copy.contentCheck != ContentCheck(record.version, copy.salt, digest)) {
      return false;
    }
  }
  return true;
}

bool SignatureMissesContentCharacters(size_t length) {
  bool seenBySignature[kMaxPassphraseLength] = {};
  bool usedByContent[kMaxPassphraseLength] = {};
  MarkDrawnPositions(length, kHeaderSeed, kSignatureCheckSize, seenBySignature);
  MarkDrawnPositions(length, kBodySeed, kKeyCycleLength, usedByContent);
  for (size_t i = 0; i < length; ++i) {
    if (usedByContent[i] && !seenBySignature[i]) return true;
  }
  return false;
}

}  // namespace karvel
