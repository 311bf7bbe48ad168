#pragma once
// Runs a shell command from a test and collects its standard output.

#include <stdio.h>
#include <sys/wait.h>

#include <string>

namespace dravo::testing {

struct CommandResult {
  int exit_code = -1;
  std::string output;  // standard output only; stderr goes to the test log
};

inline CommandResult runCommand(std::string const& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) result.output.append(buffer, count);
  int status = pclose(pipe);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Whether `tool` is found on the PATH.
inline bool haveTool(std::string const& tool) {
  return runCommand("command -v '" + tool + "' >/dev/null 2>&1").exit_code == 0;
}

}  // namespace dravo::testing
