// Scaffolding for tests that work on real files: a private folder that is
// removed afterwards, whole-file reads and writes, and the read-only mark.
// Paths and names are UTF-8 text, as the engine takes them.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/file_services.h"
#include "tests/support/reference_encoder.h"

namespace karvel {

// Deterministic bytes that differ from one seed to the next.
Bytes Pattern(size_t length, unsigned seed);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// Every entry of a folder with the bytes of each file; folders are marked by a trailing slash,
// other entries that are no files by a trailing bar.
std::map<std::string, Bytes> Snapshot(const std::filesystem::path& folder);

// path in the system's form, as the system's file services prepare it; fails the test when they
// cannot.
SystemPath Prepared(const std::string& path);

// Sets or clears the mark the engine refuses to replace: the read-only attribute on
// Windows, every write permission bit elsewhere.
void SetReadOnly(const std::string& path, bool readOnly);

class ScratchFolder {
 public:
  // A new empty folder inside base (the system's temporary folder when base is empty).
  explicit ScratchFolder(const std::filesystem::path& base = {});
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // The path of name inside the folder.
  std::string operator[](const std::string& name) const;
  // The sorted names of the entries in the folder.
  std::vector<std::string> Names() const;

 private:
  std::filesystem::path path_;
};

}  // namespace karvel
