// Arbitrary file bytes and passphrases through Probe, Encode and Decode on
// the real file layer: nothing may crash or read out of bounds, every status
// must be one the inputs allow, no stray file may stay behind, and decoding
// what was encoded must give the file back.
//
// Input: one byte giving the passphrase length (0 to 255, so that too-long
// passphrases are tried too), the passphrase, then the file's content.

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/header_record.h"
#include "tests/support/job_operation.h"

namespace {

using karvel::EncodingJob;
using karvel::JobStatus;

#ifdef _WIN32
// Windows has neither /dev/shm nor mkdtemp: the folder goes in the working folder.
char workFolder[] = "karvel-fuzz-XXXXXX";
char* mkdtemp(char* name) {
  return _mktemp_s(name, sizeof workFolder) == 0 && mkdir(name) == 0 ? name : nullptr;
}
#else
char workFolder[] = "/dev/shm/karvel-fuzz-XXXXXX";
#endif

// Every input removes its files, so at the end the folder is empty again.
void RemoveWorkFolder() { rmdir(workFolder); }

std::string WorkFolder() {
  static const std::string folder = [] {
    if (mkdtemp(workFolder) == nullptr) abort();
    atexit(RemoveWorkFolder);
    return std::string(workFolder);
  }();
  return folder;
}

void Check(bool condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "fuzz check failed: %s\n", what);
    abort();
  }
}

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  Check(file != nullptr, "create the input file");
  Check(fwrite(data, 1, size, file) == size, "write the input file");
  fclose(file);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> content;
  FILE* file = fopen(path.c_str(), "rb");
  Check(file != nullptr, "open a result");
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0)
    content.insert(content.end(), buffer, buffer + got);
  fclose(file);
  return content;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  Check(dir != nullptr, "list the work folder");
  while (dirent* entry = readdir(dir)) {
    if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  closedir(dir);
  return names;
}

// Runs one job operation from target to output under passphrase.
JobStatus Run(karvel::JobCall operation, const std::string& passphrase, const std::string& target,
              const std::string& output) {
  EncodingJob job;
  Check(job.SetPassphrase(passphrase.c_str()) == JobStatus::Ok, "set a passphrase that fits");
  Check(job.SetTargetPath(target.c_str()) == JobStatus::Ok, "set the target");
  Check(job.SetOutputPath(output.c_str()) == JobStatus::Ok, "set the output");
  return operation(job, karvel::SystemFileServices());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t passphraseLength = data[0];
  if (passphraseLength > size - 1) passphraseLength = size - 1;
  // A passphrase is text: it ends at its first zero byte.
  std::string passphrase(reinterpret_cast<const char*>(data + 1), passphraseLength);
  passphrase.resize(strlen(passphrase.c_str()));
  const uint8_t* content = data + 1 + passphraseLength;
  const size_t contentSize = size - 1 - passphraseLength;

  {
    EncodingJob job;
    JobStatus status = job.SetPassphrase(passphrase.c_str());
    if (passphrase.size() > karvel::kMaxPassphraseLength) {
      Check(status == JobStatus::PassphraseTooLong, "a too-long passphrase is refused");
      Check(job.passphrase[0] == '\0', "a refused passphrase leaves the field empty");
      return 0;
    }
    Check(status == JobStatus::Ok, "a passphrase that fits is taken");
  }

  const std::string folder = WorkFolder();
  const std::string target = folder + "/target";
  const std::string decoded = folder + "/decoded";
  const std::string encoded = folder + "/encoded";
  const std::string roundTrip = folder + "/round-trip";
  WriteFile(target, content, contentSize);

  EncodingJob probe;
  probe.SetPassphrase(passphrase.c_str());
  probe.SetTargetPath(target.c_str());
  const JobStatus probed = probe.Probe(karvel::SystemFileServices());
  if (passphrase.empty()) {
    Check(probed == JobStatus::NoPassphrase, "an empty passphrase is refused");
    Check(Run(&EncodingJob::Encode, "x", target, encoded) == JobStatus::Ok,
          "encode with a passphrase");
    unlink(encoded.c_str());
    unlink(target.c_str());
    return 0;
  }
  Check(probed == JobStatus::Ok || probed == JobStatus::HeaderMismatch,
        "probe says match or mismatch");
  Check(probed != JobStatus::Ok || contentSize >= 26,
        "a file shorter than the signature never matches");

  // Decoding arbitrary bytes: only the header decides.
  const JobStatus decodeStatus = Run(&EncodingJob::Decode, passphrase, target, decoded);
  // A header that matches may still belong to a cut or damaged file, which decodes to nothing.
  Check(decodeStatus == probed || (probed == JobStatus::Ok && decodeStatus == JobStatus::Damaged),
        "decode agrees with probe");
  karvel::HeaderRecord record;
  Check(decodeStatus != JobStatus::Damaged || contentSize < karvel::kHeaderSize ||
            karvel::ReadRecord(content, &record) != karvel::RecordState::None,
        "only a cut header or a record declares a file damaged");
  if (decodeStatus == JobStatus::Ok) {
    Check(contentSize >= karvel::kHeaderSize, "a file shorter than a header never decodes");
    Check(ReadFile(decoded).size() == contentSize - karvel::kHeaderSize,
          "decode drops exactly the header");
    unlink(decoded.c_str());
  }

  Check(Run(&EncodingJob::Encode, passphrase, target, encoded) == JobStatus::Ok, "encode succeeds");
  Check(ReadFile(encoded).size() == contentSize + karvel::kHeaderSize,
        "encode adds exactly the header");
  Check(Run(&EncodingJob::Decode, passphrase, encoded, roundTrip) == JobStatus::Ok,
        "encoded file decodes");
  Check(ReadFile(roundTrip) == std::vector<uint8_t>(content, content + contentSize),
        "round trip gives the file back");
  Check(ReadFile(target) == std::vector<uint8_t>(content, content + contentSize),
        "the target is unchanged");

  Check(Entries(folder).size() == 3, "no stray file beside target, encoded and round trip");
  unlink(target.c_str());
  unlink(encoded.c_str());
  unlink(roundTrip.c_str());
  return 0;
}
