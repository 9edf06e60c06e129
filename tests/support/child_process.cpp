#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;
#endif

namespace karvel {

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& utf8) {
  const int size = static_cast<int>(utf8.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// As the C runtime splits a command line: a quote, and the backslashes before one, escaped.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t unit : argument) {
    if (unit == L'"') quoted.append(backslashes + 1, L'\\');
    backslashes = unit == L'\\' ? backslashes + 1 : 0;
    quoted += unit;
  }
  quoted.append(backslashes, L'\\');
  return quoted + L"\"";
}

SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};

// The test's own standard handle, as a copy the program inherits.
HANDLE Own(DWORD which) {
  HANDLE copy = nullptr;
  HANDLE own = GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
  DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                  DUPLICATE_SAME_ACCESS);
  return copy;
}

HANDLE Created(const std::string& path) {
  HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited,
                            CREATE_ALWAYS, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE) << path << ": error " << GetLastError();
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// A pipe whose end *kept stays with the test; the other end, returned, goes to the program.
HANDLE Pipe(HANDLE* kept, bool programReads) {
  HANDLE read = nullptr, write = nullptr;
  EXPECT_TRUE(CreatePipe(&read, &write, &inherited, 0)) << "error " << GetLastError();
  *kept = programReads ? write : read;
  SetHandleInformation(*kept, HANDLE_FLAG_INHERIT, 0);
  return programReads ? read : write;
}

// A reader that has gone ends the write early.
void WriteAndClose(HANDLE pipe, const std::string& bytes) {
  size_t done = 0;
  DWORD written = 0;
  while (done < bytes.size() &&
         WriteFile(pipe, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr)) {
    done += written;
  }
  CloseHandle(pipe);
}

void ReadAndClose(HANDLE pipe, std::string* bytes) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes->append(buffer, got);
  CloseHandle(pipe);
}

}  // namespace

ChildProcess::ChildProcess(const ChildStart& start) : name_(start.command.at(0)) {
  std::wstring commandLine;
  for (const std::string& word : start.command) {
    commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(Wide(word));
  }
  // A program given none of its standard handles inherits no handle at all, as a window does.
  const bool redirected =
      !start.inputs.empty() || start.captureOut || !start.out.empty() || !start.err.empty();
  HANDLE feed = nullptr, capture = nullptr;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (redirected) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    if (start.inputs.empty()) {
      startup.hStdInput = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherited, OPEN_EXISTING, 0, nullptr);
    } else {
      EXPECT_TRUE(start.inputs.size() == 1 && start.inputs[0].target == 0 &&
                  start.inputs[0].file.empty())
          << "only standard input, through a pipe";
      startup.hStdInput = Pipe(&feed, true);
    }
    startup.hStdOutput = start.captureOut    ? Pipe(&capture, false)
                         : start.out.empty() ? Own(STD_OUTPUT_HANDLE)
                                             : Created(start.out);
    startup.hStdError = start.err.empty()        ? Own(STD_ERROR_HANDLE)
                        : start.err == start.out ? startup.hStdOutput
                                                 : Created(start.err);
  }
  const std::wstring folder = Wide(start.folder);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, redirected,
                      start.noWindow ? CREATE_NO_WINDOW : 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process_)) {
    ADD_FAILURE() << name_ << " does not start: error " << GetLastError();
    process_ = {};
  }
  const HANDLE err = startup.hStdError == startup.hStdOutput ? nullptr : startup.hStdError;
  for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, err}) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  if (feed != nullptr) feeder_ = std::thread(WriteAndClose, feed, start.inputs[0].bytes);
  if (capture != nullptr) reader_ = std::thread(ReadAndClose, capture, &output_);
}

ChildProcess::~ChildProcess() {
  Kill();
  if (Started()) {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
}

bool ChildProcess::Started() const { return process_.hProcess != nullptr; }

ChildId ChildProcess::Id() const { return process_.dwProcessId; }

bool ChildProcess::Running() {
  return Started() && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

ChildEnd ChildProcess::Wait(std::chrono::milliseconds limit) {
  if (Started() && !ended_) {
    if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(limit.count())) == WAIT_TIMEOUT) {
      ADD_FAILURE() << name_ << " still runs after " << limit.count() / 1000 << " s: killed";
      Kill();
      end_.timedOut = true;
    } else {
      DWORD code = 0;
      GetExitCodeProcess(process_.hProcess, &code);
      end_.exited = true;
      end_.exitCode = code;
      ended_ = true;
    }
  }
  Collect();
  return end_;
}

void ChildProcess::Kill() {
  if (Running()) {
    TerminateProcess(process_.hProcess, 137);
    WaitForSingleObject(process_.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    end_.exitCode = code;
    ended_ = true;
  }
  Collect();
}

#else

namespace {

// A reader that has gone ends the write early, without the signal that would end the test.
void WriteAndClose(int fd, const std::string& bytes) {
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) break;
    done += static_cast<size_t>(written);
  }
  close(fd);
}

void ReadAndClose(int fd, std::string* bytes) {
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fd, buffer, sizeof buffer)) > 0)
    bytes->append(buffer, static_cast<size_t>(got));
  close(fd);
}

constexpr int kCreated = O_WRONLY | O_CREAT | O_TRUNC;

// A pipe's write end and what goes through it.
struct Feeding {
  int pipe;
  std::string bytes;
};

}  // namespace

ChildProcess::ChildProcess(const ChildStart& start) : name_(start.command.at(0)) {
  std::vector<std::string> command;
  if (start.asNobody) command = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  command.insert(command.end(), start.command.begin(), start.command.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!start.folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, start.folder.c_str());
  std::vector<int> programEnds;  // closed here once it has them
  std::vector<Feeding> feeds;    // once it runs
  bool input = false;
  for (const ChildInput& in : start.inputs) {
    input = input || in.target == 0;
    if (!in.file.empty()) {
      posix_spawn_file_actions_addopen(&actions, in.target, in.file.c_str(), O_RDONLY, 0);
      continue;
    }
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0) << std::strerror(errno);
    posix_spawn_file_actions_adddup2(&actions, ends[0], in.target);
    programEnds.push_back(ends[0]);
    feeds.push_back({ends[1], in.bytes});
  }
  // Opened in the new session, the terminal becomes its controlling terminal.
  if (!start.terminal.empty()) {
    posix_spawn_file_actions_addopen(&actions, 0, start.terminal.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, 0, 1);
    posix_spawn_file_actions_adddup2(&actions, 0, 2);
  } else if (!input) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  int capture[2] = {-1, -1};
  if (start.captureOut) {
    EXPECT_EQ(pipe2(capture, O_CLOEXEC), 0) << std::strerror(errno);
    posix_spawn_file_actions_adddup2(&actions, capture[1], 1);
    programEnds.push_back(capture[1]);
  } else if (!start.out.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, start.out.c_str(), kCreated, 0600);
  }
  if (!start.err.empty() && start.err == start.out) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (!start.err.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, start.err.c_str(), kCreated, 0600);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (start.newSession || !start.terminal.empty())
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  const int failed = posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ);
  if (failed != 0) {
    ADD_FAILURE() << name_ << " does not start: " << std::strerror(failed);
    pid_ = -1;
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  for (int end : programEnds) close(end);
  feeder_ = std::thread([feeds] {
    for (const Feeding& feed : feeds) WriteAndClose(feed.pipe, feed.bytes);
  });
  if (capture[0] >= 0) reader_ = std::thread(ReadAndClose, capture[0], &output_);
}

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::Started() const { return pid_ > 0; }

ChildId ChildProcess::Id() const { return pid_; }

bool ChildProcess::Running() {
  if (!Started() || ended_) return false;
  int status = 0;
  const pid_t waited = waitpid(pid_, &status, WNOHANG);
  if (waited == 0 || (waited == pid_ && !WIFEXITED(status) && !WIFSIGNALED(status))) return true;
  ended_ = true;
  if (waited == pid_) {
    end_.exited = WIFEXITED(status);
    end_.exitCode = end_.exited ? static_cast<unsigned>(WEXITSTATUS(status)) : 0;
    end_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    end_.core = WIFSIGNALED(status) && WCOREDUMP(status);
  }
  return false;
}

ChildEnd ChildProcess::Wait(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Running()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << name_ << " still runs after " << limit.count() / 1000 << " s: killed";
      Kill();
      end_.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Collect();
  return end_;
}

void ChildProcess::Kill() {
  // A reaped id may already name another process.
  if (Running()) {
    kill(pid_, SIGKILL);
    while (Running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  Collect();
}

#endif

void ChildProcess::Collect() {
  if (feeder_.joinable()) feeder_.join();
  if (reader_.joinable()) reader_.join();
}

}  // namespace karvel
