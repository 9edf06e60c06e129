// Runs one Encode or Decode in a process of its own, so that tests can run it
// as another user, hold its files from outside, or kill it halfway:
//
//   transform_tool encode|decode TARGET PASSPHRASE OUTPUT
//
// An empty OUTPUT replaces the target. Prints the JobStatus number.
#include <cstdio>
#include <cstring>

#include "engine/encoding_job.h"

namespace {

using karvel::EncodingJob;
using karvel::JobStatus;

JobStatus Run(const char* command, const char* target, const char* passphrase, const char* output) {
  EncodingJob job;
  JobStatus status = job.SetTargetPath(target);
  if (status == JobStatus::Ok) status = job.SetPassphrase(passphrase);
  if (status == JobStatus::Ok) status = job.SetOutputPath(output);
  if (status != JobStatus::Ok) return status;
  return std::strcmp(command, "encode") == 0 ? job.Encode() : job.Decode();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || (std::strcmp(argv[1], "encode") != 0 && std::strcmp(argv[1], "decode") != 0)) {
    std::fputs("usage: transform_tool encode|decode TARGET PASSPHRASE OUTPUT\n", stderr);
    return 2;
  }
  std::printf("%d\n", static_cast<int>(Run(argv[1], argv[2], argv[3], argv[4])));
  return 0;
}
