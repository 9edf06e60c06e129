#include "cli/passphrase.h"

#include <cstring>

#include "cli/system.h"
#include "engine/wipe.h"

namespace karvel::cli {

namespace {

struct Text {
  ~Text() { Wipe(bytes, sizeof bytes); }
  char bytes[kTextSize];
};

constexpr char kNotUtf8[] = "encoding key is not UTF-8 text";

// The number of bytes that follow lead in its character; -1 when no character starts so.
int FollowingBytes(unsigned lead) {
  if (lead < 0x80) return 0;
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return -1;
}

// Strict UTF-8: no overlong form, no surrogate, nothing beyond U+10FFFF.
bool ValidUtf8(const char* text) {
  const auto* byte = reinterpret_cast<const unsigned char*>(text);
  while (*byte != 0) {
    unsigned lead = *byte++;
    int following = FollowingBytes(lead);
    if (following < 0) return false;
    unsigned code = lead & (0x3Fu >> following);
    for (int i = 0; i < following; ++i, ++byte) {
      if ((*byte & 0xC0) != 0x80) return false;  // the terminator among them too
      code = code << 6 | (*byte & 0x3Fu);
    }
    if ((following == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (following == 3 && (code < 0x10000 || code > 0x10FFFF))) {
      return false;
    }
  }
  return true;
}

bool Ascii(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<unsigned char>(*text) >= 0x80) return false;
  }
  return true;
}

std::string LineRefusal(LineResult result, const PassphraseSource& source) {
  switch (result) {
    case LineResult::Ok:
      return "";
    case LineResult::TooLong:
      return StatusText(JobStatus::PassphraseTooLong);
    case LineResult::NotText:
      return kNotUtf8;
    case LineResult::NoTerminal:
      return "no terminal to ask for the encoding key: give --passphrase-file FILE or "
             "--passphrase-fd N";
    case LineResult::Failed:
      if (source.file != nullptr)
        return std::string("encoding key cannot be read from ") + source.file;
      if (source.descriptor >= 0) {
        return "encoding key cannot be read from descriptor " + std::to_string(source.descriptor);
      }
      return "encoding key cannot be read from the terminal";
    case LineResult::Interrupted:
      return StatusText(JobStatus::Cancelled);
  }
  return "";
}

LineResult ReadText(const PassphraseSource& source, const char* prompt, Text& text) {
  if (source.file != nullptr) {
    int file = OpenForReading(source.file);
    if (file < 0) return LineResult::Failed;
    LineResult result = ReadLine(file, text.bytes);
    CloseDescriptor(file);
    return result;
  }
  if (source.descriptor >= 0) {
    return UseDescriptor(source.descriptor) ? ReadLine(source.descriptor, text.bytes)
                                            : LineResult::Failed;
  }
  return AskHidden(prompt, text.bytes);
}

// Characters beyond ASCII have other bytes in every code page, and nothing
// about a terminal or a file tells which one the file's other end uses.
std::string NeedsCodePage() {
  std::string text =
      "encoding key has characters beyond ASCII, whose bytes depend on the code page: give "
      "--code-page N, the ANSI code page of the Windows systems that open the file with "
      "karvel (932 Japanese, 1252 Western European; see --help)";
  int system = SystemCodePage();
  if (system != 0) text += "; this system's is " + std::to_string(system);
  return text;
}

std::string ToBytes(const char* text, int codePage, char (&bytes)[kPassphraseFieldSize]) {
  if (text[0] == '\0') return StatusText(JobStatus::NoPassphrase);
  if (!ValidUtf8(text)) return kNotUtf8;
  if (codePage == 0) {
    if (!Ascii(text)) return NeedsCodePage();
    if (std::strlen(text) > kMaxPassphraseLength) return StatusText(JobStatus::PassphraseTooLong);
    std::memcpy(bytes, text, std::strlen(text) + 1);
    return "";
  }
  switch (ToCodePage(text, codePage, bytes)) {
    case Conversion::Ok:
      return "";
    case Conversion::Unusable:
      return "encoding key has a character code page " + std::to_string(codePage) + " cannot use";
    case Conversion::TooLong:
      return StatusText(JobStatus::PassphraseTooLong);
    case Conversion::NoCodePage:
      return "code page " + std::to_string(codePage) + " is not available on this system";
  }
  return "";
}

}  // namespace

// Asked twice, the two are compared as typed: the conversion takes no two texts to the same bytes.
std::string ReadPassphrase(const PassphraseSource& source, char (&bytes)[kPassphraseFieldSize]) {
  Text typed;
  std::string refusal = LineRefusal(ReadText(source, "Passphrase: ", typed), source);
  if (refusal.empty()) refusal = ToBytes(typed.bytes, source.codePage, bytes);
  bool asked = source.file == nullptr && source.descriptor < 0;
  if (refusal.empty() && source.confirm && asked) {
    Text again;
    refusal = LineRefusal(ReadText(source, "Passphrase again: ", again), source);
    if (refusal.empty() && std::strcmp(again.bytes, typed.bytes) != 0) {
      refusal = "encoding keys differ";
    }
  }
  if (!refusal.empty()) Wipe(bytes, sizeof bytes);
  return refusal;
}

}  // namespace karvel::cli
