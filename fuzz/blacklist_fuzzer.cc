// The device blacklist file, loaded by a device list manager whose
// configuration folder is a private temporary one.

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/property_node.h"
#include "fuzz/fuzz_input_file.h"
#include "media_common/device_list_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > dravo::fuzz::kMaxInputSize) return -1;
  dravo::fuzz::quietLogging();
  static std::string const folder = [] {
    auto path =
        std::filesystem::temp_directory_path() / ("media_fuzz_config_" + std::to_string(getpid()));
    std::filesystem::create_directories(path);
    setenv("DRAVO_CONFIG_PATH", path.c_str(), 1);
    return path.string();
  }();
  std::string name = folder + "/fuzz.blacklist";
  if (FILE* f = fopen(name.c_str(), "wb")) {
    if (size) fwrite(data, 1, size, f);
    fclose(f);
  }
  static auto const node = dravo::PropertyNode::create("fuzz");
  dravo::media::DeviceListManager manager("fuzz", node->getNode("devices", true));
  auto list = std::make_shared<dravo::media::DeviceList>();
  list->appendDevice("", "nameless");
  list->appendDevice("a", "first");
  manager.updateList(list);
  return 0;
}
