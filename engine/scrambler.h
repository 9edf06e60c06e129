// Applies the keystream of one run (the header block or the content) to
// successive buffers, byte for byte as the per-byte draws would, at the cost
// of a copy: the draws repeat every kKeyCycleLength, so the passphrase byte
// of each draw in the cycle is looked up once and then combined in bulk.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/key_stream.h"

namespace karvel {

class Scrambler {
 public:
  // Seeds the keystream with seed and draws one whole cycle; length is 1 to 127.
  Scrambler(const char* passphrase, size_t length, int32_t seed);
  // Wipes the cycle and leaves the state word at the last draw the run used.
  ~Scrambler();

  Scrambler(const Scrambler&) = delete;
  Scrambler& operator=(const Scrambler&) = delete;

  // Combines size bytes with the next size draws of the run.
  void Apply(unsigned char* buffer, size_t size);

 private:
  unsigned char cycle_[kKeyCycleLength];
  size_t position_ = 0;  // draws used so far, modulo the cycle
  int32_t seed_;
};

}  // namespace karvel
