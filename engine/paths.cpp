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

CreateResult AtFreeName(const std::string& path, const char* suffix, std::string* name,
                        const std::function<CreateResult(const char*)>& attempt) {
  auto numbered = [&](size_t length, const char* base) {
    CreateResult result = CreateResult::NameTaken;
    for (int number = 0; number <= kMaxFreeNameNumber && result == CreateResult::NameTaken;
         ++number) {
      *name = path.substr(0, length) + base;
      if (number > 0) *name += "." + std::to_string(number);
      *name += suffix;
      result = name->size() > kMaxPathLength ? CreateResult::NameTooLong : attempt(name->c_str());
    }
    return result;
  };
  CreateResult result = numbered(path.size(), "");
  if (result == CreateResult::NameTooLong) {
    result = numbered(FolderLength(path.c_str()), kShortFreeName);
  }
  return result;
}

}  // namespace karvel
