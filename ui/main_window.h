// The main window: a modeless dialog of the program's own window class.
#pragma once

#include <windows.h>

namespace karvel {

// Registers the window class and creates the main window from its template,
// placement restored; nullptr when either step fails.
HWND StartMainWindow(HINSTANCE instance);

// Runs the message loop until the quit message and returns its code.
int RunMessageLoop(HWND mainWindow);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace karvel
