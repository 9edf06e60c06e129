// Choosing the target by the Open dialog or by dropping files on the window.
#pragma once

#include <windows.h>

namespace karvel {

// Runs the Open dialog; a chosen path goes into the target and output boxes.
void ChooseTargetFile(HWND window);

// Takes the first dropped path into the target and output boxes and releases the drop.
void TakeDroppedFile(HWND window, HDROP drop);

}  // namespace karvel
