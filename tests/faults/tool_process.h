// transform_tool run in a process of its own: waited for, or killed halfway.
#pragma once

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace karvel {

// The tool's arguments after its own name: encode|decode, target, passphrase, output.
using ToolArguments = std::vector<std::string>;

class ToolProcess {
 public:
  // Starts the tool; asNobody runs it as user and group 65534 with no other groups (POSIX only).
  explicit ToolProcess(const ToolArguments& arguments, bool asNobody = false);

  bool Started() const { return process_.Started(); }
  bool Running() { return process_.Running(); }
  // Waits for the end; the JobStatus number the tool printed, or -1 when it printed none.
  int Status();
  // Ends the tool at once, as a power cut or the task manager would (SIGKILL, TerminateProcess).
  void Kill() { process_.Kill(); }

 private:
  ChildProcess process_;  // killed with this if it still runs
};

// Runs the tool to its end and returns the status it printed.
int RunTool(const ToolArguments& arguments, bool asNobody = false);

}  // namespace karvel
