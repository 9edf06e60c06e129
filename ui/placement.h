// The main window's rectangle, kept in karvel.ini between runs, in pixels of
// a 96-DPI screen whatever the monitor's DPI.
//
// karvel.ini lives beside karvel.exe when one is already there and can be
// written (portable use), else in the user's local application data folder
// under "karvel". Until that file exists, the one an older version left in
// the Windows directory is read.
#pragma once

#include <windows.h>

#include <string>

namespace karvel {

// The file the placement is written to.
std::wstring SettingsFilePath();

// Moves the window to the saved rectangle, brought onto a monitor where it would not show.
void RestorePlacement(HWND window);
// Saves the window's rectangle, its restored one when it is minimized; a failed write is ignored.
void SavePlacement(HWND window);

// The window's DPI: its monitor's, or the system's where Windows predates per-monitor DPI.
UINT WindowDpi(HWND window);

}  // namespace karvel
