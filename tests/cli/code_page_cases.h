// Passphrases as typed in UTF-8 and the bytes karvel-cli must make of them
// with --code-page: the bytes the window reads from its box on a Windows
// system of that code page, or a refusal where the window refuses too.
#pragma once

namespace karvel {

struct CodePageCase {
  const char* typed;
  int codePage;       // 0: no --code-page
  const char* bytes;  // nullptr: refused
};

// "ソ" and "表" end in the byte of "\" in Shift-JIS. "〜" (WAVE DASH) has the
// bytes of "～" only as a best fit, and "Ā" those of "A"; the window takes no
// look-alike.
const CodePageCase kCodePageCases[] = {
    {"日本語", 932, "\x93\xfa\x96\x7b\x8c\xea"},
    {"ソ表", 932, "\x83\x5c\x95\x5c"},
    {"〜", 932, nullptr},
    {"ÄÖÜ€", 1252, "\xc4\xd6\xdc\x80"},
    {"Ā", 1252, nullptr},
    {"日本語", 1252, nullptr},
    {"한국어😀", 65001, "한국어😀"},
    {"plain", 0, "plain"},
    {"ÄÖÜ€", 0, nullptr},
};

}  // namespace karvel
