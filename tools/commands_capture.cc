// screens and devices: what can be captured.

#include "tools/commands.h"
#include "tools/tool_error.h"

namespace dravo::tool {

CommandRunner addScreensCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    bool json = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("screens", "List displays and windows with their ids");
  command->footer(
      "Use the ids as screen:ID and window:ID sources.\n\nExamples:\n"
      "  media-tool screens\n  media-tool screens --json\n");
  command->add_flag("--json", options->json, "Print one JSON object");
  return [options, &global]() -> int {
    (void)global;
    throw ToolError(EXIT_STATUS_FAILURE, "screens: screen capture is not available in this build");
  };
}

CommandRunner addDevicesCommand(CLI::App& app, GlobalOptions const& global) {
  struct Options {
    bool json = false;
    std::string blacklist_add;
    std::string blacklist_remove;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand("devices", "List capture devices");
  command->footer(
      "Use the names as device:NAME sources.\n\nExamples:\n  media-tool devices\n"
      "  media-tool devices --blacklist-add /dev/video2\n");
  command->add_flag("--json", options->json, "Print one JSON object");
  command->add_option("--blacklist-add", options->blacklist_add, "Never use this device");
  command->add_option("--blacklist-remove", options->blacklist_remove, "Use this device again");
  return [options, &global]() -> int {
    (void)global;
    throw ToolError(EXIT_STATUS_FAILURE,
                    "devices: capture devices are not available in this build");
  };
}

}  // namespace dravo::tool
