// Runs saved fuzz inputs through the fuzz target without libFuzzer, so that
// every build, the Windows one under Wine included, replays the corpus as an
// ordinary test. Each argument is an input file or a folder of input files.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

// A folder's files in name order, so that every run replays the same sequence.
bool AddInputs(const fs::path& path, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (!fs::is_regular_file(path, error)) return false;
    inputs->push_back(path);
    return true;
  }
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  if (error) return false;
  std::sort(files.begin(), files.end());
  inputs->insert(inputs->end(), files.begin(), files.end());
  return true;
}

bool ReadInput(const fs::path& path, std::vector<uint8_t>* content) {
  std::ifstream in(path, std::ios::binary);
  content->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!AddInputs(argv[i], &inputs)) {
      fprintf(stderr, "corpus_replay: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  // No input at all means a wrong path, not a clean corpus.
  if (inputs.empty()) {
    fprintf(stderr, "usage: corpus_replay FILE_OR_FOLDER...\n");
    return 1;
  }
  std::vector<uint8_t> content;
  for (const fs::path& input : inputs) {
    if (!ReadInput(input, &content)) {
      fprintf(stderr, "corpus_replay: cannot read %s\n", input.string().c_str());
      return 1;
    }
    // Named first: the target aborts on a finding, and the log then shows which input did it.
    fprintf(stderr, "%s (%zu bytes)\n", input.string().c_str(), content.size());
    LLVMFuzzerTestOneInput(content.data(), content.size());
  }
  printf("%zu inputs replayed, no finding\n", inputs.size());
  return 0;
}
