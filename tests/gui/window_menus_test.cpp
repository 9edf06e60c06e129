// The menus: the About box, the Open dialog and the help page.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// ---- The About box.

// How each command and close request ends the box is tested in process.
TEST_F(KarvelTest, AboutBoxIsModalUntilOk) {
  StartKarvel();
  Command(IDM_ABOUT);
  HWND about = WaitForWindow(kMessageBoxClass, "About Karvel");
  ASSERT_NE(about, nullptr);
  EXPECT_FALSE(IsWindowEnabled(main_)) << "the box is modal";
  RedrawWindow(about, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  DWORD_PTR result;
  SendMessageTimeoutA(about, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &result);
  SaveScreenshot(about, "about-box");
  PostMessageA(about, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(about); }));
  Sync();
  EXPECT_TRUE(IsWindowEnabled(main_));
}

// ---- The Open dialog.

TEST_F(KarvelTest, OpenDialogAcceptsANewNameInAnExistingFolder) {
  StartKarvel();
  SetBox(IDC_PASSPHRASE, "secret");
  Command(IDM_OPEN);
  HWND dialog = WaitForWindow(kMessageBoxClass, nullptr);
  ASSERT_NE(dialog, nullptr);
  HWND name = FileNameBox(dialog);
  ASSERT_NE(name, nullptr);
  std::string chosen = PathOf("not-there-yet.txt");
  DWORD_PTR result;
  SendMessageTimeoutA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()), SMTO_NORMAL,
                      kPatienceMs, &result);
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "dialog refused the name";
  Sync();
  ExpectBoxes(chosen, "secret", chosen);
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE);
  EXPECT_TRUE(WholeTextSelected(IDC_TARGET_FILE));
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "file open failed");
}

TEST_F(KarvelTest, CancellingTheOpenDialogChangesNothing) {
  StartKarvel();
  SetBoxes("typed target", "secret", "typed output");
  Command(IDM_OPEN);
  HWND dialog = WaitForWindow(kMessageBoxClass, nullptr);
  ASSERT_NE(dialog, nullptr);
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }));
  Sync();
  ExpectBoxes("typed target", "secret", "typed output");
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE);
  EXPECT_TRUE(WholeTextSelected(IDC_TARGET_FILE));
}

// ---- Help, started from another folder than the program's.

// The tests' prefix opens .html with help_handler.exe, which writes what it was asked to open to
// the file KARVEL_HELP_LOG names; karvel, and the handler it starts, inherit the variable.
class HelpLog {
 public:
  explicit HelpLog(std::string path) : path_(std::move(path)) {
    SetEnvironmentVariableA("KARVEL_HELP_LOG", path_.c_str());
  }
  ~HelpLog() { SetEnvironmentVariableA("KARVEL_HELP_LOG", nullptr); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST_F(KarvelTest, HelpOpensBesideTheProgramOrSaysItCannot) {
  const std::string exe = CopyOfKarvel(PathOf("program"));
  const HelpLog opened(PathOf("opened.txt"));
  StartKarvel(exe);  // its current directory is the test folder, without help.html
  Command(IDM_VIEW_HELP);
  EXPECT_EQ(DismissMessage().text, "help page cannot be opened");
  StopKarvel();
  EXPECT_FALSE(Exists(opened.path())) << "nothing opened";

  std::string help = std::string(KARVEL_EXE);
  help = help.substr(0, help.find_last_of("\\/")) + "\\help.html";
  ASSERT_TRUE(CopyFileA(help.c_str(), PathOf("program\\help.html").c_str(), FALSE));
  StartKarvel(exe);
  Command(IDM_VIEW_HELP);
  ASSERT_TRUE(WaitUntil([&] { return Exists(opened.path()); })) << "the help page did not open";
  EXPECT_EQ(ReadText(opened.path()), PathOf("program\\help.html") + "\n");
  // A failure would show its message once the handler has ended.
  Sleep(1000);
  Sync();
  EXPECT_FALSE(MessageShown());
}

}  // namespace
}  // namespace karvel::window
