// The result of a transform on its way: a file made beside the output, gone
// again unless Publish puts it in place of the output.
#pragma once

#include "engine/file_services.h"
#include "engine/job_status.h"

namespace karvel {

class TemporaryFile {
 public:
  explicit TemporaryFile(FileServices& files) : files_(files) {}
  ~TemporaryFile();  // closes the file and removes a name of ours

  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Beside output, so that the final move never leaves its volume. Where the system makes files
  // without a name, it is one of those, which nothing outlives a process killed before the end.
  // Otherwise it is named from output: output + ".tmp", ".1.tmp" to ".99.tmp", never touching a
  // file already there; when the system takes no name that long, "karvel.tmp" and so on in the
  // same folder. When none can be made, the output is what cannot be written: unless it is the
  // target itself, that is said as the output's failure.
  JobStatus CreateFor(const SystemPath& output, bool inPlace);

  // Forces what was written to the disk.
  bool Flush();

  // Puts the result in place of the output; check runs right before each attempt. A file
  // without a name gets one beside the output first. held is closed, at the latest after the
  // first attempt.
  bool Publish(const MoveCheck& check, FileHandle held);

  FileHandle Handle() const { return handle_; }

 private:
  FileServices& files_;
  SystemPath output_;
  SystemPath path_;
  FileHandle handle_ = kNoFile;
  bool named_ = false;  // a name of ours that must go again
};

}  // namespace karvel
