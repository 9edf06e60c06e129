#include "ui/about_box.h"

#include "res/resource.h"

namespace karvel {

namespace {

void OnAboutCommand(HWND window, WORD command) {
  if (command == IDOK) EndDialog(window, IDOK);
}

// The default handling of a close request would destroy the box without
// ending its modal loop, leaving the main window disabled for good.
void OnAboutClose(HWND window) { EndDialog(window, IDCANCEL); }

// A dialog procedure's return value only says whether it handled a message;
// the dialog manager answers with DWLP_MSGRESULT. Without it every hit test
// would come back as "nowhere" and the title bar would ignore the mouse.
INT_PTR PassToDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
  return result;
}

}  // namespace

INT_PTR ShowAboutBox(HINSTANCE instance, HWND owner) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDlgProc, 0);
}

INT_PTR CALLBACK AboutDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnAboutCommand(window, LOWORD(wParam));
      return 0;
    case WM_CLOSE:
      OnAboutClose(window);
      return 0;
    default:
      return PassToDefault(window, message, wParam, lParam);
  }
}

}  // namespace karvel
