// The Encode and Decode buttons: a job built from the three boxes, probed,
// then either refused with a message or carried out on a worker thread while
// the window goes on answering. The main window owns the one transform that
// may run at a time (the keystream state is process-wide).
#pragma once

#include <windows.h>

#include <memory>

#include "engine/encoding_job.h"

namespace karvel {

// The worker posts it to the main window when its transform has ended.
constexpr UINT kTransformDoneMessage = WM_APP + 1;

struct TransformCommand;

class Transform {
 public:
  explicit Transform(HWND window) : window_(window) {}
  Transform(const Transform&) = delete;
  Transform& operator=(const Transform&) = delete;

  // Each checks the job on the window's thread, asks Encode's confirmation, then starts the worker.
  void Encode();
  void Decode();

  // True from a command's confirmation until its outcome is shown.
  bool Running() const { return phase_ != Phase::Idle; }

  // The worker has ended: its outcome is shown once the progress dialog, if any, is gone.
  void OnDone();
  // Shows the progress dialog when the transform is still running after its delay.
  void OnTimer(UINT_PTR timer);
  // True when nothing runs; otherwise cancels, and the window is sent WM_CLOSE again once the
  // worker has stopped.
  bool CloseWhenIdle();
  // A session ending during a transform shows the user why karvel needs a moment.
  void OnQueryEndSession();
  // The session ends: a transform is cancelled and its worker waited for; nothing more is shown.
  void OnEndSession(bool ending);

 private:
  // Idle -> Confirming -> Working (or Idle -> Working for Decode) -> Progress -> Idle; Confirming
  // and Working go back to Idle directly. See kMoves.
  enum class Phase { Idle, Confirming, Working, Progress };
  // What happens once the worker has stopped.
  enum class Then { ShowOutcome, Close, ShowNothing };
  struct Work {
    EncodingJob job;
    JobProgress progress;
  };

  void Run(const TransformCommand& command);
  bool Confirmed();
  void MoveTo(Phase to);
  void Finish();
  void JoinWorker();
  void Cancel() { work_->progress.cancelRequested = true; }
  void SetInputEnabled(bool enabled);
  void SetMenuBarEnabled(bool enabled);
  static DWORD WINAPI Worker(void* transform);

  HWND window_;
  Phase phase_ = Phase::Idle;
  Then then_ = Then::ShowOutcome;
  std::unique_ptr<Work> work_;  // from the command's probe until the move back to Idle
  const TransformCommand* command_ = nullptr;
  HANDLE thread_ = nullptr;
  HWND progressDialog_ = nullptr;
  JobStatus status_ = JobStatus::Ok;  // written by the worker before it posts kTransformDoneMessage
  unsigned grayedPopups_ = 0;  // the menu bar's pop-ups grayed for the transform, one bit each
};

}  // namespace karvel
