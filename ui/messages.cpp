#include "ui/messages.h"

#include "res/resource.h"

namespace karvel {

namespace {

constexpr size_t kMessageUnits = 128;  // every message and caption is a short ASCII text

struct StatusBox {
  JobStatus status;
  int box;
};
constexpr StatusBox kStatusBoxes[] = {
    {JobStatus::Ok, IDC_PASSPHRASE},  // already encoded by the passphrase
    {JobStatus::NoPassphrase, IDC_PASSPHRASE},
    {JobStatus::HeaderMismatch, IDC_PASSPHRASE},
    {JobStatus::PassphraseTooLong, IDC_PASSPHRASE},
    {JobStatus::PassphraseUnusable, IDC_PASSPHRASE},
    {JobStatus::OutputIsFolder, IDC_OUTPUT},
    {JobStatus::OutputReadOnly, IDC_OUTPUT},
    {JobStatus::OutputFolderMissing, IDC_OUTPUT},
    {JobStatus::OutputNotAFile, IDC_OUTPUT},
    {JobStatus::WriteFailed, IDC_OUTPUT},
    {JobStatus::ReplaceFailed, IDC_OUTPUT},
};

void ToWide(const char* text, wchar_t (&wide)[kMessageUnits]) {
  if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, kMessageUnits) == 0) wide[0] = L'\0';
}

}  // namespace

int BoxFor(JobStatus status) {
  for (const StatusBox& entry : kStatusBoxes) {
    if (entry.status == status) return entry.box;
  }
  return IDC_TARGET_FILE;
}

// Without an icon, on purpose: the terse messages are the ones users have always had.
void ShowMessage(HWND window, const char* text, const char* caption, int boxId) {
  wchar_t wideText[kMessageUnits];
  wchar_t wideCaption[kMessageUnits];
  ToWide(text, wideText);
  ToWide(caption, wideCaption);
  MessageBoxW(window, wideText, wideCaption, MB_OK);
  FocusBox(window, boxId);
}

// A letter typed where a button or the window itself has the keyboard would
// press a button by its mnemonic; in a box it is only text.
void FocusBox(HWND window, int boxId) {
  HWND box = GetDlgItem(window, boxId);
  SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

}  // namespace karvel
