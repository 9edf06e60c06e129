// What karvel-cli needs from the system beside the engine's file calls: its
// arguments, standard error, the terminal, a passphrase's sources and bytes,
// and Ctrl+C. Implemented once on POSIX and once on Win32; texts are UTF-8.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "engine/encoding_job.h"

namespace karvel::cli {

// A byte of an ANSI code page stands for a character of at most three UTF-8
// bytes, so a longer text can never fit kMaxPassphraseLength bytes.
constexpr size_t kMaxTextLength = 3 * kMaxPassphraseLength;
constexpr size_t kTextSize = kMaxTextLength + 1;

// The ANSI code pages of Windows, single- and double-byte, and UTF-8.
constexpr int kCodePages[] = {874,  932,  936,  949,  950,  1250, 1251, 1252,
                              1253, 1254, 1255, 1256, 1257, 1258, 65001};

// NotText: a line with a zero byte.
enum class LineResult { Ok, TooLong, NotText, NoTerminal, Failed, Interrupted };
enum class Conversion { Ok, Unusable, TooLong, NoCodePage };

// What the user's trash is called here, as in "the encoded original is in the trash".
extern const char kTrashName[];

// The program's arguments as UTF-8.
std::vector<std::string> Arguments(int argc, char** argv);

bool ErrorIsTerminal();
// Writes text to standard error as it stands, no line end added.
void WriteError(const std::string& text);

// Asks on the terminal, even when standard input and error go elsewhere, and
// reads one line without showing it; the text is UTF-8 without its line end.
LineResult AskHidden(const char* prompt, char (&text)[kTextSize]);

// A descriptor open for reading the file path names; -1 when it cannot be opened.
int OpenForReading(const char* path);
// True when descriptor fd is open; readies it for reading bytes as they are.
bool UseDescriptor(int fd);
// Reads one byte of descriptor fd into *byte; 0 at its end, -1 on an error or an interruption.
int ReadByte(int fd, char* byte);
void CloseDescriptor(int fd);
// Reads the first line of descriptor fd a byte at a time, so that nothing after it is
// consumed; the text without its line end (LF or CR LF). TooLong as soon as the line
// passes kMaxTextLength bytes, nothing after them read. text is wiped on refusal.
LineResult ReadLine(int fd, char (&text)[kTextSize]);

// The ANSI code page karvel.exe uses on this system; 0 where there is none.
int SystemCodePage();

// The bytes of valid UTF-8 text in Windows code page codePage (one of kCodePages): Unusable
// for a character without its own exact form there (no look-alike, no default character),
// TooLong beyond kMaxPassphraseLength bytes, NoCodePage when the system lacks the code page.
// bytes is wiped on refusal.
Conversion ToCodePage(const char* utf8, int codePage, char (&bytes)[kPassphraseFieldSize]);

// From now on Ctrl+C and every other request to stop the program (a hang-up, SIGTERM, SIGQUIT,
// SIGPIPE; Ctrl+Break, the console's closing) is noted instead of ending it; one ignored stays so.
void CatchInterrupts();
// Until the next call, an interruption also sets *cancel, at once when one came already; nullptr
// ends that before *cancel goes.
void CancelOnInterrupt(std::atomic<bool>* cancel);
bool Interrupted();
// Ends the program as the interruption it caught would have ended it.
[[noreturn]] void EndAsInterrupted();

}  // namespace karvel::cli
