#include "ui/file_selection.h"

#include <commdlg.h>
#include <shellapi.h>

#include "res/resource.h"

namespace karvel {

namespace {

constexpr char kFilter[] = "all files (*.*)\0*.*\0";  // the literal's own terminator ends the list
constexpr DWORD kPathBufferSize = 256;

void SetTargetAndOutput(HWND window, const char* path) {
  SetDlgItemTextA(window, IDC_TARGET_FILE, path);
  SetDlgItemTextA(window, IDC_OUTPUT, path);
}

}  // namespace

void ChooseTargetFile(HWND window) {
  char path[kPathBufferSize] = "";
  OPENFILENAMEA request = {};
  request.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  request.hwndOwner = window;
  request.lpstrFilter = kFilter;
  request.lpstrFile = path;
  request.nMaxFile = kPathBufferSize;
  request.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (GetOpenFileNameA(&request)) SetTargetAndOutput(window, path);
}

void TakeDroppedFile(HWND window, HDROP drop) {
  char path[kPathBufferSize] = "";
  DragQueryFileA(drop, 0, path, kPathBufferSize);
  SetTargetAndOutput(window, path);
  DragFinish(drop);
}

}  // namespace karvel
