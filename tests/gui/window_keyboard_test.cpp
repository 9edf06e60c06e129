// A user at the keyboard and mouse of the virtual display: focus, mnemonics, Enter and Escape.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "res/resource.h"
#include "tests/gui/window_driver.h"
#include "tests/support/run_job.h"

namespace karvel::window {
namespace {

TEST_F(KarvelTest, OkCancelEnterAndEscapeLeaveTheMainWindowAlone) {
  StartKarvel();
  Command(IDOK);
  Command(IDCANCEL);
  HWND target = GetDlgItem(main_, IDC_TARGET_FILE);
  PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0);
  PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
  Sync();
  EXPECT_TRUE(Running());
  EXPECT_TRUE(IsWindowVisible(main_));
  EXPECT_FALSE(MessageShown());
}

TEST_F(DesktopTest, KeyboardReachesEveryBoxAndButton) {
  StartKarvel();
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE) << "at start";
  ClickIntoWindow();
  ASSERT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE)
      << "after a click on no control";
  const int tabOrder[] = {IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE, IDC_TARGET_FILE};
  for (int id : tabOrder) {
    Keys(L"Tab");
    EXPECT_EQ(FocusAfterWaitingFor(id), id) << "Tab";
  }
  Keys(L"shift+Tab");
  EXPECT_EQ(FocusAfterWaitingFor(IDC_DECODE), IDC_DECODE) << "Shift+Tab";
  const struct {
    const wchar_t* keys;
    int id;
  } mnemonics[] = {{L"alt+p", IDC_PASSPHRASE}, {L"alt+o", IDC_OUTPUT}, {L"alt+t", IDC_TARGET_FILE}};
  for (const auto& mnemonic : mnemonics) {
    Keys(mnemonic.keys);
    EXPECT_EQ(FocusAfterWaitingFor(mnemonic.id), mnemonic.id) << mnemonic.keys;
  }
  Keys(L"Return Escape");
  EXPECT_TRUE(Running());
  EXPECT_TRUE(IsWindowVisible(main_));
  EXPECT_FALSE(MessageShown()) << "Enter and Escape press nothing";
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE);
}

// Decode under a mistyped passphrase, Enter on "invalid key", then the right
// passphrase typed at once: each of its letters must go into the box, none
// may press a button by its mnemonic ("e" would encode the file again).
TEST_F(DesktopTest, TypingAfterAMessageGoesIntoTheBoxItIsAbout) {
  const Bytes plain = PlainContent();
  const std::string target = PathOf("letter.bin");
  WriteBytes(target, Encoded(plain, "secret"));
  const Bytes encoded = ReadBytes(target);
  StartKarvel();
  SetBox(IDC_TARGET_FILE, target);
  ClickIntoWindow();
  Keys(L"alt+p");
  Type(L"secreT");
  Keys(L"alt+d");
  EXPECT_EQ(EnterOnMessage(), "invalid key");
  EXPECT_EQ(FocusAfterWaitingFor(IDC_PASSPHRASE), IDC_PASSPHRASE);
  EXPECT_TRUE(WholeTextSelected(IDC_PASSPHRASE));
  Type(L"secret");
  Sleep(300);
  EXPECT_FALSE(MessageShown()) << "a typed letter pressed a button";
  EXPECT_EQ(ReadBytes(target), encoded) << "the file is unchanged";
  EXPECT_EQ(BoxText(IDC_PASSPHRASE), "secret") << "the typing replaced the wrong passphrase";
  Keys(L"alt+d");
  EXPECT_EQ(EnterOnMessage(), "done");
  EXPECT_EQ(ReadBytes(target), plain);
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE) << "after done";
  EXPECT_TRUE(WholeTextSelected(IDC_TARGET_FILE));
  ExpectBoxes(target, "", "");

  Keys(L"alt+p");
  Type(L"secret");
  ExpectBoxes(target, "secret", "");
  Keys(L"alt+e");
  Type(L"secret");  // again, in the box that asks for it
  Keys(L"Return");
  EXPECT_EQ(EnterOnMessage(), "done");
  ExpectEncodingOf(ReadBytes(target), plain, "secret");
  Keys(L"alt+p");
  Type(L"secret");
  Keys(L"alt+e");
  EXPECT_EQ(EnterOnMessage(), "alreadly encoded by the passphrase");
  EXPECT_EQ(FocusAfterWaitingFor(IDC_PASSPHRASE), IDC_PASSPHRASE);
  EXPECT_TRUE(WholeTextSelected(IDC_PASSPHRASE));
}

// After each refusal the keyboard is in the box the message is about, its text selected.
TEST_F(DesktopTest, EachRefusalLeavesTheKeyboardInItsBox) {
  WriteBytes(PathOf("plain.bin"), PlainContent());
  CreateDirectoryA(PathOf("sub").c_str(), nullptr);
  const struct {
    const char* name;
    std::string target, passphrase, output;
    int box;
  } cases[] = {
      {"no passphrase", PathOf("plain.bin"), "", "", IDC_PASSPHRASE},
      {"no target", "", "secret", "", IDC_TARGET_FILE},
      {"missing target", PathOf("missing.bin"), "secret", "", IDC_TARGET_FILE},
      {"invalid key", PathOf("plain.bin"), "secret", "", IDC_PASSPHRASE},
      {"output is a folder", PathOf("plain.bin"), "secret", PathOf("sub"), IDC_OUTPUT},
  };
  StartKarvel();
  ClickIntoWindow();
  for (const auto& refusal : cases) {
    SCOPED_TRACE(refusal.name);
    SetBoxes(refusal.target, refusal.passphrase, refusal.output);
    // The output is refused before Encode asks for the passphrase again.
    Keys(refusal.box == IDC_OUTPUT ? L"alt+e" : L"alt+d");
    EnterOnMessage();
    EXPECT_EQ(FocusAfterWaitingFor(refusal.box), refusal.box);
    EXPECT_TRUE(WholeTextSelected(refusal.box));
  }
}

// A disk from another system may hold "trail" and "trail.": dropped or typed, the name ending in a
// dot or a space is the one transformed, never the other.
TEST_F(DesktopTest, ANameEndingInADotOrASpaceIsTheFileTransformed) {
  enum class Way { Box, Drop, OpenDialog };
  const struct {
    const char* name;
    Way way;
  } cases[] = {{"trail.", Way::Drop},
               {"space ", Way::Box},
               {"trail.", Way::OpenDialog},
               {"space ", Way::OpenDialog}};
  const Bytes plain = PlainContent(), other = {1, 2, 3};
  StartKarvel();
  ClickIntoWindow();
  for (const auto& given : cases) {
    SCOPED_TRACE(std::string(given.name) + " by way " + std::to_string(int(given.way)));
    const std::string path = PathOf(given.name), bare = PathOf(std::string(given.name, 5));
    const std::wstring exact = L"\\\\?\\" + Wide(path);
    WriteBytes(bare, other);
    WriteBytesW(exact, plain);
    switch (given.way) {
      case Way::Box:
        SetBoxes(path, "", "");
        break;
      case Way::Drop:
        PostDrop(path);
        Sync();
        ExpectBoxes(path, "", path);
        break;
      case Way::OpenDialog: {
        Command(IDM_OPEN);
        HWND dialog = WaitForWindow(kMessageBoxClass, nullptr);
        ASSERT_NE(dialog, nullptr);
        DWORD_PTR result;
        SendMessageTimeoutA(FileNameBox(dialog), WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(path.c_str()), SMTO_NORMAL, kPatienceMs,
                            &result);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); })) << "dialog refused the name";
        Sync();
        ExpectBoxes(path, "", path);
        break;
      }
    }
    Keys(L"alt+p");
    Type(L"secret");
    Keys(L"alt+e");
    Type(L"secret");  // again, in the box that asks for it
    Keys(L"Return");
    EXPECT_EQ(EnterOnMessage(), "done");
    ExpectEncodingOf(ReadBytesW(exact), plain, "secret");
    EXPECT_EQ(ReadBytes(bare), other);
    EXPECT_TRUE(DeleteFileW(exact.c_str()));
  }
}

// A file this version wrote knows its own content: one cut short is refused, and the
// keyboard goes back to the box that names it.
TEST_F(DesktopTest, ADamagedFileIsRefusedAndTheKeyboardGoesToTheTargetBox) {
  const std::string plainPath = PathOf("whole.bin"), target = PathOf("cut.bin");
  WriteBytes(plainPath, PlainContent());
  ASSERT_EQ(karvel::RunJob(&karvel::EncodingJob::Encode, "secret", plainPath, target),
            karvel::JobStatus::Ok);
  Bytes cut = ReadBytes(target);
  cut.pop_back();
  WriteBytes(target, cut);
  StartKarvel();
  SetBox(IDC_TARGET_FILE, target);
  ClickIntoWindow();
  Keys(L"alt+p");
  Type(L"secret");
  Keys(L"alt+d");
  EXPECT_EQ(EnterOnMessage(), "file is damaged");
  EXPECT_EQ(FocusAfterWaitingFor(IDC_TARGET_FILE), IDC_TARGET_FILE);
  EXPECT_TRUE(WholeTextSelected(IDC_TARGET_FILE));
  EXPECT_EQ(ReadBytes(target), cut) << "the file is unchanged";
  ExpectBoxes(target, "secret", "");
}

// A slip in either typing writes nothing; so does a cancel. Decode asks once.
TEST_F(DesktopTest, EncodeAsksForThePassphraseAgainAndWritesNothingUnlessTheyMatch) {
  const Bytes plain = PlainContent();
  const std::string target = PathOf("twice.bin");
  WriteBytes(target, plain);
  StartKarvel();
  SetBox(IDC_TARGET_FILE, target);
  ClickIntoWindow();
  const struct {
    const char* name;
    const wchar_t* again;  // typed into the confirmation; nullptr: Escape
    const char* message;   // nullptr: none
  } answers[] = {
      {"a slip", L"secreT", "encoding keys differ"},
      {"one more character", L"secrets", "encoding keys differ"},
      {"cancelled", nullptr, nullptr},
  };
  for (const auto& answer : answers) {
    SCOPED_TRACE(answer.name);
    Keys(L"alt+p");
    Type(L"secret");
    Keys(L"alt+e");
    HWND confirm = WaitForWindow(kMessageBoxClass, kConfirmCaption);
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(confirm, GWLP_HWNDPARENT), reinterpret_cast<LONG_PTR>(main_));
    EXPECT_TRUE(GetWindowLongA(GetDlgItem(confirm, IDC_CONFIRM_PASSPHRASE), GWL_STYLE) &
                ES_PASSWORD)
        << "masked";
    if (answer.again == nullptr) SaveScreenshot(confirm, "confirm-dialog");
    if (answer.again == nullptr) {
      Keys(L"Escape");
    } else {
      Type(answer.again);
      Keys(L"Return");
    }
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(confirm); }));
    if (answer.message != nullptr) {
      EXPECT_EQ(EnterOnMessage(), answer.message);
    }
    Sleep(200);
    EXPECT_FALSE(MessageShown());
    EXPECT_EQ(ReadBytes(target), plain) << "nothing written";
    EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"twice.bin"});
    EXPECT_EQ(FocusAfterWaitingFor(IDC_PASSPHRASE), IDC_PASSPHRASE);
    EXPECT_TRUE(WholeTextSelected(IDC_PASSPHRASE));
    EXPECT_EQ(BoxText(IDC_PASSPHRASE), "secret");
  }
  Keys(L"alt+e");
  Type(L"secret");
  Keys(L"Return");
  EXPECT_EQ(EnterOnMessage(), "done");
  ExpectEncodingOf(ReadBytes(target), plain, "secret");
  Keys(L"alt+p");
  Type(L"secret");
  Keys(L"alt+d");
  EXPECT_EQ(EnterOnMessage(), "done") << "Decode asks once";
  EXPECT_EQ(ReadBytes(target), plain);
}

// The keys a user cancels with, pressed on the progress dialog's focused Cancel button. Enter
// goes by the dialog's default button, so it cancels wherever the focus is.
TEST_F(DesktopTest, EscapeSpaceAndEnterOnTheProgressDialogCancel) {
  if (FreeBytes(folder_) < 2 * kLargeSize) {
    GTEST_SKIP() << "needs " << (2 * kLargeSize >> 30) << " GiB of free disk";
  }
  const std::string target = PathOf("large.bin");
  MakeLargeFile(target);
  const auto before = Digest(target);
  StartKarvel();
  for (const std::string key : {"Escape", "space", "Return"}) {
    SCOPED_TRACE(key);
    SetBoxes(target, "secret", "");
    Command(IDC_ENCODE);
    HWND dialog = WaitForWindow(kMessageBoxClass, kProgressCaption);
    ASSERT_NE(dialog, nullptr);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    ASSERT_TRUE(WaitUntil([&] { return Focused() == cancel; })) << "Cancel has the keyboard";
    DWORD_PTR defaultId = 0;
    SendMessageTimeoutA(dialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, kPatienceMs, &defaultId);
    EXPECT_EQ(defaultId, MAKELONG(IDCANCEL, DC_HASDEFID));
    if (key == "Return") SaveScreenshot(dialog, "progress-dialog-cancel-focused");
    Keys(std::wstring(key.begin(), key.end()));
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.text, "cancelled");
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"large.bin"}) << "no temporary file";
  }
  EXPECT_EQ(Digest(target), before);
}

}  // namespace
}  // namespace karvel::window
