// screens and devices: what can be captured.

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "common/file.h"
#include "common/property_node.h"
#include "media_common/device_list_manager.h"
#include "media_common/video/screen_capture_backend.h"
#include "media_common/video/screenshot_x11.h"
#include "media_common/video/v4l2_device_probe.h"
#include "media_common/video/x11_screen_source.h"
#include "tools/commands.h"
#include "tools/tool_error.h"

namespace dravo::tool {

namespace {

// Like mkdir -p.
bool makeDirectories(std::string const& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string const part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

}  // namespace

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
  return [options, &global]() {
    // On Wayland the desktop's portal asks the user; its ids stand for that.
    bool const portal = media::getScreenCaptureBackend() == media::ScreenCaptureBackend::PORTAL;
    if (!portal && !media::screenshotSupported())
      throw ToolError(EXIT_STATUS_FAILURE, "screens: cannot open the X display (is DISPLAY set?)");
    std::vector<media::DisplayInfo> displays;
    std::vector<media::WindowInfo> windows;
    media::ScreenVideoSource::getDisplays(&displays);
    media::ScreenVideoSource::getWindows(&windows);
    if (portal) {
      for (auto& display : displays) display.handle_ = "portal";
      for (auto& window : windows) window.handle_ = "portal";
    }
    // The library leaves out displays whose test picture is black, as an
    // empty desktop's is; the first display can always be captured.
    if (!portal && displays.empty()) displays.push_back({"0"});
    nlohmann::ordered_json json = {{"displays", nlohmann::ordered_json::array()},
                                   {"windows", nlohmann::ordered_json::array()}};
    for (auto const& display : displays) json["displays"].push_back({{"id", display.handle_}});
    for (auto const& window : windows)
      json["windows"].push_back({{"id", window.handle_}, {"title", window.title_}});
    if (options->json) {
      std::printf("%s\n", json.dump(2).c_str());
      return 0;
    }
    if (portal && !global.quiet)
      std::printf("Wayland session: the desktop asks which screen or window to share\n");
    for (auto const& display : displays) std::printf("screen:%s\n", display.handle_.c_str());
    for (auto const& window : windows)
      std::printf("window:%s\t%s\n", window.handle_.c_str(), window.title_.c_str());
    return 0;
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
      "Use the ids as device:ID sources. The blacklist lives in the configuration folder\n"
      "($DRAVO_CONFIG_PATH, else $XDG_CONFIG_HOME/media_common or ~/.config/media_common).\n"
      "\nExamples:\n  media-tool devices\n  media-tool devices --json\n"
      "  media-tool devices --blacklist-add usb-0000:00:14.0-1\n");
  command->add_flag("--json", options->json, "Print one JSON object");
  auto* add = command->add_option("--blacklist-add", options->blacklist_add,
                                  "Never use the device with this id");
  auto* remove = command->add_option("--blacklist-remove", options->blacklist_remove,
                                     "Use the device with this id again");
  add->excludes(remove);
  return [options, &global]() {
    std::string const config = getConfigPath();
    bool const changing = !options->blacklist_add.empty() || !options->blacklist_remove.empty();
    if (changing && !makeDirectories(config)) throw fileError(config, std::strerror(errno));
    media::DeviceListManager manager("video", PropertyNode::create("devices"));
    if (!options->blacklist_add.empty()) manager.addToBlacklist(options->blacklist_add);
    if (!options->blacklist_remove.empty()) manager.removeFromBlacklist(options->blacklist_remove);
    auto const list = media::probeV4L2Devices(*media::getV4L2System());
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (auto const& [id, name] : *list)
      devices.push_back({{"id", id}, {"name", name}, {"blacklisted", manager.isBlacklisted(id)}});
    if (options->json) {
      std::printf("%s\n", nlohmann::ordered_json({{"devices", devices}}).dump(2).c_str());
    } else {
      if (devices.empty() && !global.quiet) std::printf("no capture devices\n");
      for (auto const& device : devices)
        std::printf("%s\t%s%s\n", device["id"].get<std::string>().c_str(),
                    device["name"].get<std::string>().c_str(),
                    device["blacklisted"].get<bool>() ? "\t(blacklisted)" : "");
    }
    return 0;
  };
}

}  // namespace dravo::tool
