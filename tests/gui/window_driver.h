// What every window test drives karvel.exe with: the real program started in its own process,
// its windows found and driven only by the window messages a user's clicks and keys would cause,
// and the files, screenshots and waits around it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "res/version.h"
#include "tests/support/child_process.h"

namespace karvel::window {

constexpr DWORD kPatienceMs = 10000;  // the longest any window is waited for
constexpr char kMainClass[] = KARVEL_CLASS_NAME;
constexpr char kMessageBoxClass[] = "#32770";
constexpr char kConfirmCaption[] = "karvel - encoding key";
constexpr char kProgressCaption[] = "karvel - working";
constexpr int kMessageBoxTextId = 0xFFFF;
using Bytes = std::vector<unsigned char>;

// Where karvel keeps its placement for the user who runs it.
std::string SettingsFolder();
std::string SettingsPath();
// Where older versions kept it, for every user alike.
std::string OldSettingsPath();
// The placement file's text for that rectangle, its line ends as ReadText gives them.
std::string SettingsText(int left, int top, int right, int bottom);

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

Bytes ReadBytesW(const std::wstring& path);
void WriteBytesW(const std::wstring& path, const Bytes& bytes);
// The tests' own paths are ASCII, the same in the code page and in UTF-8.
Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
// The file's text without its carriage returns.
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
bool Exists(const std::string& path);
// The sorted names in a folder (UTF-8 path), in UTF-8.
std::vector<std::string> NamesIn(const std::string& folder);

// Content that crosses the engine's chunk boundary and uses every byte value.
Bytes PlainContent();
// The reference encoding, whose header's free bytes are zero.
Bytes Encoded(const Bytes& plain, const std::string& passphrase);
// The encoded file must equal the reference encoding except in the header's free bytes.
void ExpectEncodingOf(const Bytes& actual, const Bytes& plain, const std::string& passphrase);

// Sparse: it costs no disk and reads fast, but its encoding takes several seconds to write.
constexpr uint64_t kLargeSize = 6ull << 30;
constexpr DWORD kLongTransformMs = 20 * kPatienceMs;  // a whole transform of it, two at a time
// A large file of mostly holes, with real bytes at its start and end.
void MakeLargeFile(const std::string& path);
// A digest of the whole file, eight bytes at a time, and its size.
std::pair<uint64_t, uint64_t> Digest(const std::string& path);
uint64_t FreeBytes(const std::string& folder);
LARGE_INTEGER Now();
// Milliseconds since a Now() reading.
double MsSince(LARGE_INTEGER start);

// The process's visible window of that class and caption (nullptr: any); needsMessageText asks
// for a message box's text. nullptr when there is none.
HWND FindProcessWindow(DWORD processId, const char* className, const char* caption,
                       bool needsMessageText = false);

// True once condition holds, false when patience runs out first.
template <class Condition>
bool WaitUntil(Condition condition, DWORD patienceMs = kPatienceMs) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > patienceMs) return false;
    Sleep(20);
  }
  return true;
}

// Writes the screen under the window's rectangle as a 24-bit BMP named name in the screenshots.
// The screen under a rectangle, copied at once: bottom-up 24-bit rows, as a BMP file holds them,
// or top-down 32-bit pixels, to be read.
class ScreenCapture {
 public:
  enum class Form { FileRows, Pixels };
  ScreenCapture(const RECT& rect, Form form);
  ~ScreenCapture();
  ScreenCapture(const ScreenCapture&) = delete;
  ScreenCapture& operator=(const ScreenCapture&) = delete;

  const BITMAPINFOHEADER& Header() const { return info_.bmiHeader; }
  const void* Bits() const { return bits_; }

 private:
  BITMAPINFO info_ = {};
  HDC screen_;
  HDC memory_;
  void* bits_ = nullptr;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

void SaveScreenshot(HWND window, const char* name);
// The file-name box of a common Open dialog.
HWND FileNameBox(HWND dialog);
// A copy of karvel.exe in a folder of its own, with what the test puts beside it.
std::string CopyOfKarvel(const std::string& folder);
// "left,top widthxheight".
std::string Rect(const RECT& rect);

struct MessageSeen {
  std::string caption;
  std::string text;
};

// A test folder of its own, no placement file before or after, and karvel.exe driven in it.
class KarvelTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string PathOf(const std::string& name) const { return folder_ + "\\" + name; }

  void StartKarvel(const std::string& exe = KARVEL_EXE);
  void StopKarvel();
  // Returns once karvel's thread has handled everything sent or posted before.
  void Sync();
  DWORD WaitForExit();
  bool Running() const;

  void SetBox(int id, const std::string& text);  // in the code page
  void SetBoxW(int id, const std::wstring& text);
  std::string BoxText(int id);
  std::wstring BoxTextW(int id);
  void SetBoxes(const std::string& target, const std::string& passphrase,
                const std::string& output);
  void ExpectBoxes(const std::string& target, const std::string& passphrase,
                   const std::string& output);

  HWND Focused();
  // The main window's control with the keyboard (0 for none of them), once it is the expected
  // one or patience runs out.
  int FocusAfterWaitingFor(int expected);
  bool WholeTextSelected(int id);

  // Posts the command; Encode's second asking for the passphrase gets the one in the box.
  void Command(WORD id);
  // Waits for what Encode shows first; when it asks for the passphrase again, gives it.
  void ConfirmIfAsked(const std::wstring& passphrase);
  // Encodes target in place through the window and checks the result byte for byte, then
  // decodes it back with the same typed passphrase.
  void RoundTripInPlace(const std::string& target, const std::string& passphrase,
                        const std::string& output, const Bytes& plain);

  HWND WaitForWindow(const char* className, const char* caption, bool needsMessageText = false);
  // Reads the message box karvel shows, presses its OK button and waits until the command is over.
  MessageSeen DismissMessage();
  bool MessageShown();
  // The dialogs karvel shows, its message boxes included.
  int ProcessDialogs();
  // Drops path on the window as the shell would.
  void PostDrop(const std::string& path);

  std::string folder_;
  std::unique_ptr<ChildProcess> process_;  // karvel.exe, once started
  HWND main_ = nullptr;
};

inline const int kInputControls[] = {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE,
                                     IDC_DECODE};

// The large file in the test folder, skipped without the disk for it and its encoding.
class LongTransformTest : public KarvelTest {
 protected:
  void SetUp() override;

  // Times one WM_NULL round trip to the main window, which must answer within a second.
  void TimeAnswer();
  // Starts encoding the large file in place and answers WM_NULL until the progress dialog shows.
  HWND EncodeUntilProgressShows();

  std::string target_;
  double slowestAnswerMs_ = 0;
  int answers_ = 0;
  double progressDelayMs_ = 0;
};

// A user at the keyboard: xdotool sends real X input to the window that has the focus.
class DesktopTest : public KarvelTest {
 protected:
  void Xdo(const std::vector<std::wstring>& arguments);
  void Keys(const std::wstring& keys);  // key names, a space between two
  void Type(const std::wstring& text) { Xdo({L"type", L"--delay", L"60", text}); }
  // Clicks above the target box, right of its label, where no control is.
  void ClickIntoWindow();
  // Reads the message box and closes it with the Enter key, as a user would.
  std::string EnterOnMessage();
};

}  // namespace karvel::window
