// Texts between the Unicode window and the engine's narrow fields, messages
// that leave the keyboard in a box, and files found beside the program.
#pragma once

#include <windows.h>

#include <cstddef>

#include "engine/encoding_job.h"

namespace karvel {

constexpr size_t kPathUnitsSize = kMaxPathUnits + 1;  // the longest Windows path and its terminator

// Converts a box's path to UTF-8 into utf8; PathTooLong when the box holds more than
// kMaxPathUnits units or the result does not fit, never a shortened path.
JobStatus ReadPathBox(HWND window, int id, char* utf8, size_t utf8Size);

// Reads a passphrase box as the exact bytes of the system's ANSI code page;
// PassphraseUnusable for a character without an exact form there,
// PassphraseTooLong beyond kMaxPassphraseLength bytes. bytes is wiped on refusal,
// and the caller wipes it after use.
JobStatus ReadPassphraseBox(HWND box, char (&bytes)[kPassphraseFieldSize]);

// A message box owned by the window; afterwards the keyboard is in box boxId, its text selected.
void ShowMessage(HWND window, const char* text, const char* caption, int boxId);

// Empties a passphrase box after overwriting its text with filler of the same
// length: the edit control keeps its own copy, which would otherwise outlive the work.
void ErasePassphraseBox(HWND box);

// Gives the keyboard to a box of the window with its whole text selected.
void FocusBox(HWND window, int boxId);

// The full path of name in the folder of karvel.exe; false when it does not fit.
bool ProgramFolderFile(const wchar_t* name, wchar_t* path, size_t pathUnits);

// True when path names an existing file (not a folder).
bool IsFile(const wchar_t* path);

}  // namespace karvel
