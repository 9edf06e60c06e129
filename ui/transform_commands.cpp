#include "ui/transform_commands.h"

#include <limits>
#include <optional>

#include "engine/wipe.h"
#include "res/resource.h"
#include "ui/confirm_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/window_text.h"

namespace karvel {

namespace {

struct TransformCommand {
  JobStatus readyStatus;  // the Probe result that lets the transform run
  JobStatus (EncodingJob::*transform)(FileServices&, JobProgress*);
  const char* doneCaption;
  bool confirmsPassphrase;  // a slip when encoding locks the file; decoding under one only fails
};

constexpr TransformCommand kEncode = {JobStatus::HeaderMismatch, &EncodingJob::Encode,
                                      "karvel - encoding", true};
constexpr TransformCommand kDecode = {JobStatus::Ok, &EncodingJob::Decode, "karvel - decoding",
                                      false};

// The transform keeps its 256 KiB work buffer, its 16 KiB key cycle and the
// file layer's UTF-16 paths (about 100 KiB each) on the worker's stack.
constexpr SIZE_T kWorkerStackSize = 4 * 1024 * 1024;
// The window waits this long for the worker, as it used to wait for the whole transform,
// so that a short transform shows nothing new, not even the boxes grayed for a moment.
constexpr DWORD kQuietWaitMs = 100;
// From the press of the button until the progress dialog shows.
constexpr UINT kProgressDelayMs = 500;
constexpr UINT_PTR kProgressDelayTimer = 1;

constexpr int kMaxPopups = std::numeric_limits<unsigned>::digits;  // one bit each in grayedPopups

const int kBusyControls[] = {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE};

constexpr wchar_t kShutdownReason[] =
    L"karvel is stopping its work and putting your file back as it was.";

// After a refusal the keyboard goes to the box the message is about.
struct StatusBox {
  JobStatus status;
  int box;
};
constexpr StatusBox kStatusBoxes[] = {
    {JobStatus::Ok, IDC_PASSPHRASE},  // already encoded by the passphrase
    {JobStatus::NoPassphrase, IDC_PASSPHRASE},
    {JobStatus::HeaderMismatch, IDC_PASSPHRASE},
    {JobStatus::PassphraseTooLong, IDC_PASSPHRASE},
    {JobStatus::PassphraseUnusable, IDC_PASSPHRASE},
    {JobStatus::OutputIsFolder, IDC_OUTPUT},
    {JobStatus::OutputReadOnly, IDC_OUTPUT},
    {JobStatus::OutputFolderMissing, IDC_OUTPUT},
    {JobStatus::OutputNotAFile, IDC_OUTPUT},
    {JobStatus::WriteFailed, IDC_OUTPUT},
    {JobStatus::ReplaceFailed, IDC_OUTPUT},
};

int BoxFor(JobStatus status) {
  for (const StatusBox& entry : kStatusBoxes) {
    if (entry.status == status) return entry.box;
  }
  return IDC_TARGET_FILE;
}

// The life of the one transform that may run at a time (the keystream state
// is process-wide). Every move goes through MoveTo and is one of these:
//   Idle     -> Working   a command passed its probe and started the worker
//   Working  -> Progress  the transform outlasted the delay: the progress dialog shows
//   Working, Progress -> Closing  the window was closed: cancelled, it closes once the worker stops
//   Working, Progress, Closing -> Ended  the session ends: cancelled and joined at once
//   Working, Progress -> Idle  the worker stopped: its outcome is shown
//   Closing, Ended    -> Idle  the worker stopped: nothing is shown
// The job and its JobProgress live from the command's probe (and the
// confirmation it may ask for) until the move back to Idle, which happens only
// once the worker has stopped and the progress dialog that reads them is gone.
enum class Phase { Idle, Working, Progress, Closing, Ended };

struct Move {
  Phase from;
  Phase to;
};
constexpr Move kMoves[] = {
    {Phase::Idle, Phase::Working},    {Phase::Working, Phase::Progress},
    {Phase::Working, Phase::Closing}, {Phase::Progress, Phase::Closing},
    {Phase::Working, Phase::Ended},   {Phase::Progress, Phase::Ended},
    {Phase::Closing, Phase::Ended},   {Phase::Working, Phase::Idle},
    {Phase::Progress, Phase::Idle},   {Phase::Closing, Phase::Idle},
    {Phase::Ended, Phase::Idle},
};

struct Work {
  EncodingJob job;
  JobProgress progress;
};

struct RunningTransform {
  Phase phase;
  std::optional<Work> work;  // present from the command until the move back to Idle
  const TransformCommand* command;
  HWND window;
  HANDLE thread;
  JobStatus status;       // written by the worker before it posts kTransformDoneMessage
  bool inputDisabled;     // the transform outlasted the quiet wait
  bool progressShown;     // the progress dialog is on the screen
  unsigned grayedPopups;  // the menu bar's pop-ups grayed for the transform, one bit each
} running;

bool MoveTo(Phase to) {
  for (const Move& move : kMoves) {
    if (move.from == running.phase && move.to == to) {
      running.phase = to;
      return true;
    }
  }
  return false;
}

// The boxes are read in this order and the first refusal wins; a box's text
// is taken whole or refused, never cut short.
JobStatus FillJob(HWND window, EncodingJob& job, int& refusedBox) {
  static char path[kPathFieldSize];  // kept off the window thread's stack
  refusedBox = IDC_TARGET_FILE;
  JobStatus status = ReadPathBox(window, IDC_TARGET_FILE, path, sizeof path);
  if (status == JobStatus::Ok) status = job.SetTargetPath(path);
  if (status != JobStatus::Ok) return status;

  refusedBox = IDC_PASSPHRASE;
  char bytes[kPassphraseFieldSize];
  status = ReadPassphraseBox(GetDlgItem(window, IDC_PASSPHRASE), bytes);
  if (status == JobStatus::Ok) status = job.SetPassphrase(bytes);
  Wipe(bytes, sizeof bytes);
  if (status != JobStatus::Ok) return status;

  refusedBox = IDC_OUTPUT;
  status = ReadPathBox(window, IDC_OUTPUT, path, sizeof path);
  if (status == JobStatus::Ok) status = job.SetOutputPath(path);
  return status;
}

DWORD WINAPI RunTransform(void*) {
  Work& work = *running.work;
  running.status = (work.job.*running.command->transform)(SystemFileServices(), &work.progress);
  PostMessageW(running.window, kTransformDoneMessage, 0, 0);
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

void WaitForWorker() {
  if (running.thread == nullptr) return;
  WaitForSingleObject(running.thread, INFINITE);
  CloseHandle(running.thread);
  running.thread = nullptr;
}

void ShowOutcome(HWND window, const TransformCommand& command, JobStatus status) {
  if (status != JobStatus::Ok) {
    ShowMessage(window, StatusText(status), "error", BoxFor(status));
    return;
  }
  ErasePassphraseBox(GetDlgItem(window, IDC_PASSPHRASE));
  ShowMessage(window, "done", command.doneCaption, IDC_TARGET_FILE);
}

// Runs once the worker has stopped and no progress dialog reads the job any more.
void Finish(HWND window) {
  KillTimer(window, kProgressDelayTimer);
  WaitForWorker();
  running.work.reset();
  if (running.inputDisabled) SetInputEnabled(window, true);
  Phase ended = running.phase;
  MoveTo(Phase::Idle);
  if (ended == Phase::Working || ended == Phase::Progress) {
    ShowOutcome(window, *running.command, running.status);
  } else if (ended == Phase::Closing) {
    PostMessageW(window, WM_CLOSE, 0, 0);  // closes now that nothing runs
  }
}

// A passphrase typed differently the second time, or not at all, writes nothing.
bool Confirmed(HWND window, const EncodingJob& job) {
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  Confirmation answer = ConfirmPassphrase(instance, window, job.passphrase);
  if (answer == Confirmation::Same) return true;
  running.work.reset();
  if (answer == Confirmation::Different) {
    ShowMessage(window, "encoding keys differ", "error", IDC_PASSPHRASE);
  } else {
    FocusBox(window, IDC_PASSPHRASE);
  }
  return false;
}

// The job, and the passphrase it holds, is gone before any refusal is shown.
void RunCommand(HWND window, const TransformCommand& command) {
  if (running.phase != Phase::Idle || running.work) return;  // running, or asking for confirmation
  Work& work = running.work.emplace();
  int refusedBox = IDC_TARGET_FILE;
  JobStatus status = FillJob(window, work.job, refusedBox);
  if (status == JobStatus::Ok) {
    status = work.job.Probe();
    refusedBox = BoxFor(status);
  }
  if (status != command.readyStatus) {
    running.work.reset();
    ShowMessage(window, StatusText(status), "error", refusedBox);
    return;
  }
  if (command.confirmsPassphrase && !Confirmed(window, work.job)) return;
  MoveTo(Phase::Working);
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
  if (!MoveTo(Phase::Progress)) return;
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  running.progressShown = true;
  ShowProgressDialog(instance, window, running.work->job.targetPath, running.work->progress);
  running.progressShown = false;
  // Ended by the worker's message or by the end of the session: the worker has stopped.
  Finish(window);
}

void RequestCancel() { running.work->progress.cancelRequested = true; }

}  // namespace

void EncodeCommand(HWND window) { RunCommand(window, kEncode); }
void DecodeCommand(HWND window) { RunCommand(window, kDecode); }

bool TransformRunning() { return running.phase != Phase::Idle; }

void OnTransformDone(HWND window) {
  if (running.phase == Phase::Idle) return;
  if (running.progressShown) {
    EndProgressDialog();  // its caller finishes once the dialog is gone
    return;
  }
  Finish(window);
}

void OnTransformTimer(HWND window, UINT_PTR timer) {
  if (timer == kProgressDelayTimer) OnProgressDelay(window);
}

bool CloseWhenIdle() {
  if (running.phase == Phase::Idle) return true;
  if (MoveTo(Phase::Closing)) RequestCancel();
  return false;
}

void OnQueryEndSession(HWND window) {
  if (running.phase != Phase::Idle) ShutdownBlockReasonCreate(window, kShutdownReason);
}

// Once this returns the process may end at any moment: the worker has
// stopped and removed its temporary file before.
void OnEndSession(HWND window, bool ending) {
  if (ending && MoveTo(Phase::Ended)) {
    RequestCancel();
    WaitForWorker();
    if (running.progressShown) EndProgressDialog();
  }
  ShutdownBlockReasonDestroy(window);
}

}  // namespace karvel
