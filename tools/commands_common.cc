#include <charconv>
#include <cmath>
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

CLI::Validator greaterThanZero() {
  return CLI::Validator(
      [](std::string& input) -> std::string {
        char* end = nullptr;
        double const value = std::strtod(input.c_str(), &end);
        if (end == input.c_str() || *end != '\0' || !std::isfinite(value))
          return "expected a number, got \"" + input + "\"";
        return value > 0 ? std::string() : "must be greater than 0, got " + input;
      },
      "NUMBER > 0");
}

CLI::Validator countFrom(int64_t minimum) {
  return CLI::Validator(
      [minimum](std::string& input) -> std::string {
        int64_t value = 0;
        auto const [end, error] = std::from_chars(input.data(), input.data() + input.size(), value);
        if (error != std::errc() || end != input.data() + input.size())
          return "expected a whole number, got \"" + input + "\"";
        return value >= minimum ? std::string()
                                : "must be at least " + std::to_string(minimum) + ", got " + input;
      },
      "INTEGER >= " + std::to_string(minimum));
}

}  // namespace dravo::tool
