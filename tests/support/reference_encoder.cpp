#include "tests/support/reference_encoder.h"

#include <algorithm>

#include "engine/key_stream.h"

namespace karvel {

void ReferenceScramble(const std::string& passphrase, int32_t seed, Bytes& data) {
  Seed(seed);
  const int32_t length = static_cast<int32_t>(passphrase.size());
  for (unsigned char& byte : data) byte ^= static_cast<unsigned char>(passphrase[Next() % length]);
}

Bytes ReferenceEncode(const std::string& passphrase, const Bytes& plain) {
  const std::string signature = "Pelmot ver 1.00 - tovik -";
  Bytes header(signature.begin(), signature.end());
  header.resize(128, 0);  // the terminator and the insignificant bytes
  ReferenceScramble(passphrase, 7, header);
  Bytes content = plain;
  ReferenceScramble(passphrase, 13, content);
  header.insert(header.end(), content.begin(), content.end());
  return header;
}

bool ReferenceDecode(const std::string& passphrase, const Bytes& encoded, Bytes* plain) {
  const std::string signature = "Pelmot ver 1.00 - tovik -";
  Bytes header(encoded.begin(), encoded.begin() + std::min<size_t>(encoded.size(), 128));
  header.resize(128, 0);
  ReferenceScramble(passphrase, 7, header);
  if (!std::equal(signature.begin(), signature.end(), header.begin()) || header[25] != 0) {
    return false;
  }
  plain->assign(encoded.begin() + std::min<size_t>(encoded.size(), 128), encoded.end());
  ReferenceScramble(passphrase, 13, *plain);
  return true;
}

bool SameEncoding(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return true;
  return actual.size() == expected.size() && actual.size() >= kFreeHeaderEnd &&
         std::equal(actual.begin(), actual.begin() + kFreeHeaderBegin, expected.begin()) &&
         std::equal(actual.begin() + kFreeHeaderEnd, actual.end(),
                    expected.begin() + kFreeHeaderEnd);
}

bool SameFiles(const std::map<std::string, Bytes>& actual,
               const std::map<std::string, Bytes>& expected) {
  return actual.size() == expected.size() &&
         std::equal(actual.begin(), actual.end(), expected.begin(),
                    [](const auto& a, const auto& b) {
                      return a.first == b.first && SameEncoding(a.second, b.second);
                    });
}

}  // namespace karvel
