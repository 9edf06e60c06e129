#include "engine/scrambler.h"

#include <cstring>

#include "engine/wipe.h"

namespace karvel {

namespace {

// Whole blocks of a fixed size give the compiler a trip count it can turn
// into vector operations without a scalar remainder inside each block.
constexpr size_t kBlockSize = 64;

// The key never overlaps the buffer; saying so spares the compiler a
// runtime overlap check before the wide loop.
void CombineBytes(unsigned char* __restrict buffer, const unsigned char* __restrict key,
                  size_t size) {
  size_t done = 0;
  for (; size - done >= kBlockSize; done += kBlockSize) {
    for (size_t i = 0; i < kBlockSize; ++i) buffer[done + i] ^= key[done + i];
  }
  for (; done < size; ++done) buffer[done] ^= key[done];
}

}  // namespace

Scrambler::Scrambler(const char* passphrase, size_t length, int32_t seed) : seed_(seed) {
  Seed(seed);
  for (unsigned char& key : cycle_) {
    key = static_cast<unsigned char>(passphrase[Next() % static_cast<int32_t>(length)]);
  }
}

Scrambler::~Scrambler() {
  Wipe(cycle_, sizeof cycle_);
  // A whole cycle of draws brings the state back to the seed.
  Seed(seed_);
  for (size_t draw = 0; draw < position_; ++draw) Next();
}

void Scrambler::Apply(unsigned char* buffer, size_t size) {
  while (size > 0) {
    size_t run = kKeyCycleLength - position_;
    if (run > size) run = size;
    CombineBytes(buffer, cycle_ + position_, run);
    buffer += run;
    size -= run;
    position_ = (position_ + run) % kKeyCycleLength;
  }
}

}  // namespace karvel
