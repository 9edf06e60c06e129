#include "cli/progress_line.h"

#include <cstdio>

#include "engine/paths.h"

namespace karvel::cli {

namespace {

constexpr size_t kNameColumns = 14;
constexpr size_t kBarColumns = 10;
constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
constexpr size_t kLastUnit = sizeof kUnits / sizeof kUnits[0] - 1;

bool Continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The last part of a path, cut to kNameColumns characters; one column per character is near
// enough for a line that is redrawn anyway.
std::string ShortName(const std::string& path) {
  std::string name = path.substr(FolderLength(path.c_str()));
  size_t characters = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (Continuation(name[i])) continue;
    if (++characters == kNameColumns) {
      size_t end = i + 1;
      while (end < name.size() && Continuation(name[end])) ++end;
      if (end < name.size()) return name.substr(0, i) + "~";
    }
  }
  return name + std::string(kNameColumns - characters, ' ');
}

size_t UnitFor(uint64_t bytes) {
  size_t unit = 0;
  for (double value = static_cast<double>(bytes); value >= 1024 && unit < kLastUnit;
       value /= 1024) {
    ++unit;
  }
  return unit;
}

double InUnit(uint64_t bytes, size_t unit) {
  double value = static_cast<double>(bytes);
  for (size_t i = 0; i < unit; ++i) value /= 1024;
  return value;
}

std::string Duration(double seconds) {
  auto whole = static_cast<unsigned long>(seconds + 0.5);
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lu:%02lu", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace

std::string ProgressLine(const std::string& name, uint64_t done, uint64_t total, double seconds) {
  if (done > total) done = total;
  double share = total == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  auto filled = static_cast<size_t>(share * kBarColumns);
  std::string bar = std::string(filled, '#') + std::string(kBarColumns - filled, '.');
  size_t unit = UnitFor(total);
  double speed = seconds > 0 ? static_cast<double>(done) / seconds : 0;
  size_t speedUnit = UnitFor(static_cast<uint64_t>(speed));
  std::string left = speed > 0 ? Duration(static_cast<double>(total - done) / speed) : "-:--";
  char text[160];
  std::snprintf(text, sizeof text, "%s [%s] %3d%% %.2f/%.2f %s %.1f %s/s %s left",
                ShortName(name).c_str(), bar.c_str(), static_cast<int>(share * 100),
                InUnit(done, unit), InUnit(total, unit), kUnits[unit],
                InUnit(static_cast<uint64_t>(speed), speedUnit), kUnits[speedUnit], left.c_str());
  std::string line = text;
  size_t columns = 0;
  for (char byte : line) columns += Continuation(byte) ? 0 : 1;
  if (columns < kProgressColumns) line.append(kProgressColumns - columns, ' ');
  return line;
}

}  // namespace karvel::cli
