// Where karvel-cli takes the passphrase from, and how it turns it into the
// bytes the window would use on a system of the given code page.
#pragma once

#include <string>

#include "engine/encoding_job.h"

namespace karvel::cli {

struct PassphraseSource {
  const char* file = nullptr;  // its first line; nullptr: none
  int descriptor = -1;         // its first line; -1: none
  int codePage = 0;            // the ANSI code page of the bytes; 0: ASCII only
  bool confirm = false;        // asked a second time when typed (encoding)
};

// With neither a file nor a descriptor, asks on the terminal. "" when bytes
// holds the passphrase, otherwise the message that says why it is refused, and
// bytes is wiped. Every other copy is wiped before it returns.
std::string ReadPassphrase(const PassphraseSource& source, char (&bytes)[kPassphraseFieldSize]);

}  // namespace karvel::cli
