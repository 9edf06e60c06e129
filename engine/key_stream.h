// The keystream: a 15-bit linear congruential generator with one
// process-wide state word. It yields indices into the passphrase; callers
// reduce each draw modulo the passphrase length.
#pragma once

#include <cstdint>

namespace karvel {

constexpr int32_t kKeyStreamMultiplier = 107;
constexpr int32_t kKeyStreamIncrement = 1013;
constexpr int32_t kKeyStreamModulus = 32768;
constexpr int kKeyCycleLength = 16384;  // draws before either seed's sequence repeats

// Sets the state word to value.
void Seed(int32_t value);

// Advances the state word to (state * 107 + 1013) mod 32768 and returns it.
int32_t Next();

}  // namespace karvel
