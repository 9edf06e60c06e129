// XXH3's update built a second time, for AVX2, and chosen at run time where the processor has it:
// the one executable runs on every x86-64 processor and hashes at the speed of the one it runs on.
// Every build of XXH3 keeps the same state and gives the same digest. Nothing else belongs in
// this file: all of it may use instructions that other processors lack.
#include "engine/avx2.h"

#define XXH_INLINE_ALL
#define XXH_VECTOR XXH_AVX2
#include <xxhash.h>

namespace karvel {

void HashUpdateAvx2(void* state, const unsigned char* bytes, size_t size) {
  XXH3_64bits_update(static_cast<XXH3_state_t*>(state), bytes, size);
}

}  // namespace karvel
