// End-to-end tests: the real karvel.exe, started in its own process and
// driven only by the window messages a user's clicks and keys would cause.
#include <gtest/gtest.h>
#include <windows.h>
// Builds on the types of windows.h.
#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "engine/encoding_job.h"
#include "res/resource.h"
#include "res/version.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"

namespace {

constexpr DWORD kPatienceMs = 10000;  // the longest any window is waited for
constexpr char kMainClass[] = KARVEL_CLASS_NAME;
constexpr char kMessageBoxClass[] = "#32770";
constexpr char kConfirmCaption[] = "karvel - encoding key";
constexpr int kMessageBoxTextId = 0xFFFF;
using Bytes = std::vector<unsigned char>;

// Where karvel keeps its placement for the user who runs it.
std::string SettingsFolder() {
  char folder[MAX_PATH];
  SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return std::string(folder) + "\\karvel";
}

std::string SettingsPath() { return SettingsFolder() + "\\karvel.ini"; }

// Where older versions kept it, for every user alike.
std::string OldSettingsPath() {
  char folder[MAX_PATH];
  GetWindowsDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\karvel.ini";
}

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(units > 0 ? units - 1 : 0);
  return wide;
}

Bytes ReadBytesW(const std::wstring& path) {
  Bytes bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  unsigned char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  CloseHandle(file);
  return bytes;
}

void WriteBytesW(const std::wstring& path, const Bytes& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
  CloseHandle(file);
}

// The tests' own paths are ASCII, the same in the code page and in UTF-8.
Bytes ReadBytes(const std::string& path) { return ReadBytesW(Wide(path)); }
void WriteBytes(const std::string& path, const Bytes& bytes) { WriteBytesW(Wide(path), bytes); }

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadBytes(path);
  std::string text;
  for (unsigned char c : bytes) {
    if (c != '\r') text += static_cast<char>(c);
  }
  return text;
}

std::vector<std::wstring> NamesInW(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Content that crosses the engine's chunk boundary and uses every byte value.
Bytes PlainContent() {
  Bytes bytes(karvel::kChunkSize + 4000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
  return bytes;
}

// The reference encoding, whose header's free bytes are zero.
Bytes Encoded(const Bytes& plain, const std::string& passphrase) {
  return karvel::ReferenceEncode(passphrase, plain);
}

// The encoded file must equal the reference encoding except in the header's
// free bytes: the 128-byte header's first 26 are the signature and its terminator.
void ExpectEncodingOf(const Bytes& actual, const Bytes& plain, const std::string& passphrase) {
  constexpr size_t kHeaderBytes = 128;
  constexpr size_t kCheckedHeaderBytes = 26;
  Bytes expected = Encoded(plain, passphrase);
  ASSERT_EQ(actual.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + kCheckedHeaderBytes, actual.begin()))
      << "scrambled signature";
  EXPECT_TRUE(
      std::equal(expected.begin() + kHeaderBytes, expected.end(), actual.begin() + kHeaderBytes))
      << "scrambled content";
}

struct WindowSearch {
  DWORD processId;
  const char* className;
  const char* caption;  // nullptr: any
  bool needsMessageText;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  char caption[256] = "";
  GetWindowTextA(window, caption, sizeof caption);
  if (processId != search->processId || !IsWindowVisible(window) ||
      lstrcmpA(className, search->className) != 0 ||
      (search->caption != nullptr && lstrcmpA(caption, search->caption) != 0) ||
      (search->needsMessageText && GetDlgItem(window, kMessageBoxTextId) == nullptr)) {
    return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND FindProcessWindow(DWORD processId, const char* className, const char* caption,
                       bool needsMessageText = false) {
  WindowSearch search = {processId, className, caption, needsMessageText, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class Condition>
bool WaitUntil(Condition condition, DWORD patienceMs = kPatienceMs) {
  DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > patienceMs) return false;
    Sleep(20);
  }
  return true;
}

struct MessageSeen {
  std::string caption;
  std::string text;
};

// Writes the screen under the window's rectangle as a 24-bit BMP.
void SaveScreenshot(HWND window, const char* name) {
  RECT rect;
  GetWindowRect(window, &rect);
  int width = rect.right - rect.left, height = rect.bottom - rect.top;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  GdiFlush();
  DWORD imageSize = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + imageSize;
  Bytes bytes(reinterpret_cast<unsigned char*>(&file), reinterpret_cast<unsigned char*>(&file + 1));
  auto* header = reinterpret_cast<unsigned char*>(&info.bmiHeader);
  bytes.insert(bytes.end(), header, header + sizeof info.bmiHeader);
  bytes.insert(bytes.end(), static_cast<unsigned char*>(bits),
               static_cast<unsigned char*>(bits) + imageSize);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  CreateDirectoryA(KARVEL_SCREENSHOT_DIR, nullptr);
  WriteBytes(std::string(KARVEL_SCREENSHOT_DIR) + "\\" + name + ".bmp", bytes);
}

class KarvelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    folder_ = std::string(temp) + "karvel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : folder_) {
      if (c == '/') c = '-';
    }
    RemoveTree(folder_);
    ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << folder_;
    DeleteFileA(SettingsPath().c_str());
    DeleteFileA(OldSettingsPath().c_str());
    CreateDirectoryA(SettingsFolder().c_str(), nullptr);
  }

  void TearDown() override {
    StopKarvel();
    RemoveTree(folder_);
    DeleteFileA(SettingsPath().c_str());
    DeleteFileA(OldSettingsPath().c_str());
  }

  std::string PathOf(const std::string& name) const { return folder_ + "\\" + name; }

  void StartKarvel(const std::string& exe = KARVEL_EXE) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char commandLine[] = "karvel.exe";
    ASSERT_TRUE(CreateProcessA(exe.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                               folder_.c_str(), &startup, &process_))
        << exe << ": error " << GetLastError();
    ASSERT_TRUE(WaitUntil([&] {
      main_ = FindProcessWindow(process_.dwProcessId, kMainClass, KARVEL_CAPTION);
      return main_ != nullptr;
    })) << "no main window";
    Sync();
  }

  void StopKarvel() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, kPatienceMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = {};
    main_ = nullptr;
  }

  // Returns once karvel's thread has handled everything sent or posted before.
  void Sync() {
    DWORD_PTR result;
    ASSERT_TRUE(SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &result));
  }

  DWORD WaitForExit() {
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, kPatienceMs), WAIT_OBJECT_0);
    DWORD code = 12345;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

  void SetBox(int id, const std::string& text) {
    DWORD_PTR result;
    ASSERT_TRUE(SendMessageTimeoutA(GetDlgItem(main_, id), WM_SETTEXT, 0,
                                    reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                                    kPatienceMs, &result));
  }

  std::string BoxText(int id) {
    DWORD_PTR length = 0;
    SendMessageTimeoutA(GetDlgItem(main_, id), WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kPatienceMs,
                        &length);
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR result;
    SendMessageTimeoutA(GetDlgItem(main_, id), WM_GETTEXT, text.size(),
                        reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kPatienceMs, &result);
    return text.data();
  }

  void SetBoxes(const std::string& target, const std::string& passphrase,
                const std::string& output) {
    SetBox(IDC_TARGET_FILE, target);
    SetBox(IDC_PASSPHRASE, passphrase);
    SetBox(IDC_OUTPUT, output);
  }

  void ExpectBoxes(const std::string& target, const std::string& passphrase,
                   const std::string& output) {
    EXPECT_EQ(BoxText(IDC_TARGET_FILE), target);
    EXPECT_EQ(BoxText(IDC_PASSPHRASE), passphrase);
    EXPECT_EQ(BoxText(IDC_OUTPUT), output);
  }

  void SetBoxW(int id, const std::wstring& text) {
    DWORD_PTR result;
    ASSERT_TRUE(SendMessageTimeoutW(GetDlgItem(main_, id), WM_SETTEXT, 0,
                                    reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL,
                                    kPatienceMs, &result));
  }

  std::wstring BoxTextW(int id) {
    std::vector<wchar_t> text(1024, L'\0');
    DWORD_PTR result;
    SendMessageTimeoutW(GetDlgItem(main_, id), WM_GETTEXT, text.size(),
                        reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kPatienceMs, &result);
    return text.data();
  }

  HWND Focused() {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &info);
    return info.hwndFocus;
  }

  // The main window's control with the keyboard (0 for none of them), once it is the expected
  // one or patience runs out. Without a window manager, Wine now and then hands the activation to
  // the desktop when a message box closes just after a dialog did; the window is then brought
  // back, as the user's click would, and the control it gives the keyboard to is what counts.
  int FocusAfterWaitingFor(int expected) {
    auto focusedId = [&] {
      HWND focused = Focused();
      return focused != nullptr && GetParent(focused) == main_ ? GetDlgCtrlID(focused) : 0;
    };
    auto isExpected = [&] { return focusedId() == expected; };
    if (WaitUntil(isExpected)) return expected;
    if (GetForegroundWindow() == GetDesktopWindow()) {
      SetForegroundWindow(main_);
      WaitUntil(isExpected);
    }
    return focusedId();
  }

  bool WholeTextSelected(int id) {
    HWND box = GetDlgItem(main_, id);
    DWORD_PTR selection = 0;
    SendMessageTimeoutA(box, EM_GETSEL, 0, 0, SMTO_NORMAL, kPatienceMs, &selection);
    return LOWORD(selection) == 0 && HIWORD(selection) == BoxTextW(id).size();
  }

  // Encode asks for the passphrase again: the same one is typed there, as a careful user would.
  void Command(WORD id) {
    const std::wstring passphrase = BoxTextW(IDC_PASSPHRASE);
    ASSERT_TRUE(PostMessageA(main_, WM_COMMAND, id, 0));
    if (id == IDC_ENCODE) ConfirmIfAsked(passphrase);
  }

  // Waits for what Encode shows first; when it asks for the passphrase again, gives it.
  void ConfirmIfAsked(const std::wstring& passphrase) {
    HWND shown = nullptr;
    WaitUntil([&] {
      shown = FindProcessWindow(process_.dwProcessId, kMessageBoxClass, nullptr);
      return shown != nullptr;
    });
    char caption[64] = "";
    GetWindowTextA(shown, caption, sizeof caption);
    if (lstrcmpA(caption, kConfirmCaption) != 0) return;
    DWORD_PTR result;
    SendMessageTimeoutW(GetDlgItem(shown, IDC_CONFIRM_PASSPHRASE), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(passphrase.c_str()), SMTO_NORMAL, kPatienceMs,
                        &result);
    PostMessageA(shown, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(shown); })) << "confirmation stays";
  }

  // Encodes target in place through the window, checks the result byte for byte, then decodes it
  // back with the same typed passphrase (the box was emptied after "done").
  void RoundTripInPlace(const std::string& target, const std::string& passphrase,
                        const std::string& output, const Bytes& plain) {
    SetBoxes(target, passphrase, output);
    Command(IDC_ENCODE);
    EXPECT_EQ(DismissMessage().text, "done");
    ExpectEncodingOf(ReadBytes(target), plain, passphrase);
    SetBox(IDC_PASSPHRASE, passphrase);
    Command(IDC_DECODE);
    EXPECT_EQ(DismissMessage().text, "done");
    EXPECT_EQ(ReadBytes(target), plain);
  }

  HWND WaitForWindow(const char* className, const char* caption, bool needsMessageText = false) {
    HWND window = nullptr;
    WaitUntil([&] {
      window = FindProcessWindow(process_.dwProcessId, className, caption, needsMessageText);
      return window != nullptr;
    });
    return window;
  }

  // Reads the message box karvel shows, presses its OK button and waits until the command is over.
  MessageSeen DismissMessage() {
    MessageSeen seen;
    HWND box = WaitForWindow(kMessageBoxClass, nullptr, true);
    if (box == nullptr) {
      ADD_FAILURE() << "no message box";
      return seen;
    }
    char text[256] = "";
    GetWindowTextA(box, text, sizeof text);
    seen.caption = text;
    GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
    seen.text = text;
    EXPECT_EQ(GetWindowLongPtrA(box, GWLP_HWNDPARENT), reinterpret_cast<LONG_PTR>(main_))
        << "owned by the main window";
    EXPECT_EQ(VisibleButtons(box), std::vector<int>{IDOK});
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "message box stays";
    Sync();
    return seen;
  }

  static std::vector<int> VisibleButtons(HWND box) {
    std::vector<int> ids;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      char className[32] = "";
      GetClassNameA(child, className, sizeof className);
      if (lstrcmpiA(className, "Button") == 0 && IsWindowVisible(child)) {
        ids.push_back(GetDlgCtrlID(child));
      }
    }
    return ids;
  }

  bool MessageShown() {
    return FindProcessWindow(process_.dwProcessId, kMessageBoxClass, nullptr, true) != nullptr;
  }

  // The dialogs karvel shows, its message boxes included.
  int ProcessDialogs() {
    struct Count {
      DWORD processId;
      int dialogs;
    } count = {process_.dwProcessId, 0};
    EnumWindows(
        [](HWND window, LPARAM parameter) {
          auto* count = reinterpret_cast<Count*>(parameter);
          DWORD processId = 0;
          GetWindowThreadProcessId(window, &processId);
          char className[16] = "";
          GetClassNameA(window, className, sizeof className);
          if (processId == count->processId && IsWindowVisible(window) &&
              lstrcmpA(className, kMessageBoxClass) == 0) {
            ++count->dialogs;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    return count.dialogs;
  }

  // Drops path on the window as the shell would. The drop's memory is made in
  // karvel's own process: Wine does not carry a posted drop across processes.
  // The window frees it with DragFinish, which Wine refuses harmlessly for
  // memory not from its heap.
  void PostDrop(const std::string& path) {
    DROPFILES header = {};
    header.pFiles = sizeof header;
    Bytes block(reinterpret_cast<unsigned char*>(&header),
                reinterpret_cast<unsigned char*>(&header + 1));
    block.insert(block.end(), path.begin(), path.end());
    block.insert(block.end(), 2, 0);  // the path's terminator and the list's
    void* remote = VirtualAllocEx(process_.hProcess, nullptr, block.size(),
                                  MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(remote, nullptr);
    ASSERT_TRUE(WriteProcessMemory(process_.hProcess, remote, block.data(), block.size(), nullptr));
    ASSERT_TRUE(PostMessageA(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0));
  }

  // Wide, for the names no code page holds.
  static void RemoveTree(const std::string& folder) {
    std::wstring wide(folder.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(),
                                    static_cast<int>(wide.size())) -
                1);
    RemoveTreeW(wide);
  }

  static void RemoveTreeW(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTreeW(path);
        } else {
          DeleteFileW(path.c_str());
        }
      } while (FindNextFileW(search, &entry));
      FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
  }

  std::string folder_;
  PROCESS_INFORMATION process_ = {};
  HWND main_ = nullptr;
};

// ---- Encode and Decode refusals: a message, all three boxes kept, nothing changed on disk.

struct RefusalCase {
  const char* name;
  WORD command;
  const char* target;      // a file name in the test folder, "" or "<long>"
  const char* passphrase;  // "<long128>" and "<long300>" stand for that many characters
  const char* output;      // as target; "<target>" repeats the target's path
  const char* text;
};

const RefusalCase kRefusals[] = {
    {"all empty, Encode", IDC_ENCODE, "", "", "", "input encoding key"},
    {"all empty, Decode", IDC_DECODE, "", "", "", "input encoding key"},
    {"no target, Encode", IDC_ENCODE, "", "secret", "", "input file name to encode"},
    {"no target, Decode", IDC_DECODE, "", "secret", "", "input file name to encode"},
    {"no passphrase, Encode", IDC_ENCODE, "plain.bin", "", "<target>", "input encoding key"},
    {"no passphrase, Decode", IDC_DECODE, "plain.bin", "", "<target>", "input encoding key"},
    {"missing target, Encode", IDC_ENCODE, "missing.bin", "secret", "", "file open failed"},
    {"missing target, Decode", IDC_DECODE, "missing.bin", "secret", "", "file open failed"},
    {"folder as target, Encode", IDC_ENCODE, "sub", "secret", "", "file open failed"},
    {"already encoded", IDC_ENCODE, "encoded.bin", "secret", "<target>",
     "alreadly encoded by the passphrase"},
    {"decode a plain file", IDC_DECODE, "plain.bin", "secret", "<target>", "invalid key"},
    {"decode under another passphrase", IDC_DECODE, "encoded.bin", "other", "<target>",
     "invalid key"},
    {"long target", IDC_ENCODE, "<long>", "secret", "", "file name too long"},
    {"long output", IDC_DECODE, "encoded.bin", "secret", "<long>", "file name too long"},
    {"long passphrase", IDC_ENCODE, "plain.bin", "<long128>", "", "encoding key too long"},
    {"passphrase beyond the scratch buffer", IDC_DECODE, "encoded.bin", "<long300>", "",
     "encoding key too long"},
    {"target read first", IDC_ENCODE, "<long>", "", "", "file name too long"},
    {"passphrase read before output", IDC_ENCODE, "plain.bin", "<long128>", "<long>",
     "encoding key too long"},
    {"output is a folder", IDC_ENCODE, "plain.bin", "secret", "sub", "output is a folder"},
    {"output folder missing", IDC_ENCODE, "plain.bin", "secret", "nowhere\\out.bin",
     "output folder not found"},
    {"output read-only", IDC_DECODE, "encoded.bin", "secret", "readonly.bin",
     "output is read-only"},
};

TEST_F(KarvelTest, RefusalsShowTheirMessageAndKeepEverything) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("encoded.bin"), Encoded(plain, "secret"));
  WriteBytes(PathOf("readonly.bin"), {1, 2, 3});
  SetFileAttributesA(PathOf("readonly.bin").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryA(PathOf("sub").c_str(), nullptr);
  StartKarvel();
  const std::string longPath = "C:\\" + std::string(karvel::kMaxPathUnits - 2, 'a');
  auto expand = [&](const std::string& name, const std::string& target) -> std::string {
    if (name.empty()) return "";
    if (name == "<long>") return longPath;
    if (name == "<target>") return target;
    return PathOf(name);
  };
  for (const RefusalCase& refusal : kRefusals) {
    SCOPED_TRACE(refusal.name);
    std::string target = expand(refusal.target, "");
    std::string passphrase = refusal.passphrase;
    if (passphrase == "<long128>") passphrase.assign(karvel::kMaxPassphraseLength + 1, 'k');
    if (passphrase == "<long300>") passphrase.assign(300, 'k');
    std::string output = expand(refusal.output, target);
    Bytes targetBefore = ReadBytes(target);
    Bytes outputBefore = ReadBytes(output);
    SetBoxes(target, passphrase, output);
    Command(refusal.command);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, refusal.text);
    ExpectBoxes(target, passphrase, output);
    EXPECT_EQ(ReadBytes(target), targetBefore);
    EXPECT_EQ(ReadBytes(output), outputBefore);
    EXPECT_FALSE(Exists(target + ".tmp"));
  }
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
  EXPECT_EQ(ReadBytes(PathOf("encoded.bin")), Encoded(plain, "secret"));
  EXPECT_FALSE(Exists(PathOf("nowhere")));
}

TEST_F(KarvelTest, OutputHeldOpenElsewhereIsNotReplaced) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("held.bin"), {9, 9, 9});
  StartKarvel();
  HANDLE held = CreateFileA(PathOf("held.bin").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SetBoxes(PathOf("plain.bin"), "secret", PathOf("held.bin"));
  Command(IDC_ENCODE);
  MessageSeen seen = DismissMessage();
  CloseHandle(held);
  EXPECT_EQ(seen.caption, "error");
  EXPECT_EQ(seen.text, "output replace failed");
  ExpectBoxes(PathOf("plain.bin"), "secret", PathOf("held.bin"));
  EXPECT_EQ(ReadBytes(PathOf("held.bin")), (Bytes{9, 9, 9}));
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
}

// ---- Transforms: "done", the passphrase box emptied, the result checked byte for byte.

struct TransformCase {
  const char* name;
  WORD command;
  bool startEncoded;   // the target holds the encoding of the plain content
  const char* output;  // "" empty box, "<target>" the target's path, else a file name
};

const TransformCase kTransforms[] = {
    {"encode in place, output box empty", IDC_ENCODE, false, ""},
    {"encode in place, output names the target", IDC_ENCODE, false, "<target>"},
    {"encode to another file", IDC_ENCODE, false, "result.bin"},
    {"decode in place, output box empty", IDC_DECODE, true, ""},
    {"decode in place, output names the target", IDC_DECODE, true, "<target>"},
    {"decode to another file", IDC_DECODE, true, "result.bin"},
};

TEST_F(KarvelTest, TransformsWriteTheirResultAndEmptyOnlyThePassphrase) {
  const std::string passphrase = "Secret key 1";
  const Bytes plain = PlainContent();
  const Bytes encoded = Encoded(plain, passphrase);
  StartKarvel();
  int row = 0;
  for (const TransformCase& transform : kTransforms) {
    SCOPED_TRACE(transform.name);
    std::string target = PathOf("target" + std::to_string(++row) + ".bin");
    std::string output = transform.output;
    if (output == "<target>") {
      output = target;
    } else if (!output.empty()) {
      output = PathOf(std::to_string(row) + output);
    }
    const Bytes& before = transform.startEncoded ? encoded : plain;
    WriteBytes(target, before);
    SetBoxes(target, passphrase, output);
    Command(transform.command);
    MessageSeen seen = DismissMessage();
    bool encoding = transform.command == IDC_ENCODE;
    EXPECT_EQ(seen.caption, encoding ? "karvel - encoding" : "karvel - decoding");
    // The fixture has no record, as older writers made it, and the passphrase's length leaves
    // characters unchecked: decoded in place, its original is kept.
    const bool inPlace = output.empty() || output == target;
    EXPECT_EQ(seen.text,
              !encoding && inPlace ? "done\n\nthe encoded original is in the Recycle Bin" : "done");
    ExpectBoxes(target, "", output);
    Bytes result = ReadBytes(output.empty() ? target : output);
    if (encoding) {
      ExpectEncodingOf(result, plain, passphrase);
    } else {
      EXPECT_EQ(result, plain);
    }
    if (!output.empty() && output != target) {
      EXPECT_EQ(ReadBytes(target), before);
    }
    EXPECT_FALSE(Exists(target + ".tmp"));
  }
}

TEST_F(KarvelTest, EncodingTwiceUnderOnePassphraseIsRefused) {
  const Bytes plain = PlainContent();
  std::string target = PathOf("twice.bin");
  WriteBytes(target, plain);
  StartKarvel();
  SetBoxes(target, "pass", target);
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  SetBox(IDC_PASSPHRASE, "pass");
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "alreadly encoded by the passphrase");
  ExpectEncodingOf(ReadBytes(target), plain, "pass");
}

// ---- An older file decoded in place: the message says where its encoded original went.

// True when a file in the trash folder trash (Wine's, under XDG_DATA_HOME) holds bytes; earlier
// runs may have left files of that name, so the shell may have named it otherwise.
bool InTrash(const std::string& trash, const Bytes& bytes) {
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((trash + "\\files\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do {
    found = ReadBytes(trash + "\\files\\" + entry.cFileName) == bytes;
  } while (!found && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

TEST_F(KarvelTest, AnOlderFileDecodedInPlaceSaysWhereItsOriginalIs) {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome == nullptr) GTEST_SKIP() << "XDG_DATA_HOME names no trash for this run";
  const std::string trash = std::string("Z:") + dataHome + "\\Trash";
  const std::string trashSetAside = trash + ".set-aside";
  const std::string passphrase = "Passphrase-16chr";  // a length the signature does not fully see
  const Bytes plain = PlainContent();
  const Bytes older = Encoded(plain, passphrase);  // without the record, as older writers made it
  struct Case {
    const char* name;
    bool trashIsAFile;
    std::string message;
    std::string original;  // beside it; "" for the Recycle Bin
  };
  const Case cases[] = {
      {"the Recycle Bin takes it", false, "done\n\nthe encoded original is in the Recycle Bin", ""},
      {"the Recycle Bin cannot take it", true,
       "done\n\nthe encoded original is kept as " + PathOf("older2.bin.encoded"),
       PathOf("older2.bin.encoded")},
  };
  StartKarvel();
  int row = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = PathOf("older" + std::to_string(++row) + ".bin");
    WriteBytes(target, older);
    if (c.trashIsAFile) {
      MoveFileA(trash.c_str(), trashSetAside.c_str());
      WriteBytes(trash, Bytes{'x'});
    }
    SetBoxes(target, passphrase, "");
    Command(IDC_DECODE);
    HWND box = WaitForWindow(kMessageBoxClass, nullptr, true);
    // The box may have only just been created: its paint comes when its thread is idle. Only the
    // picture waits on this; nothing is asserted of it.
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(300);
    SaveScreenshot(box, c.trashIsAFile ? "original-kept-beside" : "original-in-recycle-bin");
    MessageSeen seen = DismissMessage();
    if (c.trashIsAFile) {
      DeleteFileA(trash.c_str());
      MoveFileA(trashSetAside.c_str(), trash.c_str());
    }
    EXPECT_EQ(seen.caption, "karvel - decoding");
    EXPECT_EQ(seen.text, c.message);
    EXPECT_EQ(ReadBytes(target), plain);
    if (c.trashIsAFile) {
      EXPECT_EQ(ReadBytes(c.original), older);
      DeleteFileA(c.original.c_str());
    } else {
      EXPECT_TRUE(InTrash(trash, older));
    }
  }
}

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

// ---- Long transforms: a worker thread, the progress dialog, Cancel and closing.

constexpr char kProgressCaption[] = "karvel - working";
constexpr DWORD kAnswerBoundMs = 1000;  // the longest the window may take to answer meanwhile
// Sparse: it costs no disk and reads fast, but its encoding takes several seconds to write.
constexpr uint64_t kLargeSize = 6ull << 30;
constexpr DWORD kLongTransformMs = 20 * kPatienceMs;  // a whole transform of it, two at a time
constexpr size_t kLargeEdge = 1 << 20;                // real bytes at both ends of the large file

// A large file of mostly holes, with real bytes at its start and end.
void MakeLargeFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  Bytes edge(kLargeEdge);
  for (size_t i = 0; i < edge.size(); ++i) edge[i] = static_cast<unsigned char>(i * 13 + i / 97);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, edge.data(), kLargeEdge, &written, nullptr));
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(kLargeSize - kLargeEdge);
  EXPECT_TRUE(SetFilePointerEx(file, at, nullptr, FILE_BEGIN));
  EXPECT_TRUE(WriteFile(file, edge.data(), kLargeEdge, &written, nullptr));
  EXPECT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
}

// A digest of the whole file, eight bytes at a time, and its size.
std::pair<uint64_t, uint64_t> Digest(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {0, 0};
  std::vector<uint64_t> words((4 << 20) / sizeof(uint64_t));
  uint64_t hash = 14695981039346656037ull, size = 0;
  DWORD got = 0;
  while (ReadFile(file, words.data(), static_cast<DWORD>(words.size() * 8), &got, nullptr) &&
         got > 0) {
    size += got;
    std::memset(reinterpret_cast<char*>(words.data()) + got, 0, words.size() * 8 - got);
    for (size_t i = 0; i < (got + 7) / 8; ++i) hash = (hash ^ words[i]) * 1099511628211ull;
  }
  CloseHandle(file);
  return {hash, size};
}

uint64_t FreeBytes(const std::string& folder) {
  ULARGE_INTEGER free = {};
  GetDiskFreeSpaceExA(folder.c_str(), &free, nullptr, nullptr);
  return free.QuadPart;
}

// Milliseconds since a QueryPerformanceCounter reading.
double MsSince(LARGE_INTEGER start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

LARGE_INTEGER Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now;
}

const int kInputControls[] = {IDC_TARGET_FILE, IDC_PASSPHRASE, IDC_OUTPUT, IDC_ENCODE, IDC_DECODE};

class LongTransformTest : public KarvelTest {
 protected:
  void SetUp() override {
    KarvelTest::SetUp();
    if (FreeBytes(folder_) < 2 * kLargeSize) {
      GTEST_SKIP() << "needs " << (2 * kLargeSize >> 30) << " GiB of free disk";
    }
    target_ = PathOf("large.bin");
    MakeLargeFile(target_);
  }

  // Times one WM_NULL round trip to the main window, which must answer within the bound.
  void TimeAnswer() {
    LARGE_INTEGER start = Now();
    DWORD_PTR result;
    EXPECT_TRUE(SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerBoundMs, &result))
        << "the window did not answer within " << kAnswerBoundMs << " ms";
    double ms = MsSince(start);
    slowestAnswerMs_ = ms > slowestAnswerMs_ ? ms : slowestAnswerMs_;
    ++answers_;
  }

  // Starts encoding the large file in place and answers WM_NULL until the progress dialog shows.
  HWND EncodeUntilProgressShows() {
    SetBoxes(target_, "secret", "");
    LARGE_INTEGER start = Now();
    Command(IDC_ENCODE);
    HWND dialog = nullptr;
    while (dialog == nullptr && MsSince(start) < kPatienceMs) {
      TimeAnswer();
      dialog = FindProcessWindow(process_.dwProcessId, kMessageBoxClass, kProgressCaption);
    }
    progressDelayMs_ = MsSince(start);
    return dialog;
  }

  std::vector<std::string> FolderNames() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((folder_ + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return names;
  }

  std::string target_;
  double slowestAnswerMs_ = 0;
  int answers_ = 0;
  double progressDelayMs_ = 0;
};

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
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"large.bin"}) << "no temporary file";
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
    EXPECT_EQ(FolderNames(), std::vector<std::string>{"large.bin"}) << "no temporary file";
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
    EXPECT_EQ(FindProcessWindow(process_.dwProcessId, kMessageBoxClass, kProgressCaption), nullptr);
    box = FindProcessWindow(process_.dwProcessId, kMessageBoxClass, nullptr, true);
    return box != nullptr;
  }));
  for (int id : kInputControls) EXPECT_TRUE(IsWindowEnabled(GetDlgItem(main_, id))) << id;
  EXPECT_EQ(DismissMessage().text, "done");
  Sleep(700);
  EXPECT_EQ(FindProcessWindow(process_.dwProcessId, kMessageBoxClass, kProgressCaption), nullptr);
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
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, client.left, top, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const DWORD*>(bits);
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
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
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
    dialogShown = FindProcessWindow(process_.dwProcessId, kMessageBoxClass, kProgressCaption);
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
  EXPECT_EQ(FindProcessWindow(process_.dwProcessId, kMessageBoxClass, "About Karvel"), nullptr);
  ExpectBoxes(target_, "secret", "");

  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(DismissMessage().text, "cancelled");
  EXPECT_EQ(PopupsSettle(main_, kIdleMenu), kIdleMenu) << "after";
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"large.bin"}) << "no temporary file";
}

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

BOOL CALLBACK FindEdit(HWND window, LPARAM found) {
  char className[16] = "";
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpiA(className, "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The file-name box: an edit of its own (edt1) or inside the file-name combo (cmb13).
HWND FileNameBox(HWND dialog) {
  const int kFileNameEdit = 0x480;
  const int kFileNameCombo = 0x47C;
  HWND edit = GetDlgItem(dialog, kFileNameEdit);
  HWND combo = GetDlgItem(dialog, kFileNameCombo);
  if (edit == nullptr && combo != nullptr) {
    EnumChildWindows(combo, FindEdit, reinterpret_cast<LPARAM>(&edit));
  }
  return edit;
}

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

// ---- Hostile and odd input: the window acts on the exact path in the box or on none.

// A path of exactly length characters inside folder. Windows makes no folder whose path is
// longer than 248 characters, so folders fill up to 200 and the file name takes the rest.
std::string DeepPath(const std::string& folder, size_t length) {
  std::string deep = folder;
  while (deep.size() < 200) {
    deep += "\\" + std::string(std::min<size_t>(40, 200 - deep.size()), 'd');
    CreateDirectoryA(deep.c_str(), nullptr);
  }
  return deep + "\\" + std::string(length - deep.size() - 1, 'f');
}

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('\\')); }

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(search, &entry));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// Beyond MAX_PATH, and beyond what Windows takes at all.
TEST_F(KarvelTest, LongPathsAreTakenAndTooLongOnesRefusedNotCut) {
  const Bytes plain = PlainContent();
  const std::string target = DeepPath(folder_, 300);
  std::string output = target;
  output.back() = 'g';
  WriteBytesW(Wide(target), plain);
  StartKarvel();

  SetBoxes(target, "deep", "");
  Command(IDC_ENCODE);
  EXPECT_EQ(DismissMessage().text, "done");
  ExpectEncodingOf(ReadBytesW(Wide(target)), plain, "deep");
  SetBoxes(target, "deep", output);
  Command(IDC_DECODE);
  EXPECT_EQ(DismissMessage().text, "done");
  EXPECT_EQ(ReadBytesW(Wide(output)), plain);

  // Cut to the longest path, each of these would name a file in the same folder.
  const std::string longTarget =
      target + std::string(karvel::kMaxPathUnits + 1 - target.size(), 'x');
  const std::string longOutput =
      output + std::string(karvel::kMaxPathUnits + 1 - output.size(), 'x');
  for (WORD command : {IDC_ENCODE, IDC_DECODE}) {
    SetBoxes(longTarget, "deep", "");
    Command(command);
    EXPECT_EQ(DismissMessage().text, "file name too long");
    SetBoxes(target, "deep", longOutput);
    Command(command);
    EXPECT_EQ(DismissMessage().text, "file name too long");
    EXPECT_EQ(BoxText(IDC_PASSPHRASE), "deep");
  }
  ExpectEncodingOf(ReadBytesW(Wide(target)), plain, "deep");
  EXPECT_EQ(ReadBytesW(Wide(output)), plain);
  EXPECT_EQ(NamesIn(FolderOf(target)),
            (std::vector<std::string>{target.substr(target.rfind('\\') + 1),
                                      output.substr(output.rfind('\\') + 1)}));
}

TEST_F(KarvelTest, PassphrasesOf127AreTakenAndLongerOnesRefused) {
  const Bytes plain = PlainContent();
  std::string longest;
  for (size_t i = 0; i < karvel::kMaxPassphraseLength; ++i) {
    longest += static_cast<char>('!' + (i * 37) % 94);
  }
  const std::string target = PathOf("target.bin");
  WriteBytes(target, plain);
  StartKarvel();
  for (size_t extra : {1, 128}) {
    SCOPED_TRACE(127 + extra);
    const std::string tooLong = longest + std::string(extra, 'k');
    for (WORD command : {IDC_ENCODE, IDC_DECODE}) {
      SetBoxes(target, tooLong, "");
      Command(command);
      EXPECT_EQ(DismissMessage().text, "encoding key too long");
      ExpectBoxes(target, tooLong, "");
    }
  }
  EXPECT_EQ(ReadBytes(target), plain);

  RoundTripInPlace(target, longest, "", plain);
}

TEST_F(KarvelTest, WildcardsNeverReachTheFilesTheyMatch) {
  const Bytes plain = PlainContent();
  WriteBytes(PathOf("plain.bin"), plain);
  WriteBytes(PathOf("encoded.bin"), Encoded(plain, "secret"));
  WriteBytes(PathOf("out1.bin"), {7, 7, 7});
  const std::vector<std::string> names = NamesIn(folder_);
  struct Case {
    WORD command;
    const char* target;
    const char* output;
    const char* text;
  };
  const Case cases[] = {
      {IDC_ENCODE, "pla?n.bin", "", "file open failed"},
      {IDC_ENCODE, "*.bin", "", "file open failed"},
      {IDC_DECODE, "encod?d.bin", "", "file open failed"},
      {IDC_DECODE, "enc*", "out1.bin", "file open failed"},
      {IDC_ENCODE, "plain.bin", "out?.bin", "output replace failed"},
      {IDC_DECODE, "encoded.bin", "out*", "output replace failed"},
  };
  StartKarvel();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + " to " + c.output);
    const std::string output = *c.output ? PathOf(c.output) : "";
    SetBoxes(PathOf(c.target), "secret", output);
    Command(c.command);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, c.text);
  }
  EXPECT_EQ(ReadBytes(PathOf("plain.bin")), plain);
  EXPECT_EQ(ReadBytes(PathOf("encoded.bin")), Encoded(plain, "secret"));
  EXPECT_EQ(ReadBytes(PathOf("out1.bin")), (Bytes{7, 7, 7}));
  EXPECT_EQ(NamesIn(folder_), names);
}

TEST_F(KarvelTest, CodePageCharactersInThePassphraseAreItsBytes) {
  const std::string passphrase =
      "caf\xE9 \xFC"
      "ber";  // cafe and uber with their accents in 1252
  const Bytes plain = PlainContent();
  const std::string target = PathOf("target.bin");
  WriteBytes(target, plain);
  StartKarvel();
  SCOPED_TRACE("ANSI code page " + std::to_string(GetACP()));
  RoundTripInPlace(target, passphrase, "", plain);
}

TEST_F(KarvelTest, EmptyAndHeaderSizedFilesRoundTrip) {
  StartKarvel();
  for (size_t size : {size_t{0}, karvel::kHeaderSize}) {
    SCOPED_TRACE(size);
    Bytes plain(size);
    for (size_t i = 0; i < size; ++i) plain[i] = static_cast<unsigned char>(255 - i);
    const std::string target = PathOf("file" + std::to_string(size));
    WriteBytes(target, plain);
    RoundTripInPlace(target, "small", target, plain);
  }
  EXPECT_EQ(NamesIn(folder_), (std::vector<std::string>{"file0", "file128"}));
}

// A disk the fault_disks fixture mounted (it needs root), as a Windows folder; empty if none.
std::string FaultDiskFolder(const char* variable) {
  const char* folder = std::getenv(variable);
  if (folder == nullptr) return "";
  std::string path = std::string("Z:") + folder;
  std::replace(path.begin(), path.end(), '/', '\\');
  return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? "" : path;
}

TEST_F(KarvelTest, DiskFaultsAreReportedAndLoseNothing) {
  const std::string small = FaultDiskFolder("KARVEL_SMALL_DISK_FOLDER");
  const std::string readOnly = FaultDiskFolder("KARVEL_READ_ONLY_DISK_FOLDER");
  if (small.empty() || readOnly.empty()) GTEST_SKIP() << "the fault disks are not mounted";
  // Together more than the 1 MiB small disk holds.
  const Bytes large(600 << 10, 0x5A);
  WriteBytes(PathOf("large.bin"), large);
  WriteBytes(small + "\\large.bin", large);
  struct Case {
    const char* name;
    std::string target;
    std::string output;
    const char* text;
  };
  const Case cases[] = {
      {"the temporary file fills the disk", small + "\\large.bin", "", "file write failed"},
      {"the copy to a full other disk", PathOf("large.bin"), small + "\\large.bin",
       "file write failed"},
      {"no temporary file on a read-only disk", readOnly + "\\plain", "", "file open failed"},
      // The temporary file is made beside the output, so none can be.
      {"an old output on a read-only disk", PathOf("large.bin"), readOnly + "\\plain",
       "output replace failed"},
  };
  StartKarvel();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> smallNames = NamesIn(small);
    const std::vector<std::string> localNames = NamesIn(folder_);
    const Bytes targetBefore = ReadBytes(c.target);
    const Bytes outputBefore = ReadBytes(c.output);
    SetBoxes(c.target, "full", c.output);
    Command(IDC_ENCODE);
    MessageSeen seen = DismissMessage();
    EXPECT_EQ(seen.caption, "error");
    EXPECT_EQ(seen.text, c.text);
    ExpectBoxes(c.target, "full", c.output);
    EXPECT_EQ(ReadBytes(c.target), targetBefore);
    EXPECT_EQ(ReadBytes(c.output), outputBefore);
    EXPECT_EQ(NamesIn(small), smallNames);
    EXPECT_EQ(NamesIn(folder_), localNames);
  }
  DeleteFileA((small + "\\large.bin").c_str());
}

// ---- Real keys and mouse on the virtual display, and Unicode text.

RECT WorkArea() {
  RECT work;
  SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

std::string Rect(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

std::string SettingsText(int left, int top, int right, int bottom) {
  return "[Settings]\nWinLeft=" + std::to_string(left) + "\nWinTop=" + std::to_string(top) +
         "\nWinRight=" + std::to_string(right) + "\nWinBottom=" + std::to_string(bottom) + "\n";
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, Bytes(text.begin(), text.end()));
}

// A user at the keyboard: xdotool sends real X input to the window that has the focus.
class DesktopTest : public KarvelTest {
 protected:
  void Xdo(const std::wstring& arguments) {
    std::wstring command = L"Z:\\usr\\bin\\xdotool " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION xdo = {};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &xdo))
        << "xdotool";
    WaitForSingleObject(xdo.hProcess, kPatienceMs);
    CloseHandle(xdo.hThread);
    CloseHandle(xdo.hProcess);
    // The X events reach karvel's queue through Wine's X11 driver, a while after xdotool ends.
    for (int settle = 0; settle < 3; ++settle) {
      Sleep(100);
      if (main_ != nullptr && Running()) Sync();
    }
  }

  void Keys(const std::wstring& keys) { Xdo(L"key --delay 60 " + keys); }
  void Type(const std::wstring& text) { Xdo(L"type --delay 60 \"" + text + L"\""); }

  // Clicks above the target box, right of its label, where no control is.
  void ClickIntoWindow() {
    RECT box;
    GetWindowRect(GetDlgItem(main_, IDC_TARGET_FILE), &box);
    Xdo(L"mousemove --sync " + std::to_wstring(box.right - 10) + L" " +
        std::to_wstring(box.top - 6) + L" click 1");
  }

  // Reads the message box and closes it with the Enter key, as a user would.
  std::string EnterOnMessage() {
    HWND box = WaitForWindow(kMessageBoxClass, nullptr, true);
    if (box == nullptr) {
      ADD_FAILURE() << "no message box";
      return "";
    }
    char text[256] = "";
    GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
    Keys(L"Return");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "Enter did not close " << text;
    Sync();
    return text;
  }
};

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
  EXPECT_EQ(NamesInW(folder),
            (std::vector<std::wstring>{L"되돌림.bin", L"출력😀.enc", L"한국어😀.bin"}));
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
  EXPECT_EQ(BoxTextW(IDC_PASSPHRASE), L"日本語");
}

// ---- Where the placement is kept and how it comes back.

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

// A copy of karvel.exe in a folder of its own, with what the test puts beside it.
std::string CopyOfKarvel(const std::string& folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string exe = folder + "\\karvel.exe";
  EXPECT_TRUE(CopyFileA(KARVEL_EXE, exe.c_str(), FALSE));
  return exe;
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

// ---- The session's end, and names in the progress dialog.

void SetBoxWide(HWND window, int id, const std::wstring& text) {
  DWORD_PTR result;
  ASSERT_TRUE(SendMessageTimeoutW(GetDlgItem(window, id), WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, kPatienceMs,
                                  &result));
}

// As logging off does: every program is asked, then told the session ends.
void EndSession() {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION wineboot = {};
  char commandLine[] = "wineboot.exe --end-session";
  ASSERT_TRUE(CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &wineboot));
  EXPECT_EQ(WaitForSingleObject(wineboot.hProcess, kPatienceMs), WAIT_OBJECT_0);
  CloseHandle(wineboot.hThread);
  CloseHandle(wineboot.hProcess);
}

TEST_F(LongTransformTest, EndingTheSessionStopsTheTransformAndKeepsTheTarget) {
  const auto before = Digest(target_);
  StartKarvel();
  ASSERT_NE(EncodeUntilProgressShows(), nullptr);
  EndSession();
  EXPECT_TRUE(WaitUntil([&] { return FolderNames() == std::vector<std::string>{"large.bin"}; }))
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
  const std::vector<DWORD> idle = ThreadsOf(process_.dwProcessId);
  ASSERT_NE(EncodeUntilProgressShows(), nullptr);
  std::vector<HANDLE> started;
  for (DWORD id : ThreadsOf(process_.dwProcessId)) {
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
  ASSERT_TRUE(TerminateProcess(process_.hProcess, kEndedBySystem));
  ASSERT_EQ(WaitForSingleObject(process_.hProcess, kPatienceMs), WAIT_OBJECT_0);

  for (HANDLE thread : started) {
    EXPECT_EQ(WaitForSingleObject(thread, kPatienceMs), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread, &code);
    EXPECT_NE(code, kEndedBySystem) << "the worker still ran when WM_ENDSESSION returned";
    CloseHandle(thread);
  }
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"large.bin"}) << "no temporary file";
  EXPECT_EQ(Digest(target_), before);
}

// In Shift-JIS, "十", "ソ" and "表" end in the byte of "\": a name scanned as
// code-page bytes showed as ".bin".
TEST_F(LongTransformTest, UnicodeFileNameShowsWholeInTheProgressDialog) {
  const std::wstring name = L"大きい十ソ表.bin";
  const std::wstring target = Wide(folder_) + L"\\" + name;
  ASSERT_TRUE(MoveFileW(Wide(target_).c_str(), target.c_str()));
  StartKarvel();
  SetBoxWide(main_, IDC_TARGET_FILE, target);
  SetBoxWide(main_, IDC_PASSPHRASE, L"secret");
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

// Two windows encode the large file in place under different passphrases, the second a second
// after the first. Whichever result goes in first, the other window sees that the file is no
// longer the one it read, or, where the system cannot replace a file the other still reads (Wine),
// cannot put its result in place: one says "done", and the file opens under its passphrase alone.
TEST_F(LongTransformTest, TwoWindowsOnOneFileLeaveOneResultAndSayWhich) {
  const auto before = Digest(target_);
  const char* passphrases[] = {"aaaa", "bbbb"};
  PROCESS_INFORMATION processes[2];
  HWND windows[2];
  for (int i = 0; i < 2; ++i) {
    StartKarvel();
    SetBoxes(target_, passphrases[i], "");
    Command(IDC_ENCODE);
    processes[i] = process_;
    windows[i] = main_;
    process_ = {};
    if (i == 0) Sleep(1000);
  }
  auto use = [&](int i) {
    process_ = processes[i];
    main_ = windows[i];
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
  EXPECT_EQ(FolderNames(), std::vector<std::string>{"large.bin"}) << "no temporary file";

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
