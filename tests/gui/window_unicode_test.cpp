// Unicode names and text, and the passphrase's code-page bytes (1252, and 932 on a Japanese
// system).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// ---- Unicode names and the passphrase's code-page bytes.

// Korean and an emoji in a folder whose name has characters whose Shift-JIS
// form ends in the byte of "\".
TEST_F(DesktopTest, UnicodeNamesRoundTrip) {
  const std::wstring folder = Wide(folder_) + L"\\表ソ能十";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring target = folder + L"\\한국어😀.bin";
  const std::wstring output = folder + L"\\출력😀.enc";
  const std::wstring back = folder + L"\\되돌림.bin";
  const Bytes plain = PlainContent();
  WriteBytesW(target, plain);
  StartKarvel();

  SetBoxW(IDC_TARGET_FILE, target);
  SetBoxW(IDC_PASSPHRASE, L"pass");
  SetBoxW(IDC_OUTPUT, output);
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  ExpectEncodingOf(ReadBytesW(output), plain, "pass");
  EXPECT_EQ(BoxTextW(IDC_TARGET_FILE), target);
  EXPECT_EQ(BoxTextW(IDC_OUTPUT), output);

  SetBoxW(IDC_TARGET_FILE, output);
  SetBoxW(IDC_PASSPHRASE, L"pass");
  SetBoxW(IDC_OUTPUT, back);
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(ReadBytesW(back), plain);

  SetBoxW(IDC_TARGET_FILE, target);
  SetBoxW(IDC_PASSPHRASE, L"pass");
  SetBoxW(IDC_OUTPUT, L"");
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  ExpectEncodingOf(ReadBytesW(target), plain, "pass");
  SetBoxW(IDC_PASSPHRASE, L"pass");
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(ReadBytesW(target), plain);
  EXPECT_EQ(NamesIn(Utf8(folder)),
            (std::vector<std::string>{"되돌림.bin", "출력😀.enc", "한국어😀.bin"}));
}

struct PassphraseCase {
  const wchar_t* typed;
  const char* cp932;   // its bytes under code page 932; nullptr: refused there
  const char* cp1252;  // its bytes under code page 1252; nullptr: refused there
};

// "ソ" and "表" end in the byte of "\" in Shift-JIS; "ÄÖÜ" would become "AOU"
// by best fit where the code page has no umlauts, "€" a "?".
const PassphraseCase kPassphrases[] = {
    {L"日本語", "\x93\xfa\x96\x7b\x8c\xea", nullptr},
    {L"ソ表", "\x83\x5c\x95\x5c", nullptr},
    {L"ÄÖÜ€", nullptr, "\xc4\xd6\xdc\x80"},
    {L"한국어😀", nullptr, nullptr},
    {L"plain", "plain", "plain"},
};

TEST_F(DesktopTest, UnicodePassphraseIsItsCodePageBytesOrRefused) {
  const UINT codePage = GetACP();
  if (codePage != 932 && codePage != 1252) GTEST_SKIP() << "code page " << codePage;
  const Bytes plain = PlainContent();
  const std::string target = PathOf("secret.bin");
  StartKarvel();
  for (const PassphraseCase& passphrase : kPassphrases) {
    SCOPED_TRACE(::testing::Message() << passphrase.typed << " under code page " << codePage);
    const char* bytes = codePage == 932 ? passphrase.cp932 : passphrase.cp1252;
    WriteBytes(target, plain);
    SetBox(IDC_TARGET_FILE, target);
    SetBoxW(IDC_PASSPHRASE, passphrase.typed);
    Command(IDC_ENCODE);
    if (bytes == nullptr) {
      EXPECT_EQ(DismissMessage().text, "encoding key has a character this system cannot use");
      EXPECT_EQ(ReadBytes(target), plain) << "nothing written";
      EXPECT_EQ(BoxTextW(IDC_PASSPHRASE), passphrase.typed) << "kept for correction";
    } else {
      EXPECT_EQ(DismissMessage().text, "done");
      ExpectEncodingOf(ReadBytes(target), plain, bytes);
    }
    EXPECT_EQ(NamesIn(folder_), std::vector<std::string>{"secret.bin"});
  }
}

// Japanese typed on the keyboard reaches the box as the characters typed.
TEST_F(DesktopTest, UnicodeTypedPassphraseArrivesWhole) {
  StartKarvel();
  ClickIntoWindow();
  Keys(L"alt+p");
  Type(L"日本語");
  WaitUntil([&] { return BoxTextW(IDC_PASSPHRASE) == L"日本語"; });
  EXPECT_EQ(BoxTextW(IDC_PASSPHRASE), L"日本語");
}

// In Shift-JIS, "十", "ソ" and "表" end in the byte of "\": a name scanned as
// code-page bytes showed as ".bin".
TEST_F(LongTransformTest, UnicodeFileNameShowsWholeInTheProgressDialog) {
  const std::wstring name = L"大きい十ソ表.bin";
  const std::wstring target = Wide(folder_) + L"\\" + name;
  ASSERT_TRUE(MoveFileW(Wide(target_).c_str(), target.c_str()));
  StartKarvel();
  SetBoxW(IDC_TARGET_FILE, target);
  SetBoxW(IDC_PASSPHRASE, L"secret");
  Command(IDC_ENCODE);
  HWND dialog = WaitForWindow(kMessageBoxClass, kProgressCaption);
  ASSERT_NE(dialog, nullptr);
  wchar_t shown[64] = L"";
  GetDlgItemTextW(dialog, IDC_PROGRESS_FILE, shown, 64);
  EXPECT_EQ(std::wstring(shown), name);
  SaveScreenshot(dialog, GetACP() == 932 ? "progress-dialog-cp932" : "progress-dialog-cp1252");
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(DismissMessage().text, "cancelled");
}

}  // namespace
}  // namespace karvel::window
