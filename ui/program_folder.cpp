#include "ui/program_folder.h"

#include <windows.h>

#include "engine/path_limits.h"

namespace karvel {

std::wstring ProgramFolderFile(const wchar_t* name) {
  std::wstring path(kMaxPathUnits + 1, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return std::wstring();
  path.resize(length);
  size_t folderEnd = path.rfind(L'\\');
  if (folderEnd == std::wstring::npos) return std::wstring();
  path.resize(folderEnd + 1);
  return path + name;
}

bool IsFile(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace karvel
