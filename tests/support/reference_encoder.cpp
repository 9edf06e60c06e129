#include "tests/support/reference_encoder.h"

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

}  // namespace karvel
