#include "ui/progress_dialog.h"

#include <commctrl.h>
#include <shobjidl.h>

#include "res/resource.h"
#include "ui/window_text.h"

namespace karvel {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
constexpr int kBarSteps = 1000;  // a 32-bit range cannot hold a size in bytes

struct ProgressRequest {
  const char* path;  // UTF-8
  JobProgress* progress;
};

// The dialog shown; there is never more than one, as there is never more than one transform.
struct ProgressView {
  HWND dialog;
  HWND owner;
  JobProgress* progress;
  ITaskbarList3* taskbar;  // null where the shell has no taskbar list
  bool comStarted;
} view;

wchar_t widePath[kPathUnitsSize];  // 64 KiB: kept off the window thread's stack

// The name after the path's last separator, found in UTF-16: in a code page's
// bytes a separator can be the second half of another character.
const wchar_t* FileName(const char* path) {
  if (MultiByteToWideChar(CP_UTF8, 0, path, -1, widePath, kPathUnitsSize) == 0) return L"";
  const wchar_t* name = widePath;
  for (const wchar_t* at = widePath; *at != L'\0'; ++at) {
    if (*at == L'\\' || *at == L'/' || *at == L':') name = at + 1;
  }
  return name;
}

void StartTaskbarProgress() {
  view.comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ITaskbarList3* taskbar = nullptr;
  if (CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                       reinterpret_cast<void**>(&taskbar)) != S_OK) {
    return;
  }
  if (taskbar->HrInit() != S_OK) {
    taskbar->Release();
    return;
  }
  view.taskbar = taskbar;
  view.taskbar->SetProgressState(view.owner, TBPF_NORMAL);
}

void StopTaskbarProgress() {
  if (view.taskbar != nullptr) {
    view.taskbar->SetProgressState(view.owner, TBPF_NOPROGRESS);
    view.taskbar->Release();
    view.taskbar = nullptr;
  }
  if (view.comStarted) CoUninitialize();
  view.comStarted = false;
}

void OnProgressTick() {
  uint64_t done = view.progress->bytesDone.load();
  uint64_t total = view.progress->bytesTotal.load();
  int step = total == 0 ? 0 : static_cast<int>(done * kBarSteps / total);
  SendDlgItemMessageW(view.dialog, IDC_PROGRESS_BAR, PBM_SETPOS, step, 0);
  if (view.taskbar != nullptr) view.taskbar->SetProgressValue(view.owner, done, total);
}

void OnProgressInit(HWND dialog, const ProgressRequest& request) {
  view.dialog = dialog;
  view.owner = GetWindow(dialog, GW_OWNER);
  view.progress = request.progress;
  SetDlgItemTextW(dialog, IDC_PROGRESS_FILE, FileName(request.path));
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, kBarSteps);
  StartTaskbarProgress();
  OnProgressTick();
  SetTimer(dialog, kRefreshTimer, kRefreshMs, nullptr);
}

// The dialog stays until the transform has stopped and its temporary file is gone.
void OnProgressCommand(HWND dialog, WORD command) {
  if (command != IDCANCEL) return;
  view.progress->cancelRequested = true;
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
}

void OnProgressDestroy(HWND dialog) {
  KillTimer(dialog, kRefreshTimer);
  StopTaskbarProgress();
  view = {};
}

}  // namespace

void ShowProgressDialog(HINSTANCE instance, HWND owner, const char* path, JobProgress& progress) {
  ProgressRequest request = {path, &progress};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), owner, ProgressDlgProc,
                  reinterpret_cast<LPARAM>(&request));
}

bool EndProgressDialog() {
  if (view.dialog == nullptr) return false;
  EndDialog(view.dialog, 0);
  return true;
}

// Escape, the title-bar close button and Alt+F4 all come as IDCANCEL, like the Cancel button.
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnProgressInit(dialog, *reinterpret_cast<const ProgressRequest*>(lParam));
      return TRUE;
    case WM_TIMER:
      OnProgressTick();
      return TRUE;
    case WM_COMMAND:
      OnProgressCommand(dialog, LOWORD(wParam));
      return TRUE;
    case WM_DESTROY:
      OnProgressDestroy(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace karvel
