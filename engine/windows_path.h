// The form of a UTF-8 path that the Win32 W functions take: UTF-16, made
// full against the current folder, and, once longer than the classic limit
// of 260, in the \\?\ form (\\?\UNC\ for a share) that Windows takes whole.
#pragma once

#include <cstddef>

#include "engine/path_limits.h"

namespace karvel {

constexpr size_t kWidePathSize = kMaxPathUnits + 1;  // UTF-16 units with the terminator

enum class WidePath { Ok, NotText, TooLong };

// Writes the wide form of path into wide (kWidePathSize units); TooLong when it would not fit.
WidePath ToWidePath(const char* path, wchar_t* wide);

}  // namespace karvel
