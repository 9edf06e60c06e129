// Encode and decode between handles a front end has already opened, such as
// standard input and output, which have no place to write a result back to:
// the bytes written are those EncodingJob writes to a file (the header's
// random bytes aside). Nothing is named, replaced or left behind.
#pragma once

#include <cstdint>

#include "engine/encoding_job.h"
#include "engine/file_services.h"
#include "engine/job_status.h"

namespace karvel {

struct StreamOutcome {
  uint64_t contentLength = 0;   // the plain content's bytes, as far as they were read
  bool recordFound = false;     // decoding: the header carries a record that checks
  uint64_t recordedLength = 0;  // decoding, with a record: the content's length it holds
  int systemError = 0;          // as EncodingJob::systemError
};

// Writes the encoded form of what input holds from where it stands to output. The header goes
// first, so the content is read twice: a disk file where it is, and must hold the same both times
// (TargetChanged); anything else is copied, scrambled, to a file from CreateScratch first.
JobStatus EncodeStream(FileServices& files, FileHandle input, FileHandle output,
                       const char* passphrase, JobProgress* progress, StreamOutcome* outcome);

// Checks input's header before anything is written, then writes the unscrambled content to
// output (nowhere for kNoFile) and checks it against the record at its end: Damaged when it
// differs, though it has been written. Without output, the content of a file without a record,
// which nothing can check, is not read.
JobStatus DecodeStream(FileServices& files, FileHandle input, FileHandle output,
                       const char* passphrase, JobProgress* progress, StreamOutcome* outcome);

}  // namespace karvel
