// Clearing secrets from memory once they are no longer needed.
#pragma once

#include <cstddef>

namespace karvel {

// Overwrites size bytes at data with zeros in a way the compiler cannot drop.
void Wipe(void* data, size_t size);

}  // namespace karvel
