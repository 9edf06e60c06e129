// The About box, modal over the main window.
#pragma once

#include <windows.h>

namespace karvel {

// Shows the box until it is closed; returns its result: 1 for OK.
INT_PTR ShowAboutBox(HINSTANCE instance, HWND owner);

INT_PTR CALLBACK AboutDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace karvel
