#include "engine/header_record.h"

#include <cstring>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "engine/key_stream.h"
#include "engine/scrambler.h"
#include "engine/wipe.h"

namespace karvel {

namespace {

constexpr unsigned char kMarker[4] = {'k', 'r', 'e', 'c'};
constexpr size_t kMarkerAt = 0;  // offsets within the sealed part
constexpr size_t kVersionAt = 4;
constexpr size_t kPassphraseCheckAt = 5;
constexpr size_t kContentLengthAt = 13;
constexpr size_t kContentHashAt = 21;
constexpr size_t kRecordCheckAt = 29;
constexpr size_t kSignatureDraws = 26;
constexpr size_t kMaxPassphrase = 127;

// Each use of XXH3 is keyed apart, so that no value can stand in for another.
constexpr XXH64_hash_t kPassphraseCheckSeed = 0x6b617276656c3031;  // "karvel01"
constexpr XXH64_hash_t kRecordCheckSeed = 0x6b617276656c3032;
constexpr XXH64_hash_t kMaskSeed = 0x6b617276656c3033;

static_assert(kRecordCheckAt + 8 == kSealedSize, "the record check ends the sealed part");
static_assert(kRecordEnd <= 128, "the record fits in the header block");

void PutNumber(unsigned char* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t GetNumber(const unsigned char* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | at[i];
  return value;
}

// Combines the sealed part with bytes drawn from the salt; doing it twice undoes it.
void ApplyMask(const unsigned char* salt, unsigned char* sealed) {
  unsigned char mask[3 * sizeof(XXH128_canonical_t)];
  static_assert(sizeof mask >= kSealedSize, "the mask covers the sealed part");
  for (size_t block = 0; block < 3; ++block) {
    XXH128_canonicalFromHash(reinterpret_cast<XXH128_canonical_t*>(mask) + block,
                             XXH3_128bits_withSeed(salt, kSaltSize, kMaskSeed + block));
  }
  for (size_t i = 0; i < kSealedSize; ++i) sealed[i] ^= mask[i];
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

uint64_t PassphraseCheck(const unsigned char* salt, const char* passphrase, size_t length) {
  XXH3_state_t state;
  XXH3_INITSTATE(&state);
  XXH3_64bits_reset_withSeed(&state, kPassphraseCheckSeed);
  XXH3_64bits_update(&state, salt, kSaltSize);
  XXH3_64bits_update(&state, passphrase, RepeatedUnit(passphrase, length));
  uint64_t check = XXH3_64bits_digest(&state);
  Wipe(&state, sizeof state);
  return check;
}

uint64_t RecordCheck(const unsigned char* header) {
  return XXH3_64bits_withSeed(header + kRecordOffset,
                              kSealedOffset + kRecordCheckAt - kRecordOffset, kRecordCheckSeed);
}

// Marks in used[] the passphrase positions that the first draws after seed select: scrambling
// zeros under a "passphrase" whose characters are their own positions plus one names them.
void MarkDrawnPositions(size_t length, int32_t seed, size_t draws, bool* used) {
  char positions[kMaxPassphrase];
  for (size_t i = 0; i < length; ++i) positions[i] = static_cast<char>(i + 1);
  unsigned char drawn[kKeyCycleLength] = {};
  Scrambler(positions, length, seed).Apply(drawn, draws);
  for (size_t i = 0; i < draws; ++i) used[drawn[i] - 1] = true;
}

}  // namespace

void WriteRecord(unsigned char* header, const unsigned char* random, const char* passphrase,
                 size_t length, uint64_t contentLength, uint64_t contentHash) {
  std::memcpy(header + kRecordOffset, random, kHeaderRandomSize);
  const unsigned char* salt = header + kRecordOffset;
  unsigned char* sealed = header + kSealedOffset;
  std::memcpy(sealed + kMarkerAt, kMarker, sizeof kMarker);
  sealed[kVersionAt] = kRecordVersion;
  PutNumber(sealed + kPassphraseCheckAt, PassphraseCheck(salt, passphrase, length));
  PutNumber(sealed + kContentLengthAt, contentLength);
  PutNumber(sealed + kContentHashAt, contentHash);
  PutNumber(sealed + kRecordCheckAt, RecordCheck(header));
  ApplyMask(salt, sealed);
}

bool ReadRecord(const unsigned char* header, HeaderRecord* record) {
  unsigned char plain[kRecordEnd];  // the record with its sealed part opened
  std::memcpy(plain, header, kRecordEnd);
  unsigned char* sealed = plain + kSealedOffset;
  ApplyMask(plain + kRecordOffset, sealed);
  bool valid = std::memcmp(sealed + kMarkerAt, kMarker, sizeof kMarker) == 0 &&
               sealed[kVersionAt] == kRecordVersion &&
               GetNumber(sealed + kRecordCheckAt) == RecordCheck(plain);
  if (valid) {
    std::memcpy(record->salt, plain + kRecordOffset, kSaltSize);
    record->passphraseCheck = GetNumber(sealed + kPassphraseCheckAt);
    record->contentLength = GetNumber(sealed + kContentLengthAt);
    record->contentHash = GetNumber(sealed + kContentHashAt);
  }
  Wipe(plain, sizeof plain);
  return valid;
}

bool PassphraseFits(const HeaderRecord& record, const char* passphrase, size_t length) {
  return PassphraseCheck(record.salt, passphrase, length) == record.passphraseCheck;
}

bool SignatureMissesContentCharacters(size_t length) {
  bool seenBySignature[kMaxPassphrase] = {};
  bool usedByContent[kMaxPassphrase] = {};
  MarkDrawnPositions(length, kHeaderSeed, kSignatureDraws, seenBySignature);
  MarkDrawnPositions(length, kBodySeed, kKeyCycleLength, usedByContent);
  for (size_t i = 0; i < length; ++i) {
    if (usedByContent[i] && !seenBySignature[i]) return true;
  }
  return false;
}

ContentHash::ContentHash() {
  static_assert(sizeof(XXH3_state_t) <= kStateSize && alignof(XXH3_state_t) <= 64,
                "the state fits its room");
  XXH3_64bits_reset(reinterpret_cast<XXH3_state_t*>(state_));
}

ContentHash::~ContentHash() { Wipe(state_, sizeof state_); }

void ContentHash::Update(const unsigned char* bytes, size_t size) {
  XXH3_64bits_update(reinterpret_cast<XXH3_state_t*>(state_), bytes, size);
}

uint64_t ContentHash::Digest() const {
  return XXH3_64bits_digest(reinterpret_cast<const XXH3_state_t*>(state_));
}

}  // namespace karvel
