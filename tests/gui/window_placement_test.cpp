// Where the window opens, where its placement is kept, how it comes back, and at which DPI.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// ---- Placement and closing.

TEST_F(KarvelTest, FirstRunOpensAtTheDefaultRectangle) {
  StartKarvel();
  RECT rect;
  GetWindowRect(main_, &rect);
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right - rect.left, 350);
  EXPECT_EQ(rect.bottom - rect.top, 230);
  EXPECT_FALSE(Exists(SettingsPath())) << "nothing is written before the first close";
  RedrawWindow(main_, nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
  Sync();
  SaveScreenshot(main_, "main-window");
}

TEST_F(KarvelTest, MissingEdgesFallBackToTheirDefaults) {
  std::string settings = "[Settings]\r\nWinLeft=100\r\nWinTop=50\r\n";
  WriteBytes(SettingsPath(), Bytes(settings.begin(), settings.end()));
  StartKarvel();
  RECT rect;
  GetWindowRect(main_, &rect);
  EXPECT_EQ(rect.left, 100);
  EXPECT_EQ(rect.top, 50);
  EXPECT_EQ(rect.right - rect.left, 250);
  EXPECT_EQ(rect.bottom - rect.top, 180);
}

struct CloseCase {
  const char* name;
  UINT message;
  WPARAM wParam;
};

const CloseCase kCloses[] = {
    {"close message", WM_CLOSE, 0},
    {"e&xit", WM_COMMAND, IDM_EXIT},
    {"system menu close", WM_SYSCOMMAND, SC_CLOSE},
};

TEST_F(KarvelTest, EveryWayOfClosingSavesThePlacementAndExitsWithZero) {
  int shift = 0;
  for (const CloseCase& close : kCloses) {
    SCOPED_TRACE(close.name);
    DeleteFileA(SettingsPath().c_str());
    StartKarvel();
    shift += 40;
    ASSERT_TRUE(MoveWindow(main_, 20 + shift, 10 + shift, 350, 230, TRUE));
    Sync();
    ASSERT_TRUE(PostMessageA(main_, close.message, close.wParam, 0));
    EXPECT_EQ(WaitForExit(), 0u);
    std::string expected = "[Settings]\nWinLeft=" + std::to_string(20 + shift) +
                           "\nWinTop=" + std::to_string(10 + shift) +
                           "\nWinRight=" + std::to_string(370 + shift) +
                           "\nWinBottom=" + std::to_string(240 + shift) + "\n";
    EXPECT_EQ(ReadText(SettingsPath()), expected);
    StopKarvel();
  }
}

TEST_F(KarvelTest, MovedWindowReopensWithTheSameRectangle) {
  StartKarvel();
  ASSERT_TRUE(MoveWindow(main_, 123, 45, 350, 230, TRUE));
  Sync();
  RECT before;
  GetWindowRect(main_, &before);
  PostMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(), 0u);
  StopKarvel();
  StartKarvel();
  RECT after;
  GetWindowRect(main_, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(after.right, before.right);
  EXPECT_EQ(after.bottom, before.bottom);
}

// ---- Where the placement is kept and how it comes back.

RECT WorkArea() {
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

TEST_F(KarvelTest, MinimizedCloseSavesTheRestoredRectangle) {
  StartKarvel();
  ASSERT_TRUE(MoveWindow(main_, 200, 150, 350, 230, TRUE));
  Sync();
  ShowWindowAsync(main_, SW_MINIMIZE);
  ASSERT_TRUE(WaitUntil([&] { return IsIconic(main_) != FALSE; }));
  Sync();
  ASSERT_TRUE(PostMessageA(main_, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(), 0u);
  StopKarvel();
  EXPECT_EQ(ReadText(SettingsPath()), SettingsText(200, 150, 550, 380));
  StartKarvel();
  RECT rect;
  GetWindowRect(main_, &rect);
  EXPECT_EQ(Rect(rect), "200,150 350x230");
}

struct RestoreCase {
  const char* name;
  const char* settings;
  int left, top, width, height;  // negative left or top: so far from the work area's far edge
};

const RestoreCase kRestores[] = {
    {"on screen, kept exactly", "WinLeft=10\nWinTop=20\nWinRight=300\nWinBottom=400", 10, 20, 290,
     380},
    {"a detached monitor to the right", "WinLeft=3000\nWinTop=2000\nWinRight=3350\nWinBottom=2230",
     -350, -230, 350, 230},
    {"a detached monitor to the left", "WinLeft=-1800\nWinTop=100\nWinRight=-1450\nWinBottom=330",
     0, 100, 350, 230},
    {"the minimized rectangle earlier versions saved on Windows",
     "WinLeft=-32000\nWinTop=-32000\nWinRight=-31840\nWinBottom=-31972", 0, 0, 350, 230},
    {"garbage", "WinLeft=abc\nWinTop=?\nWinRight=x1\nWinBottom=", 0, 0, 350, 230},
    {"right edge left of the left", "WinLeft=300\nWinTop=200\nWinRight=100\nWinBottom=400", 300,
     200, 350, 230},
    {"off screen and larger than it", "WinLeft=9000\nWinTop=9000\nWinRight=29000\nWinBottom=29000",
     -350, -230, 350, 230},
};

TEST_F(KarvelTest, PlacementComesBackOnTheScreen) {
  const RECT work = WorkArea();
  for (const RestoreCase& restore : kRestores) {
    SCOPED_TRACE(restore.name);
    WriteText(SettingsPath(), std::string("[Settings]\n") + restore.settings + "\n");
    StartKarvel();
    RECT rect;
    GetWindowRect(main_, &rect);
    RECT expected = {restore.left < 0 ? work.right + restore.left : restore.left,
                     restore.top < 0 ? work.bottom + restore.top : restore.top, 0, 0};
    expected.right = expected.left + restore.width;
    expected.bottom = expected.top + restore.height;
    EXPECT_EQ(Rect(rect), Rect(expected));
    PostMessageA(main_, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(), 0u);
    StopKarvel();
    EXPECT_EQ(ReadText(SettingsPath()),
              SettingsText(expected.left, expected.top, expected.right, expected.bottom))
        << "saved as shown";
  }
}

TEST_F(KarvelTest, OldSettingsAreReadUntilTheUsersOwnAreWritten) {
  WriteText(OldSettingsPath(), SettingsText(100, 50, 450, 280));
  StartKarvel();
  RECT rect;
  GetWindowRect(main_, &rect);
  EXPECT_EQ(Rect(rect), "100,50 350x230");
  ASSERT_TRUE(MoveWindow(main_, 120, 60, 350, 230, TRUE));
  PostMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(), 0u);
  StopKarvel();
  EXPECT_EQ(ReadText(SettingsPath()), SettingsText(120, 60, 470, 290));
  EXPECT_EQ(ReadText(OldSettingsPath()), SettingsText(100, 50, 450, 280)) << "left as it was";
  StartKarvel();
  GetWindowRect(main_, &rect);
  EXPECT_EQ(Rect(rect), "120,60 350x230");
}

TEST_F(KarvelTest, PortableSettingsBesideTheProgramWhenThereAndWritable) {
  const std::string exe = CopyOfKarvel(PathOf("portable"));
  const std::string beside = PathOf("portable\\karvel.ini");
  WriteText(beside, SettingsText(70, 40, 420, 270));
  StartKarvel(exe);
  RECT rect;
  GetWindowRect(main_, &rect);
  EXPECT_EQ(Rect(rect), "70,40 350x230");
  ASSERT_TRUE(MoveWindow(main_, 90, 30, 350, 230, TRUE));
  PostMessageA(main_, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForExit(), 0u);
  StopKarvel();
  EXPECT_EQ(ReadText(beside), SettingsText(90, 30, 440, 260));
  EXPECT_FALSE(Exists(SettingsPath())) << "nothing in the user's folder";
}

// ---- High DPI: the prefix's LogPixels, read by each program as it starts.

class DpiTest : public KarvelTest {
 protected:
  void SetDpi(DWORD dpi) {
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", REG_DWORD,
                              &dpi, sizeof dpi),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    KarvelTest::TearDown();
    SetDpi(96);
  }
};

// The window fits its content at every DPI: the margin right of and below the controls grows with
// the DPI, never into an empty band; at 96 DPI the saved size shows exactly.
TEST_F(DpiTest, TemplateScalesWithTheScreenAndPlacementStaysIn96DpiPixels) {
  const struct {
    DWORD dpi;
    const char* screenshot;
    const char* shownAt;
  } scales[] = {{96, "main-window-96dpi", "80,40"},
                {144, "main-window-144dpi", "120,60"},
                {192, "main-window-192dpi", "160,80"}};
  SIZE margin96 = {};
  for (const auto& scale : scales) {
    SCOPED_TRACE(scale.dpi);
    SetDpi(scale.dpi);
    WriteText(SettingsPath(), SettingsText(80, 40, 430, 270));
    StartKarvel();
    RECT rect;
    GetWindowRect(main_, &rect);
    EXPECT_EQ(Rect(rect).substr(0, Rect(rect).find(' ')), scale.shownAt);
    if (scale.dpi == 96) {
      EXPECT_EQ(Rect(rect), "80,40 350x230");
    }
    RECT client;
    GetClientRect(main_, &client);
    MapWindowPoints(main_, nullptr, reinterpret_cast<POINT*>(&client), 2);
    LONG right = 0, bottom = 0;
    for (int id : {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE}) {
      RECT control;
      GetWindowRect(GetDlgItem(main_, id), &control);
      right = std::max(right, control.right);
      bottom = std::max(bottom, control.bottom);
    }
    const SIZE margin = {client.right - right, client.bottom - bottom};
    std::printf("[ measured ] %lu DPI: window %s, margin right of and below the controls %ldx%ld\n",
                scale.dpi, Rect(rect).c_str(), margin.cx, margin.cy);
    EXPECT_GE(margin.cx, 0) << "the controls fit across";
    EXPECT_GE(margin.cy, 0) << "the controls fit down";
    if (scale.dpi == 96) margin96 = margin;
    const LONG slack = 3;  // the font's sizes round differently at each DPI
    EXPECT_LE(margin.cx, MulDiv(margin96.cx, scale.dpi, 96) + slack)
        << "no empty band at the right";
    EXPECT_LE(margin.cy, MulDiv(margin96.cy, scale.dpi, 96) + slack) << "no empty band below";
    RedrawWindow(main_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sync();
    SaveScreenshot(main_, scale.screenshot);
    PostMessageA(main_, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(), 0u);
    StopKarvel();
    EXPECT_EQ(ReadText(SettingsPath()), SettingsText(80, 40, 430, 270)) << "saved as it was";
  }
}

}  // namespace
}  // namespace karvel::window
