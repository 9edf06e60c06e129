#include "engine/encoding_job.h"

#include <cstdint>
#include <cstring>

#include "engine/file_services.h"
#include "engine/key_stream.h"
#include "engine/scrambler.h"

namespace karvel {

namespace {

constexpr size_t kSignatureCheckSize = kSignatureLength + 1;  // the terminator takes part
constexpr int kMaxTemporaryNumber = 99;
constexpr size_t kLongestTemporarySuffix = sizeof ".99.tmp" - 1;
constexpr size_t kTemporaryPathSize = kMaxPathLength + kLongestTemporarySuffix + 1;

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

struct WorkBuffer {
  ~WorkBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kChunkSize];
};

struct HeaderBuffer {
  ~HeaderBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderSize];
};

// Writes beside + ".tmp" (number 0) or beside + "." + number + ".tmp" into path.
bool NameTemporary(char* path, const char* beside, int number) {
  size_t length = BoundedLength(beside, kMaxPathLength + 1);
  if (length > kMaxPathLength) return false;
  std::memcpy(path, beside, length);
  if (number > 0) {
    path[length++] = '.';
    if (number >= 10) path[length++] = static_cast<char>('0' + number / 10);
    path[length++] = static_cast<char>('0' + number % 10);
  }
  std::memcpy(path + length, ".tmp", sizeof ".tmp");
  return true;
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

 private:
  FileServices& files_;
  FileHandle handle_;
};

// A file this operation created under a free name; removed again unless handed over to the output.
class TemporaryFile {
 public:
  explicit TemporaryFile(FileServices& files) : files_(files) { path_[0] = '\0'; }
  ~TemporaryFile() {
    if (handle_ != kNoFile) files_.Close(handle_);
    if (created_) files_.Remove(path_);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Tries beside + ".tmp", then ".1.tmp" to ".99.tmp", never touching a file already there.
  bool CreateBeside(const char* beside) {
    for (int number = 0; number <= kMaxTemporaryNumber; ++number) {
      if (!NameTemporary(path_, beside, number)) return false;
      switch (files_.CreateNew(path_, &handle_)) {
        case CreateResult::Created:
          created_ = true;
          return true;
        case CreateResult::NameTaken:
          continue;
        case CreateResult::Failed:
          return false;
      }
    }
    return false;
  }

  // Flushes and closes the file so that it can go into place.
  bool Finish() {
    bool flushed = files_.Flush(handle_);
    bool closed = files_.Close(handle_);
    handle_ = kNoFile;
    return flushed && closed;
  }

  void HandOver() { created_ = false; }
  FileHandle Handle() const { return handle_; }
  const char* Path() const { return path_; }

 private:
  FileServices& files_;
  char path_[kTemporaryPathSize];
  FileHandle handle_ = kNoFile;
  bool created_ = false;
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

// Copies from to to through buffer until a read comes up short, scrambling on the way when a
// scrambler is given; *bytesRead grows by every byte read. A cancel request is honoured
// between chunks.
JobStatus Stream(FileServices& files, FileHandle from, FileHandle to, unsigned char* buffer,
                 Scrambler* scrambler, uint64_t* bytesRead, JobProgress* progress) {
  size_t chunk = 0;
  do {
    if (CancelRequested(progress)) return JobStatus::Cancelled;
    if (!files.Read(from, buffer, kChunkSize, &chunk)) return JobStatus::ReadFailed;
    *bytesRead += chunk;
    CountDone(progress, chunk);
    if (scrambler != nullptr) scrambler->Apply(buffer, chunk);
    if (!WriteAll(files, to, buffer, chunk)) return JobStatus::WriteFailed;
  } while (chunk == kChunkSize);
  return JobStatus::Ok;
}

// Reads the header into the cleared buffer and unscrambles it; false when the read failed.
bool ReadHeader(FileServices& files, FileHandle file, const char* passphrase, size_t length,
                unsigned char* header, size_t* bytesRead) {
  std::memset(header, 0, kHeaderSize);
  if (!files.Read(file, header, kHeaderSize, bytesRead)) return false;
  Scrambler(passphrase, length, kHeaderSeed).Apply(header, kHeaderSize);
  return true;
}

bool HeaderMatches(const unsigned char* header, const char* signature) {
  return std::memcmp(header, signature, kSignatureCheckSize) == 0;
}

JobStatus CheckOutput(FileServices& files, const char* output) {
  switch (files.Inspect(output)) {
    case PathKind::Directory:
      return JobStatus::OutputIsFolder;
    case PathKind::ReadOnlyFile:
      return JobStatus::OutputReadOnly;
    case PathKind::FolderMissing:
      return JobStatus::OutputFolderMissing;
    case PathKind::Absent:
    case PathKind::File:
      break;
  }
  return JobStatus::Ok;
}

// A move cannot cross volumes in one step, so the result is first copied beside the output and
// then moved over it from there; the old output stays whole until that last move.
JobStatus CopyOverOtherVolume(FileServices& files, const char* from, const char* output,
                              unsigned char* buffer) {
  InputFile source(files, from);
  uint64_t size = 0;
  if (!source.IsOpen() || !files.Size(source.Handle(), &size)) return JobStatus::ReplaceFailed;
  TemporaryFile copy(files);
  if (!copy.CreateBeside(output)) return JobStatus::ReplaceFailed;
  uint64_t copied = 0;
  // The transform is over: the copy runs to its end, so a cancel cannot leave the output half made.
  JobStatus status =
      Stream(files, source.Handle(), copy.Handle(), buffer, nullptr, &copied, nullptr);
  if (status == JobStatus::ReadFailed || (status == JobStatus::Ok && copied != size)) {
    return JobStatus::ReplaceFailed;
  }
  if (status != JobStatus::Ok) return status;
  source.Close();
  if (!copy.Finish()) return JobStatus::WriteFailed;
  if (files.Move(copy.Path(), output) != MoveResult::Moved) return JobStatus::ReplaceFailed;
  copy.HandOver();
  return JobStatus::Ok;
}

JobStatus MoveIntoPlace(FileServices& files, TemporaryFile& result, const char* output,
                        unsigned char* buffer) {
  switch (files.Move(result.Path(), output)) {
    case MoveResult::Moved:
      result.HandOver();
      return JobStatus::Ok;
    case MoveResult::OtherVolume:
      return CopyOverOtherVolume(files, result.Path(), output, buffer);
    case MoveResult::Failed:
      break;
  }
  return JobStatus::ReplaceFailed;
}

enum class Direction { Encode, Decode };

JobStatus Transform(EncodingJob& job, FileServices& files, Direction direction,
                    JobProgress* progress) {
  JobStatus status = CheckFields(job);
  if (status != JobStatus::Ok) return status;
  if (job.outputPath[0] == '\0') std::memcpy(job.outputPath, job.targetPath, kPathFieldSize);
  size_t length = std::strlen(job.passphrase);

  InputFile target(files, job.targetPath);
  if (!target.IsOpen()) return JobStatus::OpenFailed;
  uint64_t targetSize = 0;
  if (!files.Size(target.Handle(), &targetSize)) return JobStatus::ReadFailed;
  if (progress != nullptr) progress->bytesTotal.store(targetSize, std::memory_order_relaxed);

  WorkBuffer work;
  uint64_t bytesRead = 0;
  if (direction == Direction::Decode) {
    size_t headerRead = 0;
    if (!ReadHeader(files, target.Handle(), job.passphrase, length, work.bytes, &headerRead)) {
      return JobStatus::ReadFailed;
    }
    // A header read may fall short only at the end of the file.
    if (headerRead != kHeaderSize && headerRead != targetSize) return JobStatus::ReadFailed;
    if (!HeaderMatches(work.bytes, job.signature)) return JobStatus::HeaderMismatch;
    bytesRead = headerRead;
    CountDone(progress, headerRead);
  }

  // Checked before anything exists to replace it: a move would replace a read-only file silently.
  status = CheckOutput(files, job.outputPath);
  if (status != JobStatus::Ok) return status;
  TemporaryFile result(files);
  if (!result.CreateBeside(job.targetPath)) return JobStatus::OpenFailed;
  if (files.IsSameFile(result.Handle(), job.outputPath)) return JobStatus::OutputIsTemporary;

  if (direction == Direction::Encode) {
    std::memset(work.bytes, 0, kHeaderSize);
    std::memcpy(work.bytes, job.signature, kSignatureCheckSize);
    Scrambler(job.passphrase, length, kHeaderSeed).Apply(work.bytes, kHeaderSize);
    if (!WriteAll(files, result.Handle(), work.bytes, kHeaderSize)) return JobStatus::WriteFailed;
  }
  {
    Scrambler content(job.passphrase, length, kBodySeed);
    status =
        Stream(files, target.Handle(), result.Handle(), work.bytes, &content, &bytesRead, progress);
  }
  if (status != JobStatus::Ok) return status;
  if (bytesRead != targetSize) return JobStatus::ReadFailed;
  target.Close();
  if (!result.Finish()) return JobStatus::WriteFailed;
  // The last chance to stop: after the move the output has changed.
  if (CancelRequested(progress)) return JobStatus::Cancelled;
  return MoveIntoPlace(files, result, job.outputPath, work.bytes);
}

}  // namespace

EncodingJob::EncodingJob() {
  std::memset(signature, 0, sizeof signature);
  std::memcpy(signature, kSignatureText, sizeof kSignatureText);
  passphrase[0] = '\0';
  targetPath[0] = '\0';
  outputPath[0] = '\0';
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
  JobStatus status = CheckFields(*this);
  if (status != JobStatus::Ok) return status;
  InputFile target(files, targetPath);
  if (!target.IsOpen()) return JobStatus::OpenFailed;
  HeaderBuffer header;
  size_t headerRead = 0;
  if (!ReadHeader(files, target.Handle(), passphrase, std::strlen(passphrase), header.bytes,
                  &headerRead)) {
    return JobStatus::ReadFailed;
  }
  return HeaderMatches(header.bytes, signature) ? JobStatus::Ok : JobStatus::HeaderMismatch;
}

JobStatus EncodingJob::Encode(FileServices& files, JobProgress* progress) {
  return Transform(*this, files, Direction::Encode, progress);
}

JobStatus EncodingJob::Decode(FileServices& files, JobProgress* progress) {
  return Transform(*this, files, Direction::Decode, progress);
}

bool FileExists(const char* path) { return SystemFileServices().Exists(path); }

}  // namespace karvel
