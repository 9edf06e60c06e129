#include "ui/file_selection.h"

#include <commdlg.h>
#include <shellapi.h>

#include "res/resource.h"
#include "ui/transform_commands.h"
#include "ui/window_text.h"

namespace karvel {

namespace {

constexpr wchar_t kFilter[] =
    L"all files (*.*)\0*.*\0";  // the literal's own terminator ends the list

wchar_t chosenPath[kPathUnitsSize];  // 64 KiB: kept off the window thread's stack

void SetTargetAndOutput(HWND window, const wchar_t* path) {
  SetDlgItemTextW(window, IDC_TARGET_FILE, path);
  SetDlgItemTextW(window, IDC_OUTPUT, path);
}

}  // namespace

void ChooseTargetFile(HWND window) {
  chosenPath[0] = L'\0';
  OPENFILENAMEW request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = window;
  request.lpstrFilter = kFilter;
  request.lpstrFile = chosenPath;
  request.nMaxFile = kPathUnitsSize;
  request.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&request)) SetTargetAndOutput(window, chosenPath);
  FocusBox(window, IDC_TARGET_FILE);
}

// A name that does not fit would come back cut short, naming another file.
void TakeDroppedFile(HWND window, HDROP drop) {
  UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  bool fits = length > 0 && length <= kMaxPathUnits &&
              DragQueryFileW(drop, 0, chosenPath, kPathUnitsSize) == length;
  DragFinish(drop);
  if (!fits) {
    ShowMessage(window, StatusText(JobStatus::PathTooLong), "error", IDC_TARGET_FILE);
    return;
  }
  SetTargetAndOutput(window, chosenPath);
  FocusBox(window, IDC_TARGET_FILE);
}

}  // namespace karvel
