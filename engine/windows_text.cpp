#include "engine/windows_text.h"

#include <windows.h>

#include <cwchar>

#include "engine/wipe.h"

namespace karvel {

namespace {

constexpr wchar_t kLongPrefix[] = L"\\\\?\\";
constexpr wchar_t kLongSharePrefix[] = L"\\\\?\\UNC";  // takes the place of the share's first '\'
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";

bool StartsWith(const std::wstring& path, const wchar_t* prefix) {
  return path.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The last part ends in a dot or a space, and is more than "." or "..".
bool EndingWouldBeDropped(const std::wstring& path) {
  size_t start = path.find_last_of(L"\\/:") + 1;  // npos + 1 is 0
  std::wstring last = path.substr(start);
  return !last.empty() && (last.back() == L'.' || last.back() == L' ') && last != L"." &&
         last != L"..";
}

bool FullPath(const std::wstring& given, std::wstring* full) {
  DWORD size = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) return false;
  full->assign(size, L'\0');
  DWORD length = GetFullPathNameW(given.c_str(), size, &(*full)[0], nullptr);
  if (length == 0 || length >= size) return false;
  full->resize(length);
  return true;
}

}  // namespace

bool ToWide(const char* path, std::wstring* wide) {
  int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (units <= 1) return false;
  wide->assign(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, &(*wide)[0], units);
  wide->pop_back();
  return true;
}

std::string Narrow(const std::wstring& wide) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return std::string();
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &text[0], bytes, nullptr, nullptr);
  text.pop_back();
  return text;
}

WidePath ToWidePath(const char* path, std::wstring* wide) {
  std::wstring given;
  if (!ToWide(path, &given)) return WidePath::NotText;
  if (given.size() > kMaxPathUnits) return WidePath::TooLong;
  // Already in a form that Windows takes as it is.
  if (StartsWith(given, kLongPrefix) || StartsWith(given, kDevicePrefix)) {
    *wide = given;
    return WidePath::Ok;
  }
  // Made full here, as the short form would be, because the long form is taken literally; the
  // last part is kept apart when that would change it.
  bool keepEnding = EndingWouldBeDropped(given);
  std::wstring full;
  if (keepEnding) {
    size_t split = given.find_last_of(L"\\/:") + 1;
    std::wstring folder = given.substr(0, split);
    if (folder.empty() || folder.back() == L':') folder += L'.';
    if (!FullPath(folder, &full)) return WidePath::NotText;
    if (!IsSeparator(full.back())) full += L'\\';
    full += given.substr(split);
  } else if (!FullPath(given, &full)) {
    return WidePath::NotText;
  }
  return WholeForm(full, keepEnding, wide);
}

WidePath WholeForm(const std::wstring& full, bool literal, std::wstring* wide) {
  if (StartsWith(full, kLongPrefix) || StartsWith(full, kDevicePrefix) ||
      (!literal && full.size() < MAX_PATH)) {
    *wide = full;
  } else if (full.compare(0, 2, L"\\\\") == 0) {
    *wide = kLongSharePrefix + full.substr(1);
  } else {
    *wide = kLongPrefix + full;
  }
  return wide->size() > kMaxPathUnits ? WidePath::TooLong : WidePath::Ok;
}

// A code page without an exact form for a character would put its default character ("?") or a
// look-alike in its place, and different passphrases would then open each other's files; some
// tables also map several characters to one byte, which only the way back shows. The flags for
// that are invalid for UTF-8, where every character has a form except a lone surrogate.
JobStatus PassphraseBytes(const wchar_t* text, unsigned codePage,
                          char (&bytes)[kPassphraseFieldSize]) {
  BOOL usedDefault = FALSE;
  bool utf8 = codePage == CP_UTF8;
  int written = utf8 ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, bytes,
                                           kPassphraseFieldSize, nullptr, nullptr)
                     : WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, -1, bytes,
                                           kPassphraseFieldSize, nullptr, &usedDefault);
  if (written == 0) {
    DWORD error = GetLastError();
    Wipe(bytes, sizeof bytes);
    return error == ERROR_INSUFFICIENT_BUFFER ? JobStatus::PassphraseTooLong
                                              : JobStatus::PassphraseUnusable;
  }
  // Every byte stands for at least one unit of text, so the way back fits as many units.
  wchar_t back[kPassphraseFieldSize];
  bool exact = !usedDefault &&
               MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, -1, back,
                                   kPassphraseFieldSize) != 0 &&
               std::wcscmp(back, text) == 0;
  Wipe(back, sizeof back);
  if (exact) return JobStatus::Ok;
  Wipe(bytes, sizeof bytes);
  return JobStatus::PassphraseUnusable;
}

}  // namespace karvel
