#include "engine/windows_path.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace karvel {

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongSharePrefix[] = L"\\\\?\\UNC";  // takes the place of the share's first '\'
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";
constexpr size_t kPrefixLength = 4;

bool HasPrefix(const wchar_t* path, const wchar_t* prefix) {
  return std::wcsncmp(path, prefix, kPrefixLength) == 0;
}

}  // namespace

WidePath ToWidePath(const char* path, wchar_t* wide) {
  wchar_t given[kWidePathSize];
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, given, kWidePathSize) == 0) {
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? WidePath::TooLong : WidePath::NotText;
  }
  // Already in a form that Windows takes as it is.
  if (HasPrefix(given, kLongPrefix) || HasPrefix(given, kDevicePrefix)) {
    std::wcscpy(wide, given);
    return WidePath::Ok;
  }
  // Made full here, as the short form would be, because the long form is taken literally.
  DWORD length = GetFullPathNameW(given, kWidePathSize, wide, nullptr);
  if (length == 0) return WidePath::NotText;
  if (length >= kWidePathSize) return WidePath::TooLong;
  if (length < MAX_PATH) return WidePath::Ok;

  bool share = wide[0] == L'\\' && wide[1] == L'\\';
  const wchar_t* prefix = share ? kLongSharePrefix : kLongPrefix;
  size_t prefixLength = std::wcslen(prefix);
  size_t skipped = share ? 1 : 0;  // the first of the share's two leading backslashes
  size_t rest = length - skipped;
  if (prefixLength + rest >= kWidePathSize) return WidePath::TooLong;
  std::memmove(wide + prefixLength, wide + skipped, (rest + 1) * sizeof(wchar_t));
  std::memcpy(wide, prefix, prefixLength * sizeof(wchar_t));
  return WidePath::Ok;
}

}  // namespace karvel
