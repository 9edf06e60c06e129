#include "engine/encoding_job.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "engine/file_services.h"
#include "engine/format.h"
#include "engine/header_record.h"
#include "engine/paths.h"
#include "engine/scrambler.h"
#include "engine/temporary_file.h"
#include "engine/transfer.h"
#include "engine/wipe.h"

namespace karvel {

namespace {

constexpr char kOriginalSuffix[] = ".encoded";  // an older file's original, kept beside its result

// The length of text, or limit when no terminator lies within the first limit bytes.
size_t BoundedLength(const char* text, size_t limit) {
  size_t length = 0;
  while (length < limit && text[length] != '\0') ++length;
  return length;
}

JobStatus CopyField(char* field, size_t fieldSize, size_t maxLength, const char* text,
                    JobStatus tooLong) {
  size_t length = BoundedLength(text, maxLength + 1);
  if (length > maxLength) {
    Wipe(field, fieldSize);
    return tooLong;
  }
  std::memcpy(field, text, length);
  field[length] = '\0';
  return JobStatus::Ok;
}

// The fields may have been filled directly, so none is trusted to hold a terminator.
JobStatus CheckFields(const EncodingJob& job) {
  if (job.passphrase[0] == '\0') return JobStatus::NoPassphrase;
  if (job.targetPath[0] == '\0') return JobStatus::NoTargetPath;
  if (BoundedLength(job.passphrase, kPassphraseFieldSize) > kMaxPassphraseLength) {
    return JobStatus::PassphraseTooLong;
  }
  if (BoundedLength(job.targetPath, kPathFieldSize) > kMaxPathLength ||
      BoundedLength(job.outputPath, kPathFieldSize) > kMaxPathLength) {
    return JobStatus::PathTooLong;
  }
  return JobStatus::Ok;
}

// A job's target and output (the target when none is given) in the system's form, made once for
// every call of a transform.
struct JobPaths {
  SystemPath target;
  SystemPath output;
  PathForm outputForm = PathForm::Ok;  // one that cannot be prepared is refused as output
};

// Ok, or PathTooLong when either is too long for the system; a target the system cannot name
// cannot be opened.
JobStatus PreparePaths(EncodingJob& job, FileServices& files, JobPaths* paths) {
  PathForm targetForm = files.Prepare(job.targetPath, &paths->target);
  int targetError = files.LastError();
  if (job.outputPath[0] == '\0') {
    paths->output = paths->target;
    paths->outputForm = targetForm;
  } else {
    paths->outputForm = files.Prepare(job.outputPath, &paths->output);
  }
  if (targetForm == PathForm::TooLong || paths->outputForm == PathForm::TooLong) {
    return JobStatus::PathTooLong;
  }
  if (targetForm == PathForm::Ok) return JobStatus::Ok;
  job.systemError = targetError;
  return JobStatus::OpenFailed;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

// The same file holding what it held; a rename changes its change time, not this.
bool SameContent(const FileIdentity& before, const FileIdentity& now) {
  return SameFile(before, now) && before.size == now.size && before.lastWrite == now.lastWrite;
}

bool Unchanged(const FileIdentity& before, const FileIdentity& now) {
  return SameContent(before, now) && before.lastChange == now.lastChange;
}

class InputFile {
 public:
  explicit InputFile(FileServices& files) : files_(files) {}
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const SystemPath& path) {
    handle_ = files_.OpenForReading(path);
    return handle_ != kNoFile;
  }
  FileHandle Handle() const { return handle_; }
  // Nothing was written through it, so a failed close loses nothing.
  void Close() {
    if (handle_ != kNoFile) files_.Close(handle_);
    handle_ = kNoFile;
  }
  // For a call that closes it.
  FileHandle Release() {
    FileHandle handle = handle_;
    handle_ = kNoFile;
    return handle;
  }

 private:
  FileServices& files_;
  FileHandle handle_ = kNoFile;
};

// status, which a call of files caused by failing; the reason the system gave goes with it.
JobStatus Failed(EncodingJob& job, FileServices& files, JobStatus status) {
  job.systemError = files.LastError();
  return status;
}

// Judged on what a link at the end of output leads to, which is also what the result replaces, as
// a copy or a redirection would write it: the link stays. *final names that file.
JobStatus CheckOutput(FileServices& files, PathForm form, const SystemPath& output,
                      SystemPath* final) {
  // No file of the system's is named by it.
  if (form != PathForm::Ok) return JobStatus::OutputFolderMissing;
  switch (files.Inspect(output)) {
    case PathKind::Directory:
      return JobStatus::OutputIsFolder;
    case PathKind::ReadOnlyFile:
      return JobStatus::OutputReadOnly;
    case PathKind::FolderMissing:
      return JobStatus::OutputFolderMissing;
    case PathKind::NotAFile:
      return JobStatus::OutputNotAFile;
    case PathKind::Absent:
    case PathKind::File:
      break;
  }
  // A link that leads nowhere would have the result take the place of the link itself.
  return files.ResolveLinks(output, final) ? JobStatus::Ok : JobStatus::LinkUnresolved;
}

// Which side of the stream holds the plain content, the side the content's hash takes.
enum class PlainSide { Read, Written };

// One Encode or Decode, as steps that each leave what the next one needs and return Ok to go on.
class Transformation {
 public:
  Transformation(EncodingJob& job, FileServices& files, JobProgress* progress)
      : job_(job), files_(files), progress_(progress), target_(files), result_(files) {}

  JobStatus Encode() {
    JobStatus status = CheckRequest();
    if (status == JobStatus::Ok) status = OpenTarget();
    if (status == JobStatus::Ok) status = ResolveOutput();
    if (status == JobStatus::Ok) status = DrawRandom();
    if (status == JobStatus::Ok) status = CreateTemporary();
    if (status == JobStatus::Ok) status = Stream(kHeaderSize, kRecordVersion, PlainSide::Read);
    if (status == JobStatus::Ok) status = Seal();
    if (status == JobStatus::Ok) status = Settle();
    if (status == JobStatus::Ok) status = PutInPlace();
    return status;
  }

  JobStatus Decode() {
    JobStatus status = CheckRequest();
    if (status == JobStatus::Ok) status = OpenTarget();
    if (status == JobStatus::Ok) status = ReadAndCheckHeader();
    if (status == JobStatus::Ok) status = ResolveOutput();
    if (status == JobStatus::Ok) status = CreateTemporary();
    if (status == JobStatus::Ok) status = Stream(0, record_.version, PlainSide::Written);
    if (status == JobStatus::Ok) status = CheckContent();
    if (status == JobStatus::Ok) status = Settle();
    if (status == JobStatus::Ok) status = KeepsOriginal() ? PublishKeepingOriginal() : PutInPlace();
    return status;
  }

 private:
  JobStatus CheckRequest() {
    job_.originalPlace = OriginalPlace::None;
    job_.originalPath[0] = '\0';
    job_.systemError = 0;
    job_.recordFound = false;
    JobStatus status = CheckFields(job_);
    if (status == JobStatus::Ok) status = PreparePaths(job_, files_, &paths_);
    // The output is the target when none is given, also for a target that cannot be opened.
    if ((status == JobStatus::Ok || status == JobStatus::OpenFailed) &&
        job_.outputPath[0] == '\0') {
      std::memcpy(job_.outputPath, job_.targetPath, std::strlen(job_.targetPath) + 1);
    }
    length_ = std::strlen(job_.passphrase);
    return status;
  }

  JobStatus OpenTarget() {
    if (!target_.Open(paths_.target)) return Failed(JobStatus::OpenFailed);
    if (!files_.Identify(target_.Handle(), &read_)) return Failed(JobStatus::ReadFailed);
    if (progress_ != nullptr) progress_->bytesTotal.store(read_.size, std::memory_order_relaxed);
    // On the heap, so that a worker thread's default stack holds the whole transform.
    work_.reset(new (std::nothrow) WorkBuffer);
    // Nothing read or written yet: too little memory to start.
    return work_ ? JobStatus::Ok : JobStatus::ReadFailed;
  }

  JobStatus ReadAndCheckHeader() {
    size_t headerRead = 0;
    if (!ReadHeader(files_, target_.Handle(), job_.passphrase, length_, work_->bytes, &headerRead,
                    &record_, &recordState_)) {
      return Failed(JobStatus::ReadFailed);
    }
    job_.recordFound = recordState_ == RecordState::Valid;
    // A header read may fall short only at the end of the file.
    if (headerRead != kHeaderSize && headerRead != read_.size) return JobStatus::ReadFailed;
    if (!HeaderMatches(work_->bytes, job_.signature)) return JobStatus::HeaderMismatch;
    JobStatus status = CheckRecord(recordState_, record_, job_.passphrase, length_);
    if (status != JobStatus::Ok) return status;
    // Every writer puts a whole header block before the content: a shorter file was cut.
    if (headerRead != kHeaderSize) return JobStatus::Damaged;
    bytesRead_ = headerRead;
    CountDone(progress_, headerRead);
    return JobStatus::Ok;
  }

  // Checked before anything exists to replace it: a move would replace a read-only file silently.
  JobStatus ResolveOutput() {
    JobStatus status = CheckOutput(files_, paths_.outputForm, paths_.output, &output_);
    if (status != JobStatus::Ok) return status;
    FileIdentity replaced;
    outputExists_ = files_.IdentifyPath(output_, &replaced);
    inPlace_ = outputExists_ && SameFile(read_, replaced);
    // Replacing one name of a file would leave its old content under the others.
    if (inPlace_ && read_.links > 1) return JobStatus::TargetHasOtherNames;
    // In place, the file itself is replaced, not a link that leads to it.
    if (inPlace_ && !files_.FinalPath(target_.Handle(), paths_.target, &output_)) {
      return JobStatus::LinkUnresolved;
    }
    return JobStatus::Ok;
  }

  JobStatus DrawRandom() {
    return files_.FillRandom(random_.bytes, sizeof random_.bytes) ? JobStatus::Ok
                                                                  : Failed(JobStatus::WriteFailed);
  }

  JobStatus CreateTemporary() {
    JobStatus status = result_.CreateFor(output_, inPlace_);
    if (status == JobStatus::Ok || status == JobStatus::PathTooLong) return status;
    return Failed(status);
  }

  // Copies the rest of the target to the result until a read comes up short, scrambling on the
  // way and hashing the plain side. The result's content lies carry bytes further into its file
  // than the target's (the room for a header written last, when encoding), so the last carry
  // bytes of a full chunk wait at the front of the buffer for the next write: every read of the
  // target and every write of the result then starts on a chunk boundary of its file. A cancel
  // request is honoured between chunks.
  JobStatus Stream(size_t carry, uint8_t hashVersion, PlainSide plain) {
    hash_.emplace(hashVersion, job_.passphrase, length_);
    Scrambler scrambler(job_.passphrase, length_, kBodySeed);
    unsigned char* content = work_->bytes + kHeaderSize;
    unsigned char* front = content - carry;
    std::memset(front, 0, carry);
    bool full = false;
    do {
      if (CancelRequested(progress_)) return JobStatus::Cancelled;
      size_t chunk = 0;
      if (!files_.Read(target_.Handle(), content, kChunkSize, &chunk)) {
        return Failed(JobStatus::ReadFailed);
      }
      bytesRead_ += chunk;
      CountDone(progress_, chunk);
      if (plain == PlainSide::Read) hash_->Update(content, chunk);
      scrambler.Apply(content, chunk);
      if (plain == PlainSide::Written) hash_->Update(content, chunk);
      full = chunk == kChunkSize;
      const size_t ready = carry + chunk;
      const size_t now = full ? kChunkSize : ready;
      if (!WriteAll(files_, result_.Handle(), front, now)) return Failed(JobStatus::WriteFailed);
      std::memmove(front, front + now, ready - now);
    } while (full);
    return bytesRead_ == read_.size ? JobStatus::Ok : JobStatus::ReadFailed;
  }

  // The header goes in last, once the content's length and hash are known for its record.
  JobStatus Seal() {
    return WriteHeader(files_, result_.Handle(), job_.signature, job_.passphrase, length_,
                       random_.bytes, bytesRead_, *hash_)
               ? JobStatus::Ok
               : Failed(JobStatus::WriteFailed);
  }

  JobStatus CheckContent() {
    if (recordState_ != RecordState::Valid) return JobStatus::Ok;
    return ContentFits(record_, bytesRead_ - kHeaderSize, *hash_) ? JobStatus::Ok
                                                                  : JobStatus::Damaged;
  }

  // The target stays open, shared for reading (and deletion) only, until the result is safely on
  // disk, and where the system allows, through the move. The result then takes over what
  // protected the file it replaces; a new output, the target's. Only now, so that a temporary
  // file with a name stays its owner's alone until its last moments.
  JobStatus Settle() {
    if (!result_.Flush()) return Failed(JobStatus::WriteFailed);
    if (!StillValid()) return changed_ ? JobStatus::TargetChanged : JobStatus::Cancelled;
    if (!files_.CopyProtection(outputExists_ ? output_ : paths_.target, result_.Handle(),
                               outputExists_)) {
      return Failed(JobStatus::WriteFailed);
    }
    return JobStatus::Ok;
  }

  // Another program, or another window on the same file, may have changed the target meanwhile:
  // checked again right before each attempt of the move. After the move the output has changed,
  // so this is also the last chance to stop.
  bool StillValid() {
    FileIdentity now;
    changed_ = !files_.IdentifyPath(paths_.target, &now) || !Unchanged(read_, now);
    return !changed_ && !CancelRequested(progress_);
  }

  JobStatus PutInPlace() {
    if (result_.Publish([this] { return StillValid(); }, target_.Release())) return JobStatus::Ok;
    return MoveRefused();
  }

  // Why a move did not happen: its check, or the system.
  JobStatus MoveRefused() {
    if (changed_) return JobStatus::TargetChanged;
    return CancelRequested(progress_) ? JobStatus::Cancelled : Failed(JobStatus::ReplaceFailed);
  }

  // Without a record, a passphrase that slipped at a character the signature never sees decodes
  // to garbage unnoticed: in place, that would destroy the only copy.
  bool KeepsOriginal() const {
    return inPlace_ && recordState_ == RecordState::None &&
           SignatureMissesContentCharacters(length_);
  }

  // The original, closed, steps aside under a name of its own until the result has taken its
  // name, goes back to it when the result cannot, and then goes to the trash; where the trash
  // does not take it, it stays beside the result. At every moment the original has a name in its
  // folder.
  JobStatus PublishKeepingOriginal() {
    target_.Close();
    SystemPath aside;
    CreateResult moved =
        AtFreeName(files_, output_, kOriginalSuffix, &aside,
                   [&](const SystemPath& path) { return files_.Rename(output_, path); });
    if (moved != CreateResult::Created) {
      // Closed, the original may have been removed or replaced meanwhile (Windows removes a file
      // whose removal waited for our handle only now).
      if (!StillValid() && changed_) return JobStatus::TargetChanged;
      return moved == CreateResult::NameTooLong ? JobStatus::PathTooLong
                                                : Failed(JobStatus::ReplaceFailed);
    }
    job_.originalPlace = OriginalPlace::Beside;
    // The user's own form, within kMaxPathLength.
    std::memcpy(job_.originalPath, aside.text.c_str(), aside.text.size() + 1);
    // The name it left must still be free, or the move would replace a file that another program
    // just saved there.
    MoveCheck stillAside = [&] {
      FileIdentity now;
      changed_ =
          !files_.IdentifyPath(aside, &now) || !SameContent(read_, now) || files_.Exists(output_);
      return !changed_ && !CancelRequested(progress_);
    };
    if (!result_.Publish(stillAside, kNoFile)) {
      if (files_.Rename(aside, output_) == CreateResult::Created) {
        job_.originalPlace = OriginalPlace::None;
        job_.originalPath[0] = '\0';
      }
      return MoveRefused();
    }
    if (files_.MoveToTrash(aside)) {
      job_.originalPlace = OriginalPlace::Trash;
      job_.originalPath[0] = '\0';
    }
    return JobStatus::Ok;
  }

  JobStatus Failed(JobStatus status) { return karvel::Failed(job_, files_, status); }

  EncodingJob& job_;
  FileServices& files_;
  JobProgress* progress_;
  size_t length_ = 0;  // the passphrase's
  JobPaths paths_;
  InputFile target_;
  FileIdentity read_{};  // the target as it was opened
  std::unique_ptr<WorkBuffer> work_;
  uint64_t bytesRead_ = 0;  // of the target, its header included
  HeaderRecord record_{};
  RecordState recordState_ = RecordState::None;
  SystemPath output_;  // the file the result replaces or becomes
  bool outputExists_ = false;
  bool inPlace_ = false;  // the output is the target itself
  HeaderRandom random_;
  TemporaryFile result_;
  std::optional<ContentHash> hash_;
  bool changed_ = false;  // set by the last check of a move
};

}  // namespace

EncodingJob::EncodingJob() {
  std::memset(signature, 0, sizeof signature);
  std::memcpy(signature, kSignatureText, sizeof kSignatureText);
  passphrase[0] = '\0';
  targetPath[0] = '\0';
  outputPath[0] = '\0';
  originalPlace = OriginalPlace::None;
  originalPath[0] = '\0';
  systemError = 0;
  recordFound = false;
}

EncodingJob::~EncodingJob() { Wipe(passphrase, sizeof passphrase); }

JobStatus EncodingJob::SetTargetPath(const char* text) {
  return CopyField(targetPath, sizeof targetPath, kMaxPathLength, text, JobStatus::PathTooLong);
}

JobStatus EncodingJob::SetPassphrase(const char* text) {
  return CopyField(passphrase, sizeof passphrase, kMaxPassphraseLength, text,
                   JobStatus::PassphraseTooLong);
}

JobStatus EncodingJob::SetOutputPath(const char* text) {
  return CopyField(outputPath, sizeof outputPath, kMaxPathLength, text, JobStatus::PathTooLong);
}

JobStatus EncodingJob::Probe(FileServices& files) {
  systemError = 0;
  recordFound = false;
  JobStatus status = CheckFields(*this);
  JobPaths paths;
  if (status == JobStatus::Ok) status = PreparePaths(*this, files, &paths);
  if (status != JobStatus::Ok) return status;
  InputFile target(files);
  if (!target.Open(paths.target)) return Failed(*this, files, JobStatus::OpenFailed);
  HeaderBuffer header;
  size_t headerRead = 0;
  size_t length = std::strlen(passphrase);
  HeaderRecord record;
  RecordState recordState = RecordState::None;
  if (!ReadHeader(files, target.Handle(), passphrase, length, header.bytes, &headerRead, &record,
                  &recordState)) {
    return Failed(*this, files, JobStatus::ReadFailed);
  }
  recordFound = recordState == RecordState::Valid;
  if (!HeaderMatches(header.bytes, signature)) return JobStatus::HeaderMismatch;
  // A damaged file matches: decoding it says what is wrong with it.
  if (recordState == RecordState::Valid &&
      PassphraseFits(record, passphrase, length) == Fit::None) {
    return JobStatus::HeaderMismatch;
  }
  return JobStatus::Ok;
}

JobStatus EncodingJob::OutputStatus(FileServices& files) const {
  SystemPath output;
  PathForm form = files.Prepare(outputPath[0] != '\0' ? outputPath : targetPath, &output);
  SystemPath final;
  return CheckOutput(files, form, output, &final);
}

JobStatus EncodingJob::Encode(FileServices& files, JobProgress* progress) {
  return Transformation(*this, files, progress).Encode();
}

JobStatus EncodingJob::Decode(FileServices& files, JobProgress* progress) {
  return Transformation(*this, files, progress).Decode();
}

}  // namespace karvel
