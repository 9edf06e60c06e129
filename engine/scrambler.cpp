#include "engine/scrambler.h"

#include <cstring>

#include "engine/avx2.h"
#include "engine/wipe.h"

namespace karvel {

namespace {

// Whole blocks of a fixed size give the compiler a trip count it can turn
// into vector operations without a scalar remainder inside each block.
constexpr size_t kBlockSize = 64;

// The key never overlaps the buffer; saying so spares the compiler a
// runtime overlap check before the wide loop.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void
CombineBytes(unsigned char* __restrict buffer, const unsigned char* __restrict key, size_t size) {
  size_t done = 0;
  for (; size - done >= kBlockSize; done += kBlockSize) {
    for (size_t i = 0; i < kBlockSize; ++i) buffer[done + i] ^= key[done + i];
  }
  for (; done < size; ++done) buffer[done] ^= key[done];
}

#if defined(KARVEL_AVX2)
// The same loop, inlined where the compiler may use AVX2's wider registers.
__attribute__((target("avx2"))) void CombineBytesAvx2(unsigned char* __restrict buffer,
                                                      const unsigned char* __restrict key,
                                                      size_t size) {
  CombineBytes(buffer, key, size);
}
#endif

}  // namespace

#if defined(KARVEL_AVX2)
// Here, not with the AVX2 builds, whose every instruction may be one the processor lacks.
bool Avx2Usable() {
  static const bool usable = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return usable;
}
#endif

namespace {

using Combine = void (*)(unsigned char* buffer, const unsigned char* key, size_t size);

// The build of the loop for the widest registers the processor has.
Combine WidestCombine() {
#if defined(KARVEL_AVX2)
  if (Avx2Usable()) return CombineBytesAvx2;
#endif
  return CombineBytes;
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
    static const Combine combine = WidestCombine();
    combine(buffer, cycle_ + position_, run);
    buffer += run;
    size -= run;
    position_ = (position_ + run) % kKeyCycleLength;
  }
}

}  // namespace karvel
