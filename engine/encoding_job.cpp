#include "engine/encoding_job.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "engine/file_services.h"
#include "engine/format.h"
#include "engine/header_record.h"
#include "engine/key_stream.h"
#include "engine/paths.h"
#include "engine/scrambler.h"
#include "engine/temporary_file.h"
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
JobStatus CheckFields(const EncodingJob& job, FileServices& files) {
  if (job.passphrase[0] == '\0') return JobStatus::NoPassphrase;
  if (job.targetPath[0] == '\0') return JobStatus::NoTargetPath;
  if (BoundedLength(job.passphrase, kPassphraseFieldSize) > kMaxPassphraseLength) {
    return JobStatus::PassphraseTooLong;
  }
  if (BoundedLength(job.targetPath, kPathFieldSize) > kMaxPathLength ||
      BoundedLength(job.outputPath, kPathFieldSize) > kMaxPathLength) {
    return JobStatus::PathTooLong;
  }
  if (!files.Fits(job.targetPath) || (job.outputPath[0] != '\0' && !files.Fits(job.outputPath))) {
    return JobStatus::PathTooLong;
  }
  return JobStatus::Ok;
}

struct WorkBuffer {
  ~WorkBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kChunkSize];
};

struct HeaderBuffer {
  ~HeaderBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderSize];
};

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index;
}

bool Unchanged(const FileIdentity& before, const FileIdentity& now) {
  return SameFile(before, now) && before.size == now.size && before.lastWrite == now.lastWrite &&
         before.lastChange == now.lastChange;
}

class InputFile {
 public:
  InputFile(FileServices& files, const char* path)
      : files_(files), handle_(files.OpenForReading(path)) {}
  ~InputFile() { Close(); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool IsOpen() const { return handle_ != kNoFile; }
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
  FileHandle handle_;
};

bool WriteAll(FileServices& files, FileHandle file, const unsigned char* bytes, size_t size) {
  size_t written = 0;
  return files.Write(file, bytes, size, &written) && written == size;
}

bool CancelRequested(const JobProgress* progress) {
  return progress != nullptr && progress->cancelRequested.load(std::memory_order_relaxed);
}

void CountDone(JobProgress* progress, uint64_t bytes) {
  if (progress != nullptr) progress->bytesDone.fetch_add(bytes, std::memory_order_relaxed);
}

enum class Direction { Encode, Decode };

// status, which a call of files caused by failing; the reason the system gave goes with it.
JobStatus Failed(EncodingJob& job, FileServices& files, JobStatus status) {
  job.systemError = files.LastError();
  return status;
}

// Copies from to to through buffer until a read comes up short, scrambling on the way and hashing
// the plain side; *bytesRead grows by every byte read. The first write also carries the head bytes
// already at the start of buffer, so that every later write starts on a chunk boundary of the
// result. A cancel request is honoured between chunks.
JobStatus Stream(FileServices& files, FileHandle from, FileHandle to, unsigned char* buffer,
                 size_t head, Direction direction, Scrambler& scrambler, ContentHash& hash,
                 uint64_t* bytesRead, JobProgress* progress) {
  bool full = false;
  do {
    if (CancelRequested(progress)) return JobStatus::Cancelled;
    size_t wanted = kChunkSize - head;
    size_t chunk = 0;
    if (!files.Read(from, buffer + head, wanted, &chunk)) return JobStatus::ReadFailed;
    *bytesRead += chunk;
    CountDone(progress, chunk);
    unsigned char* content = buffer + head;
    if (direction == Direction::Encode) hash.Update(content, chunk);
    scrambler.Apply(content, chunk);
    if (direction == Direction::Decode) hash.Update(content, chunk);
    if (!WriteAll(files, to, buffer, head + chunk)) return JobStatus::WriteFailed;
    full = chunk == wanted;
    head = 0;
  } while (full);
  return JobStatus::Ok;
}

// Ok, or why the record refuses the passphrase: a record that was written but cannot be read, or
// copies that disagree, mean a damaged file; a valid one that the passphrase fits nowhere, a
// wrong passphrase.
JobStatus CheckRecord(RecordState state, const HeaderRecord& record, const char* passphrase,
                      size_t length) {
  if (state == RecordState::None) return JobStatus::Ok;
  if (state == RecordState::Broken) return JobStatus::Damaged;
  switch (PassphraseFits(record, passphrase, length)) {
    case Fit::Every:
      return JobStatus::Ok;
    case Fit::None:
      return JobStatus::HeaderMismatch;
    case Fit::Some:
      break;
  }
  return JobStatus::Damaged;
}

// Judged on what a link at the end of output leads to, which is also what the result replaces, as
// a copy or a redirection would write it: the link stays. *final names that file.
JobStatus CheckOutput(FileServices& files, const char* output, std::string* final) {
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

// What the header's free bytes are made of; drawn before the long work, which it must not fail.
struct HeaderRandom {
  ~HeaderRandom() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderRandomSize];
};

// Without a record, a passphrase that slipped at a character the signature never sees decodes
// to garbage unnoticed: in place, that would destroy the only copy. So the original, closed,
// steps aside under a name of its own until the result has taken its name, goes back to it when
// the result cannot, and then goes to the trash; where the trash does not take it, it stays
// beside the result. At every moment the original has a name in its folder.
JobStatus PublishKeepingOriginal(EncodingJob& job, FileServices& files, TemporaryFile& result,
                                 const std::string& output, const FileIdentity& read,
                                 JobProgress* progress) {
  std::string aside;
  CreateResult moved = AtFreeName(output, kOriginalSuffix, &aside, [&](const char* path) {
    return files.Rename(output.c_str(), path);
  });
  if (moved != CreateResult::Created) {
    // Closed, the original may have been removed or replaced meanwhile (Windows removes a file
    // whose removal waited for our handle only now).
    FileIdentity now;
    if (!files.IdentifyPath(output.c_str(), &now) || !Unchanged(read, now)) {
      return JobStatus::TargetChanged;
    }
    return moved == CreateResult::NameTooLong ? JobStatus::PathTooLong
                                              : Failed(job, files, JobStatus::ReplaceFailed);
  }
  job.originalPlace = OriginalPlace::Beside;
  std::memcpy(job.originalPath, aside.c_str(), aside.size() + 1);  // within kMaxPathLength
  // The rename changed the file's change time, not what it holds; and the name it left must
  // still be free, or the move would replace a file that another program just saved there.
  bool changed = false;
  MoveCheck stillAside = [&] {
    FileIdentity now;
    changed = !files.IdentifyPath(aside.c_str(), &now) || !SameFile(read, now) ||
              now.size != read.size || now.lastWrite != read.lastWrite ||
              files.Exists(output.c_str());
    return !changed && !CancelRequested(progress);
  };
  if (!result.Publish(stillAside, kNoFile)) {
    if (files.Rename(aside.c_str(), output.c_str()) == CreateResult::Created) {
      job.originalPlace = OriginalPlace::None;
      job.originalPath[0] = '\0';
    }
    if (changed) return JobStatus::TargetChanged;
    return CancelRequested(progress) ? JobStatus::Cancelled
                                     : Failed(job, files, JobStatus::ReplaceFailed);
  }
  if (files.MoveToTrash(aside.c_str())) {
    job.originalPlace = OriginalPlace::Trash;
    job.originalPath[0] = '\0';
  }
  return JobStatus::Ok;
}

JobStatus Transform(EncodingJob& job, FileServices& files, Direction direction,
                    JobProgress* progress) {
  job.originalPlace = OriginalPlace::None;
  job.originalPath[0] = '\0';
  job.systemError = 0;
  job.recordFound = false;
  JobStatus status = CheckFields(job, files);
  if (status != JobStatus::Ok) return status;
  if (job.outputPath[0] == '\0') {
    std::memcpy(job.outputPath, job.targetPath, std::strlen(job.targetPath) + 1);
  }
  size_t length = std::strlen(job.passphrase);

  InputFile target(files, job.targetPath);
  if (!target.IsOpen()) return Failed(job, files, JobStatus::OpenFailed);
  FileIdentity read;
  if (!files.Identify(target.Handle(), &read)) return Failed(job, files, JobStatus::ReadFailed);
  if (progress != nullptr) progress->bytesTotal.store(read.size, std::memory_order_relaxed);

  // On the heap, so that a worker thread's default stack holds the whole transform.
  std::unique_ptr<WorkBuffer> work(new (std::nothrow) WorkBuffer);
  if (!work) return JobStatus::ReadFailed;  // nothing read or written; too little memory to start
  uint64_t bytesRead = 0;
  HeaderRecord record;
  RecordState recordState = RecordState::None;
  if (direction == Direction::Decode) {
    size_t headerRead = 0;
    if (!ReadHeader(files, target.Handle(), job.passphrase, length, work->bytes, &headerRead,
                    &record, &recordState)) {
      return Failed(job, files, JobStatus::ReadFailed);
    }
    job.recordFound = recordState == RecordState::Valid;
    // A header read may fall short only at the end of the file.
    if (headerRead != kHeaderSize && headerRead != read.size) return JobStatus::ReadFailed;
    if (!HeaderMatches(work->bytes, job.signature)) return JobStatus::HeaderMismatch;
    status = CheckRecord(recordState, record, job.passphrase, length);
    if (status != JobStatus::Ok) return status;
    // Every writer puts a whole header block before the content: a shorter file was cut.
    if (headerRead != kHeaderSize) return JobStatus::Damaged;
    bytesRead = headerRead;
    CountDone(progress, headerRead);
  }

  // Checked before anything exists to replace it: a move would replace a read-only file silently.
  std::string output;
  status = CheckOutput(files, job.outputPath, &output);
  if (status != JobStatus::Ok) return status;
  FileIdentity replaced;
  bool outputExists = files.IdentifyPath(output.c_str(), &replaced);
  bool inPlace = outputExists && SameFile(read, replaced);
  // Replacing one name of a file would leave its old content under the others.
  if (inPlace && read.links > 1) return JobStatus::TargetHasOtherNames;
  // In place, the file itself is replaced, not a link that leads to it.
  if (inPlace && !files.FinalPath(target.Handle(), job.targetPath, &output)) {
    return JobStatus::LinkUnresolved;
  }
  HeaderRandom random;
  if (direction == Direction::Encode && !files.FillRandom(random.bytes, sizeof random.bytes)) {
    return Failed(job, files, JobStatus::WriteFailed);
  }
  TemporaryFile result(files);
  status = result.CreateFor(output, inPlace);
  if (status == JobStatus::PathTooLong) return status;  // which says all there is to say
  if (status != JobStatus::Ok) return Failed(job, files, status);

  // Encode writes a cleared header block with the first chunk and the real one at the end.
  size_t head = 0;
  if (direction == Direction::Encode) {
    std::memset(work->bytes, 0, kHeaderSize);
    head = kHeaderSize;
  }
  ContentHash hash(direction == Direction::Encode ? kRecordVersion : record.version, job.passphrase,
                   length);
  {
    Scrambler content(job.passphrase, length, kBodySeed);
    status = Stream(files, target.Handle(), result.Handle(), work->bytes, head, direction, content,
                    hash, &bytesRead, progress);
  }
  if (status == JobStatus::ReadFailed || status == JobStatus::WriteFailed) {
    return Failed(job, files, status);
  }
  if (status != JobStatus::Ok) return status;
  if (bytesRead != read.size) return JobStatus::ReadFailed;
  if (direction == Direction::Encode) {
    // The header goes in last, once the content's length and hash are known for its record.
    if (!WriteHeader(files, result.Handle(), job.signature, job.passphrase, length, random.bytes,
                     bytesRead, hash)) {
      return Failed(job, files, JobStatus::WriteFailed);
    }
  } else if (recordState == RecordState::Valid &&
             !ContentFits(record, bytesRead - kHeaderSize, hash)) {
    return JobStatus::Damaged;
  }
  // The target stays open, shared for reading (and deletion) only, until the result is safely on
  // disk, and where the system allows, through the move.
  if (!result.Flush()) return Failed(job, files, JobStatus::WriteFailed);
  // Another program, or another window on the same file, may have changed the target meanwhile:
  // checked again right before each attempt of the move. After the move the output has changed,
  // so this is also the last chance to stop.
  bool changed = false;
  MoveCheck stillValid = [&] {
    FileIdentity now;
    changed = !files.IdentifyPath(job.targetPath, &now) || !Unchanged(read, now);
    return !changed && !CancelRequested(progress);
  };
  if (!stillValid()) return changed ? JobStatus::TargetChanged : JobStatus::Cancelled;
  // The result takes over what protected the file it replaces; a new output, the target's. Only
  // now, so that a temporary file with a name stays its owner's alone until its last moments.
  if (!files.CopyProtection(outputExists ? output.c_str() : job.targetPath, result.Handle(),
                            outputExists)) {
    return Failed(job, files, JobStatus::WriteFailed);
  }
  if (direction == Direction::Decode && inPlace && recordState == RecordState::None &&
      SignatureMissesContentCharacters(length)) {
    target.Close();
    return PublishKeepingOriginal(job, files, result, output, read, progress);
  }
  if (!result.Publish(stillValid, target.Release())) {
    if (changed) return JobStatus::TargetChanged;
    return CancelRequested(progress) ? JobStatus::Cancelled
                                     : Failed(job, files, JobStatus::ReplaceFailed);
  }
  return JobStatus::Ok;
}

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
  JobStatus status = CheckFields(*this, files);
  if (status != JobStatus::Ok) return status;
  InputFile target(files, targetPath);
  if (!target.IsOpen()) return Failed(*this, files, JobStatus::OpenFailed);
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
  std::string output;
  return CheckOutput(files, outputPath[0] != '\0' ? outputPath : targetPath, &output);
}

JobStatus EncodingJob::Encode(FileServices& files, JobProgress* progress) {
  return Transform(*this, files, Direction::Encode, progress);
}

JobStatus EncodingJob::Decode(FileServices& files, JobProgress* progress) {
  return Transform(*this, files, Direction::Decode, progress);
}

}  // namespace karvel
