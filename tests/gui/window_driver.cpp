#include "tests/gui/window_driver.h"

// Builds on the types of windows.h.
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/encoding_job.h"
#include "engine/windows_text.h"
#include "res/resource.h"
#include "res/version.h"
#include "tests/support/reference_encoder.h"

namespace karvel::window {

namespace {

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

void RemoveTreeW(const std::wstring& folder) {
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

// Wide, for the names no code page holds.
void RemoveTree(const std::string& folder) {
  std::wstring wide(folder.size() + 1, L'\0');
  wide.resize(MultiByteToWideChar(CP_ACP, 0, folder.c_str(), -1, wide.data(),
                                  static_cast<int>(wide.size())) -
              1);
  RemoveTreeW(wide);
}

std::vector<int> VisibleButtons(HWND box) {
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

BOOL CALLBACK FindEdit(HWND window, LPARAM found) {
  char className[16] = "";
  GetClassNameA(window, className, sizeof className);
  if (lstrcmpiA(className, "Edit") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

}  // namespace

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

std::string SettingsText(int left, int top, int right, int bottom) {
  return "[Settings]\nWinLeft=" + std::to_string(left) + "\nWinTop=" + std::to_string(top) +
         "\nWinRight=" + std::to_string(right) + "\nWinBottom=" + std::to_string(bottom) + "\n";
}

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size() + 1, L'\0');
  int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  wide.resize(units > 0 ? units - 1 : 0);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(bytes > 0 ? bytes : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
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

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, Bytes(text.begin(), text.end()));
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((Wide(folder) + L"\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = entry.cFileName;
    if (name != L"." && name != L"..") names.push_back(Utf8(name));
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

void MakeLargeFile(const std::string& path) {
  constexpr size_t kLargeEdge = 1 << 20;  // real bytes at both ends
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

HWND FindProcessWindow(DWORD processId, const char* className, const char* caption,
                       bool needsMessageText) {
  WindowSearch search = {processId, className, caption, needsMessageText, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
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

// A copy of karvel.exe in a folder of its own, with what the test puts beside it.
std::string CopyOfKarvel(const std::string& folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string exe = folder + "\\karvel.exe";
  EXPECT_TRUE(CopyFileA(KARVEL_EXE, exe.c_str(), FALSE));
  return exe;
}

std::string Rect(const RECT& rect) {
  return std::to_string(rect.left) + "," + std::to_string(rect.top) + " " +
         std::to_string(rect.right - rect.left) + "x" + std::to_string(rect.bottom - rect.top);
}

ScreenCapture::ScreenCapture(const RECT& rect, Form form)
    : screen_(GetDC(nullptr)), memory_(CreateCompatibleDC(screen_)) {
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  info_.bmiHeader.biSize = sizeof info_.bmiHeader;
  info_.bmiHeader.biWidth = width;
  info_.bmiHeader.biHeight = form == Form::FileRows ? height : -height;
  info_.bmiHeader.biPlanes = 1;
  info_.bmiHeader.biBitCount = form == Form::FileRows ? 24 : 32;
  info_.bmiHeader.biCompression = BI_RGB;
  bitmap_ = CreateDIBSection(screen_, &info_, DIB_RGB_COLORS, &bits_, nullptr, 0);
  old_ = SelectObject(memory_, bitmap_);
  BitBlt(memory_, 0, 0, width, height, screen_, rect.left, rect.top, SRCCOPY);
  GdiFlush();
}

ScreenCapture::~ScreenCapture() {
  SelectObject(memory_, old_);
  DeleteObject(bitmap_);
  DeleteDC(memory_);
  ReleaseDC(nullptr, screen_);
}

// Writes the screen under the window's rectangle as a 24-bit BMP.
void SaveScreenshot(HWND window, const char* name) {
  RECT rect;
  GetWindowRect(window, &rect);
  const ScreenCapture capture(rect, ScreenCapture::Form::FileRows);
  const BITMAPINFOHEADER& header = capture.Header();
  const DWORD imageSize = static_cast<DWORD>(((header.biWidth * 3 + 3) & ~3) * header.biHeight);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + imageSize;
  Bytes bytes(reinterpret_cast<unsigned char*>(&file), reinterpret_cast<unsigned char*>(&file + 1));
  auto* headerBytes = reinterpret_cast<const unsigned char*>(&header);
  bytes.insert(bytes.end(), headerBytes, headerBytes + sizeof header);
  auto* bits = static_cast<const unsigned char*>(capture.Bits());
  bytes.insert(bytes.end(), bits, bits + imageSize);
  CreateDirectoryA(KARVEL_SCREENSHOT_DIR, nullptr);
  WriteBytes(std::string(KARVEL_SCREENSHOT_DIR) + "\\" + name + ".bmp", bytes);
}

void KarvelTest::SetUp() {
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

void KarvelTest::TearDown() {
  StopKarvel();
  RemoveTree(folder_);
  DeleteFileA(SettingsPath().c_str());
  DeleteFileA(OldSettingsPath().c_str());
}

void KarvelTest::StartKarvel(const std::string& exe) {
  ChildStart start;
  start.command = {exe};
  start.folder = folder_;
  process_ = std::make_unique<ChildProcess>(start);
  ASSERT_TRUE(process_->Started()) << exe;
  ASSERT_TRUE(WaitUntil([&] {
    main_ = FindProcessWindow(process_->Id(), kMainClass, KARVEL_CAPTION);
    return main_ != nullptr;
  })) << "no main window";
  Sync();
}

void KarvelTest::StopKarvel() {
  process_.reset();
  main_ = nullptr;
}

// Returns once karvel's thread has handled everything sent or posted before.
void KarvelTest::Sync() {
  DWORD_PTR result;
  ASSERT_TRUE(SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, kPatienceMs, &result));
}

DWORD KarvelTest::WaitForExit() {
  return process_->Wait(std::chrono::milliseconds(kPatienceMs)).exitCode;
}

bool KarvelTest::Running() const { return process_ != nullptr && process_->Running(); }

void KarvelTest::SetBox(int id, const std::string& text) {
  DWORD_PTR result;
  ASSERT_TRUE(SendMessageTimeoutA(GetDlgItem(main_, id), WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, kPatienceMs,
                                  &result));
}

std::string KarvelTest::BoxText(int id) {
  DWORD_PTR length = 0;
  SendMessageTimeoutA(GetDlgItem(main_, id), WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kPatienceMs,
                      &length);
  std::vector<char> text(length + 1, '\0');
  DWORD_PTR result;
  SendMessageTimeoutA(GetDlgItem(main_, id), WM_GETTEXT, text.size(),
                      reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kPatienceMs, &result);
  return text.data();
}

void KarvelTest::SetBoxes(const std::string& target, const std::string& passphrase,
                          const std::string& output) {
  SetBox(IDC_TARGET_FILE, target);
  SetBox(IDC_PASSPHRASE, passphrase);
  SetBox(IDC_OUTPUT, output);
}

void KarvelTest::ExpectBoxes(const std::string& target, const std::string& passphrase,
                             const std::string& output) {
  EXPECT_EQ(BoxText(IDC_TARGET_FILE), target);
  EXPECT_EQ(BoxText(IDC_PASSPHRASE), passphrase);
  EXPECT_EQ(BoxText(IDC_OUTPUT), output);
}

void KarvelTest::SetBoxW(int id, const std::wstring& text) {
  DWORD_PTR result;
  ASSERT_TRUE(SendMessageTimeoutW(GetDlgItem(main_, id), WM_SETTEXT, 0,
                                  reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, kPatienceMs,
                                  &result));
}

std::wstring KarvelTest::BoxTextW(int id) {
  std::vector<wchar_t> text(1024, L'\0');
  DWORD_PTR result;
  SendMessageTimeoutW(GetDlgItem(main_, id), WM_GETTEXT, text.size(),
                      reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kPatienceMs, &result);
  return text.data();
}

HWND KarvelTest::Focused() {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(main_, nullptr), &info);
  return info.hwndFocus;
}

// The main window's control with the keyboard (0 for none of them), once it is the expected
// one or patience runs out. Without a window manager, Wine now and then hands the activation to
// the desktop when a message box closes just after a dialog did; the window is then brought
// back, as the user's click would, and the control it gives the keyboard to is what counts.
int KarvelTest::FocusAfterWaitingFor(int expected) {
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

bool KarvelTest::WholeTextSelected(int id) {
  HWND box = GetDlgItem(main_, id);
  DWORD_PTR selection = 0;
  SendMessageTimeoutA(box, EM_GETSEL, 0, 0, SMTO_NORMAL, kPatienceMs, &selection);
  return LOWORD(selection) == 0 && HIWORD(selection) == BoxTextW(id).size();
}

// Encode asks for the passphrase again: the same one is typed there, as a careful user would.
void KarvelTest::Command(WORD id) {
  const std::wstring passphrase = BoxTextW(IDC_PASSPHRASE);
  ASSERT_TRUE(PostMessageA(main_, WM_COMMAND, id, 0));
  if (id == IDC_ENCODE) ConfirmIfAsked(passphrase);
}

// Waits for what Encode shows first; when it asks for the passphrase again, gives it.
void KarvelTest::ConfirmIfAsked(const std::wstring& passphrase) {
  HWND shown = nullptr;
  WaitUntil([&] {
    shown = FindProcessWindow(process_->Id(), kMessageBoxClass, nullptr);
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
void KarvelTest::RoundTripInPlace(const std::string& target, const std::string& passphrase,
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

HWND KarvelTest::WaitForWindow(const char* className, const char* caption, bool needsMessageText) {
  HWND window = nullptr;
  WaitUntil([&] {
    window = FindProcessWindow(process_->Id(), className, caption, needsMessageText);
    return window != nullptr;
  });
  return window;
}

// Reads the message box karvel shows, presses its OK button and waits until the command is over.
MessageSeen KarvelTest::DismissMessage() {
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

bool KarvelTest::MessageShown() {
  return FindProcessWindow(process_->Id(), kMessageBoxClass, nullptr, true) != nullptr;
}

// The dialogs karvel shows, its message boxes included.
int KarvelTest::ProcessDialogs() {
  struct Count {
    DWORD processId;
    int dialogs;
  } count = {process_->Id(), 0};
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
void KarvelTest::PostDrop(const std::string& path) {
  DROPFILES header = {};
  header.pFiles = sizeof header;
  Bytes block(reinterpret_cast<unsigned char*>(&header),
              reinterpret_cast<unsigned char*>(&header + 1));
  block.insert(block.end(), path.begin(), path.end());
  block.insert(block.end(), 2, 0);  // the path's terminator and the list's
  void* remote = VirtualAllocEx(process_->Handle(), nullptr, block.size(), MEM_COMMIT | MEM_RESERVE,
                                PAGE_READWRITE);
  ASSERT_NE(remote, nullptr);
  ASSERT_TRUE(WriteProcessMemory(process_->Handle(), remote, block.data(), block.size(), nullptr));
  ASSERT_TRUE(PostMessageA(main_, WM_DROPFILES, reinterpret_cast<WPARAM>(remote), 0));
}

void LongTransformTest::SetUp() {
  KarvelTest::SetUp();
  if (FreeBytes(folder_) < 2 * kLargeSize) {
    GTEST_SKIP() << "needs " << (2 * kLargeSize >> 30) << " GiB of free disk";
  }
  target_ = PathOf("large.bin");
  MakeLargeFile(target_);
}

void LongTransformTest::TimeAnswer() {
  constexpr DWORD kAnswerBoundMs = 1000;
  LARGE_INTEGER start = Now();
  DWORD_PTR result;
  EXPECT_TRUE(SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerBoundMs, &result))
      << "the window did not answer within " << kAnswerBoundMs << " ms";
  double ms = MsSince(start);
  slowestAnswerMs_ = ms > slowestAnswerMs_ ? ms : slowestAnswerMs_;
  ++answers_;
}

HWND LongTransformTest::EncodeUntilProgressShows() {
  SetBoxes(target_, "secret", "");
  LARGE_INTEGER start = Now();
  Command(IDC_ENCODE);
  HWND dialog = nullptr;
  while (dialog == nullptr && MsSince(start) < kPatienceMs) {
    TimeAnswer();
    dialog = FindProcessWindow(process_->Id(), kMessageBoxClass, kProgressCaption);
  }
  progressDelayMs_ = MsSince(start);
  return dialog;
}

void DesktopTest::Xdo(const std::vector<std::wstring>& arguments) {
  // Wine gives no handle to wait on for a Linux program: a shell marks xdotool's end with a file
  // of this process's own, which is waited for instead.
  static int runs = 0;
  const std::wstring marker = L"/tmp/karvel-xdotool-" + std::to_wstring(GetCurrentProcessId()) +
                              L"-" + std::to_wstring(++runs);
  std::wstring markerWindows = L"Z:" + marker;
  for (wchar_t& c : markerWindows) {
    if (c == L'/') c = L'\\';
  }
  ChildStart start;
  start.command = {"Z:\\bin\\sh", "-c", "/usr/bin/xdotool \"$@\" && : > " + Narrow(marker), "sh"};
  std::string said;
  for (const std::wstring& argument : arguments) {
    start.command.push_back(Narrow(argument));
    said += " " + start.command.back();
  }
  ChildProcess xdotool(start);
  ASSERT_TRUE(WaitUntil([&] {
    return GetFileAttributesW(markerWindows.c_str()) != INVALID_FILE_ATTRIBUTES;
  })) << "xdotool did not end:"
      << said;
  DeleteFileW(markerWindows.c_str());
  // Its X events reach karvel's queue through Wine's X11 driver a while later.
  for (int settle = 0; settle < 3; ++settle) {
    Sleep(100);
    if (main_ != nullptr && Running()) Sync();
  }
}

void DesktopTest::Keys(const std::wstring& keys) {
  std::vector<std::wstring> arguments = {L"key", L"--delay", L"60"};
  for (size_t from = 0, to = 0; from <= keys.size(); from = to + 1) {
    to = std::min(keys.find(L' ', from), keys.size());
    arguments.push_back(keys.substr(from, to - from));
  }
  Xdo(arguments);
}

void DesktopTest::ClickIntoWindow() {
  RECT box;
  GetWindowRect(GetDlgItem(main_, IDC_TARGET_FILE), &box);
  Xdo({L"mousemove", std::to_wstring(box.right - 10), std::to_wstring(box.top - 6), L"click",
       L"1"});
  // The window manager activates the window on the click; keys sent before would go elsewhere.
  EXPECT_TRUE(WaitUntil([&] { return GetForegroundWindow() == main_; })) << "not activated";
}

std::string DesktopTest::EnterOnMessage() {
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

}  // namespace karvel::window
