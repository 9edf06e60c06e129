// The passphrase typed a second time before Encode writes anything: a slip
// in the first typing would otherwise lock the file under a passphrase the
// user does not know.
#pragma once

#include <windows.h>

namespace karvel {

enum class Confirmation : INT_PTR { Cancelled = 0, Same = 1, Different = 2 };

// Asks, modal over owner, for the passphrase again; compares its code-page bytes with passphrase.
Confirmation ConfirmPassphrase(HINSTANCE instance, HWND owner, const char* passphrase);

INT_PTR CALLBACK ConfirmDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace karvel
