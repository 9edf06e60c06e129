// Runs one Encode or Decode in a process of its own, so that tests can run it
// as another user, hold its files from outside, or kill it halfway:
//
//   transform_tool encode|decode TARGET PASSPHRASE OUTPUT [CALL N]
//
// An empty OUTPUT replaces the target. Prints the JobStatus number. With CALL
// (write, flush, name or move) and N, the tool stops just before the Nth call of
// that kind, makes TARGET.paused and goes on once TARGET.go exists: a test
// can then act at that moment, or kill the tool there.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/support/faulty_file_services.h"

namespace {

using karvel::Call;
using karvel::EncodingJob;
using karvel::FaultPlan;
using karvel::JobStatus;

bool CallNamed(const char* name, Call* call) {
  const struct {
    const char* name;
    Call call;
  } calls[] = {
      {"write", Call::Write}, {"flush", Call::Flush}, {"name", Call::Name}, {"move", Call::Move}};
  for (const auto& entry : calls) {
    if (std::strcmp(entry.name, name) != 0) continue;
    *call = entry.call;
    return true;
  }
  return false;
}

void PauseAt(const std::string& target) {
  // Made whole under another name, so that the test never meets it still open.
  std::FILE* paused = std::fopen((target + ".pausing").c_str(), "wb");
  if (paused != nullptr) std::fclose(paused);
  std::rename((target + ".pausing").c_str(), (target + ".paused").c_str());
  while (!std::filesystem::exists(target + ".go")) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Call call = Call::Write;
  bool pauses = argc == 7 && CallNamed(argv[5], &call) && std::atoi(argv[6]) > 0;
  if ((argc != 5 && !pauses) ||
      (std::strcmp(argv[1], "encode") != 0 && std::strcmp(argv[1], "decode") != 0)) {
    std::fputs("usage: transform_tool encode|decode TARGET PASSPHRASE OUTPUT [CALL N]\n", stderr);
    return 2;
  }
  const std::string target = argv[2];
  std::vector<FaultPlan> plans;
  if (pauses) {
    plans.push_back({call, std::atoi(argv[6]), karvel::Fault::Interject, [&] { PauseAt(target); }});
  }
  karvel::FaultyFileServices files(plans);
  EncodingJob job;
  JobStatus status = job.SetTargetPath(argv[2]);
  if (status == JobStatus::Ok) status = job.SetPassphrase(argv[3]);
  if (status == JobStatus::Ok) status = job.SetOutputPath(argv[4]);
  if (status == JobStatus::Ok) {
    status = std::strcmp(argv[1], "encode") == 0 ? job.Encode(files) : job.Decode(files);
  }
  std::printf("%d\n", static_cast<int>(status));
  return 0;
}
