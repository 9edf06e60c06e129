#include "engine/key_stream.h"

namespace karvel {

namespace {
int32_t keyStreamState = 0;
}

void Seed(int32_t value) { keyStreamState = value; }

int32_t Next() {
  keyStreamState =
      (keyStreamState * kKeyStreamMultiplier + kKeyStreamIncrement) % kKeyStreamModulus;
  return keyStreamState;
}

}  // namespace karvel
