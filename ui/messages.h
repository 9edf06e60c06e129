// Messages owned by the main window, their texts from the string table, and
// the box the keyboard goes to after each.
#pragma once

#include <windows.h>

#include <string>

#include "engine/encoding_job.h"

namespace karvel {

// The string that says what status means; the engine's StatusText says the same.
UINT StatusTextId(JobStatus status);

// The box a refusal with status is about: the user corrects it there.
int BoxFor(JobStatus status);

// A message box owned by the window; afterwards the keyboard is in box boxId, its text selected.
void ShowMessage(HWND window, UINT textId, UINT captionId, int boxId);

// The outcome of a transform, textId under captionId, and after it where an older file's original
// went, when it went anywhere; afterwards the keyboard is in box boxId.
void ShowOutcome(HWND window, UINT textId, UINT captionId, int boxId, OriginalPlace place,
                 const std::wstring& originalPath);

// A refusal's message under the caption "error".
void ShowRefusal(HWND window, JobStatus status, int boxId);

// Gives the keyboard to a box of the window with its whole text selected.
void FocusBox(HWND window, int boxId);

}  // namespace karvel
