// media-tool: records, converts, inspects and shows video with the library's
// own pipelines. Exit status: 0 success, 1 run-time failure (one line naming
// the file and the reason), 2 usage error (with the usage line), 130 after
// Ctrl-C and 143 after SIGTERM (files being written are completed first).

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "common/logging.h"
#include "tools/commands.h"
#include "tools/tool_error.h"

namespace {

using dravo::tool::EXIT_STATUS_USAGE;

// The "Usage: ..." line of a command's help text.
std::string usageLine(CLI::App const& command) {
  std::string const help = command.help();
  std::string const marker = "Usage: ";
  size_t const start = help.find(marker);
  if (start == std::string::npos) return "Usage: media-tool --help";
  size_t const end = help.find('\n', start);
  std::string line = help.substr(start, end == std::string::npos ? std::string::npos : end - start);
  // A subcommand's help names only the subcommand.
  if (command.get_parent() && line.rfind(marker + "media-tool", 0) != 0)
    line.insert(marker.size(), "media-tool ");
  return line;
}

CLI::App const& lastCommand(CLI::App const& app) {
  auto const parsed = app.get_subcommands();
  return parsed.empty() ? app : *parsed.back();
}

int usageFailure(CLI::App const& app, std::string const& message) {
  std::fprintf(stderr, "media-tool: %s\n%s\n", message.c_str(),
               usageLine(lastCommand(app)).c_str());
  return EXIT_STATUS_USAGE;
}

// The tool reports failures itself, one line each; the library's own log
// lines appear from -v on: -v errors and warnings (3), -vv debugging traces
// (5), each further v two levels finer.
// The first argument that is not an option: where the command should be.
std::string firstWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') return argv[i];
  return {};
}

bool isCommand(CLI::App const& app, std::string const& word) {
  for (CLI::App const* command : app.get_subcommands({}))
    if (command->check_name(word)) return true;
  return false;
}

std::string commandNames(CLI::App const& app) {
  std::string names;
  for (CLI::App const* command : app.get_subcommands({}))
    names += (names.empty() ? "" : ", ") + command->get_name();
  return names;
}

void configureLogging(dravo::tool::GlobalOptions const& global) {
  int const level =
      global.quiet || global.verbosity == 0 ? 1 : std::min(9, 1 + 2 * global.verbosity);
  dravo::logging::setDefaultLogLevel(level);
  // DRAVO_LOG keeps the last word on single loggers.
  if (char const* config = std::getenv("DRAVO_LOG")) dravo::logging::configureLoggers(config);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace dravo::tool;
  CLI::App app("media-tool: record, convert, inspect and show video with media_common pipelines",
               "media-tool");
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("media-tool ") + MEDIA_TOOL_VERSION);
  GlobalOptions global;
  app.add_flag("-q,--quiet", global.quiet, "Print nothing but errors and requested output");
  app.add_flag("-v,--verbose", global.verbosity,
               "Show the library's warnings (-vv debugging traces)");
  app.footer(
      "Logging: DRAVO_LOG=logger:level,... (e.g. DRAVO_LOG=avi_file_writer:5).\n"
      "Run `media-tool COMMAND --help` for a command's options and examples.");

  std::map<CLI::App const*, CommandRunner> commands;
  auto add = [&](char const* name, CommandRunner runner) {
    commands[app.get_subcommand(name)] = std::move(runner);
  };
  add("record", addRecordCommand(app, global));
  add("convert", addConvertCommand(app, global));
  add("snapshot", addSnapshotCommand(app, global));
  add("view", addViewCommand(app, global));
  add("info", addInfoCommand(app, global));
  add("thumbs", addThumbsCommand(app, global));
  add("screens", addScreensCommand(app, global));
  add("devices", addDevicesCommand(app, global));

  try {
    app.parse(argc, argv);
  } catch (CLI::CallForHelp const& e) {
    return app.exit(e);
  } catch (CLI::CallForAllHelp const& e) {
    return app.exit(e);
  } catch (CLI::CallForVersion const& e) {
    return app.exit(e);
  } catch (CLI::ParseError const& e) {
    if (std::string const word = firstWord(argc, argv); !word.empty() && !isCommand(app, word))
      return usageFailure(app,
                          "unknown command \"" + word + "\" (commands: " + commandNames(app) + ")");
    return usageFailure(app, e.what());
  }

  configureLogging(global);
  CLI::App const& command = lastCommand(app);
  try {
    return commands.at(&command)();
  } catch (ToolError const& e) {
    if (e.status() == EXIT_STATUS_USAGE) return usageFailure(app, e.what());
    std::fprintf(stderr, "media-tool: %s\n", e.what());
    return e.status();
  } catch (std::exception const& e) {
    std::fprintf(stderr, "media-tool: %s\n", e.what());
    return EXIT_STATUS_FAILURE;
  }
}
