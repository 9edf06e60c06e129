#include "engine/stream_transform.h"

#include <memory>
#include <new>

#include "engine/format.h"
#include "engine/header_record.h"
#include "engine/scrambler.h"
#include "engine/transfer.h"

namespace karvel {

namespace {

// One EncodeStream or DecodeStream, as steps that each return Ok to go on.
class StreamTransform {
 public:
  StreamTransform(FileServices& files, FileHandle input, FileHandle output, const char* passphrase,
                  JobProgress* progress, StreamOutcome* outcome)
      : files_(files),
        input_(input),
        output_(output),
        passphrase_(passphrase),
        progress_(progress),
        outcome_(*outcome) {
    outcome_ = StreamOutcome{};
  }

  ~StreamTransform() {
    if (scratch_ != kNoFile) files_.Close(scratch_);
  }

  StreamTransform(const StreamTransform&) = delete;
  StreamTransform& operator=(const StreamTransform&) = delete;

  JobStatus Encode() {
    JobStatus status = Start();
    if (status == JobStatus::Ok && !files_.FillRandom(random_.bytes, sizeof random_.bytes)) {
      status = Failed(JobStatus::WriteFailed);
    }
    if (status != JobStatus::Ok) return status;
    return files_.Tell(input_, &start_) ? EncodeReadingTwice() : EncodeThroughScratch();
  }

  JobStatus Decode() {
    JobStatus status = Start();
    if (status == JobStatus::Ok) status = ReadAndCheckHeader();
    if (status != JobStatus::Ok) return status;
    if (output_ == kNoFile && recordState_ != RecordState::Valid) return JobStatus::Ok;
    ContentHash hash(record_.version, passphrase_, length_);
    Scrambler scrambler(passphrase_, length_, kBodySeed);
    status = Pump(input_, output_, nullptr, &scrambler, &hash, &outcome_.contentLength);
    if (status != JobStatus::Ok) return status;
    if (recordState_ != RecordState::Valid) return JobStatus::Ok;
    return ContentFits(record_, outcome_.contentLength, hash) ? JobStatus::Ok : JobStatus::Damaged;
  }

 private:
  JobStatus Start() {
    length_ = 0;
    while (length_ < kPassphraseFieldSize && passphrase_[length_] != '\0') ++length_;
    if (length_ == 0) return JobStatus::NoPassphrase;
    if (length_ > kMaxPassphraseLength) return JobStatus::PassphraseTooLong;
    work_.reset(new (std::nothrow) WorkBuffer);
    return work_ ? JobStatus::Ok : JobStatus::ReadFailed;
  }

  // The size from start_ to the end, where input is a disk file; what progress takes as all.
  void SizeFromStart(uint64_t passes) {
    FileIdentity identity;
    if (progress_ == nullptr || !files_.Identify(input_, &identity) || identity.size < start_) {
      return;
    }
    progress_->bytesTotal.store(passes * (identity.size - start_), std::memory_order_relaxed);
  }

  // The first read takes the record; the second, from the same place, must find the same.
  JobStatus EncodeReadingTwice() {
    SizeFromStart(2);
    ContentHash first(kRecordVersion, passphrase_, length_);
    uint64_t length = 0;
    JobStatus status = Pump(input_, kNoFile, &first, nullptr, nullptr, &length);
    if (status != JobStatus::Ok) return status;
    if (!files_.Seek(input_, start_)) return Failed(JobStatus::ReadFailed);
    status = WriteHeader(length, first);
    if (status != JobStatus::Ok) return status;
    ContentHash second(kRecordVersion, passphrase_, length_);
    Scrambler scrambler(passphrase_, length_, kBodySeed);
    status = Pump(input_, output_, &second, &scrambler, nullptr, &outcome_.contentLength);
    if (status != JobStatus::Ok) return status;
    bool same = outcome_.contentLength == length && second.Digest() == first.Digest();
    return same ? JobStatus::Ok : JobStatus::TargetChanged;
  }

  // The scratch file holds the content scrambled: the plain content never reaches the disk.
  JobStatus EncodeThroughScratch() {
    scratch_ = files_.CreateScratch();
    if (scratch_ == kNoFile) return Failed(JobStatus::WriteFailed);
    ContentHash hash(kRecordVersion, passphrase_, length_);
    uint64_t length = 0;
    {
      Scrambler scrambler(passphrase_, length_, kBodySeed);
      JobStatus status = Pump(input_, scratch_, &hash, &scrambler, nullptr, &length);
      if (status != JobStatus::Ok) return status;
    }
    if (progress_ != nullptr) progress_->bytesTotal.store(2 * length, std::memory_order_relaxed);
    if (!files_.Seek(scratch_, 0)) return Failed(JobStatus::ReadFailed);
    JobStatus status = WriteHeader(length, hash);
    if (status == JobStatus::Ok) {
      status = Pump(scratch_, output_, nullptr, nullptr, nullptr, &outcome_.contentLength);
    }
    if (status != JobStatus::Ok) return status;
    return outcome_.contentLength == length ? JobStatus::Ok : JobStatus::ReadFailed;
  }

  JobStatus WriteHeader(uint64_t contentLength, const ContentHash& hash) {
    HeaderBuffer header;
    MakeHeader(header.bytes, kSignatureText, passphrase_, length_, random_.bytes, contentLength,
               hash);
    return WriteAll(files_, output_, header.bytes, kHeaderSize) ? JobStatus::Ok
                                                                : Failed(JobStatus::WriteFailed);
  }

  JobStatus ReadAndCheckHeader() {
    if (files_.Tell(input_, &start_)) SizeFromStart(1);
    HeaderBuffer header;
    size_t headerRead = 0;
    if (!ReadHeader(files_, input_, passphrase_, length_, header.bytes, &headerRead, &record_,
                    &recordState_)) {
      return Failed(JobStatus::ReadFailed);
    }
    CountDone(progress_, headerRead);
    outcome_.recordFound = recordState_ == RecordState::Valid;
    if (!HeaderMatches(header.bytes, kSignatureText)) return JobStatus::HeaderMismatch;
    JobStatus status = CheckRecord(recordState_, record_, passphrase_, length_);
    if (status != JobStatus::Ok) return status;
    if (outcome_.recordFound) outcome_.recordedLength = record_.copy[0].contentLength;
    // Every writer puts a whole header block before the content: a shorter stream was cut.
    return headerRead == kHeaderSize ? JobStatus::Ok : JobStatus::Damaged;
  }

  // Reads from until its end, a chunk at a time: each chunk is hashed by before, changed by
  // scrambler, hashed by after, each where given, and written to to unless that is kNoFile. A
  // cancel request is honoured between chunks.
  JobStatus Pump(FileHandle from, FileHandle to, ContentHash* before, Scrambler* scrambler,
                 ContentHash* after, uint64_t* count) {
    *count = 0;
    size_t chunk = 0;
    do {
      if (CancelRequested(progress_)) return JobStatus::Cancelled;
      if (!files_.Read(from, work_->bytes, kChunkSize, &chunk)) {
        return Failed(JobStatus::ReadFailed);
      }
      *count += chunk;
      CountDone(progress_, chunk);
      if (before != nullptr) before->Update(work_->bytes, chunk);
      if (scrambler != nullptr) scrambler->Apply(work_->bytes, chunk);
      if (after != nullptr) after->Update(work_->bytes, chunk);
      // A reader that has gone (SIGPIPE) is a request to stop, when the front end makes it one.
      if (to != kNoFile && chunk > 0 && !WriteAll(files_, to, work_->bytes, chunk)) {
        return CancelRequested(progress_) ? JobStatus::Cancelled : Failed(JobStatus::WriteFailed);
      }
    } while (chunk == kChunkSize);
    return JobStatus::Ok;
  }

  JobStatus Failed(JobStatus status) {
    outcome_.systemError = files_.LastError();
    return status;
  }

  FileServices& files_;
  FileHandle input_;
  FileHandle output_;
  const char* passphrase_;
  JobProgress* progress_;
  StreamOutcome& outcome_;
  size_t length_ = 0;   // the passphrase's
  uint64_t start_ = 0;  // where a disk file's content starts
  FileHandle scratch_ = kNoFile;
  std::unique_ptr<WorkBuffer> work_;
  HeaderRandom random_;
  HeaderRecord record_{};
  RecordState recordState_ = RecordState::None;
};

}  // namespace

JobStatus EncodeStream(FileServices& files, FileHandle input, FileHandle output,
                       const char* passphrase, JobProgress* progress, StreamOutcome* outcome) {
  return StreamTransform(files, input, output, passphrase, progress, outcome).Encode();
}

JobStatus DecodeStream(FileServices& files, FileHandle input, FileHandle output,
                       const char* passphrase, JobProgress* progress, StreamOutcome* outcome) {
  return StreamTransform(files, input, output, passphrase, progress, outcome).Decode();
}

}  // namespace karvel
