// The three boxes read into a job: a path taken whole or refused, never cut
// short, and the passphrase as the exact bytes of the system's ANSI code page.
#pragma once

#include <windows.h>

#include "engine/encoding_job.h"

namespace karvel {

// Reads the target, passphrase and output boxes in that order; the first refusal wins and
// *refusedBox names its box.
JobStatus FillJob(HWND window, EncodingJob& job, int* refusedBox);

// PassphraseUnusable for a character without an exact form in the code page, PassphraseTooLong
// beyond kMaxPassphraseLength bytes. bytes is wiped on refusal; the caller wipes it after use.
JobStatus ReadPassphraseBox(HWND box, char (&bytes)[kPassphraseFieldSize]);

// Empties a passphrase box after overwriting its text with filler of the same
// length: the edit control keeps its own copy, which would otherwise outlive the work.
void ErasePassphraseBox(HWND box);

}  // namespace karvel
