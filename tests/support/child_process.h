// A program a test runs in a process of its own: what it reads, where its output goes, how
// long it may run, and how it ended. Texts are UTF-8.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace karvel {

// What one descriptor of the program reads: bytes fed through a pipe while it runs, or a file.
// Under Windows only standard input (0), and only through a pipe.
struct ChildInput {
  int target;
  std::string bytes;  // fed through a pipe, which is then closed
  std::string file;   // instead, when not empty: this file, opened for reading
};

// Windows: a program given none of inputs, out, err and captureOut inherits no handle at all.
struct ChildStart {
  std::vector<std::string> command;  // the program (a bare name is looked up in PATH), arguments
  std::string folder;                // where it runs; empty: where the test runs
  std::vector<ChildInput> inputs;    // standard input is the null device unless one is for it
  std::string out;                   // standard output's file; empty: the test's own
  std::string err;                   // standard error's file (out's: the same); empty: the test's
  bool captureOut = false;           // standard output kept for Output(), not out
  bool newSession = false;           // POSIX: a session of its own, without a terminal
  std::string terminal;              // POSIX: instead, this terminal's session, on all three
  bool asNobody = false;             // POSIX, as root: user and group 65534, no other groups
  bool noWindow = false;             // Windows: a console program without a console window
};

struct ChildEnd {
  bool exited = false;    // it ended by itself (not by a signal, nor at the limit), with exitCode
  unsigned exitCode = 0;  // the exit code, or what TerminateProcess gave
  int signal = 0;         // POSIX: the signal that ended it
  bool core = false;      // POSIX: it left a core dump
  bool timedOut = false;  // it still ran at the limit and was killed
};

#ifdef _WIN32
using ChildId = DWORD;
#else
using ChildId = pid_t;
#endif

class ChildProcess {
 public:
  // Starts the program; a start that fails is a test failure and leaves Started() false. Wine
  // gives no handle for a Linux program: it runs, Started() false, its end unseen.
  explicit ChildProcess(const ChildStart& start);
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const;
  ChildId Id() const;
#ifdef _WIN32
  HANDLE Handle() const { return process_.hProcess; }
#endif
  bool Running();
  // Waits at most limit for the end; a program still running then is killed, a test failure.
  ChildEnd Wait(std::chrono::milliseconds limit);
  // Ends the program at once (SIGKILL, TerminateProcess) and waits for it.
  void Kill();
  // Standard output as captured, whole once Wait or Kill has returned.
  const std::string& Output() const { return output_; }

 private:
  void Collect();  // joins the feeder and the reader once the program has ended

  std::string name_;  // the program, for failures
  ChildEnd end_;
  bool ended_ = false;
  std::string output_;
  std::thread feeder_;
  std::thread reader_;
#ifdef _WIN32
  PROCESS_INFORMATION process_ = {};
#else
  pid_t pid_ = -1;
#endif
};

}  // namespace karvel
