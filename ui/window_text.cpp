#include "ui/window_text.h"

#include <cwchar>

#include "engine/wipe.h"

namespace karvel {

namespace {

constexpr size_t kMessageUnits = 128;  // every message and caption is a short ASCII text

void ToWide(const char* text, wchar_t (&wide)[kMessageUnits]) {
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, kMessageUnits) == 0) wide[0] = L'\0';
}

// A code page without an exact form for a character would put its default
// character ("?") or a look-alike in its place, and different passphrases
// would then open each other's files. Where the ANSI code page is UTF-8 those
// flags are invalid and every character has a form except a lone surrogate.
JobStatus PassphraseBytes(const wchar_t* passphrase, char (&bytes)[kPassphraseFieldSize]) {
  BOOL usedDefault = FALSE;
  bool utf8System = GetACP() == CP_UTF8;
  int written = utf8System
                    ? WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, passphrase, -1, bytes,
                                          kPassphraseFieldSize, nullptr, nullptr)
                    : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, passphrase, -1, bytes,
                                          kPassphraseFieldSize, nullptr, &usedDefault);
  if (written != 0 && !usedDefault) return JobStatus::Ok;
  DWORD error = GetLastError();
  Wipe(bytes, sizeof bytes);
  if (written == 0 && error == ERROR_INSUFFICIENT_BUFFER) return JobStatus::PassphraseTooLong;
  return JobStatus::PassphraseUnusable;
}

}  // namespace

JobStatus ReadPathBox(HWND window, int id, char* utf8, size_t utf8Size) {
  HWND box = GetDlgItem(window, id);
  if (GetWindowTextLengthW(box) > static_cast<int>(kMaxPathUnits)) return JobStatus::PathTooLong;
  static wchar_t wide[kPathUnitsSize];  // 64 KiB: kept off the window thread's stack
  GetWindowTextW(box, wide, kPathUnitsSize);
  int written =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, static_cast<int>(utf8Size), nullptr, nullptr);
  return written == 0 ? JobStatus::PathTooLong : JobStatus::Ok;
}

JobStatus ReadPassphraseBox(HWND box, char (&bytes)[kPassphraseFieldSize]) {
  if (GetWindowTextLengthW(box) > static_cast<int>(kMaxPassphraseLength)) {
    return JobStatus::PassphraseTooLong;  // every character takes at least one byte
  }
  wchar_t typed[kMaxPassphraseLength + 1];
  GetWindowTextW(box, typed, kMaxPassphraseLength + 1);
  JobStatus status = PassphraseBytes(typed, bytes);
  Wipe(typed, sizeof typed);
  return status;
}

void ShowMessage(HWND window, const char* text, const char* caption, int boxId) {
  wchar_t wideText[kMessageUnits];
  wchar_t wideCaption[kMessageUnits];
  ToWide(text, wideText);
  ToWide(caption, wideCaption);
  MessageBoxW(window, wideText, wideCaption, MB_OK);
  FocusBox(window, boxId);
}

void ErasePassphraseBox(HWND box) {
  wchar_t filler[kMaxPassphraseLength + 1];
  int units = GetWindowTextLengthW(box);
  if (units > static_cast<int>(kMaxPassphraseLength)) units = kMaxPassphraseLength;
  for (int i = 0; i < units; ++i) filler[i] = L'x';
  filler[units] = L'\0';
  SetWindowTextW(box, filler);
  SetWindowTextW(box, L"");
}

// A letter typed where a button or the window itself has the keyboard would
// press a button by its mnemonic; in a box it is only text.
void FocusBox(HWND window, int boxId) {
  HWND box = GetDlgItem(window, boxId);
  SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

bool ProgramFolderFile(const wchar_t* name, wchar_t* path, size_t pathUnits) {
  DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(pathUnits));
  if (length == 0 || length >= pathUnits) return false;
  wchar_t* folderEnd = std::wcsrchr(path, L'\\');
  if (folderEnd == nullptr) return false;
  size_t folderLength = static_cast<size_t>(folderEnd - path) + 1;
  size_t nameLength = std::wcslen(name);
  if (folderLength + nameLength + 1 > pathUnits) return false;
  std::wmemcpy(path + folderLength, name, nameLength + 1);
  return true;
}

bool IsFile(const wchar_t* path) {
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace karvel
