// The record that a file written by this version carries in the free bytes
// of its header block, after the signature's terminator. The signature sees
// only the passphrase characters its 26 draws select and nothing of the
// content; the record adds a check of the whole passphrase and of the whole
// content, so that a slip of one character or a cut or damaged file is
// refused instead of decoded into garbage. Readers that do not know the
// record never look at these bytes.
//
// The record stands in the file as it is, not scrambled: the header's later
// draws use passphrase characters that the signature does not check, so a
// passphrase with a slip there would read a scrambled record as noise and
// the file as one without a record. The writer puts into the plain block
// whatever scrambles to the record, which the format leaves to it.
//
// Header block as stored in the file, offset and size:
//   0   26  the signature text and its terminator, scrambled
//   26  16  salt, from the system's random source
//   42   4  marker "krec"                      sealed: bytes 42 to 78 are
//   46   1  record version (1)                 combined with a mask drawn
//   47   8  passphrase check                   from the salt
//   55   8  content length in bytes
//   63   8  content hash (XXH3, 64 bits)
//   71   8  record check, over bytes 26 to 70
//   79  49  random
// Numbers are little-endian. Sealing leaves no predictable byte in the block:
// the scrambling would show the passphrase's characters through any known one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace karvel {

constexpr size_t kRecordOffset = 26;  // right after the signature's terminator
constexpr size_t kSaltSize = 16;
constexpr size_t kSealedOffset = kRecordOffset + kSaltSize;  // 42
constexpr size_t kSealedSize = 4 + 1 + 8 + 8 + 8 + 8;        // marker to record check: 37
constexpr size_t kRecordEnd = kSealedOffset + kSealedSize;   // 79
constexpr size_t kHeaderRandomSize = 128 - kRecordOffset;    // salt and filler, drawn at once
constexpr uint8_t kRecordVersion = 1;

// What a valid record says.
struct HeaderRecord {
  unsigned char salt[kSaltSize];
  uint64_t passphraseCheck;
  uint64_t contentLength;
  uint64_t contentHash;
};

// Fills bytes 26 to 127 of a stored header block: random holds kHeaderRandomSize random bytes.
void WriteRecord(unsigned char* header, const unsigned char* random, const char* passphrase,
                 size_t length, uint64_t contentLength, uint64_t contentHash);

// True when the stored header block carries a record of this version, copied to *record.
bool ReadRecord(const unsigned char* header, HeaderRecord* record);

// True when passphrase (length 1 to 127 bytes) is the one the record was written under, or the
// same characters repeated, which scramble every byte alike. A check against slips, not against
// an attacker: with the salt beside it, trying passphrases is fast.
bool PassphraseFits(const HeaderRecord& record, const char* passphrase, size_t length);

// True when some passphrase character that the content's draws use is never used by the 26
// draws the signature check sees, for passphrases of this length (1 to 127 bytes).
bool SignatureMissesContentCharacters(size_t length);

// The hash of the plain content, fed in order, in as many pieces as come.
class ContentHash {
 public:
  ContentHash();
  ~ContentHash();  // wipes the state, which holds the content's last bytes

  ContentHash(const ContentHash&) = delete;
  ContentHash& operator=(const ContentHash&) = delete;

  void Update(const unsigned char* bytes, size_t size);
  uint64_t Digest() const;

 private:
  static constexpr size_t kStateSize = 576;  // XXH3's streaming state, checked where it is used
  alignas(64) unsigned char state_[kStateSize];
};

}  // namespace karvel
