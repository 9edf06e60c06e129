// Times Encode of one large file with and without a JobProgress, runs
// alternating so that both meet the same spells of load, and prints the
// median of each and what the progress reporting costs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/encoding_job.h"

namespace {

constexpr size_t kFileSize = size_t{1} << 30;
constexpr int kRunsEach = 5;
constexpr char kPassphrase[] = "correct horse battery staple";

bool MakeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::vector<unsigned char> block(1 << 20);
  unsigned state = 12345;
  bool ok = true;
  for (size_t written = 0; ok && written < kFileSize; written += block.size()) {
    for (unsigned char& byte : block)
      byte = static_cast<unsigned char>((state = state * 1103515245 + 12345) >> 16);
    ok = std::fwrite(block.data(), 1, block.size(), file) == block.size();
  }
  return std::fclose(file) == 0 && ok;
}

// Seconds one Encode of source into output takes.
double TimeEncode(const std::string& source, const std::string& output, bool withProgress) {
  karvel::EncodingJob job;
  job.SetPassphrase(kPassphrase);
  job.SetTargetPath(source.c_str());
  job.SetOutputPath(output.c_str());
  karvel::JobProgress progress;
  auto start = std::chrono::steady_clock::now();
  karvel::JobStatus status =
      job.Encode(karvel::SystemFileServices(), withProgress ? &progress : nullptr);
  std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::remove(output.c_str());
  if (status != karvel::JobStatus::Ok || (withProgress && progress.bytesDone != kFileSize)) {
    std::fprintf(stderr, "progress_bench: Encode failed\n");
    std::exit(1);
  }
  return seconds.count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: progress_bench FOLDER (1 GiB is written there, and removed)\n", stderr);
    return 2;
  }
  const std::string source = std::string(argv[1]) + "/progress-bench.bin";
  const std::string output = source + ".out";
  if (!MakeFile(source)) {
    std::fprintf(stderr, "progress_bench: cannot write %s\n", source.c_str());
    return 1;
  }
  TimeEncode(source, output, false);  // untimed: the file into the page cache
  std::vector<double> without, with;
  for (int run = 0; run < kRunsEach; ++run) {
    without.push_back(TimeEncode(source, output, false));
    with.push_back(TimeEncode(source, output, true));
  }
  std::remove(source.c_str());
  double plain = Median(without), reported = Median(with);
  std::printf("Encode of 1 GiB, median of %d runs each, alternating\n", kRunsEach);
  std::printf("  without JobProgress  %7.3f s  %7.1f MB/s\n", plain, kFileSize / plain / 1e6);
  std::printf("  with JobProgress     %7.3f s  %7.1f MB/s\n", reported, kFileSize / reported / 1e6);
  std::printf("  cost of reporting    %+6.2f %%\n", (reported / plain - 1) * 100);
  return 0;
}
