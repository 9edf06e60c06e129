// The window's side of files crossing to and from the command-line program on Linux.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "res/resource.h"
#include "tests/gui/window_driver.h"

namespace karvel::window {
namespace {

// ---- The file's other end: the command-line program on Linux (cross_system.sh runs both).

std::wstring Variable(const wchar_t* name) {
  wchar_t value[1024] = L"";
  DWORD length = GetEnvironmentVariableW(name, value, sizeof value / sizeof value[0]);
  return length < sizeof value / sizeof value[0] ? value : L"";
}

class CrossSystemTest : public KarvelTest {};

// In KARVEL_CROSS_FOLDER, under the passphrase KARVEL_CROSS_PASSPHRASE typed into the box:
// decodes from-cli.bin, which the command-line program encoded from plain.bin, and encodes
// from-window.bin, a copy of plain.bin, for the program to decode.
TEST_F(CrossSystemTest, WindowSide) {
  const std::wstring folder = Variable(L"KARVEL_CROSS_FOLDER");
  const std::wstring passphrase = Variable(L"KARVEL_CROSS_PASSPHRASE");
  if (folder.empty() || passphrase.empty()) GTEST_SKIP() << "run by cross_system.sh";
  const Bytes plain = ReadBytesW(folder + L"\\plain.bin");
  StartKarvel();
  SetBoxW(IDC_TARGET_FILE, folder + L"\\from-cli.bin");
  SetBoxW(IDC_PASSPHRASE, passphrase);
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(ReadBytesW(folder + L"\\from-cli.bin"), plain);

  SetBoxW(IDC_TARGET_FILE, folder + L"\\from-window.bin");
  SetBoxW(IDC_PASSPHRASE, passphrase);
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
}

}  // namespace
}  // namespace karvel::window
