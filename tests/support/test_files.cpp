#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace karvel {

namespace fs = std::filesystem;

Bytes Pattern(size_t length, unsigned seed) {
  std::minstd_rand generator(seed + 1);
  Bytes bytes(length);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(generator() >> 7);
  return bytes;
}

SystemPath Prepared(const std::string& path) {
  SystemPath prepared;
  EXPECT_EQ(SystemFileServices().Prepare(path.c_str(), &prepared), PathForm::Ok) << path;
  return prepared;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(fs::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::map<std::string, Bytes> Snapshot(const fs::path& folder) {
  std::map<std::string, Bytes> entries;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().u8string();
    if (entry.is_directory()) {
      entries[name + "/"] = {};
    } else if (!entry.is_regular_file()) {
      entries[name + "|"] = {};  // a pipe, socket or device: never read
    } else {
      entries[name] = ReadBytes(entry.path().u8string());
    }
  }
  return entries;
}

void SetReadOnly(const std::string& path, bool readOnly) {
#ifdef _WIN32
  SetFileAttributesW(fs::u8path(path).c_str(),
                     readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
#else
  chmod(path.c_str(), readOnly ? 0444 : 0644);
#endif
}

ScratchFolder::ScratchFolder(const fs::path& base) {
  fs::path parent = base.empty() ? fs::temp_directory_path() : base;
  std::random_device entropy;
  do {
    path_ = parent / ("karvel-test-" + std::to_string(entropy()));
  } while (!fs::create_directory(path_));
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(path_, ignored)) {
    if (entry.is_regular_file()) SetReadOnly(entry.path().u8string(), false);
  }
  fs::remove_all(path_, ignored);
}

std::string ScratchFolder::operator[](const std::string& name) const {
  return (path_ / fs::u8path(name)).u8string();
}

std::vector<std::string> ScratchFolder::Names() const {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(path_)) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace karvel
