#include "ui/placement.h"

#include <shlobj.h>
#include <stdlib.h>

#include <algorithm>
#include <cwchar>

#include "ui/window_text.h"

namespace karvel {

namespace {

constexpr wchar_t kSettingsName[] = L"karvel.ini";
constexpr wchar_t kSettingsFolder[] = L"karvel";
constexpr wchar_t kSection[] = L"Settings";
constexpr RECT kDefaultRect = {0, 0, 350, 230};
constexpr int kUnscaledDpi = 96;
// Where Windows parks a minimized window; earlier versions saved that icon's rectangle.
constexpr LONG kMinimizedPosition = -32000;

struct SettingsFile {
  wchar_t path[kPathUnitsSize];    // where the placement is written
  wchar_t folder[kPathUnitsSize];  // created before the first write; empty for the portable file
  const wchar_t* readFrom;         // path, or the old file in the Windows directory
} settings;

bool CanWrite(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// folder + '\' + name into path; false when it does not fit.
bool Join(wchar_t (&path)[kPathUnitsSize], const wchar_t* folder, const wchar_t* name) {
  int written = _snwprintf(path, kPathUnitsSize, L"%ls\\%ls", folder, name);
  return written > 0 && static_cast<size_t>(written) < kPathUnitsSize;
}

bool LocatePerUserFile() {
  wchar_t localData[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                       SHGFP_TYPE_CURRENT, localData) != S_OK) {
    return false;
  }
  return Join(settings.folder, localData, kSettingsFolder) &&
         Join(settings.path, settings.folder, kSettingsName);
}

int ReadSetting(const wchar_t* key, int fallback) {
  // Negative edges come back as the unsigned reading of the signed value.
  return static_cast<int>(GetPrivateProfileIntW(kSection, key, fallback, settings.readFrom));
}

void WriteSetting(const wchar_t* key, int value) {
  wchar_t text[12];  // "-2147483648" and the terminator
  _itow(value, text, 10);
  WritePrivateProfileStringW(kSection, key, text, settings.path);
}

RECT Scaled(const RECT& rect, int to, int from) {
  return {MulDiv(rect.left, to, from), MulDiv(rect.top, to, from), MulDiv(rect.right, to, from),
          MulDiv(rect.bottom, to, from)};
}

// A rectangle that shows on some monitor stays exactly as it is. One without
// a positive size, or off every monitor (a monitor detached since, the
// minimized position of another program's making), is put on the nearest
// monitor's work area, at its own size when that fits there.
RECT OntoScreen(const RECT& rect, UINT dpi) {
  LONGLONG width = static_cast<LONGLONG>(rect.right) - rect.left;
  LONGLONG height = static_cast<LONGLONG>(rect.bottom) - rect.top;
  bool sized = width > 0 && height > 0;
  if (sized && MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) != nullptr) return rect;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  if (!sized || width > work.right - work.left || height > work.bottom - work.top) {
    RECT fallback = Scaled(kDefaultRect, dpi, kUnscaledDpi);
    width = fallback.right - fallback.left;
    height = fallback.bottom - fallback.top;
  }
  LONG left = static_cast<LONG>(std::clamp<LONGLONG>(rect.left, work.left, work.right - width));
  LONG top = static_cast<LONG>(std::clamp<LONGLONG>(rect.top, work.top, work.bottom - height));
  return {left, top, left + static_cast<LONG>(width), top + static_cast<LONG>(height)};
}

// A minimized window's own rectangle is an icon's, far off or a sliver; the
// placement's normal rectangle is in workspace coordinates, which leave out a
// taskbar at the monitor's left or top.
RECT RestoredRect(HWND window) {
  WINDOWPLACEMENT placement = {};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  RECT rect = placement.rcNormalPosition;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor);
  OffsetRect(&rect, monitor.rcWork.left - monitor.rcMonitor.left,
             monitor.rcWork.top - monitor.rcMonitor.top);
  return rect;
}

}  // namespace

void LocateSettingsFile() {
  settings = {};
  if (ProgramFolderFile(kSettingsName, settings.path, kPathUnitsSize) && IsFile(settings.path) &&
      CanWrite(settings.path)) {
    settings.readFrom = settings.path;
    return;
  }
  if (!LocatePerUserFile()) {
    settings.folder[0] = L'\0';
    std::wcscpy(settings.path, kSettingsName);  // the Windows directory, as before
  }
  settings.readFrom = IsFile(settings.path) ? settings.path : kSettingsName;
}

const wchar_t* SettingsFilePath() { return settings.path; }

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFunction = UINT(WINAPI*)(HWND);
  static auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpiForWindow != nullptr) return getDpiForWindow(window);
  HDC screen = GetDC(nullptr);
  int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return static_cast<UINT>(dpi);
}

void RestorePlacement(HWND window) {
  RECT saved = {
      ReadSetting(L"WinLeft", kDefaultRect.left), ReadSetting(L"WinTop", kDefaultRect.top),
      ReadSetting(L"WinRight", kDefaultRect.right), ReadSetting(L"WinBottom", kDefaultRect.bottom)};
  // An icon's size is not one the user chose, and the window cannot be resized back.
  if (saved.left == kMinimizedPosition && saved.top == kMinimizedPosition) saved = kDefaultRect;
  UINT dpi = WindowDpi(window);
  RECT rect = OntoScreen(Scaled(saved, dpi, kUnscaledDpi), dpi);
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void SavePlacement(HWND window) {
  RECT rect;
  if (IsIconic(window)) {
    rect = RestoredRect(window);
  } else {
    GetWindowRect(window, &rect);
  }
  rect = Scaled(rect, kUnscaledDpi, WindowDpi(window));
  if (settings.folder[0] != L'\0') CreateDirectoryW(settings.folder, nullptr);
  WriteSetting(L"WinLeft", rect.left);
  WriteSetting(L"WinTop", rect.top);
  WriteSetting(L"WinRight", rect.right);
  WriteSetting(L"WinBottom", rect.bottom);
}

}  // namespace karvel
