#include "fuzz/fuzz_input_file.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "common/logging.h"

namespace dravo::fuzz {

std::string writeInputFile(const uint8_t* data, size_t size, std::string const& extension) {
  static std::map<std::string, std::string> names;
  std::string& name = names[extension];
  if (name.empty()) {
    name = (std::filesystem::temp_directory_path() /
            ("media_fuzz_" + std::to_string(getpid()) + extension))
               .string();
  }
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return name;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return name;
}

void quietLogging() {
  static bool done = [] {
    logging::setDefaultLogLevel(0);
    return true;
  }();
  (void)done;
}

}  // namespace dravo::fuzz
