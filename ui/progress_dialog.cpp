#include "ui/progress_dialog.h"

#include <commctrl.h>
#include <shobjidl.h>

#include <string>

#include "engine/windows_text.h"
#include "res/resource.h"

namespace karvel {

namespace {

constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMs = 100;
constexpr int kBarSteps = 1000;  // a 32-bit range cannot hold a size in bytes

// What one dialog shows and reports to, attached to it from WM_INITDIALOG on.
struct ProgressView {
  const char* path;  // UTF-8
  JobProgress* progress;
  HWND* shown;  // the caller's record of the dialog on the screen
  HWND owner;
  ITaskbarList3* taskbar;  // null where the shell has no taskbar list
  bool comStarted;
};

ProgressView& ViewOf(HWND dialog) {
  return *reinterpret_cast<ProgressView*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

// The name after the path's last separator, found in UTF-16: in a code page's
// bytes a separator can be the second half of another character.
std::wstring FileName(const char* path) {
  std::wstring wide;
  if (!ToWide(path, &wide)) return std::wstring();
  size_t separator = wide.find_last_of(L"\\/:");
  return separator == std::wstring::npos ? wide : wide.substr(separator + 1);
}

void StartTaskbarProgress(ProgressView& view) {
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

void StopTaskbarProgress(ProgressView& view) {
  if (view.taskbar != nullptr) {
    view.taskbar->SetProgressState(view.owner, TBPF_NOPROGRESS);
    view.taskbar->Release();
    view.taskbar = nullptr;
  }
  if (view.comStarted) CoUninitialize();
  view.comStarted = false;
}

void OnProgressTick(HWND dialog) {
  ProgressView& view = ViewOf(dialog);
  uint64_t done = view.progress->bytesDone.load();
  uint64_t total = view.progress->bytesTotal.load();
  int step = total == 0 ? 0 : static_cast<int>(done * kBarSteps / total);
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETPOS, step, 0);
  if (view.taskbar != nullptr) view.taskbar->SetProgressValue(view.owner, done, total);
}

void OnProgressInit(HWND dialog, ProgressView* view) {
  SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(view));
  *view->shown = dialog;
  view->owner = GetWindow(dialog, GW_OWNER);
  SetDlgItemTextW(dialog, IDC_PROGRESS_FILE, FileName(view->path).c_str());
  SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETRANGE32, 0, kBarSteps);
  StartTaskbarProgress(*view);
  OnProgressTick(dialog);
  SetTimer(dialog, kRefreshTimer, kRefreshMs, nullptr);
}

// The dialog stays until the transform has stopped and its temporary file is gone.
void OnProgressCommand(HWND dialog, WORD command) {
  if (command != IDCANCEL) return;
  ViewOf(dialog).progress->cancelRequested = true;
  EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
}

void OnProgressDestroy(HWND dialog) {
  KillTimer(dialog, kRefreshTimer);
  auto* view = reinterpret_cast<ProgressView*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (view == nullptr) return;  // destroyed before WM_INITDIALOG
  StopTaskbarProgress(*view);
  *view->shown = nullptr;
}

}  // namespace

void ShowProgressDialog(HINSTANCE instance, HWND owner, const char* path, JobProgress& progress,
                        HWND* shown) {
  ProgressView view = {path, &progress, shown, nullptr, nullptr, false};
  DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_PROGRESS), owner, ProgressDlgProc,
                  reinterpret_cast<LPARAM>(&view));
}

void EndProgressDialog(HWND dialog) { EndDialog(dialog, 0); }

// Escape, the title-bar close button and Alt+F4 all come as IDCANCEL, like the Cancel button; so
// does Enter, since Cancel is the dialog's default button.
INT_PTR CALLBACK ProgressDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      OnProgressInit(dialog, reinterpret_cast<ProgressView*>(lParam));
      return TRUE;
    case WM_TIMER:
      OnProgressTick(dialog);
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
