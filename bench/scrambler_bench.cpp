// Scrambling one work buffer against copying it with memcpy: whether the
// keystream costs anything beyond moving the bytes. Prints the median rate
// of each and the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/key_stream.h"
#include "engine/scrambler.h"

namespace {

constexpr int kRepetitions = 9;
constexpr char kPassphrase[] = "correct horse battery staple";

unsigned char source[karvel::kChunkSize];
unsigned char buffer[karvel::kChunkSize];

void CopyBuffer(benchmark::State& state) {
  for (auto _ : state) {
    std::memcpy(buffer, source, sizeof buffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sizeof buffer));
}

void ScrambleBuffer(benchmark::State& state) {
  karvel::Scrambler scrambler(kPassphrase, sizeof kPassphrase - 1, karvel::kBodySeed);
  for (auto _ : state) {
    scrambler.Apply(buffer, sizeof buffer);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * sizeof buffer));
}

BENCHMARK(CopyBuffer)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
BENCHMARK(ScrambleBuffer)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);

// Keeps the median of each benchmark instead of printing every repetition.
class MedianReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      Median& median = run.run_name.function_name == "CopyBuffer" ? copy : scramble;
      median.nanoseconds = run.GetAdjustedRealTime();
      median.bytesPerSecond = run.counters.at("bytes_per_second");
    }
  }

  struct Median {
    double nanoseconds = 0;
    double bytesPerSecond = 0;
  };
  Median copy;
  Median scramble;
};

void PrintRow(const char* label, const MedianReporter::Median& median, double ratio) {
  std::printf("  %-48s %7.1f us %9.1f GB/s %6.2f\n", label, median.nanoseconds / 1e3,
              median.bytesPerSecond / 1e9, ratio);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::memset(source, 0xA5, sizeof source);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.copy.bytesPerSecond <= 0 || reporter.scramble.bytesPerSecond <= 0) return 1;
  PrintRow("memcpy of the buffer (baseline)", reporter.copy, 1.0);
  PrintRow("Scrambler::Apply on the buffer", reporter.scramble,
           reporter.scramble.bytesPerSecond / reporter.copy.bytesPerSecond);
  return 0;
}
