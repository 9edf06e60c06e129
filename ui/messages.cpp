#include "ui/messages.h"

#include "res/resource.h"

namespace karvel {

namespace {

constexpr int kMessageUnits = 128;  // every message and caption is a short text

struct StatusMessage {
  JobStatus status;
  UINT textId;
  int box;
};
constexpr StatusMessage kStatusMessages[] = {
    {JobStatus::Ok, IDS_DONE, IDC_TARGET_FILE},
    {JobStatus::OpenFailed, IDS_OPEN_FAILED, IDC_TARGET_FILE},
    {JobStatus::NoTargetPath, IDS_NO_TARGET, IDC_TARGET_FILE},
    {JobStatus::NoPassphrase, IDS_NO_PASSPHRASE, IDC_PASSPHRASE},
    {JobStatus::HeaderMismatch, IDS_INVALID_KEY, IDC_PASSPHRASE},
    {JobStatus::ReadFailed, IDS_READ_FAILED, IDC_TARGET_FILE},
    {JobStatus::WriteFailed, IDS_WRITE_FAILED, IDC_OUTPUT},
    {JobStatus::ReplaceFailed, IDS_REPLACE_FAILED, IDC_OUTPUT},
    {JobStatus::OutputIsFolder, IDS_OUTPUT_IS_FOLDER, IDC_OUTPUT},
    {JobStatus::OutputReadOnly, IDS_OUTPUT_READ_ONLY, IDC_OUTPUT},
    {JobStatus::OutputFolderMissing, IDS_OUTPUT_FOLDER_MISSING, IDC_OUTPUT},
    {JobStatus::PassphraseTooLong, IDS_PASSPHRASE_TOO_LONG, IDC_PASSPHRASE},
    {JobStatus::PathTooLong, IDS_PATH_TOO_LONG, IDC_TARGET_FILE},
    {JobStatus::Cancelled, IDS_CANCELLED, IDC_TARGET_FILE},
    {JobStatus::PassphraseUnusable, IDS_PASSPHRASE_UNUSABLE, IDC_PASSPHRASE},
    {JobStatus::TargetChanged, IDS_TARGET_CHANGED, IDC_TARGET_FILE},
    {JobStatus::TargetHasOtherNames, IDS_TARGET_HAS_OTHER_NAMES, IDC_TARGET_FILE},
    {JobStatus::OutputNotAFile, IDS_OUTPUT_NOT_A_FILE, IDC_OUTPUT},
    {JobStatus::Damaged, IDS_DAMAGED, IDC_TARGET_FILE},
    {JobStatus::LinkUnresolved, IDS_LINK_UNRESOLVED, IDC_TARGET_FILE},
    {JobStatus::AlreadyEncoded, IDS_ALREADY_ENCODED, IDC_PASSPHRASE},
};

const StatusMessage* MessageFor(JobStatus status) {
  for (const StatusMessage& entry : kStatusMessages) {
    if (entry.status == status) return &entry;
  }
  return nullptr;
}

void LoadText(HWND window, UINT id, wchar_t (&text)[kMessageUnits]) {
  auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  if (LoadStringW(instance, id, text, kMessageUnits) == 0) text[0] = L'\0';
}

}  // namespace

UINT StatusTextId(JobStatus status) {
  const StatusMessage* entry = MessageFor(status);
  return entry != nullptr ? entry->textId : 0;
}

int BoxFor(JobStatus status) {
  const StatusMessage* entry = MessageFor(status);
  return entry != nullptr ? entry->box : IDC_TARGET_FILE;
}

void ShowMessage(HWND window, UINT textId, UINT captionId, int boxId) {
  ShowOutcome(window, textId, captionId, boxId, OriginalPlace::None, std::wstring());
}

// Without an icon, on purpose: the terse messages are the ones users have always had. The
// original's path may be as long as any path, so this text has no fixed size.
void ShowOutcome(HWND window, UINT textId, UINT captionId, int boxId, OriginalPlace place,
                 const std::wstring& originalPath) {
  wchar_t outcome[kMessageUnits];
  wchar_t caption[kMessageUnits];
  LoadText(window, textId, outcome);
  LoadText(window, captionId, caption);
  std::wstring text = outcome;
  if (place != OriginalPlace::None) {
    wchar_t where[kMessageUnits];
    LoadText(window, place == OriginalPlace::Trash ? IDS_ORIGINAL_IN_TRASH : IDS_ORIGINAL_KEPT_AS,
             where);
    text += std::wstring(L"\n\n") + where;
    if (place == OriginalPlace::Beside) text += originalPath;
  }
  MessageBoxW(window, text.c_str(), caption, MB_OK);
  FocusBox(window, boxId);
}

void ShowRefusal(HWND window, JobStatus status, int boxId) {
  ShowMessage(window, StatusTextId(status), IDS_ERROR, boxId);
}

// A letter typed where a button or the window itself has the keyboard would
// press a button by its mnemonic; in a box it is only text.
void FocusBox(HWND window, int boxId) {
  HWND box = GetDlgItem(window, boxId);
  SendMessageW(window, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(box), TRUE);
  SendMessageW(box, EM_SETSEL, 0, -1);
}

}  // namespace karvel
