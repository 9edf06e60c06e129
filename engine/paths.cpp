#include "engine/paths.h"

#include <cstring>

#include "engine/path_limits.h"

namespace karvel {

namespace {

constexpr int kMaxFreeNameNumber = 99;
constexpr char kShortFreeName[] = "karvel";

}  // namespace

size_t FolderLength(const char* path) {
  size_t folder = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (std::strchr(kPathSeparators, path[i]) != nullptr) folder = i + 1;
  }
  return folder;
}

CreateResult AtFreeName(FileServices& files, const SystemPath& path, const char* suffix,
                        SystemPath* name,
                        const std::function<CreateResult(const SystemPath&)>& attempt) {
  auto numbered = [&](bool replaceName) {
    CreateResult result = CreateResult::NameTaken;
    for (int number = 0; number <= kMaxFreeNameNumber && result == CreateResult::NameTaken;
         ++number) {
      std::string tail = replaceName ? kShortFreeName : "";
      if (number > 0) tail += "." + std::to_string(number);
      tail += suffix;
      bool fits = files.Beside(path, tail.c_str(), replaceName, name) &&
                  name->text.size() <= kMaxPathLength;
      result = fits ? attempt(*name) : CreateResult::NameTooLong;
    }
    return result;
  };
  CreateResult result = numbered(false);
  if (result == CreateResult::NameTooLong) result = numbered(true);
  return result;
}

}  // namespace karvel
