// Long transforms: the worker thread, the progress dialog, the busy window, Cancel, closing
// and the end of the session.
#include <gtest/gtest.h>
#include <windows.h>
// Builds on the types of windows.h.
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// ---- Long transforms: a worker thread, the progress dialog, Cancel and closing.

TEST_F(LongTransformTest, ProgressShowsTheWindowAnswersAndCancelKeepsTheTarget) {
  const auto before = Digest(target_);
  ASSERT_EQ(before.second, kLargeSize);
  StartKarvel();
  HWND dialog = EncodeUntilProgressShows();
  ASSERT_NE(dialog, nullptr) << "no progress dialog";
  EXPECT_GE(progressDelayMs_, 400.0) << "the dialog waits about half a second";
  EXPECT_EQ(GetWindowLongPtrA(dialog, GWLP_HWNDPARENT), reinterpret_cast<LONG_PTR>(main_))
      << "owned by the main window";
  for (int id : kInputControls) EXPECT_FALSE(IsWindowEnabled(GetDlgItem(main_, id))) << id;
  char name[64] = "";
  GetDlgItemTextA(dialog, IDC_PROGRESS_FILE, name, sizeof name);
  EXPECT_STREQ(name, "large.bin");
  HWND bar = GetDlgItem(dialog, IDC_PROGRESS_BAR);
  DWORD_PTR first = 0, second = 0;
  SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, kPatienceMs, &first);
  LARGE_INTEGER firstRead = Now();
  for (int i = 0; i < 10; ++i) {
    TimeAnswer();
    Sleep(30);
  }
  SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, kPatienceMs, &second);
  double barMs = MsSince(firstRead);
  EXPECT_GT(second, first) << "the bar advances";
  EXPECT_LT(second, 1000u) << "the transform is still running";
  Command(IDC_DECODE);  // a second transform must not start meanwhile
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  TimeAnswer();
  Sleep(100);
  SaveScreenshot(dialog, "progress-dialog");
  std::printf(
      "[ measured ] progress dialog after %.0f ms; bar %u -> %u of 1000 in %.0f ms (%.0f MB/s); "
      "slowest of %d WM_NULL answers during the transform: %.1f ms\n",
      progressDelayMs_, static_cast<unsigned>(first), static_cast<unsigned>(second), barMs,
      static_cast<double>(second - first) / 1000 * static_cast<double>(kLargeSize) / 1e3 / barMs,
      answers_, slowestAnswerMs_);
  RecordProperty("slowest_answer_ms", static_cast<int>(slowestAnswerMs_ + 0.5));

  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  MessageSeen seen = DismissMessage();
  EXPECT_EQ(seen.caption, "error");
  EXPECT_EQ(seen.text, "cancelled");
  EXPECT_FALSE(IsWindow(dialog));
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE) << "after the progress dialog";
  EXPECT_FALSE(MessageShown()) << "one message only";
  ExpectBoxes(target_, "secret", "");
  for (int id : kInputControls) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_, id))) << id;
  EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";
  EXPECT_EQ(Digest(target_), before);
}

struct LongCloseCase {
  const char* name;
  bool afterProgressShows;
  UINT message;
  WPARAM wParam;
};

const LongCloseCase kLongCloses[] = {
    {"close message to the window under the progress dialog", true, WM_CLOSE, 0},
    // The owner of a modal dialog takes no mouse input: these come before the dialog shows.
    {"system menu close while the boxes are grayed", false, WM_SYSCOMMAND, SC_CLOSE},
    {"e&xit while the boxes are grayed", false, WM_COMMAND, IDM_EXIT},
    {"e&xit under the progress dialog", true, WM_COMMAND, IDM_EXIT},
};

TEST_F(LongTransformTest, ClosingStopsTheTransformAndExitsWithZero) {
  for (const LongCloseCase& close : kLongCloses) {
    SCOPED_TRACE(close.name);
    DeleteFileA(SettingsPath().c_str());
    StartKarvel();
    if (close.afterProgressShows) {
      ASSERT_NE(EncodeUntilProgressShows(), nullptr);
    } else {
      SetBoxes(target_, "secret", "");
      Command(IDC_ENCODE);
      ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(main_, IDC_ENCODE)); }));
    }
    LARGE_INTEGER closed = Now();
    ASSERT_TRUE(PostMessageA(main_, close.message, close.wParam, 0));
    EXPECT_EQ(WaitForExit(), 0u) << "no message after the close";
    EXPECT_LT(MsSince(closed), 1000.0) << "cancelled within a second";
    StopKarvel();
    EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";
    EXPECT_NE(ReadText(SettingsPath()).find("WinRight=350"), std::string::npos)
        << "the placement is saved";
  }
  EXPECT_EQ(Digest(target_).second, kLargeSize);
}

TEST_F(KarvelTest, ShortTransformShowsNoProgressAndKeepsTheBoxesEnabled) {
  WriteBytes(PathOf("small.bin"), PlainContent());
  StartKarvel();
  SetBoxes(PathOf("small.bin"), "secret", "");
  Command(IDC_ENCODE);
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    EXPECT_EQ(FindProcessWindow(process_->Id(), kMessageBoxClass, kProgressCaption), nullptr);
    box = FindProcessWindow(process_->Id(), kMessageBoxClass, nullptr, true);
    return box != nullptr;
  }));
  for (int id : kInputControls) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_, id))) << id;
  EXPECT_EQ(DismissMessage().text, "done");
  Sleep(700);
  EXPECT_EQ(FindProcessWindow(process_->Id(), kMessageBoxClass, kProgressCaption), nullptr);
}

// ---- The busy state: what the window still takes while a transform runs.

// Which of the menu bar's pop-ups are enabled, read off the screen: under Wine
// another process cannot ask for a menu's state. A grayed title is drawn in the
// gray-text colour, never darker; an enabled one in the menu text's, far darker.
std::vector<bool> PopupsEnabled(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_FRAME);
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  const int bottom = client.top - GetSystemMetrics(SM_CYEDGE) - 2;
  const int top = client.top - GetSystemMetrics(SM_CYEDGE) - GetSystemMetrics(SM_CYMENU) + 2;
  const int width = client.right - client.left, height = bottom - top;
  const ScreenCapture capture({client.left, top, client.right, bottom},
                              ScreenCapture::Form::Pixels);
  const auto* pixels = static_cast<const DWORD*>(capture.Bits());
  const DWORD background = pixels[0] & 0xFFFFFF;
  const DWORD dark = GetRValue(GetSysColor(COLOR_GRAYTEXT)) / 2;
  std::vector<bool> enabled;
  int gap = width;  // columns without ink since the last title
  for (int x = 0; x < width; ++x) {
    bool ink = false, darkInk = false;
    for (int y = 0; y < height; ++y) {
      DWORD pixel = pixels[y * width + x] & 0xFFFFFF;
      ink |= pixel != background;
      darkInk |= pixel != background && ((pixel >> 16) & 0xFF) < dark &&
                 ((pixel >> 8) & 0xFF) < dark && (pixel & 0xFF) < dark;
    }
    if (ink && gap >= 6) enabled.push_back(false);  // a new title starts
    if (darkInk) enabled.back() = true;
    gap = ink ? 0 : gap + 1;
  }
  return enabled;
}

// The states the screen shows once it agrees with expected, or those last read
// when it never does: Wine repaints what a moved window uncovered a moment later.
std::vector<bool> PopupsSettle(HWND window, const std::vector<bool>& expected) {
  std::vector<bool> seen;
  WaitUntil([&] {
    seen = PopupsEnabled(window);
    return seen == expected;
  });
  return seen;
}

const std::vector<bool> kIdleMenu = {true, false, true};  // "&option" is grayed for good
const std::vector<bool> kBusyMenu = {false, false, false};

TEST_F(LongTransformTest, WhileATransformRunsTheMenuIsGrayedAndDropOpenAndAboutAreIgnored) {
  StartKarvel();
  EXPECT_EQ(PopupsSettle(main_, kIdleMenu), kIdleMenu) << "before";
  PostDrop(target_);  // a drop reaches the window while it is idle
  Sync();
  ExpectBoxes(target_, "", target_);
  SetBoxes(target_, "secret", "");
  Command(IDC_ENCODE);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowEnabled(GetDlgItem(main_, IDC_ENCODE)); }));
  std::vector<bool> early;
  bool dialogShown = false;
  WaitUntil([&] {
    early = PopupsEnabled(main_);
    dialogShown = FindProcessWindow(process_->Id(), kMessageBoxClass, kProgressCaption);
    return early == kBusyMenu || dialogShown;
  });
  // When the dialog came up over the menu bar meanwhile, it is read beside the dialog below.
  if (!dialogShown) {
    EXPECT_EQ(early, kBusyMenu) << "before the progress dialog shows";
  }
  HWND dialog = WaitForWindow(kMessageBoxClass, kProgressCaption);
  ASSERT_NE(dialog, nullptr);
  // Out of the way of the menu bar, which it covers on a display without a window manager.
  SetWindowPos(dialog, nullptr, 0, 400, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(PopupsSettle(main_, kBusyMenu), kBusyMenu) << "beside the progress dialog";

  PostDrop(PathOf("dropped.bin"));
  Command(IDM_OPEN);
  Command(IDM_ABOUT);
  Sync();
  Sleep(300);  // a dialog that did open has shown by now
  EXPECT_EQ(ProcessDialogs(), 1) << "only the progress dialog";
  EXPECT_EQ(FindProcessWindow(process_->Id(), kMessageBoxClass, "About Karvel"), nullptr);
  ExpectBoxes(target_, "secret", "");

  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(DismissMessage().text, "cancelled");
  EXPECT_EQ(PopupsSettle(main_, kIdleMenu), kIdleMenu) << "after";
  EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";
}

// ---- The session's end, and two windows on one file.

// As logging off does: every program is asked, then told the session ends.
void EndSession() {
  ChildStart start;
  start.command = {"wineboot.exe", "--end-session"};
  ChildProcess wineboot(start);
  ASSERT_TRUE(wineboot.Started());
  EXPECT_TRUE(wineboot.Wait(std::chrono::milliseconds(kPatienceMs)).exited);
}

TEST_F(LongTransformTest, EndingTheSessionStopsTheTransformAndKeepsTheTarget) {
  const auto before = Digest(target_);
  StartKarvel();
  ASSERT_NE(EncodeUntilProgressShows(), nullptr);
  EndSession();
  EXPECT_TRUE(WaitUntil([&] { return NamesIn(folder_) == std::vector<std::string>{"large.bin"}; }))
      << "the temporary file is gone";
  Sleep(300);
  EXPECT_FALSE(MessageShown()) << "nothing more is shown";
  StopKarvel();
  EXPECT_EQ(Digest(target_), before);
  // Only a close saves the window's place, and the session's end is none.
  EXPECT_EQ(ReadText(SettingsPath()), "");
}

// The threads of a process that run now.
std::vector<DWORD> ThreadsOf(DWORD processId) {
  std::vector<DWORD> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == processId) threads.push_back(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  std::sort(threads.begin(), threads.end());
  return threads;
}

// The system may end the process as soon as WM_ENDSESSION returns, as it is ended here. What is
// left on disk cannot tell whether the worker was waited for: the temporary file's delete
// disposition removes it however the process ends. The threads' exit codes can: one that ended
// on its own keeps its code, one still running when the process was ended takes the process's.
TEST_F(LongTransformTest, EndingTheSessionReturnsOnlyOnceTheWorkerHasStopped) {
  constexpr UINT kEndedBySystem = 0x5E55;
  const auto before = Digest(target_);
  StartKarvel();
  const std::vector<DWORD> idle = ThreadsOf(process_->Id());
  ASSERT_NE(EncodeUntilProgressShows(), nullptr);
  std::vector<HANDLE> started;
  for (DWORD id : ThreadsOf(process_->Id())) {
    if (std::find(idle.begin(), idle.end(), id) != idle.end()) continue;
    HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (thread != nullptr) started.push_back(thread);
  }
  ASSERT_FALSE(started.empty()) << "no worker thread";

  DWORD_PTR result = 0;
  ASSERT_TRUE(
      SendMessageTimeoutA(main_, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, kPatienceMs, &result));
  EXPECT_TRUE(result) << "the session may end";
  ASSERT_TRUE(
      SendMessageTimeoutA(main_, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, kPatienceMs, &result));
  ASSERT_TRUE(TerminateProcess(process_->Handle(), kEndedBySystem));
  ASSERT_EQ(WaitForSingleObject(process_->Handle(), kPatienceMs), WAIT_OBJECT_0);

  for (HANDLE thread : started) {
    EXPECT_EQ(WaitForSingleObject(thread, kPatienceMs), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread, &code);
    EXPECT_NE(code, kEndedBySystem) << "the worker still ran when WM_ENDSESSION returned";
    CloseHandle(thread);
  }
  EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";
  EXPECT_EQ(Digest(target_), before);
}

// Two windows encode the large file in place under different passphrases, the second a second
// after the first. Whichever result goes in first, the other window sees that the file is no
// longer the one it read, or, where the system cannot replace a file the other still reads (Wine),
// cannot put its result in place: one says "done", and the file opens under its passphrase alone.
TEST_F(LongTransformTest, TwoWindowsOnOneFileLeaveOneResultAndSayWhich) {
  const auto before = Digest(target_);
  const char* passphrases[] = {"aaaa", "bbbb"};
  std::unique_ptr<ChildProcess> processes[2];
  HWND windows[2];
  for (int i = 0; i < 2; ++i) {
    StartKarvel();
    SetBoxes(target_, passphrases[i], "");
    Command(IDC_ENCODE);
    processes[i] = std::move(process_);
    windows[i] = main_;
    if (i == 0) Sleep(1000);
  }
  int used = -1;  // the window whose process is process_
  auto use = [&](int i) {
    if (used >= 0) processes[used] = std::move(process_);
    process_ = std::move(processes[i]);
    main_ = windows[i];
    used = i;
  };
  std::string said[2];
  for (int i = 0; i < 2; ++i) {
    use(i);
    WaitUntil([&] { return MessageShown(); }, kLongTransformMs);
    said[i] = DismissMessage().text;
  }
  std::printf("[ measured ] first window: %s; second window: %s\n", said[0].c_str(),
              said[1].c_str());
  const int done = said[0] == "done" ? 0 : 1;
  EXPECT_EQ(said[done], "done");
  EXPECT_TRUE(said[1 - done] == "file changed while working" ||
              said[1 - done] == "output replace failed")
      << said[1 - done];
  EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";

  use(1 - done);
  SetBoxes(target_, passphrases[1 - done], "");
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "invalid key");
  StopKarvel();
  use(done);
  SetBoxes(target_, passphrases[done], "");
  Command(IDC_DECODE);
  WaitUntil([&] { return MessageShown(); }, kLongTransformMs);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(Digest(target_), before);
}

}  // namespace
}  // namespace karvel::window
