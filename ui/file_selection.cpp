#include "ui/file_selection.h"

#include <commdlg.h>
#include <shellapi.h>

#include <string>

#include "engine/path_limits.h"
#include "res/resource.h"
#include "ui/messages.h"

namespace karvel {

namespace {

constexpr wchar_t kFilter[] =
    L"all files (*.*)\0*.*\0";  // the literal's own terminator ends the list

constexpr size_t kPathUnitsSize = kMaxPathUnits + 1;  // the longest path and its terminator

void SetTargetAndOutput(HWND window, const wchar_t* path) {
  SetDlgItemTextW(window, IDC_TARGET_FILE, path);
  SetDlgItemTextW(window, IDC_OUTPUT, path);
}

}  // namespace

void ChooseTargetFile(HWND window) {
  std::wstring chosenPath(kPathUnitsSize, L'\0');
  OPENFILENAMEW request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  request.hwndOwner = window;
  request.lpstrFilter = kFilter;
  request.lpstrFile = &chosenPath[0];
  request.nMaxFile = kPathUnitsSize;
  request.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameW(&request)) SetTargetAndOutput(window, chosenPath.c_str());
  FocusBox(window, IDC_TARGET_FILE);
}

// A name that does not fit would come back cut short, naming another file.
void TakeDroppedFile(HWND window, HDROP drop) {
  UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring chosenPath(kPathUnitsSize, L'\0');
  bool fits = length > 0 && length <= kMaxPathUnits &&
              DragQueryFileW(drop, 0, &chosenPath[0], kPathUnitsSize) == length;
  DragFinish(drop);
  if (!fits) {
    ShowRefusal(window, JobStatus::PathTooLong, IDC_TARGET_FILE);
    return;
  }
  SetTargetAndOutput(window, chosenPath.c_str());
  FocusBox(window, IDC_TARGET_FILE);
}

}  // namespace karvel
