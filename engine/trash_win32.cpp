#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "engine/trash.h"

namespace karvel {

namespace {

// Some part ends in a dot or a space, or is "." or "..", which the classic form drops or follows.
bool ChangedWhenFull(const std::wstring& path) {
  size_t start = path.compare(0, 2, L"\\\\") == 0 ? 2 : 0;  // a share's leading pair
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    if (end > start && (path[end - 1] == L'.' || path[end - 1] == L' ')) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

// The shell's delete with undo puts the file in the Recycle Bin. It takes classic full paths
// alone, so the \\?\ form, which a name beside a last part ending in a dot or a space takes, is
// undone where the classic form names the same file; a longer path, or one whose parts making it
// full would change, is left to the caller.
bool MoveToTrash(const SystemPath& path) {
  std::wstring classic = path.units;
  if (classic.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    classic.erase(0, 7).insert(0, L"\\");
  } else if (classic.compare(0, 4, L"\\\\?\\") == 0) {
    classic.erase(0, 4);
  }
  if (classic.size() >= MAX_PATH || ChangedWhenFull(classic)) return false;
  // Two terminators end the shell's list of names.
  wchar_t full[MAX_PATH + 2] = {};
  classic.copy(full, classic.size());
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = full;
  // Where the Recycle Bin cannot take the file (too large, no bin on the drive), the shell would
  // destroy it instead, unasked under FOF_NO_UI: the warning lets the user keep it.
  operation.fFlags = FOF_ALLOWUNDO | FOF_NO_UI | FOF_WANTNUKEWARNING;
  return SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted &&
         GetFileAttributesW(full) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace karvel
