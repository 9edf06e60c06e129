#include "ui/about_box.h"

#include "res/resource.h"

namespace karvel {

namespace {

// Escape comes as IDCANCEL and, like every command but OK, leaves the box open.
void OnAboutCommand(HWND window, WORD command) {
  if (command == IDOK) EndDialog(window, IDOK);
}

// The default handling of a close request would destroy the box without
// ending its modal loop, leaving the main window disabled for good.
void OnAboutClose(HWND window) { EndDialog(window, IDCANCEL); }

}  // namespace

INT_PTR ShowAboutBox(HINSTANCE instance, HWND owner) {
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUT), owner, AboutDlgProc, 0);
}

// What it does not handle it leaves to the dialog manager by returning FALSE.
INT_PTR CALLBACK AboutDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;  // the keyboard goes to OK
    case WM_COMMAND:
      OnAboutCommand(window, LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      OnAboutClose(window);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace karvel
