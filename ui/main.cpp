#include <windows.h>

#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  // A portable program often runs from a Downloads folder, where a planted
  // DLL named like a system one would otherwise be loaded first.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  HWND mainWindow = karvel::StartMainWindow(instance);
  if (mainWindow == nullptr) return -1;
  ShowWindow(mainWindow, showState);
  UpdateWindow(mainWindow);
  return karvel::RunMessageLoop(mainWindow);
}
