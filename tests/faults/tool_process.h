// transform_tool run in a process of its own: waited for, or killed halfway.
#pragma once

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/types.h>
#endif

namespace karvel {

// The tool's arguments after its own name: encode|decode, target, passphrase, output.
using ToolArguments = std::vector<std::string>;

class ToolProcess {
 public:
  // Starts the tool; asNobody runs it as user and group 65534 with no other groups (POSIX only).
  explicit ToolProcess(const ToolArguments& arguments, bool asNobody = false);
  ~ToolProcess();  // kills the tool if it still runs
  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  bool Started() const;
  bool Running();
  // Waits for the end; the JobStatus number the tool printed, or -1 when it printed none.
  int Status();
  // Ends the tool at once, as a power cut or the task manager would (SIGKILL, TerminateProcess).
  void Kill();

 private:
  std::string output_;
  bool ended_ = false;
#ifdef _WIN32
  PROCESS_INFORMATION process_ = {};
  HANDLE output_pipe_ = nullptr;
#else
  pid_t pid_ = -1;
  int output_pipe_ = -1;
#endif
};

// Runs the tool to its end and returns the status it printed.
int RunTool(const ToolArguments& arguments, bool asNobody = false);

}  // namespace karvel
