#include <windows.h>

#include "ui/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  HWND mainWindow = karvel::StartMainWindow(instance);
  if (mainWindow == nullptr) return -1;
  ShowWindow(mainWindow, showState);
  UpdateWindow(mainWindow);
  return karvel::RunMessageLoop(mainWindow);
}
