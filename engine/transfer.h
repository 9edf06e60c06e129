// What the transforms between files and between streams share: the buffer a
// chunk passes through, the header's random bytes, whole writes and the
// progress they report.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "engine/encoding_job.h"
#include "engine/file_services.h"
#include "engine/header_record.h"
#include "engine/wipe.h"

namespace karvel {

// A chunk, and room before it for bytes that a write carries over from the chunk before.
struct WorkBuffer {
  ~WorkBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderSize + kChunkSize];
};

struct HeaderBuffer {
  ~HeaderBuffer() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderSize];
};

// What the header's free bytes are made of; drawn before the long work, which it must not fail.
struct HeaderRandom {
  ~HeaderRandom() { Wipe(bytes, sizeof bytes); }
  unsigned char bytes[kHeaderRandomSize];
};

inline bool WriteAll(FileServices& files, FileHandle file, const unsigned char* bytes,
                     size_t size) {
  size_t written = 0;
  return files.Write(file, bytes, size, &written) && written == size;
}

inline bool CancelRequested(const JobProgress* progress) {
  return progress != nullptr && progress->cancelRequested.load(std::memory_order_relaxed);
}

inline void CountDone(JobProgress* progress, uint64_t bytes) {
  if (progress != nullptr) progress->bytesDone.fetch_add(bytes, std::memory_order_relaxed);
}

}  // namespace karvel
