#pragma once
// Exit statuses of media-tool and the error that carries one out of a
// command: a run-time failure (1) names the file and the reason in one line;
// a usage error (2) is reported with the usage line of the command.

#include <stdexcept>
#include <string>

namespace dravo::tool {

enum ExitStatus {
  EXIT_STATUS_OK = 0,
  EXIT_STATUS_FAILURE = 1,
  EXIT_STATUS_USAGE = 2,
  EXIT_STATUS_INTERRUPTED = 130,
};

class ToolError : public std::runtime_error {
 public:
  ToolError(ExitStatus status, std::string const& message)
      : std::runtime_error(message), status_(status) {}
  ExitStatus status() const { return status_; }

 private:
  ExitStatus status_;
};

// "FILE: reason", exit status 1.
inline ToolError fileError(std::string const& file, std::string const& reason) {
  return ToolError(EXIT_STATUS_FAILURE, file + ": " + reason);
}
inline ToolError usageError(std::string const& message) {
  return ToolError(EXIT_STATUS_USAGE, message);
}

}  // namespace dravo::tool
