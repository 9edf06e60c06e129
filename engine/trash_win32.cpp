#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>

#include "engine/trash.h"
#include "engine/windows_text.h"

namespace karvel {

// The shell's delete with undo puts the file in the Recycle Bin. It takes classic full paths
// alone (no \\?\ form), so a longer path, or one whose last part ends in a dot or a space, which
// making it full would change, is left to the caller.
bool MoveToTrash(const char* path) {
  std::wstring wide;
  if (!ToWide(path, &wide)) return false;
  wchar_t last = wide.back();
  if (last == L'.' || last == L' ' || wide.compare(0, 4, L"\\\\?\\") == 0) return false;
  // Two terminators end the shell's list of names.
  wchar_t full[MAX_PATH + 2] = {};
  DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH, full, nullptr);
  if (length == 0 || length >= MAX_PATH) return false;
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
