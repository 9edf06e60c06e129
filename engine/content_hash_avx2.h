// The content hash's update for processors with AVX2 (engine/content_hash_avx2.cpp), built where
// the compiler can target it.
#pragma once

#include <cstddef>

namespace karvel {

#if defined(KARVEL_HASH_AVX2)
// XXH3_64bits_update on state, an XXH3_state_t; only where the processor runs AVX2.
void HashUpdateAvx2(void* state, const unsigned char* bytes, size_t size);
#endif

}  // namespace karvel
