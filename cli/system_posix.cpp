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

// iconv alone is not enough: it takes some characters to the bytes of look-alikes
// (code page 932's "〜" to the bytes of "～"), which Windows gives only as a best fit. The
// bytes must give back the very text.
Conversion ToCodePage(const char* utf8, int codePage, char (&bytes)[kPassphraseFieldSize]) {
  char name[16];
  if (codePage == 65001) {
    std::snprintf(name, sizeof name, "UTF-8");
  } else {
    std::snprintf(name, sizeof name, "CP%d", codePage);
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
