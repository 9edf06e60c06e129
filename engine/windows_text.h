// Text between karvel and Win32. Paths: the form of a UTF-8 path that the
// Win32 W functions take is UTF-16, made full against the current folder, and, once longer than the
// classic limit of 260, in the \\?\ form (\\?\UNC\ for a share) that Windows takes whole. A last
// part that ends in a dot or a space takes the \\?\ form at any length: making it full the classic
// way would drop the ending and name another file. A passphrase: the bytes of its text in an ANSI
// code page, as the window has always used it.
#pragma once

#include <string>

#include "engine/encoding_job.h"
#include "engine/path_limits.h"

namespace karvel {

enum class WidePath { Ok, NotText, TooLong };

// Puts path, UTF-8, into *wide as UTF-16, as it stands; false when it is not UTF-8 text or empty.
bool ToWide(const char* path, std::wstring* wide);

// wide, UTF-16, as UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(const std::wstring& wide);

// Puts the wide form of path into *wide; TooLong when it would exceed kMaxPathUnits.
WidePath ToWidePath(const char* path, std::wstring* wide);

// Puts into *wide the form of full, a full path, that Windows takes whole: as it stands when
// already in a form taken as it is, or when short and not literal; the \\?\ form otherwise.
WidePath WholeForm(const std::wstring& full, bool literal, std::wstring* wide);

// The bytes of text in Windows code page codePage, each character in its own exact form (no
// look-alike, no default character): PassphraseUnusable otherwise, PassphraseTooLong beyond
// kMaxPassphraseLength bytes. bytes is wiped on refusal; the caller wipes it after use.
JobStatus PassphraseBytes(const wchar_t* text, unsigned codePage,
                          char (&bytes)[kPassphraseFieldSize]);

}  // namespace karvel
