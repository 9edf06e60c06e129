#include "ui/about_box.h"

#include "res/resource.h"

namespace karvel {

namespace {

// Escape comes as IDCANCEL and, like every command but OK, leaves the box open:
// that is on purpose, the box has always ended by OK or its close button only.
void OnAboutCommand(HWND window, WORD command) {
  if (command == IDOK) EndDialog(window, IDOK);
}

// The dialog manager would turn a close request into IDCANCEL, which the box
// ignores, so the close button must end the box itself.
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
