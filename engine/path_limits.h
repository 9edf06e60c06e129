// How long a path may be, in the engine's UTF-8 fields and for the system.
#pragma once

#include <cstddef>

namespace karvel {

constexpr size_t kMaxPathUnits = 32767;  // the longest path Windows takes, in UTF-16 units
constexpr size_t kPathFieldSize =
    3 * kMaxPathUnits + 1;  // UTF-8 takes at most 3 bytes per UTF-16 unit
constexpr size_t kMaxPathLength = kPathFieldSize - 1;  // bytes of UTF-8

}  // namespace karvel
