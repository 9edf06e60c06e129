// The progress of a long transform: the file's name, a bar by bytes and a
// Cancel button, modal over the main window, with the same progress on the
// main window's taskbar button where the shell offers it.
#pragma once

#include <windows.h>

#include "engine/encoding_job.h"

namespace karvel {

// Shows the dialog for the file at path until EndProgressDialog; Cancel asks the transform to stop.
// *shown holds the dialog while it is on the screen, null before and after.
void ShowProgressDialog(HINSTANCE instance, HWND owner, const char* path, JobProgress& progress,
                        HWND* shown);

// Ends the dialog; ShowProgressDialog returns once it is gone.
void EndProgressDialog(HWND dialog);

INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace karvel
