// The encoded layout built byte by byte from the rules, one Seed and one Next
// per byte, as a yardstick for the engine's bulk scrambling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace karvel {

using Bytes = std::vector<unsigned char>;

// Seeds the keystream and combines each byte of data with passphrase[Next() % length], in order.
void ReferenceScramble(const std::string& passphrase, int32_t seed, Bytes& data);

// The whole encoded file for plain: the scrambled header block, then the scrambled content.
// The header's free bytes are zeros before scrambling.
Bytes ReferenceEncode(const std::string& passphrase, const Bytes& plain);

// The plain content of encoded, reading only what every reader of the format reads: the
// signature and its terminator, then the content. False when the signature does not match.
bool ReferenceDecode(const std::string& passphrase, const Bytes& encoded, Bytes* plain);

// Header bytes 26 to 127, which the format leaves to the writer: the engine puts its record
// and random bytes there, the reference encoder zeros.
constexpr size_t kFreeHeaderBegin = 26;
constexpr size_t kFreeHeaderEnd = 128;

// True when actual is expected, or both are encoded files that differ in the free header bytes
// alone: what the engine's output must be against the reference encoder's.
bool SameEncoding(const Bytes& actual, const Bytes& expected);
// SameEncoding for every file of two folder snapshots, which must hold the same names.
bool SameFiles(const std::map<std::string, Bytes>& actual,
               const std::map<std::string, Bytes>& expected);

}  // namespace karvel
