#include "ui/transform_commands.h"

#include "engine/scrambler.h"
#include "res/resource.h"

namespace karvel {

namespace {

struct TransformCommand {
  JobStatus readyStatus;  // the Probe result that lets the transform run
  JobStatus (EncodingJob::*transform)(FileServices&);
  const char* doneCaption;
};

constexpr TransformCommand kEncode = {JobStatus::HeaderMismatch, &EncodingJob::Encode,
                                      "karvel - encoding"};
constexpr TransformCommand kDecode = {JobStatus::Ok, &EncodingJob::Decode, "karvel - decoding"};

struct JobBox {
  int id;
  JobStatus (EncodingJob::*set)(const char*);
  JobStatus tooLong;  // what the setter says of a text longer than the scratch buffer holds
};

// In the order the boxes are read; the first refusal wins.
constexpr JobBox kJobBoxes[] = {
    {IDC_TARGET_FILE, &EncodingJob::SetTargetPath, JobStatus::PathTooLong},
    {IDC_PASSPHRASE, &EncodingJob::SetPassphrase, JobStatus::PassphraseTooLong},
    {IDC_OUTPUT, &EncodingJob::SetOutputPath, JobStatus::PathTooLong},
};

// A box's text is taken whole or refused, never cut short.
JobStatus FillJob(HWND window, EncodingJob& job) {
  char scratch[kMaxPathLength + 1];
  for (const JobBox& box : kJobBoxes) {
    if (GetWindowTextLengthA(GetDlgItem(window, box.id)) > static_cast<int>(kMaxPathLength)) {
      return box.tooLong;
    }
    GetDlgItemTextA(window, box.id, scratch, sizeof scratch);
    JobStatus status = (job.*box.set)(scratch);
    Wipe(scratch, sizeof scratch);
    if (status != JobStatus::Ok) return status;
  }
  return JobStatus::Ok;
}

struct Outcome {
  bool transformed;
  JobStatus status;
};

// The job, and the passphrase it holds, is gone before any message is shown.
Outcome RunJob(HWND window, const TransformCommand& command) {
  EncodingJob job;
  JobStatus status = FillJob(window, job);
  if (status != JobStatus::Ok) return {false, status};
  status = job.Probe();
  if (status != command.readyStatus) return {false, status};
  return {true, (job.*command.transform)(SystemFileServices())};
}

void RunCommand(HWND window, const TransformCommand& command) {
  Outcome outcome = RunJob(window, command);
  if (outcome.transformed && outcome.status == JobStatus::Ok) {
    MessageBoxA(window, "done", command.doneCaption, MB_OK);
    SetDlgItemTextA(window, IDC_PASSPHRASE, "");
  } else {
    MessageBoxA(window, StatusText(outcome.status), "error", MB_OK);
  }
}

}  // namespace

void EncodeCommand(HWND window) { RunCommand(window, kEncode); }
void DecodeCommand(HWND window) { RunCommand(window, kDecode); }

const char* StatusText(JobStatus status) {
  switch (status) {
    case JobStatus::Ok:  // stops only Encode: the header already passes under the passphrase
      return "alreadly encoded by the passphrase";
    case JobStatus::OpenFailed:
      return "file open failed";
    case JobStatus::NoTargetPath:
      return "input file name to encode";
    case JobStatus::NoPassphrase:
      return "input encoding key";
    case JobStatus::HeaderMismatch:
      return "invalid key";
    case JobStatus::ReadFailed:
      return "file read failed";
    case JobStatus::WriteFailed:
      return "file write failed";
    case JobStatus::ReplaceFailed:
      return "output replace failed";
    case JobStatus::OutputIsFolder:
      return "output is a folder";
    case JobStatus::OutputReadOnly:
      return "output is read-only";
    case JobStatus::OutputFolderMissing:
      return "output folder not found";
    case JobStatus::OutputIsTemporary:
      return "output is the temporary file";
    case JobStatus::PassphraseTooLong:
      return "encoding key too long";
    case JobStatus::PathTooLong:
      return "file name too long";
  }
  return "";
}

}  // namespace karvel
