#include "tests/faults/tool_process.h"

#include <chrono>
#include <cstdlib>

namespace karvel {

namespace {

// The fault tests' own limit under ctest: a run of the tool is never the first to be cut short.
constexpr auto kPatience = std::chrono::seconds(100);

ChildStart ToolStart(const ToolArguments& arguments, bool asNobody) {
  ChildStart start;
  start.command = {KARVEL_TRANSFORM_TOOL};
  start.command.insert(start.command.end(), arguments.begin(), arguments.end());
  start.captureOut = true;
  start.asNobody = asNobody;
  return start;
}

}  // namespace

ToolProcess::ToolProcess(const ToolArguments& arguments, bool asNobody)
    : process_(ToolStart(arguments, asNobody)) {}

int ToolProcess::Status() {
  if (!Started()) return -1;
  process_.Wait(kPatience);
  const std::string& output = process_.Output();
  if (output.empty() || output[0] < '0' || output[0] > '9') return -1;
  return std::atoi(output.c_str());
}

int RunTool(const ToolArguments& arguments, bool asNobody) {
  ToolProcess tool(arguments, asNobody);
  return tool.Status();
}

}  // namespace karvel
