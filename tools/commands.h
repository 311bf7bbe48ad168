#pragma once
// The subcommands of media-tool. Each `add...Command` declares its options
// on the CLI11 app and returns the function that runs it once parsed; the
// function returns the exit status, throws ToolError for failures.
//
// Called on the main thread only.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <string>

namespace dravo::tool {

// Options shared by every command.
struct GlobalOptions {
  bool quiet = false;
  int verbosity = 0;
};

using CommandRunner = std::function<int()>;

CommandRunner addRecordCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addConvertCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addSnapshotCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addViewCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addInfoCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addThumbsCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addScreensCommand(CLI::App& app, GlobalOptions const& global);
CommandRunner addDevicesCommand(CLI::App& app, GlobalOptions const& global);

// "WxH" with both parts positive; a usage error otherwise.
void parseSize(std::string const& text, int* width, int* height);

// Option checks whose messages state the allowed range in words ("must be
// greater than 0, got 0"), not as the limits of a number type.
CLI::Validator greaterThanZero();
CLI::Validator countFrom(int64_t minimum);

}  // namespace dravo::tool
