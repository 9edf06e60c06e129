#include "tests/faults/tool_process.h"

#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace karvel {

namespace {

int ParseStatus(const std::string& output) {
  if (output.empty() || output[0] < '0' || output[0] > '9') return -1;
  return std::atoi(output.c_str());
}

}  // namespace

#ifdef _WIN32

namespace {

// Quoted so that empty arguments and paths with spaces arrive whole.
std::string CommandLine(const ToolArguments& arguments) {
  std::string line = "\"" KARVEL_TRANSFORM_TOOL "\"";
  for (const std::string& argument : arguments) line += " \"" + argument + "\"";
  return line;
}

}  // namespace

ToolProcess::ToolProcess(const ToolArguments& arguments, bool /*asNobody*/) {
  SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
  HANDLE write_end = nullptr;
  if (!CreatePipe(&output_pipe_, &write_end, &inherited, 0)) return;
  SetHandleInformation(output_pipe_, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::string line = CommandLine(arguments);
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process_)) {
    process_ = {};
  }
  CloseHandle(write_end);
}

ToolProcess::~ToolProcess() {
  if (Running()) Kill();
  if (process_.hProcess != nullptr) {
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  if (output_pipe_ != nullptr) CloseHandle(output_pipe_);
}

bool ToolProcess::Started() const { return process_.hProcess != nullptr; }

bool ToolProcess::Running() {
  return Started() && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

int ToolProcess::Status() {
  if (!Started()) return -1;
  if (!ended_) {
    char buffer[64];
    DWORD got = 0;
    while (ReadFile(output_pipe_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      output_.append(buffer, got);
    }
    WaitForSingleObject(process_.hProcess, INFINITE);
    ended_ = true;
  }
  return ParseStatus(output_);
}

void ToolProcess::Kill() {
  TerminateProcess(process_.hProcess, 137);
  WaitForSingleObject(process_.hProcess, INFINITE);
  ended_ = true;
}

#else

ToolProcess::ToolProcess(const ToolArguments& arguments, bool asNobody) {
  std::vector<std::string> command;
  if (asNobody) command = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  command.push_back(KARVEL_TRANSFORM_TOOL);
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
  if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(ends[1]);
  output_pipe_ = ends[0];
}

ToolProcess::~ToolProcess() {
  if (Running()) Kill();
  if (output_pipe_ >= 0) close(output_pipe_);
}

bool ToolProcess::Started() const { return pid_ > 0; }

bool ToolProcess::Running() {
  if (!Started() || ended_) return false;
  int status = 0;
  pid_t result = waitpid(pid_, &status, WNOHANG);
  if (result == 0) return true;
  ended_ = true;
  return false;
}

int ToolProcess::Status() {
  if (!Started()) return -1;
  char buffer[64];
  ssize_t got = 0;
  while ((got = read(output_pipe_, buffer, sizeof buffer)) > 0) {
    output_.append(buffer, static_cast<size_t>(got));
  }
  if (!ended_) {
    int status = 0;
    waitpid(pid_, &status, 0);
    ended_ = true;
  }
  return ParseStatus(output_);
}

void ToolProcess::Kill() {
  if (!Running()) return;  // a reaped id may already name another process
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  ended_ = true;
}

#endif

int RunTool(const ToolArguments& arguments, bool asNobody) {
  ToolProcess tool(arguments, asNobody);
  return tool.Status();
}

}  // namespace karvel
