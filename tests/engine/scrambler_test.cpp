#include "engine/scrambler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/encoding_job.h"
#include "engine/key_stream.h"
#include "engine/wipe.h"
#include "tests/support/reference_encoder.h"
#include "tests/support/test_files.h"

namespace karvel {
namespace {

// A passphrase of length bytes, none of them zero.
std::string PassphraseOf(size_t length) {
  std::string passphrase;
  for (size_t i = 0; i < length; ++i) passphrase += static_cast<char>('!' + (i * 37) % 94);
  return passphrase;
}

Bytes Scrambled(const std::string& passphrase, int32_t seed, const Bytes& plain,
                const std::vector<size_t>& pieces) {
  Bytes data = plain;
  Scrambler scrambler(passphrase.data(), passphrase.size(), seed);
  size_t offset = 0;
  for (size_t piece : pieces) {
    scrambler.Apply(data.data() + offset, piece);
    offset += piece;
  }
  scrambler.Apply(data.data() + offset, data.size() - offset);
  return data;
}

TEST(KeyStream, FirstDrawAfterEachSeed) {
  Seed(kHeaderSeed);
  EXPECT_EQ(Next(), 1762);
  Seed(kBodySeed);
  EXPECT_EQ(Next(), 2404);
}

TEST(KeyStream, EachSeedCyclesThroughItsOwnHalfOfTheStates) {
  struct Case {
    int32_t seed;
    int32_t remainders[2];  // of the state mod 4 after an even, then an odd number of draws
  };
  for (Case c : {Case{kHeaderSeed, {3, 2}}, Case{kBodySeed, {1, 0}}}) {
    SCOPED_TRACE(c.seed);
    Seed(c.seed);
    int32_t state = c.seed;
    for (int draw = 1; draw <= kKeyCycleLength; ++draw) {
      int32_t expected = (state * 107 + 1013) % 32768;
      state = Next();
      ASSERT_EQ(state, expected);
      ASSERT_EQ(state % 4, c.remainders[draw % 2]);
      if (draw < kKeyCycleLength) {
        ASSERT_NE(state, c.seed);
      }
    }
    EXPECT_EQ(state, c.seed);
  }
}

TEST(Scrambler, MatchesPerByteDrawsForEveryPassphraseLength) {
  const Bytes plain = Pattern(2 * kKeyCycleLength + 300, 1);
  for (size_t length = 1; length <= 127; ++length) {
    SCOPED_TRACE(length);
    const std::string passphrase = PassphraseOf(length);
    for (int32_t seed : {kHeaderSeed, kBodySeed}) {
      Bytes expected = plain;
      ReferenceScramble(passphrase, seed, expected);
      ASSERT_EQ(Scrambled(passphrase, seed, plain, {}), expected) << "seed " << seed;
    }
  }
}

TEST(Scrambler, ContinuesTheKeystreamAcrossSplitBuffers) {
  const std::vector<std::vector<size_t>> splits = {
      {1},          {3, 5, 7},     {127, 1, 16383}, {16383, 2},
      {16385, 999}, {0, 16384, 0}, {40001, 13},     {5, 16384 * 2 + 1, 77},
  };
  const std::string passphrase = PassphraseOf(11);
  const Bytes plain = Pattern(3 * kKeyCycleLength + 1234, 2);
  Bytes expected = plain;
  ReferenceScramble(passphrase, kBodySeed, expected);
  for (const std::vector<size_t>& pieces : splits) {
    SCOPED_TRACE(::testing::PrintToString(pieces));
    EXPECT_EQ(Scrambled(passphrase, kBodySeed, plain, pieces), expected);
  }
}

TEST(Scrambler, LeavesTheStateWordWherePerByteDrawsLeaveIt) {
  for (size_t draws : {0, 1, 128, 16383, 16384, 16385, 40000}) {
    SCOPED_TRACE(draws);
    Seed(kHeaderSeed);
    for (size_t i = 0; i < draws; ++i) Next();
    const int32_t expected = Next();

    Bytes data(draws);
    { Scrambler("key", 3, kHeaderSeed).Apply(data.data(), data.size()); }
    EXPECT_EQ(Next(), expected);
  }
}

TEST(Scrambler, OneBytePassphraseCombinesEveryByteWithIt) {
  Bytes data = Pattern(1000, 3);
  const Bytes plain = data;
  Scrambler("\x5a", 1, kBodySeed).Apply(data.data(), data.size());
  for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(data[i], plain[i] ^ 0x5a) << i;
}

TEST(Scrambler, RepeatedPassphraseScramblesIdentically) {
  const Bytes plain = Pattern(50000, 4);
  for (const std::string base : {"a", "pass", "seven77", "twelve bytes"}) {
    SCOPED_TRACE(base);
    const Bytes once = Scrambled(base, kBodySeed, plain, {});
    EXPECT_EQ(Scrambled(base + base, kBodySeed, plain, {}), once);
    EXPECT_EQ(Scrambled(base + base + base, kBodySeed, plain, {}), once);
  }
}

TEST(Scrambler, TwiceRestoresTheBytes) {
  const Bytes plain = Pattern(20000, 5);
  const std::string passphrase = PassphraseOf(9);
  Bytes once = Scrambled(passphrase, kHeaderSeed, plain, {});
  EXPECT_NE(once, plain);
  EXPECT_EQ(Scrambled(passphrase, kHeaderSeed, once, {}), plain);
}

TEST(Scrambler, LengthMultipleOfFourSplitsThePassphraseBetweenTheRuns) {
  // The header draws select positions 2 and 3 (mod 4), the content draws 0 and 1.
  const Bytes plain = Pattern(kKeyCycleLength, 6);
  const std::string passphrase = "abcdefgh";
  std::string headerClassChanged = passphrase, contentClassChanged = passphrase;
  headerClassChanged[2] = 'X';
  contentClassChanged[4] = 'Y';
  EXPECT_EQ(Scrambled(headerClassChanged, kBodySeed, plain, {}),
            Scrambled(passphrase, kBodySeed, plain, {}));
  EXPECT_EQ(Scrambled(contentClassChanged, kHeaderSeed, plain, {}),
            Scrambled(passphrase, kHeaderSeed, plain, {}));
  EXPECT_NE(Scrambled(contentClassChanged, kBodySeed, plain, {}),
            Scrambled(passphrase, kBodySeed, plain, {}));
}

TEST(Wipe, ClearsExactlyTheBytesGiven) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{127}, kChunkSize}) {
    SCOPED_TRACE(size);
    Bytes bytes = Pattern(size + 2, 11);
    for (unsigned char& byte : bytes) byte |= 1;
    Wipe(bytes.data() + 1, size);
    EXPECT_NE(bytes.front(), 0);
    EXPECT_NE(bytes.back(), 0);
    EXPECT_EQ(std::count(bytes.begin() + 1, bytes.end() - 1, 0), static_cast<long>(size));
  }
}

}  // namespace
}  // namespace karvel
