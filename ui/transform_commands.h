// The Encode and Decode buttons: a job built from the three boxes, probed,
// then either refused with a message or carried out on a worker thread while
// the window goes on answering.
#pragma once

#include <windows.h>

#include "engine/encoding_job.h"

namespace karvel {

// The worker posts it to the main window when its transform has ended.
constexpr UINT kTransformDoneMessage = WM_APP + 1;

// Each probes on this thread and starts the transform on a worker thread.
void EncodeCommand(HWND window);
void DecodeCommand(HWND window);

// True from the start of a transform until its outcome is shown.
bool TransformRunning();

// Shows the outcome of the transform, once its progress dialog, if any, is gone.
void OnTransformDone(HWND window);
// Shows the progress dialog when the transform is still running after its delay.
void OnTransformTimer(HWND window, UINT_PTR timer);

// True when no transform runs; otherwise cancels it, and the window is sent
// WM_CLOSE again once the worker has stopped.
bool CloseWhenIdle();

// A session ending during a transform shows the user why karvel needs a moment.
void OnQueryEndSession(HWND window);
// The session ends: a transform is cancelled and its worker waited for; nothing more is shown.
void OnEndSession(HWND window, bool ending);

}  // namespace karvel
