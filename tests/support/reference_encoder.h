// The encoded layout built byte by byte from the rules, one Seed and one Next
// per byte, as a yardstick for the engine's bulk scrambling.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace karvel {

using Bytes = std::vector<unsigned char>;

// Seeds the keystream and combines each byte of data with passphrase[Next() % length], in order.
void ReferenceScramble(const std::string& passphrase, int32_t seed, Bytes& data);

// The whole encoded file for plain: the scrambled header block, then the scrambled content.
Bytes ReferenceEncode(const std::string& passphrase, const Bytes& plain);

}  // namespace karvel
