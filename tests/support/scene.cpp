#include "tests/support/scene.h"

namespace karvel {

Bytes TargetFor(const JobCall& operation, const std::string& passphrase, const Bytes& plain) {
  return operation == &EncodingJob::Decode ? ReferenceEncode(passphrase, plain) : plain;
}

Bytes ResultFor(const JobCall& operation, const std::string& passphrase, const Bytes& plain) {
  return operation == &EncodingJob::Decode ? plain : ReferenceEncode(passphrase, plain);
}

Scene::Scene(const JobCall& operation, const std::string& passphrase, size_t plainSize)
    : passphrase(passphrase), plain(Pattern(plainSize, 1)) {
  WriteBytes(folder["target"], TargetBytes(operation));
  WriteBytes(folder["old"], Pattern(777, 2));
}

}  // namespace karvel
