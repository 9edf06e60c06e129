// Runs one whole-file operation in a fresh process and prints the peak
// resident memory the process reached, in KiB. "encode" and "decode" go
// through EncodingJob, "encode-progress" too with a JobProgress that counts
// the bytes as the window's progress dialog reads them; "copy" is their baseline: the same file
// calls in the same order with a work buffer of the same size, minus the scrambling, and it flushes
// its result to the disk as they do.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "engine/encoding_job.h"
#include "engine/file_services.h"

namespace {

constexpr char kUsage[] =
    "usage: file_bench encode|encode-progress|decode SOURCE OUTPUT PASSPHRASE\n"
    "       file_bench copy SOURCE OUTPUT\n";
constexpr char kTemporarySuffix[] = ".tmp";

bool Copy(const char* source, const char* output) {
  karvel::FileServices& files = karvel::SystemFileServices();
  karvel::SystemPath from, to, temporary;
  if (files.Prepare(source, &from) != karvel::PathForm::Ok ||
      files.Prepare(output, &to) != karvel::PathForm::Ok ||
      !files.Beside(to, kTemporarySuffix, false, &temporary)) {
    return false;
  }
  karvel::FileHandle in = files.OpenForReading(from);
  if (in == karvel::kNoFile) return false;
  // The same kind of temporary file as the transforms make, where they make it: beside the output.
  karvel::FileHandle out = karvel::kNoFile;
  bool unnamed = files.CreateUnnamed(to, &out) == karvel::CreateResult::Created;
  if (!unnamed && files.CreateNew(temporary, &out) != karvel::CreateResult::Created) {
    files.Close(in);
    return false;
  }
  static unsigned char buffer[karvel::kChunkSize];
  bool ok = true;
  size_t bytesRead = 0;
  do {
    size_t bytesWritten = 0;
    ok = files.Read(in, buffer, sizeof buffer, &bytesRead) &&
         files.Write(out, buffer, bytesRead, &bytesWritten) && bytesWritten == bytesRead;
  } while (ok && bytesRead == sizeof buffer);
  ok = files.Flush(out) && ok;
  bool named = !unnamed;
  if (ok && unnamed) named = ok = files.Name(out, temporary) == karvel::CreateResult::Created;
  ok = ok && files.Move(
                 out, temporary, to, [] { return true; }, karvel::kNoFile);
  files.Close(in);
  ok = files.Close(out) && ok;
  // Left behind, it would stand in the way of the next copy.
  if (!ok && named) files.Remove(temporary);
  return ok;
}

bool Transform(const char* mode, const char* source, const char* output, const char* passphrase) {
  karvel::EncodingJob job;
  if (job.SetTargetPath(source) != karvel::JobStatus::Ok ||
      job.SetOutputPath(output) != karvel::JobStatus::Ok ||
      job.SetPassphrase(passphrase) != karvel::JobStatus::Ok) {
    return false;
  }
  karvel::JobProgress progress;
  karvel::JobStatus status = std::strcmp(mode, "decode") == 0 ? job.Decode()
                             : std::strcmp(mode, "encode") == 0
                                 ? job.Encode()
                                 : job.Encode(karvel::SystemFileServices(), &progress);
  return status == karvel::JobStatus::Ok;
}

}  // namespace

int main(int argc, char** argv) {
  bool ok = false;
  if (argc == 4 && std::strcmp(argv[1], "copy") == 0) {
    ok = Copy(argv[2], argv[3]);
  } else if (argc == 5 &&
             (std::strcmp(argv[1], "encode") == 0 || std::strcmp(argv[1], "encode-progress") == 0 ||
              std::strcmp(argv[1], "decode") == 0)) {
    ok = Transform(argv[1], argv[2], argv[3], argv[4]);
  } else {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (!ok) {
    std::fprintf(stderr, "file_bench: %s %s failed\n", argv[1], argv[2]);
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld\n", usage.ru_maxrss);
  return 0;
}
