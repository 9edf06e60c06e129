#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstring>

#include "cli/system.h"
#include "engine/wipe.h"

namespace karvel::cli {

const char kTrashName[] = "the trash";

namespace {

// Each of them ends the program by default; caught, it is Ctrl+C's equal.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

// A signal handler may touch only atomics that need no lock.
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free &&
              std::atomic<std::atomic<bool>*>::is_always_lock_free);

std::atomic<int> caught{0};  // the signal that asked the program to stop, 0 for none
// Set by the handler itself, so that a transform sees a signal at its very next check.
std::atomic<std::atomic<bool>*> cancel{nullptr};
// The handler writes a byte into it, so that a read waiting for a line wakes even when the
// signal came just before the read began.
int wakeUp[2] = {-1, -1};

void Note(int number) {
  int saved = errno;
  int none = 0;
  caught.compare_exchange_strong(none, number);  // the first decides how the program ends
  std::atomic<bool>* flag = cancel.load();
  if (flag != nullptr) *flag = true;
  if (wakeUp[1] >= 0) {
    ssize_t ignored = write(wakeUp[1], "", 1);
    (void)ignored;
  }
  errno = saved;
}

void WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<size_t>(written);
  }
}

// Converts the text in to the encoding named to; false when a character has no form there or the
// result does not fit out with its terminator.
bool Convert(const char* to, const char* from, const char* in, char* out, size_t outSize,
             Conversion* failure) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    *failure = Conversion::NoCodePage;
    return false;
  }
  char* input = const_cast<char*>(in);
  size_t inputLeft = std::strlen(in);
  char* output = out;
  size_t outputLeft = outSize - 1;
  bool done = iconv(converter, &input, &inputLeft, &output, &outputLeft) != static_cast<size_t>(-1);
  if (!done) *failure = errno == E2BIG ? Conversion::TooLong : Conversion::Unusable;
  iconv_close(converter);
  *output = '\0';
  return done;
}

// Windows maps a single-byte code page a character at a time, by its table alone. iconv's
// converters for 1255 and 1258 compose and decompose around combining marks instead: they take
// "ế" to "ê" and a mark, which Windows refuses, and "e" with a mark to "é", where Windows keeps
// the two. Read a byte at a time, where nothing composes, iconv gives Windows' table.
bool SingleByte(int codePage) { return codePage == 874 || (codePage >= 1250 && codePage <= 1258); }

// The characters of bytes 0x80 to 0xFF in the single-byte code page named, as the window takes
// them back; 0 for none. Windows gives a byte its table leaves undefined the control character of
// the same value, and above 0x9F a private-use character that it takes back as invalid. Its 1255
// has a point at 0xCA that iconv may lack.
bool UpperHalf(const char* name, int codePage, char16_t (&upper)[128]) {
  iconv_t converter = iconv_open("UTF-16LE", name);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  for (int i = 0; i < 128; ++i) {
    char byte = static_cast<char>(0x80 + i);
    char* input = &byte;
    size_t inputLeft = 1;
    unsigned char unit[4] = {};
    char* output = reinterpret_cast<char*>(unit);
    size_t outputLeft = sizeof unit;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    // The second call gives what the converter holds back in case a mark follows.
    bool defined =
        iconv(converter, &input, &inputLeft, &output, &outputLeft) != static_cast<size_t>(-1) &&
        iconv(converter, nullptr, nullptr, &output, &outputLeft) != static_cast<size_t>(-1) &&
        outputLeft == sizeof unit - 2;
    upper[i] = defined ? static_cast<char16_t>(unit[0] | unit[1] << 8) : i < 0x20 ? 0x80 + i : 0;
  }
  iconv_close(converter);
  if (codePage == 1255 && upper[0xCA - 0x80] == 0) upper[0xCA - 0x80] = 0x05BA;
  return true;
}

// The character that starts at *text, valid UTF-8; *text moves past it.
char32_t NextCharacter(const unsigned char** text) {
  const unsigned char* byte = *text;
  int following = *byte < 0x80 ? 0 : *byte < 0xE0 ? 1 : *byte < 0xF0 ? 2 : 3;
  char32_t code = *byte++ & (0x7Fu >> following);
  for (int i = 0; i < following; ++i) code = code << 6 | (*byte++ & 0x3Fu);
  *text = byte;
  return code;
}

// The bytes of utf8 in the single-byte code page whose upper half is upper; the lower is ASCII. As
// with Windows, which puts a default character in the place of one without a byte and counts one
// for each half of a character beyond U+FFFF, a text too long is refused as such first.
Conversion FromTable(const char* utf8, const char16_t (&upper)[128],
                     char (&bytes)[kPassphraseFieldSize]) {
  const auto* text = reinterpret_cast<const unsigned char*>(utf8);
  size_t length = 0;
  bool usable = true;
  while (*text != 0) {
    char32_t code = NextCharacter(&text);
    int byte = code < 0x80 ? static_cast<int>(code) : -1;
    for (int i = 0; i < 128 && byte < 0; ++i) {
      if (upper[i] == code) byte = 0x80 + i;
    }
    usable = usable && byte >= 0;
    if (length < kMaxPassphraseLength) bytes[length] = static_cast<char>(byte);
    length += code > 0xFFFF ? 2 : 1;
  }
  Conversion result = length > kMaxPassphraseLength ? Conversion::TooLong
                      : usable                      ? Conversion::Ok
                                                    : Conversion::Unusable;
  if (result == Conversion::Ok) {
    bytes[length] = '\0';
  } else {
    Wipe(bytes, sizeof bytes);
  }
  return result;
}

}  // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool ErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void WriteError(const std::string& text) { WriteAll(STDERR_FILENO, text.data(), text.size()); }

// The terminal's own line editing stays; only the echo of the typed characters goes. A
// Ctrl+C there ends the read: ReadByte wakes on it.
LineResult AskHidden(const char* prompt, char (&text)[kTextSize]) {
  int terminal = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return LineResult::NoTerminal;
  termios saved;
  if (tcgetattr(terminal, &saved) != 0) {
    close(terminal);
    return LineResult::NoTerminal;
  }
  termios hidden = saved;
  hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  hidden.c_lflag |= ECHONL;
  // Hidden before the prompt shows, so that nothing typed after it is echoed; what was typed
  // before it is dropped.
  tcsetattr(terminal, TCSAFLUSH, &hidden);
  WriteAll(terminal, prompt, std::strlen(prompt));
  LineResult result = ReadLine(terminal, text);
  // The rest of a line too long is dropped, so that it never reaches the shell as a command.
  tcsetattr(terminal, result == LineResult::TooLong ? TCSAFLUSH : TCSADRAIN, &saved);
  if (result == LineResult::Interrupted) WriteAll(terminal, "\n", 1);
  close(terminal);
  return result;
}

int OpenForReading(const char* path) { return open(path, O_RDONLY | O_CLOEXEC); }

bool UseDescriptor(int fd) { return fcntl(fd, F_GETFD) != -1; }

int ReadByte(int fd, char* byte) {
  for (;;) {
    if (Interrupted()) return -1;
    pollfd ready[2] = {{fd, POLLIN, 0}, {wakeUp[0], POLLIN, 0}};
    int polled = poll(ready, wakeUp[0] >= 0 ? 2 : 1, -1);
    if (polled < 0 && errno != EINTR) return -1;
    if (polled <= 0 || ready[1].revents != 0) continue;
    ssize_t got = read(fd, byte, 1);
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

void CloseDescriptor(int fd) { close(fd); }

int SystemCodePage() { return 0; }

// For the double-byte code pages iconv alone is not enough: it takes some characters to the
// bytes of look-alikes (code page 932's "〜" to the bytes of "～"), which Windows gives only as a
// best fit. The bytes must give back the very text.
Conversion ToCodePage(const char* utf8, int codePage, char (&bytes)[kPassphraseFieldSize]) {
  char name[16];
  if (codePage == 65001) {
    std::snprintf(name, sizeof name, "UTF-8");
  } else {
    std::snprintf(name, sizeof name, "CP%d", codePage);
  }
  if (SingleByte(codePage)) {
    char16_t upper[128];
    return UpperHalf(name, codePage, upper) ? FromTable(utf8, upper, bytes)
                                            : Conversion::NoCodePage;
  }
  Conversion result = Conversion::Ok;
  char back[kTextSize];
  if (Convert(name, "UTF-8", utf8, bytes, sizeof bytes, &result) &&
      (!Convert("UTF-8", name, bytes, back, sizeof back, &result) ||
       std::strcmp(back, utf8) != 0)) {
    result = Conversion::Unusable;
  }
  Wipe(back, sizeof back);
  if (result != Conversion::Ok) Wipe(bytes, sizeof bytes);
  return result;
}

void CatchInterrupts() {
  if (pipe(wakeUp) == 0) {
    for (int end : wakeUp) {
      fcntl(end, F_SETFD, FD_CLOEXEC);
      fcntl(end, F_SETFL, O_NONBLOCK);
    }
  }
  struct sigaction action = {};
  action.sa_handler = Note;
  action.sa_flags = SA_RESTART;  // the engine's file calls go on; the prompt's poll wakes anyway
  sigemptyset(&action.sa_mask);
  for (int number : kStopSignals) sigaddset(&action.sa_mask, number);
  for (int number : kStopSignals) {
    struct sigaction before = {};
    sigaction(number, nullptr, &before);
    // A shell starts background work with SIGINT ignored, nohup with SIGHUP: it stays so.
    if (before.sa_handler != SIG_IGN) sigaction(number, &action, nullptr);
  }
}

// The handler runs on whichever thread the signal interrupts: the caller must have joined every
// other thread before it lets *cancel go.
void CancelOnInterrupt(std::atomic<bool>* flag) {
  cancel = flag;
  if (flag != nullptr && Interrupted()) *flag = true;
}

bool Interrupted() { return caught != 0; }

// A shell that sees its command end by the signal stops its script too, which an exit code would
// not do. SIGQUIT's own end writes a core, which would hold the passphrase and the content read:
// a limit of 0 stops one written to a file, and on Linux a process that may not be dumped stops
// one handed to a program (systemd-coredump, apport) as well.
void EndAsInterrupted() {
  int number = caught;
  rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
  signal(number, SIG_DFL);
  raise(number);
  _exit(128 + number);
}

}  // namespace karvel::cli
