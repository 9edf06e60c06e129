// karvel-cli's own conversion to a code page, held to the bytes Windows gives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/system.h"
#include "tests/cli/code_page_cases.h"

namespace karvel::cli {
namespace {

void ExpectConversion(const std::string& typed, int codePage, Conversion expected,
                      const char* expectedBytes) {
  SCOPED_TRACE(typed + " in " + std::to_string(codePage));
  char bytes[kPassphraseFieldSize];
  std::memset(bytes, 'x', sizeof bytes);
  ASSERT_EQ(ToCodePage(typed.c_str(), codePage, bytes), expected);
  if (expected == Conversion::Ok) {
    EXPECT_STREQ(bytes, expectedBytes);
  } else {
    EXPECT_EQ(std::string(bytes, sizeof bytes), std::string(sizeof bytes, '\0'));
  }
}

template <size_t size>
void ExpectTable(const CodePageCase (&table)[size]) {
  for (const CodePageCase& c : table) {
    if (c.codePage == 0) continue;  // no conversion without a code page
    ExpectConversion(c.typed, c.codePage, c.bytes ? Conversion::Ok : Conversion::Unusable, c.bytes);
  }
}

TEST(ToCodePage, GivesTheBytesOfWindowsOrRefuses) {
  ExpectTable(kCodePageCases);
  ExpectTable(kWindowsBytes);
}

// Windows fills the buffer before it looks at what it used: a text too long is refused as such
// even where a character has no byte.
TEST(ToCodePage, TooLongIsRefusedAsSuch) {
  std::string hebrew;
  for (size_t i = 0; i < kMaxPassphraseLength; ++i) hebrew += "ש";
  ExpectConversion(hebrew, 1255, Conversion::Ok, std::string(kMaxPassphraseLength, '\xf9').c_str());
  ExpectConversion(hebrew + "ש", 1255, Conversion::TooLong, nullptr);
  ExpectConversion(hebrew + "ế", 1255, Conversion::TooLong, nullptr);
  ExpectConversion(std::string(kMaxPassphraseLength - 1, 'a') + "ế", 1258, Conversion::Unusable,
                   nullptr);
  // Two units of UTF-16, so two default characters.
  ExpectConversion(std::string(kMaxPassphraseLength - 1, 'a') + "😀", 1258, Conversion::TooLong,
                   nullptr);
  ExpectConversion(std::string(kMaxPassphraseLength + 1, 'a'), 1252, Conversion::TooLong, nullptr);
}

}  // namespace
}  // namespace karvel::cli
