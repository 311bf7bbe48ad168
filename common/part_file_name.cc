#include "common/part_file_name.h"

#include <algorithm>
#include <cctype>

#include "common/assertion.h"
#include "common/string_util.h"

namespace dravo {

namespace {

bool equalsIgnoringCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

std::string partFileName(std::string const& name, std::string_view extension, int part) {
  DRAVO_ASSERT(part >= 0);
  if (part <= 0 || name.empty()) return name;
  std::string const suffix = stringPrintf("_part%d", part);
  size_t const slash = name.rfind('/');
  size_t const base = slash == std::string::npos ? 0 : slash + 1;
  if (!extension.empty()) {
    size_t found = name.find(extension, base);
    if (found == std::string::npos) {
      auto const it = std::search(name.begin() + static_cast<std::ptrdiff_t>(base), name.end(),
                                  extension.begin(), extension.end(), equalsIgnoringCase);
      if (it != name.end()) found = static_cast<size_t>(it - name.begin());
    }
    if (found != std::string::npos)
      return name.substr(0, found) + suffix + name.substr(found, extension.size());
  }
  return name + suffix;
}

}  // namespace dravo
