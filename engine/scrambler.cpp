#include "engine/scrambler.h"

#include <cstring>

namespace karvel {

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
    const unsigned char* key = cycle_ + position_;
    for (size_t i = 0; i < run; ++i) buffer[i] ^= key[i];
    buffer += run;
    size -= run;
    position_ = (position_ + run) % kKeyCycleLength;
  }
}

void Wipe(void* data, size_t size) {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  while (size-- > 0) *bytes++ = 0;
}

}  // namespace karvel
