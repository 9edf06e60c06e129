// The engine against files encoded by tests/vectors/make_vectors.py, which
// works the format out from its rules alone and shares no code with the
// engine: a mistake both the engine and the reference encoder make shows here.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/run_job.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

struct Vector {
  std::string name;
  std::string passphrase;
  Bytes plain;
  // The whole encoded file, or its header block alone when the file is pinned by its digest.
  Bytes encoded;
  size_t encodedLength = 0;
  Bytes encodedTail;
  std::string encodedSha256;  // empty when encoded is the whole file
};

// Lowercase hex, as the vectors are written.
std::string ToHex(const Bytes& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

Bytes FromHex(const std::string& hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    ADD_FAILURE() << "not a hex digit: " << c;
    return 0;
  };
  if (hex.size() % 2 != 0) ADD_FAILURE() << "odd hex: " << hex;
  Bytes bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  }
  return bytes;
}

// A vector too large to keep whole has its digest kept instead; nothing in the
// project computes one, and the test needs no library for it.
std::string Sha256Hex(Bytes message) {
  static const uint32_t k[64] = {
      0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
      0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
      0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
      0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
      0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
      0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
      0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
      0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
      0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
      0xc67178f2};
  uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
  message.push_back(0x80);
  while (message.size() % 64 != 56) message.push_back(0);
  for (int shift = 56; shift >= 0; shift -= 8) {
    message.push_back(static_cast<unsigned char>(bits >> shift));
  }
  auto rotr = [](uint32_t x, int n) { return (x >> n) | (x << (32 - n)); };
  for (size_t block = 0; block < message.size(); block += 64) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
      const unsigned char* p = &message[block + 4 * i];
      w[i] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
    }
    for (int i = 16; i < 64; ++i) {
      const uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
      const uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
      w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
      const uint32_t t1 =
          hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
      const uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
      hh = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e, h[5] += f, h[6] += g, h[7] += hh;
  }
  Bytes digest;
  for (uint32_t word : h) {
    for (int shift = 24; shift >= 0; shift -= 8) {
      digest.push_back(static_cast<unsigned char>(word >> shift));
    }
  }
  return ToHex(digest);
}

// Under Wine, fopen takes the build machine's absolute path as it is, through the Z: drive.
std::string ReadText(const char* path) {
  std::string text;
  if (FILE* file = std::fopen(path, "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
  } else {
    ADD_FAILURE() << "cannot open " << path;
  }
  return text;
}

// Blocks of "key: value" lines, one block a vector, blank lines between them.
std::vector<Vector> LoadVectors(const char* path) {
  std::vector<Vector> vectors;
  std::istringstream text(ReadText(path));
  bool inBlock = false;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a checkout with CRLF
    if (line.empty()) {
      inBlock = false;
      continue;
    }
    if (line[0] == '#') continue;
    if (!inBlock) vectors.emplace_back();
    inBlock = true;
    Vector& vector = vectors.back();
    const size_t colon = line.find(':');
    const std::string key = line.substr(0, colon);
    const size_t start = line.find_first_not_of(' ', colon + 1);
    const std::string value = start == std::string::npos ? "" : line.substr(start);
    if (key == "name") {
      vector.name = value;
    } else if (key == "passphrase_hex") {
      const Bytes bytes = FromHex(value);
      vector.passphrase.assign(bytes.begin(), bytes.end());
    } else if (key == "plain_hex") {
      vector.plain = FromHex(value);
    } else if (key == "plain_pattern") {
      unsigned mul = 0, add = 0;
      size_t length = 0;
      std::istringstream(value) >> mul >> add >> length;
      for (size_t i = 0; i < length; ++i) {
        vector.plain.push_back(static_cast<unsigned char>((i * mul + add) % 256));
      }
    } else if (key == "encoded_hex" || key == "encoded_head_hex") {
      vector.encoded = FromHex(value);
    } else if (key == "encoded_length") {
      vector.encodedLength = std::stoul(value);
    } else if (key == "encoded_tail_hex") {
      vector.encodedTail = FromHex(value);
    } else if (key == "encoded_sha256") {
      vector.encodedSha256 = value;
    } else {
      ADD_FAILURE() << "unknown line: " << line;
    }
  }
  return vectors;
}

// The vector's whole encoded file. One pinned by its digest is rebuilt from its
// header block and the content the engine wrote, and counts only when the
// result has the vector's end and digest.
bool ExpectedEncoding(const Vector& vector, const Bytes& actual, Bytes* expected) {
  *expected = vector.encoded;
  if (vector.encodedSha256.empty()) return true;
  if (actual.size() != vector.encodedLength || vector.encoded.size() != kHeaderSize) {
    ADD_FAILURE() << "encoded " << actual.size() << " bytes, the vector " << vector.encodedLength;
    return false;
  }
  expected->insert(expected->end(), actual.begin() + kHeaderSize, actual.end());
  const Bytes tail(expected->end() - vector.encodedTail.size(), expected->end());
  const std::string digest = Sha256Hex(*expected);
  EXPECT_EQ(ToHex(tail), ToHex(vector.encodedTail));
  EXPECT_EQ(digest, vector.encodedSha256);
  return tail == vector.encodedTail && digest == vector.encodedSha256;
}

// Each byte with its lowest bit flipped: every draw picks a byte other than the right one.
std::string WrongPassphrase(std::string passphrase) {
  for (char& c : passphrase) c ^= 1;
  return passphrase;
}

void CheckVector(const Vector& vector) {
  ScratchFolder folder;
  WriteBytes(folder["plain"], vector.plain);
  ASSERT_EQ(RunJob(&EncodingJob::Encode, vector.passphrase, folder["plain"], folder["encoded"]),
            JobStatus::Ok);
  const Bytes actual = ReadBytes(folder["encoded"]);
  Bytes expected;
  ASSERT_TRUE(ExpectedEncoding(vector, actual, &expected));
  EXPECT_TRUE(SameEncoding(actual, expected));

  WriteBytes(folder["vector"], expected);
  ASSERT_EQ(RunJob(&EncodingJob::Decode, vector.passphrase, folder["vector"], folder["decoded"]),
            JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(folder["decoded"]) == vector.plain);

  EXPECT_NE(RunJob(&EncodingJob::Decode, WrongPassphrase(vector.passphrase), folder["vector"], ""),
            JobStatus::Ok);
  EXPECT_TRUE(ReadBytes(folder["vector"]) == expected);
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"decoded", "encoded", "plain", "vector"}));
}

TEST(Vectors, EngineEncodesAndDecodesEveryVector) {
  const std::vector<Vector> vectors = LoadVectors(KARVEL_VECTORS);
  ASSERT_GE(vectors.size(), 8u);
  for (const Vector& vector : vectors) {
    SCOPED_TRACE(vector.name);
    CheckVector(vector);
  }
}

// Files with a version 1 record decode as that version decoded them: the whole passphrase and the
// content checked, and a record that no longer checks taken for none.
struct RecordV1Case {
  const char* name;
  void (*change)(Bytes& file, std::string& passphrase);
  JobStatus expected;
  bool plain;           // the decoded file is the plain one
  bool changesContent;  // so needs a file that has content
};

const RecordV1Case kRecordV1Cases[] = {
    {"as written", [](Bytes&, std::string&) {}, JobStatus::Ok, true, false},
    {"passphrase repeated", [](Bytes&, std::string& p) { p += p; }, JobStatus::Ok, true, false},
    {"content byte changed", [](Bytes& file, std::string&) { file.back() ^= 0x20; },
     JobStatus::Damaged, false, true},
    {"byte cut", [](Bytes& file, std::string&) { file.pop_back(); }, JobStatus::Damaged, false,
     false},
    {"byte added", [](Bytes& file, std::string&) { file.push_back(0); }, JobStatus::Damaged, false,
     false},
    {"record byte changed", [](Bytes& file, std::string&) { file[50] ^= 0x01; }, JobStatus::Ok,
     true, false},
};

TEST(Vectors, FilesWithAVersion1RecordDecodeAsThatVersionDecodedThem) {
  const std::vector<Vector> vectors = LoadVectors(KARVEL_RECORD_V1_VECTORS);
  ASSERT_EQ(vectors.size(), 3u);
  for (const Vector& vector : vectors) {
    for (const RecordV1Case& test : kRecordV1Cases) {
      SCOPED_TRACE(vector.name + ", " + test.name);
      ScratchFolder folder;
      if (test.changesContent && vector.plain.empty()) continue;
      Bytes file = vector.encoded;
      std::string passphrase = vector.passphrase;
      test.change(file, passphrase);
      WriteBytes(folder["encoded"], file);
      EXPECT_EQ(RunJob(&EncodingJob::Decode, passphrase, folder["encoded"], folder["decoded"]),
                test.expected);
      if (test.plain) {
        EXPECT_TRUE(ReadBytes(folder["decoded"]) == vector.plain);
      }
    }
  }
}

// Every slip of one character is refused: where the signature does not see it, the record does.
TEST(Vectors, AVersion1RecordRefusesEverySlipOfOneCharacter) {
  for (const Vector& vector : LoadVectors(KARVEL_RECORD_V1_VECTORS)) {
    ScratchFolder folder;
    WriteBytes(folder["encoded"], vector.encoded);
    for (size_t at = 0; at < vector.passphrase.size(); ++at) {
      std::string slip = vector.passphrase;
      slip[at] ^= 0x01;
      SCOPED_TRACE(vector.name + ", " + slip);
      EXPECT_EQ(RunJob(&EncodingJob::Decode, slip, folder["encoded"], ""),
                JobStatus::HeaderMismatch);
    }
    EXPECT_TRUE(ReadBytes(folder["encoded"]) == vector.encoded);
  }
}

}  // namespace
}  // namespace karvel
