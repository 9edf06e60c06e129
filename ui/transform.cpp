#include "ui/transform.h"

#include <cassert>
#include <limits>
#include <string>

#include "engine/operations.h"
#include "engine/windows_text.h"
#include "res/resource.h"
#include "ui/confirm_dialog.h"
#include "ui/job_boxes.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"

namespace karvel {

struct TransformCommand {
  const Operation* operation;
  UINT doneCaptionId;
};

namespace {

constexpr TransformCommand kEncodeCommand = {&kEncode, IDS_ENCODING_CAPTION};
constexpr TransformCommand kDecodeCommand = {&kDecode, IDS_DECODING_CAPTION};

// The window waits this long for the worker, as it used to wait for the whole transform,
// so that a short transform shows nothing new, not even the boxes grayed for a moment.
constexpr DWORD kQuietWaitMs = 100;
// From the press of the button until the progress dialog shows.
constexpr UINT kProgressDelayMs = 500;
constexpr UINT_PTR kProgressDelayTimer = 1;

constexpr int kMaxPopups = std::numeric_limits<unsigned>::digits;  // one bit each in grayedPopups_

const int kBusyControls[] = {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE};

constexpr int kShutdownReasonUnits = 128;

}  // namespace

void Transform::Encode() { Run(kEncodeCommand); }
void Transform::Decode() { Run(kDecodeCommand); }

// The job, and the passphrase it holds, is gone before any refusal is shown.
void Transform::Run(const TransformCommand& command) {
  if (phase_ != Phase::Idle) return;
  work_ = std::make_unique<Work>();
  int refusedBox = IDC_TARGET_FILE;
  JobStatus status = FillJob(window_, work_->job, &refusedBox);
  if (status == JobStatus::Ok) {
    status = command.operation->Check(work_->job);
    refusedBox = BoxFor(status);
  }
  if (status != JobStatus::Ok) {
    work_.reset();
    ShowRefusal(window_, status, refusedBox);
    return;
  }
  if (command.operation->confirmsPassphrase && !Confirmed()) return;
  MoveTo(Phase::Working);
  command_ = &command;
  then_ = Then::ShowOutcome;
  thread_ = CreateThread(nullptr, 0, Worker, this, 0, nullptr);
  if (thread_ == nullptr) {
    Worker(this);  // no thread to be had: run it here, as a short transform
    return;
  }
  if (WaitForSingleObject(thread_, kQuietWaitMs) == WAIT_OBJECT_0) return;
  SetInputEnabled(false);
  SetTimer(window_, kProgressDelayTimer, kProgressDelayMs - kQuietWaitMs, nullptr);
}

// A passphrase typed differently the second time, or not at all, writes nothing.
bool Transform::Confirmed() {
  MoveTo(Phase::Confirming);
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  Confirmation answer = ConfirmPassphrase(instance, window_, work_->job.passphrase);
  if (answer == Confirmation::Same) return true;
  work_.reset();
  MoveTo(Phase::Idle);
  if (answer == Confirmation::Different) {
    ShowMessage(window_, IDS_KEYS_DIFFER, IDS_ERROR, IDC_PASSPHRASE);
  } else {
    FocusBox(window_, IDC_PASSPHRASE);
  }
  return false;
}

DWORD WINAPI Transform::Worker(void* transform) {
  auto& self = *static_cast<Transform*>(transform);
  Work& work = *self.work_;
  self.status_ = self.command_->operation->Run(work.job, SystemFileServices(), &work.progress);
  PostMessageW(self.window_, kTransformDoneMessage, 0, 0);
  return 0;
}

void Transform::MoveTo(Phase to) {
  struct Move {
    Phase from;
    Phase to;
  };
  static constexpr Move kMoves[] = {
      {Phase::Idle, Phase::Confirming},    {Phase::Confirming, Phase::Idle},
      {Phase::Confirming, Phase::Working}, {Phase::Idle, Phase::Working},
      {Phase::Working, Phase::Progress},   {Phase::Working, Phase::Idle},
      {Phase::Progress, Phase::Idle},
  };
  bool allowed = false;
  for (const Move& move : kMoves) allowed = allowed || (move.from == phase_ && move.to == to);
  assert(allowed && "no such move in the transform's life");
  phase_ = to;
}

// The only wait for the worker: before its job is dropped, and at the session's end.
void Transform::JoinWorker() {
  if (thread_ == nullptr) return;
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
}

void Transform::OnTimer(UINT_PTR timer) {
  if (timer != kProgressDelayTimer) return;
  KillTimer(window_, kProgressDelayTimer);
  // Done meanwhile, or closing: the outcome comes, or nothing does, without the dialog.
  if (phase_ != Phase::Working || then_ != Then::ShowOutcome) return;
  MoveTo(Phase::Progress);
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
  ShowProgressDialog(instance, window_, work_->job.targetPath, work_->progress, &progressDialog_);
  // Ended by the worker's message or by the end of the session: the worker has stopped.
  Finish();
}

void Transform::OnDone() {
  if (phase_ == Phase::Progress) {
    if (progressDialog_ != nullptr) EndProgressDialog(progressDialog_);  // Finish follows
    return;
  }
  if (phase_ == Phase::Working) Finish();
}

// Runs once the worker has stopped and no progress dialog reads the job any more.
void Transform::Finish() {
  KillTimer(window_, kProgressDelayTimer);
  JoinWorker();
  const OriginalPlace originalPlace = work_->job.originalPlace;
  std::wstring originalPath;
  if (originalPlace == OriginalPlace::Beside) ToWide(work_->job.originalPath, &originalPath);
  work_.reset();
  SetInputEnabled(true);
  MoveTo(Phase::Idle);
  switch (then_) {
    case Then::ShowOutcome:
      if (status_ != JobStatus::Ok) {
        ShowOutcome(window_, StatusTextId(status_), IDS_ERROR, BoxFor(status_), originalPlace,
                    originalPath);
        break;
      }
      ErasePassphraseBox(GetDlgItem(window_, IDC_PASSPHRASE));
      ShowOutcome(window_, IDS_DONE, command_->doneCaptionId, IDC_TARGET_FILE, originalPlace,
                  originalPath);
      break;
    case Then::Close:
      PostMessageW(window_, WM_CLOSE, 0, 0);  // closes now that nothing runs
      break;
    case Then::ShowNothing:
      break;
  }
}

// While the confirmation is asked, nothing has started: the window may close.
bool Transform::CloseWhenIdle() {
  if (phase_ == Phase::Idle || phase_ == Phase::Confirming) return true;
  if (then_ == Then::ShowOutcome) {
    then_ = Then::Close;
    Cancel();
  }
  return false;
}

void Transform::OnQueryEndSession() {
  if (phase_ == Phase::Working || phase_ == Phase::Progress) {
    wchar_t reason[kShutdownReasonUnits];
    auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window_, GWLP_HINSTANCE));
    if (LoadStringW(instance, IDS_SHUTDOWN_REASON, reason, kShutdownReasonUnits) > 0) {
      ShutdownBlockReasonCreate(window_, reason);
    }
  }
}

// Once this returns the process may end at any moment: the worker has
// stopped and removed its temporary file before.
void Transform::OnEndSession(bool ending) {
  if (ending && (phase_ == Phase::Working || phase_ == Phase::Progress)) {
    then_ = Then::ShowNothing;
    Cancel();
    JoinWorker();
    if (progressDialog_ != nullptr) EndProgressDialog(progressDialog_);
  }
  ShutdownBlockReasonDestroy(window_);
}

// The pop-ups grayed from the start, "&option", stay grayed afterwards.
void Transform::SetMenuBarEnabled(bool enabled) {
  HMENU menu = GetMenu(window_);
  int count = GetMenuItemCount(menu);
  for (int position = 0; position < count && position < kMaxPopups; ++position) {
    unsigned bit = 1u << position;
    if (enabled && (grayedPopups_ & bit) != 0) {
      EnableMenuItem(menu, position, MF_BYPOSITION | MF_ENABLED);
    } else if (!enabled && (GetMenuState(menu, position, MF_BYPOSITION) & MF_GRAYED) == 0) {
      EnableMenuItem(menu, position, MF_BYPOSITION | MF_GRAYED);
      grayedPopups_ |= bit;
    }
  }
  if (enabled) grayedPopups_ = 0;
  DrawMenuBar(window_);
}

void Transform::SetInputEnabled(bool enabled) {
  for (int id : kBusyControls) EnableWindow(GetDlgItem(window_, id), enabled);
  SetMenuBarEnabled(enabled);
}

}  // namespace karvel
