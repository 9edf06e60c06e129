// The loops that touch every byte of the content, the hash and the scrambling, built a second time
// for AVX2 and chosen at run time: one executable runs on every x86-64 processor, at the speed of
// the one it runs on. Both builds give the same bytes and the same digests.
#pragma once

#include <cstddef>

namespace karvel {

#if defined(KARVEL_AVX2)
// True when the processor runs AVX2 and the system saves its registers; asked once.
bool Avx2Usable();
// XXH3_64bits_update on state, an XXH3_state_t (engine/content_hash_avx2.cpp).
void HashUpdateAvx2(void* state, const unsigned char* bytes, size_t size);
#endif

}  // namespace karvel
