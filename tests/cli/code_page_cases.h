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
    {"שלום", 1255, "\xf9\xec\xe5\xed"},
    {"éßÿ", 1258, "\xe9\xdf\xff"},
    {"ế", 1258, nullptr},
    {"한국어😀", 65001, "한국어😀"},
    {"plain", 0, "plain"},
    {"ÄÖÜ€", 0, nullptr},
};

// Each code page's bytes as Microsoft's tables give them for Windows' conversion without
// best fit: ASCII beside a typical letter, and a character the code page lacks. Code pages 1255
// and 1258 hold combining marks that Windows keeps as typed, and no byte for a letter that
// only a base letter and a mark make: it composes nothing and decomposes nothing.
const CodePageCase kWindowsBytes[] = {
    {"Key กุญแจ", 874, "Key \xa1\xd8\xad\xe1\xa8"},
    {"é", 874, nullptr},
    {"Key 日本語", 932, "Key \x93\xfa\x96\x7b\x8c\xea"},
    // Each has more than one form in the table; these are the ones Windows gives.
    {"＂￤\uffe2", 932, "\xfa\x57\xfa\x55\x81\xca"},
    {"¬", 932, nullptr},  // given the byte of "￢" only as a best fit
    {"한", 932, nullptr},
    {"Key 中文", 936, "Key \xd6\xd0\xce\xc4"},
    {"한", 936, nullptr},
    {"Key 한국어", 949, "Key \xc7\xd1\xb1\xb9\xbe\xee"},
    {"ก", 949, nullptr},
    {"Key 中文", 950, "Key \xa4\xa4\xa4\xe5"},
    {"한", 950, nullptr},
    {"Key Łódź", 1250, "Key \xa3\xf3\x64\x9f"},
    {"Ā", 1250, nullptr},
    {"Key Ключ", 1251, "Key \xca\xeb\xfe\xf7"},
    {"ä", 1251, nullptr},
    {"Key ßÿ€", 1252, "Key \xdf\xff\x80"},
    {"Ā", 1252, nullptr},
    {"\xc2\x81", 1252, "\x81"},  // U+0081, Windows' character for its undefined byte
    {"Key Κλειδί", 1253, "Key \xca\xeb\xe5\xe9\xe4\xdf"},
    {"ä", 1253, nullptr},
    {"Key ğışĞİŞ", 1254, "Key \xf0\xfd\xfe\xd0\xdd\xde"},
    {"Ā", 1254, nullptr},
    {"Key מפתח", 1255, "Key \xee\xf4\xfa\xe7"},
    {"שלום", 1255, "\xf9\xec\xe5\xed"},
    {"ב\u05bcית", 1255, "\xe1\xcc\xe9\xfa"},  // bet with dagesh
    {"ש\u05c1", 1255, "\xf9\xd1"},            // shin with shin dot
    {"\ufb31", 1255, nullptr},                // the same bet, precomposed
    {"₪", 1255, "\xa4"},
    {"¤", 1255, nullptr},  // given the byte of "₪" only as a best fit
    {"é", 1255, nullptr},
    {"\u05ba", 1255, "\xca"},  // holam haser for vav, a point only Windows' own table has
    // Windows gives its undefined byte 0xD9, then takes that byte back as invalid.
    {"\uf88d", 1255, nullptr},
    {"Key مفتاح", 1256, "Key \xe3\xdd\xca\xc7\xcd"},
    {"ä", 1256, nullptr},
    {"Key Ķēdeš", 1257, "Key \xcd\xe7\x64\x65\xf0"},
    {"ñ", 1257, nullptr},
    {"Key éßÿ", 1258, "Key \xe9\xdf\xff"},
    {"Đơ₫", 1258, "\xd0\xf5\xfe"},
    {"e\u0301", 1258, "\x65\xec"},  // "é" typed as "e" and a mark
    {"ê\u0301", 1258, "\xea\xec"},  // "ế" typed as "ê" and a mark
    {"\u0301", 1258, "\xec"},
    {"ế", 1258, nullptr},
    {"Ã", 1258, nullptr},
    {"\xc2\x81", 1258, "\x81"},
    {"Key 한국어😀", 65001, "Key 한국어😀"},
};

}  // namespace karvel
