#include "ui/placement.h"

#include <shlobj.h>
#include <stdlib.h>

#include <algorithm>
#include <cwchar>
#include <string>

#include "ui/program_folder.h"

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
  std::wstring path;      // where the placement is written
  std::wstring folder;    // created before the first write; empty for the portable file
  std::wstring readFrom;  // path, or the old file in the Windows directory
};

bool CanWrite(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Found again each time, so that the program keeps no state of its own for it.
SettingsFile LocateSettingsFile() {
  SettingsFile settings;
  settings.path = ProgramFolderFile(kSettingsName);
  if (!settings.path.empty() && IsFile(settings.path.c_str()) && CanWrite(settings.path.c_str())) {
    settings.readFrom = settings.path;
    return settings;
  }
  wchar_t localData[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr,
                       SHGFP_TYPE_CURRENT, localData) == S_OK) {
    settings.folder = std::wstring(localData) + L"\\" + kSettingsFolder;
    settings.path = settings.folder + L"\\" + kSettingsName;
  } else {
    settings.folder.clear();
    settings.path = kSettingsName;  // the Windows directory, as before
  }
  settings.readFrom = IsFile(settings.path.c_str()) ? settings.path : kSettingsName;
  return settings;
}

int ReadSetting(const SettingsFile& settings, const wchar_t* key, int fallback) {
  // Negative edges come back as the unsigned reading of the signed value.
  return static_cast<int>(
      GetPrivateProfileIntW(kSection, key, fallback, settings.readFrom.c_str()));
}

void WriteSetting(const SettingsFile& settings, const wchar_t* key, int value) {
  wchar_t text[12];  // "-2147483648" and the terminator
  _itow(value, text, 10);
  WritePrivateProfileStringW(kSection, key, text, settings.path.c_str());
}

using AdjustForDpiFunction = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

SIZE FrameAt(HWND window, UINT dpi) {
  static auto adjustForDpi = reinterpret_cast<AdjustForDpiFunction>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  RECT rect = {0, 0, 0, 0};
  auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
  auto exStyle = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  BOOL menu = GetMenu(window) != nullptr;
  if (adjustForDpi != nullptr) {
    adjustForDpi(&rect, style, menu, exStyle, dpi);
  } else {
    AdjustWindowRectEx(&rect, style, menu, exStyle);  // the system's DPI only
  }
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// Measured as the dialog manager measures its font: the 52 letters' mean width, rounded up to
// even halves, and the font's height.
SIZE FontUnitsAt(HWND window, UINT dpi) {
  LOGFONTW font = {};
  auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (dialogFont == nullptr || GetObjectW(dialogFont, sizeof font, &font) == 0) return {1, 1};
  font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(WindowDpi(window)));
  font.lfWidth = 0;
  static constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  HDC screen = GetDC(nullptr);
  HFONT scaled = CreateFontIndirectW(&font);
  HGDIOBJ previous = SelectObject(screen, scaled);
  TEXTMETRICW metrics = {};
  SIZE letters = {};
  bool measured = GetTextMetricsW(screen, &metrics) &&
                  GetTextExtentPoint32W(screen, kLetters, 52, &letters) && metrics.tmHeight > 0;
  SelectObject(screen, previous);
  DeleteObject(scaled);
  ReleaseDC(nullptr, screen);
  if (!measured) return {1, 1};
  return {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
}

// How a rectangle shows at one DPI. The saved one is in pixels of a 96-DPI screen. The position
// scales with the DPI. The size keeps the frame (borders, caption, menu bar) as the system draws
// it at each DPI and scales the rest as the dialog manager lays out the template: by the dialog
// font's average character size, which grows less evenly than the DPI. So the window fits its
// content at every DPI, and at 96 DPI it is the saved size exactly.
struct Metrics {
  UINT dpi;
  SIZE frame;  // what the frame adds to the width and the height
  SIZE units;  // the dialog font's average character width and height
};

Metrics MetricsAt(HWND window, UINT dpi) {
  return {dpi, FrameAt(window, dpi), FontUnitsAt(window, dpi)};
}

LONG RescaledLength(LONG length, LONG frameFrom, LONG frameTo, LONG unitFrom, LONG unitTo) {
  return frameTo + MulDiv(length - frameFrom, unitTo, unitFrom);
}

RECT Rescaled(const RECT& rect, const Metrics& from, const Metrics& to) {
  LONG left = MulDiv(rect.left, to.dpi, from.dpi);
  LONG top = MulDiv(rect.top, to.dpi, from.dpi);
  return {left, top,
          left + RescaledLength(rect.right - rect.left, from.frame.cx, to.frame.cx, from.units.cx,
                                to.units.cx),
          top + RescaledLength(rect.bottom - rect.top, from.frame.cy, to.frame.cy, from.units.cy,
                               to.units.cy)};
}

// value moved into [low, high]; low when the window is larger than the work area and high < low.
LONGLONG Within(LONGLONG value, LONGLONG low, LONGLONG high) {
  return std::max(low, std::min(value, high));
}

// A rectangle that shows on some monitor stays exactly as it is. One without
// a positive size, or off every monitor (a monitor detached since, the
// minimized position of another program's making), is put on the nearest
// monitor's work area, at its own size when that fits there, else at the default size.
RECT OntoScreen(const RECT& rect, const RECT& defaultRect) {
  LONGLONG width = static_cast<LONGLONG>(rect.right) - rect.left;
  LONGLONG height = static_cast<LONGLONG>(rect.bottom) - rect.top;
  bool sized = width > 0 && height > 0;
  if (sized && MonitorFromRect(&rect, MONITOR_DEFAULTTONULL) != nullptr) return rect;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromRect(&rect, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& work = monitor.rcWork;
  if (!sized || width > work.right - work.left || height > work.bottom - work.top) {
    width = defaultRect.right - defaultRect.left;
    height = defaultRect.bottom - defaultRect.top;
  }
  LONG left = static_cast<LONG>(Within(rect.left, work.left, work.right - width));
  LONG top = static_cast<LONG>(Within(rect.top, work.top, work.bottom - height));
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

std::wstring SettingsFilePath() { return LocateSettingsFile().path; }

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
  const SettingsFile settings = LocateSettingsFile();
  RECT saved = {ReadSetting(settings, L"WinLeft", kDefaultRect.left),
                ReadSetting(settings, L"WinTop", kDefaultRect.top),
                ReadSetting(settings, L"WinRight", kDefaultRect.right),
                ReadSetting(settings, L"WinBottom", kDefaultRect.bottom)};
  // An icon's size is not one the user chose, and the window cannot be resized back.
  if (saved.left == kMinimizedPosition && saved.top == kMinimizedPosition) saved = kDefaultRect;
  const Metrics at96 = MetricsAt(window, kUnscaledDpi), here = MetricsAt(window, WindowDpi(window));
  RECT rect = OntoScreen(Rescaled(saved, at96, here), Rescaled(kDefaultRect, at96, here));
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

void SavePlacement(HWND window) {
  RECT rect;
  if (IsIconic(window)) {
    rect = RestoredRect(window);
  } else {
    GetWindowRect(window, &rect);
  }
  rect = Rescaled(rect, MetricsAt(window, WindowDpi(window)), MetricsAt(window, kUnscaledDpi));
  const SettingsFile settings = LocateSettingsFile();
  if (!settings.folder.empty()) CreateDirectoryW(settings.folder.c_str(), nullptr);
  WriteSetting(settings, L"WinLeft", rect.left);
  WriteSetting(settings, L"WinTop", rect.top);
  WriteSetting(settings, L"WinRight", rect.right);
  WriteSetting(settings, L"WinBottom", rect.bottom);
}

}  // namespace karvel
