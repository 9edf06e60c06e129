#include "ui/transform_commands.h"

#include <optional>

#include "engine/scrambler.h"
#include "res/resource.h"
#include "ui/progress_dialog.h"

namespace karvel {

namespace {

struct TransformCommand {
  JobStatus readyStatus;  // the Probe result that lets the transform run
  JobStatus (EncodingJob::*transform)(FileServices&, JobProgress*);
  const char* doneCaption;
};

constexpr TransformCommand kEncode = {JobStatus::HeaderMismatch, &EncodingJob::Encode,
                                      "karvel - encoding"};
constexpr TransformCommand kDecode = {JobStatus::Ok, &EncodingJob::Decode, "karvel - decoding"};

// The transform keeps its 256 KiB work buffer and its 16 KiB key cycle on the worker's stack.
constexpr SIZE_T kWorkerStackSize = 1024 * 1024;
// The window waits this long for the worker, as it used to wait for the whole transform,
// so that a short transform shows nothing new, not even the boxes grayed for a moment.
constexpr DWORD kQuietWaitMs = 100;
// From the press of the button until the progress dialog shows.
constexpr UINT kProgressDelayMs = 500;
constexpr UINT_PTR kProgressDelayTimer = 1;

constexpr int kMaxPopups = 32;  // one bit each in grayedPopups

const int kBusyControls[] = {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE};

struct JobBox {
  int id;
  JobStatus (EncodingJob::*set)(const char*);
  JobStatus tooLong;  // what the setter says of a text longer than the scratch buffer holds
};

// In the order the boxes are read; the first refusal wins.
constexpr JobBox kJobBoxes[] = {
    {IDC_TARGET_FILE, &EncodingJob::SetTargetPath, JobStatus::PathTooLong},
    {IDC_PASSPHRASE, &EncodingJob::SetPassphrase, JobStatus::PassphraseTooLong},
    {IDC_OUTPUT, &EncodingJob::SetOutputPath, JobStatus::PathTooLong},
};

struct Work {
  EncodingJob job;
  JobProgress progress;
};

// The one transform that may run at a time: the keystream state is process-wide.
struct RunningTransform {
  std::optional<Work> work;  // present from the command until the worker has been joined
  const TransformCommand* command;
  HWND window;
  HANDLE thread;
  JobStatus status;       // written by the worker before it posts kTransformDoneMessage
  bool inputDisabled;     // the transform outlasted the quiet wait
  unsigned grayedPopups;  // the menu bar's pop-ups grayed for the transform, one bit each
} running;

// A box's text is taken whole or refused, never cut short.
JobStatus FillJob(HWND window, EncodingJob& job) {
  char scratch[kMaxPathLength + 1];
  for (const JobBox& box : kJobBoxes) {
    if (GetWindowTextLengthA(GetDlgItem(window, box.id)) > static_cast<int>(kMaxPathLength)) {
      return box.tooLong;
    }
    GetDlgItemTextA(window, box.id, scratch, sizeof scratch);
    JobStatus status = (job.*box.set)(scratch);
    Wipe(scratch, sizeof scratch);
    if (status != JobStatus::Ok) return status;
  }
  return JobStatus::Ok;
}

DWORD WINAPI RunTransform(void*) {
  Work& work = *running.work;
  running.status = (work.job.*running.command->transform)(SystemFileServices(), &work.progress);
  PostMessageA(running.window, kTransformDoneMessage, 0, 0);
  return 0;
}

// The pop-ups grayed from the start, "&option", stay grayed afterwards.
void SetMenuBarEnabled(HWND window, bool enabled) {
  HMENU menu = GetMenu(window);
  int count = GetMenuItemCount(menu);
  for (int position = 0; position < count && position < kMaxPopups; ++position) {
    unsigned bit = 1u << position;
    if (enabled && (running.grayedPopups & bit) != 0) {
      EnableMenuItem(menu, position, MF_BYPOSITION | MF_ENABLED);
    } else if (!enabled && (GetMenuState(menu, position, MF_BYPOSITION) & MF_GRAYED) == 0) {
      EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
      running.grayedPopups |= bit;
    }
  }
  if (enabled) running.grayedPopups = 0;
  DrawMenuBar(window);
}

void SetInputEnabled(HWND window, bool enabled) {
  for (int id : kBusyControls) EnableWindow(GetDlgItem(window, id), enabled);
  SetMenuBarEnabled(window, enabled);
  running.inputDisabled = !enabled;
}

// Waits for the worker and wipes the job; returns what the transform returned.
JobStatus JoinWorker() {
  if (running.thread != nullptr) {
    WaitForSingleObject(running.thread, INFINITE);
    CloseHandle(running.thread);
    running.thread = nullptr;
  }
  running.work.reset();
  return running.status;
}

void ShowError(HWND window, JobStatus status) {
  MessageBoxA(window, StatusText(status), "error", MB_OK);
}

void FinishTransform(HWND window) {
  KillTimer(window, kProgressDelayTimer);
  JobStatus status = JoinWorker();
  if (running.inputDisabled) SetInputEnabled(window, true);
  if (status != JobStatus::Ok) {
    ShowError(window, status);
    return;
  }
  MessageBoxA(window, "done", running.command->doneCaption, MB_OK);
  SetDlgItemTextA(window, IDC_PASSPHRASE, "");
}

// The job, and the passphrase it holds, is gone before any refusal is shown.
void RunCommand(HWND window, const TransformCommand& command) {
  if (running.work) return;
  Work& work = running.work.emplace();
  JobStatus status = FillJob(window, work.job);
  if (status == JobStatus::Ok) status = work.job.Probe();
  if (status != command.readyStatus) {
    running.work.reset();
    ShowError(window, status);
    return;
  }
  running.command = &command;
  running.window = window;
  running.thread = CreateThread(nullptr, kWorkerStackSize, RunTransform, nullptr,
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (running.thread == nullptr) {
    RunTransform(nullptr);  // no thread to be had: run it here, as a short transform
    return;
  }
  if (WaitForSingleObject(running.thread, kQuietWaitMs) == WAIT_OBJECT_0) return;
  SetInputEnabled(window, false);
  SetTimer(window, kProgressDelayTimer, kProgressDelayMs - kQuietWaitMs, nullptr);
}

void OnProgressDelay(HWND window) {
  KillTimer(window, kProgressDelayTimer);
  if (!running.work) return;
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  ShowProgressDialog(instance, window, running.work->job.targetPath, running.work->progress);
  // Ended by the worker's message, or by a close that has already joined the worker.
  if (running.work) FinishTransform(window);
}

}  // namespace

void EncodeCommand(HWND window) { RunCommand(window, kEncode); }
void DecodeCommand(HWND window) { RunCommand(window, kDecode); }

bool TransformRunning() { return running.work.has_value(); }

void OnTransformDone(HWND window) {
  if (!running.work) return;        // the window was closed meanwhile and shows nothing more
  if (EndProgressDialog()) return;  // the dialog's caller finishes once the dialog is gone
  FinishTransform(window);
}

void OnTransformTimer(HWND window, UINT_PTR timer) {
  if (timer == kProgressDelayTimer) OnProgressDelay(window);
}

void CancelTransform(HWND window) {
  if (!running.work) return;
  KillTimer(window, kProgressDelayTimer);
  running.work->progress.cancelRequested = true;
  JoinWorker();
  EndProgressDialog();
}

const char* StatusText(JobStatus status) {
  switch (status) {
    case JobStatus::Ok:  // stops only Encode: the header already passes under the passphrase
      return "alreadly encoded by the passphrase";
    case JobStatus::OpenFailed:
      return "file open failed";
    case JobStatus::NoTargetPath:
      return "input file name to encode";
    case JobStatus::NoPassphrase:
      return "input encoding key";
    case JobStatus::HeaderMismatch:
      return "invalid key";
    case JobStatus::ReadFailed:
      return "file read failed";
    case JobStatus::WriteFailed:
      return "file write failed";
    case JobStatus::ReplaceFailed:
      return "output replace failed";
    case JobStatus::OutputIsFolder:
      return "output is a folder";
    case JobStatus::OutputReadOnly:
      return "output is read-only";
    case JobStatus::OutputFolderMissing:
      return "output folder not found";
    case JobStatus::OutputIsTemporary:
      return "output is the temporary file";
    case JobStatus::PassphraseTooLong:
      return "encoding key too long";
    case JobStatus::PathTooLong:
      return "file name too long";
    case JobStatus::Cancelled:
      return "cancelled";
    case JobStatus::PassphraseUnusable:
      return "encoding key has a character this system cannot use";
    case JobStatus::TargetChanged:
      return "file changed while working";
    case JobStatus::TargetHasOtherNames:
      return "file has more than one name";
    case JobStatus::OutputNotAFile:
      return "output is not a file";
  }
  return "";
}

}  // namespace karvel
