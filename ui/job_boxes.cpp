#include "ui/job_boxes.h"

#include <string>

#include "engine/windows_text.h"
#include "engine/wipe.h"
#include "res/resource.h"

namespace karvel {

namespace {

// The box's path in UTF-8; PathTooLong when it holds more than kMaxPathUnits units.
JobStatus ReadPathBox(HWND box, std::string* utf8) {
  int units = GetWindowTextLengthW(box);
  if (units > static_cast<int>(kMaxPathUnits)) return JobStatus::PathTooLong;
  std::wstring wide(static_cast<size_t>(units) + 1, L'\0');
  wide.resize(static_cast<size_t>(GetWindowTextW(box, &wide[0], units + 1)));
  *utf8 = Narrow(wide);
  return JobStatus::Ok;
}

}  // namespace

JobStatus FillJob(HWND window, EncodingJob& job, int* refusedBox) {
  std::string path;
  *refusedBox = IDC_TARGET_FILE;
  JobStatus status = ReadPathBox(GetDlgItem(window, IDC_TARGET_FILE), &path);
  if (status == JobStatus::Ok) status = job.SetTargetPath(path.c_str());
  if (status != JobStatus::Ok) return status;

  *refusedBox = IDC_PASSPHRASE;
  char bytes[kPassphraseFieldSize];
  status = ReadPassphraseBox(GetDlgItem(window, IDC_PASSPHRASE), bytes);
  if (status == JobStatus::Ok) status = job.SetPassphrase(bytes);
  Wipe(bytes, sizeof bytes);
  if (status != JobStatus::Ok) return status;

  *refusedBox = IDC_OUTPUT;
  status = ReadPathBox(GetDlgItem(window, IDC_OUTPUT), &path);
  if (status == JobStatus::Ok) status = job.SetOutputPath(path.c_str());
  return status;
}

JobStatus ReadPassphraseBox(HWND box, char (&bytes)[kPassphraseFieldSize]) {
  if (GetWindowTextLengthW(box) > static_cast<int>(kMaxPassphraseLength)) {
    return JobStatus::PassphraseTooLong;  // every character takes at least one byte
  }
  wchar_t typed[kMaxPassphraseLength + 1];
  GetWindowTextW(box, typed, kMaxPassphraseLength + 1);
  JobStatus status = PassphraseBytes(typed, GetACP(), bytes);
  Wipe(typed, sizeof typed);
  return status;
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

}  // namespace karvel
