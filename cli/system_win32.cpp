#include <windows.h>
// Builds on the types of windows.h.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <condition_variable>
#include <cwchar>
#include <mutex>

#include "cli/system.h"
#include "engine/windows_text.h"
#include "engine/wipe.h"

namespace karvel::cli {

const char kTrashName[] = "the Recycle Bin";

namespace {

std::atomic<bool> caught{false};
// Windows runs the handler on a thread of its own: the lock keeps *cancel from going while the
// handler sets it.
std::mutex cancelLock;
std::atomic<bool>* cancel = nullptr;
std::condition_variable cancelGone;

// Windows ends the program as soon as the handler of a console's closing returns: it waits until
// the running FILE is cancelled, and its temporary file gone, or Windows' own patience ends.
BOOL WINAPI Note(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  std::unique_lock<std::mutex> lock(cancelLock);
  caught = true;
  if (cancel != nullptr) *cancel = true;
  if (event == CTRL_CLOSE_EVENT) cancelGone.wait(lock, [] { return cancel == nullptr; });
  return TRUE;
}

void WriteConsole(HANDLE console, const wchar_t* text, size_t units) {
  DWORD written = 0;
  WriteConsoleW(console, text, static_cast<DWORD>(units), &written, nullptr);
}

HANDLE OpenConsole(const wchar_t* name) {
  return CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

// Reads one line of the console into typed, its line end dropped; false at an error or Ctrl+C.
// Ctrl+C ends the read at once with ERROR_OPERATION_ABORTED, possibly before the handler, which
// runs on a thread of its own, has noted it: *aborted tells.
bool ReadConsoleLine(HANDLE input, wchar_t (&typed)[kTextSize], size_t* length, bool* aborted) {
  wchar_t chunk[64];
  bool ended = false;
  bool read = true;
  *length = 0;
  while (!ended && read) {
    DWORD got = 0;
    read = ReadConsoleW(input, chunk, sizeof chunk / sizeof chunk[0], &got, nullptr) && got > 0 &&
           !Interrupted();
    *aborted = !read && (Interrupted() || GetLastError() == ERROR_OPERATION_ABORTED);
    for (DWORD i = 0; read && i < got && !ended; ++i) {
      ended = chunk[i] == L'\n';
      if (ended || chunk[i] == L'\r') continue;
      // Units beyond the field are counted, not kept: the length alone refuses the text.
      if (*length < kMaxTextLength) typed[*length] = chunk[i];
      ++*length;
    }
  }
  Wipe(chunk, sizeof chunk);
  return read;
}

}  // namespace

// The narrow arguments of main are in the ANSI code page, which cannot hold every name.
std::vector<std::string> Arguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  for (int i = 0; wide != nullptr && i < count; ++i) arguments.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

// A console shows UTF-16; a file or a pipe gets the UTF-8 bytes with Windows' line ends.
void WriteError(const std::string& text) {
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  if (ErrorIsTerminal()) {
    std::wstring wide;
    ToWide(text.c_str(), &wide);
    WriteConsole(error, wide.data(), wide.size());
    return;
  }
  std::string lines;
  for (char byte : text) {
    if (byte == '\n') lines += '\r';
    lines += byte;
  }
  DWORD written = 0;
  WriteFile(error, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
}

LineResult AskHidden(const char* prompt, char (&text)[kTextSize]) {
  HANDLE input = OpenConsole(L"CONIN$");
  HANDLE output = OpenConsole(L"CONOUT$");
  DWORD saved = 0;
  if (input == INVALID_HANDLE_VALUE || output == INVALID_HANDLE_VALUE ||
      !GetConsoleMode(input, &saved)) {
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return LineResult::NoTerminal;
  }
  // Hidden before the prompt shows, so that nothing typed after it is echoed.
  SetConsoleMode(input, (saved | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  std::wstring widePrompt;
  ToWide(prompt, &widePrompt);
  WriteConsole(output, widePrompt.c_str(), widePrompt.size());
  wchar_t typed[kTextSize];
  size_t length = 0;
  bool aborted = false;
  bool read = ReadConsoleLine(input, typed, &length, &aborted);
  SetConsoleMode(input, saved);
  WriteConsole(output, L"\r\n", 2);
  CloseHandle(input);
  CloseHandle(output);

  LineResult result = LineResult::Ok;
  if (!read) {
    if (aborted) caught = true;  // the handler may not have run yet
    result = aborted ? LineResult::Interrupted : LineResult::Failed;
  } else if (length > kMaxTextLength) {
    result = LineResult::TooLong;
  } else if (std::wmemchr(typed, L'\0', length) != nullptr) {
    result = LineResult::NotText;
  } else {
    typed[length] = L'\0';
    int written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, typed, -1, text,
                                      static_cast<int>(kTextSize), nullptr, nullptr);
    if (written == 0) {
      result =
          GetLastError() == ERROR_INSUFFICIENT_BUFFER ? LineResult::TooLong : LineResult::NotText;
    }
  }
  Wipe(typed, sizeof typed);
  if (result != LineResult::Ok) Wipe(text, sizeof text);
  return result;
}

int OpenForReading(const char* path) {
  std::wstring wide;
  if (!ToWide(path, &wide)) return -1;
  return _wopen(wide.c_str(), _O_RDONLY | _O_BINARY);
}

// Text mode would turn CR LF into LF and end the line at a Ctrl+Z.
bool UseDescriptor(int fd) { return _setmode(fd, _O_BINARY) != -1; }

int ReadByte(int fd, char* byte) { return _read(fd, byte, 1); }

void CloseDescriptor(int fd) { _close(fd); }

int SystemCodePage() { return static_cast<int>(GetACP()); }

// The window's own conversion, for a code page given instead of the system's.
Conversion ToCodePage(const char* utf8, int codePage, char (&bytes)[kPassphraseFieldSize]) {
  if (!IsValidCodePage(static_cast<UINT>(codePage))) return Conversion::NoCodePage;
  wchar_t wide[kTextSize];
  JobStatus status = JobStatus::PassphraseUnusable;
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, wide,
                          static_cast<int>(kTextSize)) != 0) {
    status = PassphraseBytes(wide, static_cast<UINT>(codePage), bytes);
  }
  Wipe(wide, sizeof wide);
  if (status == JobStatus::Ok) return Conversion::Ok;
  Wipe(bytes, sizeof bytes);
  return status == JobStatus::PassphraseTooLong ? Conversion::TooLong : Conversion::Unusable;
}

void CatchInterrupts() { SetConsoleCtrlHandler(Note, TRUE); }

void CancelOnInterrupt(std::atomic<bool>* flag) {
  {
    std::lock_guard<std::mutex> lock(cancelLock);
    cancel = flag;
    if (flag != nullptr && caught) *flag = true;
  }
  if (flag == nullptr) cancelGone.notify_all();
}

bool Interrupted() { return caught; }

// The code Windows gives a console program that Ctrl+C ends.
void EndAsInterrupted() { ExitProcess(STATUS_CONTROL_C_EXIT); }

}  // namespace karvel::cli
