// Messages owned by the main window, and the box the keyboard goes to after each.
#pragma once

#include <windows.h>

#include "engine/encoding_job.h"

namespace karvel {

// The box a refusal with status is about: the user corrects it there.
int BoxFor(JobStatus status);

// A message box owned by the window; afterwards the keyboard is in box boxId, its text selected.
void ShowMessage(HWND window, const char* text, const char* caption, int boxId);

// Gives the keyboard to a box of the window with its whole text selected.
void FocusBox(HWND window, int boxId);

}  // namespace karvel
