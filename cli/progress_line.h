// The line a terminal shows while a file is transformed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace karvel::cli {

// Every line is padded to this many columns, so that each covers the one before.
constexpr size_t kProgressColumns = 79;

// The file's name, a bar, the share done, the bytes done of all, the speed and the time left.
std::string ProgressLine(const std::string& name, uint64_t done, uint64_t total, double seconds);

}  // namespace karvel::cli
