// The Encode and Decode buttons: a job built from the three boxes, probed,
// then either refused with a message or carried out.
#pragma once

#include <windows.h>

#include "engine/encoding_job.h"

namespace karvel {

void EncodeCommand(HWND window);
void DecodeCommand(HWND window);

// The error message for a status that stops a command.
const char* StatusText(JobStatus status);

}  // namespace karvel
