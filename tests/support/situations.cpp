#include "tests/support/situations.h"

#include <filesystem>

namespace karvel {

namespace {

constexpr size_t kPlainSize = 1000;

}  // namespace

SituationFiles::SituationFiles() {
  const Bytes plain = Pattern(kPlainSize, 7);
  WriteBytes(folder_["plain"], plain);
  WriteBytes(folder_["encoded"], ReferenceEncode(kSituationPassphrase, plain));
  WriteBytes(folder_["other"], ReferenceEncode("other words", plain));
  std::filesystem::create_directory(std::filesystem::u8path(folder_["folder"]));
  WriteBytes(folder_["locked"], Pattern(kPlainSize, 8));
  SetReadOnly(folder_["locked"], true);
}

// A read-only file would keep Windows from removing the folder.
SituationFiles::~SituationFiles() { SetReadOnly(folder_["locked"], false); }

std::string SituationFiles::operator[](const std::string& name) const {
  return name.empty() ? name : folder_[name];
}

}  // namespace karvel
