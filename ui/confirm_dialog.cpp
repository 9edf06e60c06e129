#include "ui/confirm_dialog.h"

#include <cstring>

#include "engine/wipe.h"
#include "res/resource.h"
#include "ui/job_boxes.h"

namespace karvel {

namespace {

// Compared as the bytes the transform would use.
Confirmation Compare(HWND dialog, HWND box) {
  const auto* expected = reinterpret_cast<const char*>(GetWindowLongPtrW(dialog, DWLP_USER));
  char bytes[kPassphraseFieldSize];
  bool same = ReadPassphraseBox(box, bytes) == JobStatus::Ok && std::strcmp(bytes, expected) == 0;
  Wipe(bytes, sizeof bytes);
  return same ? Confirmation::Same : Confirmation::Different;
}

void OnConfirmCommand(HWND dialog, WORD command) {
  if (command != IDOK && command != IDCANCEL) return;
  HWND box = GetDlgItem(dialog, IDC_CONFIRM_PASSPHRASE);
  Confirmation answer = command == IDOK ? Compare(dialog, box) : Confirmation::Cancelled;
  ErasePassphraseBox(box);
  EndDialog(dialog, static_cast<INT_PTR>(answer));
}

}  // namespace

Confirmation ConfirmPassphrase(HINSTANCE instance, HWND owner, const char* passphrase) {
  INT_PTR answer = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CONFIRM), owner, ConfirmDlgProc,
                                   reinterpret_cast<LPARAM>(passphrase));
  bool known = answer == static_cast<INT_PTR>(Confirmation::Same) ||
               answer == static_cast<INT_PTR>(Confirmation::Different);
  return known ? static_cast<Confirmation>(answer) : Confirmation::Cancelled;
}

// Escape, the title-bar close button and Alt+F4 come as IDCANCEL.
INT_PTR CALLBACK ConfirmDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);  // the passphrase to compare with
      return TRUE;                                   // the keyboard goes to the box
    case WM_COMMAND:
      OnConfirmCommand(dialog, LOWORD(wParam));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace karvel
