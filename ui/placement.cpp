#include "ui/placement.h"

#include <stdlib.h>

namespace karvel {

namespace {

constexpr char kSettingsFile[] = "karvel.ini";
constexpr char kSection[] = "Settings";

int ReadSetting(const char* key, int fallback) {
  // Negative edges come back as the unsigned reading of the signed value.
  return static_cast<int>(GetPrivateProfileIntA(kSection, key, fallback, kSettingsFile));
}

void WriteSetting(const char* key, int value) {
  char text[12];  // "-2147483648" and the terminator
  _itoa(value, text, 10);
  WritePrivateProfileStringA(kSection, key, text, kSettingsFile);
}

}  // namespace

void RestorePlacement(HWND window) {
  int left = ReadSetting("WinLeft", 0);
  int top = ReadSetting("WinTop", 0);
  int right = ReadSetting("WinRight", 350);
  int bottom = ReadSetting("WinBottom", 230);
  MoveWindow(window, left, top, right - left, bottom - top, TRUE);
}

void SavePlacement(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  WriteSetting("WinLeft", rect.left);
  WriteSetting("WinTop", rect.top);
  WriteSetting("WinRight", rect.right);
  WriteSetting("WinBottom", rect.bottom);
}

}  // namespace karvel
