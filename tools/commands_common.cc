#include <regex>

#include "tools/commands.h"
#include "tools/tool_error.h"

namespace dravo::tool {

void parseSize(std::string const& text, int* width, int* height) {
  static std::regex const pattern("([0-9]{1,5})x([0-9]{1,5})");
  std::smatch match;
  if (!std::regex_match(text, match, pattern))
    throw usageError("expected WxH, got \"" + text + "\"");
  int const w = std::stoi(match[1].str());
  int const h = std::stoi(match[2].str());
  if (w <= 0 || h <= 0) throw usageError("sizes must be positive: \"" + text + "\"");
  *width = w;
  *height = h;
}

}  // namespace dravo::tool
