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
// Version 2, written now, holds two copies, each complete and checked on its
// own, at the two ends of the free bytes, so that damage to one leaves the
// other to read. Each copy is sealed with a mask drawn from its own salt,
// which leaves no predictable byte in the block: the scrambling would show
// the passphrase's characters through any known one. Without the record, a
// damaged file would read as one from an older writer and decode unchecked,
// so a record that was there must stay recognisable when both copies are
// broken: three tags (a hash of random bytes beside it, each standing alone)
// say so, and a file with a tag that checks but no copy that does is
// damaged. Damage must then reach all three tags, two copies and the content
// before a file decodes unchecked: no change of one to three bytes can, and
// one damaged run only when it covers bytes 38 to 115. Random
// bytes from another writer pass a tag once in 2^38.
//
// Header block as stored in the file, version 2, offset and size:
//   0   26  the signature text and its terminator, scrambled
//   26   8  copy A: salt, random
//   34   5  copy A: tag of its salt
//   39  32  copy A: sealed with a mask drawn from its salt:
//              passphrase check, content length, content check, record check
//   71   7  random
//   78   5  tag of bytes 71 to 77
//   83  32  copy B: sealed, as copy A
//   115  5  copy B: tag of its salt
//   120  8  copy B: salt, random
// The passphrase check hashes the salt and the passphrase: a check against
// slips, not against an attacker, since with the salt beside it trying
// passphrases is fast. The content check hashes the salt and the content's
// hash keyed by the passphrase, so that it confirms no guess at the content
// without the passphrase. The content length is the file's size less the
// header in every whole file and is sealed by the salt's mask alone. The
// record check covers the salt and the three values. Two copies that check
// but disagree come from no writer: such a file is damaged.
//
// Version 1, still read: bytes 26 to 41 a salt, 42 to 78 sealed with a mask
// drawn from it: the marker "krec", the version, the passphrase check, the
// content length, an unkeyed hash of the content and the record check; a
// version 1 record that does not check counts as none, as it always did.
// Numbers are little-endian; every hash is XXH3, 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/format.h"
#include "engine/job_status.h"

namespace karvel {

constexpr size_t kRecordOffset = kSignatureCheckSize;  // right after the signature's terminator
constexpr size_t kHeaderRandomSize = kHeaderSize - kRecordOffset;  // salts, tags' bytes, filler
constexpr size_t kRecordCopies = 2;
constexpr size_t kMaxSaltSize = 16;  // version 1's; version 2's are 8
constexpr uint8_t kRecordVersion = 2;

// What one copy of a record that checks says.
struct RecordCopy {
  unsigned char salt[kMaxSaltSize];
  uint64_t passphraseCheck;
  uint64_t contentLength;
  uint64_t contentCheck;
};

enum class RecordState {
  None,    // no record: a file from an older writer
  Broken,  // a record was written but no copy checks, or the copies disagree
  Valid,   // at least one copy checks
};

struct HeaderRecord {
  uint8_t version;  // 0 when there is no valid record
  size_t copies;    // copies that check
  RecordCopy copy[kRecordCopies];
};

// The hash of the plain content, fed in order, in as many pieces as come, keyed as a record of
// version keys it: version 1 not at all, later ones by the passphrase (length 1 to 127 bytes).
class ContentHash {
 public:
  ContentHash(uint8_t version, const char* passphrase, size_t length);
  ~ContentHash();  // wipes the key and the state, which holds the content's last bytes

  ContentHash(const ContentHash&) = delete;
  ContentHash& operator=(const ContentHash&) = delete;

  void Update(const unsigned char* bytes, size_t size);
  uint64_t Digest() const;

 private:
  static constexpr size_t kStateSize = 576;   // XXH3's streaming state, checked where it is used
  static constexpr size_t kSecretSize = 192;  // XXH3's key; the state points at it
  alignas(64) unsigned char state_[kStateSize];
  unsigned char secret_[kSecretSize];
};

// Fills the bytes from kRecordOffset to the end of a stored header block with a version 2 record:
// random holds kHeaderRandomSize random bytes, hash has taken the whole content under passphrase.
void WriteRecord(unsigned char* header, const unsigned char* random, const char* passphrase,
                 size_t length, uint64_t contentLength, const ContentHash& hash);

// What the stored header block carries; the copies that check go to *record.
RecordState ReadRecord(const unsigned char* header, HeaderRecord* record);

// How passphrase (length 1 to 127 bytes) fits the copies that check; the same characters repeated
// scramble every byte alike and fit as well. Some only where the copies disagree.
enum class Fit { Every, None, Some };
Fit PassphraseFits(const HeaderRecord& record, const char* passphrase, size_t length);

// Ok, or why the record refuses passphrase: a record that was written but cannot be read, or
// copies that disagree, mean a damaged file (Damaged); a valid one that the passphrase fits
// nowhere, a wrong passphrase (HeaderMismatch).
JobStatus CheckRecord(RecordState state, const HeaderRecord& record, const char* passphrase,
                      size_t length);

// True when every copy that checks records content of this length that hash has taken.
bool ContentFits(const HeaderRecord& record, uint64_t contentLength, const ContentHash& hash);

// True when some passphrase character that the content's draws use is never used by the 26
// draws the signature check sees, for passphrases of this length (1 to 127 bytes).
bool SignatureMissesContentCharacters(size_t length);

}  // namespace karvel
