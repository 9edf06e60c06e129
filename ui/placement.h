// The main window's rectangle, kept in karvel.ini between runs.
#pragma once

#include <windows.h>

namespace karvel {

void RestorePlacement(HWND window);
void SavePlacement(HWND window);

}  // namespace karvel
