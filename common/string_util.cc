#include "common/string_util.h"

#include <cstdio>
#include <cstring>

namespace dravo {

std::string vstringPrintf(const char* format, va_list args) {
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int length = vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) return {};
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
  std::string result(length, '\0');
  vsnprintf(result.data(), result.size() + 1, format, args);
  return result;
}

std::string stringPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string result = vstringPrintf(format, args);
  va_end(args);
  return result;
}

std::string toLower(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

std::vector<std::string> SplitString(std::string const& text, std::string const& delimiters,
                                     int options) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (true) {
    size_t end = text.find_first_of(delimiters, start);
    std::string piece =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!(piece.empty() && (options & kSplitSkipEmpty))) pieces.push_back(std::move(piece));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return pieces;
}

bool ParseUInt32(std::string_view text, uint32_t* out) {
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) return false;
  }
  *out = static_cast<uint32_t>(value);
  return true;
}

namespace {
void appendUtf8(std::string& out, uint32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}
}  // namespace

std::string utf16To8(std::u16string_view text) {
  constexpr uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

std::string GetShortSourceName(const char* path) {
  std::string_view full(path);
  size_t last = full.rfind('/');
  if (last == std::string_view::npos || last == 0) return std::string(full);
  size_t previous = full.rfind('/', last - 1);
  return std::string(previous == std::string_view::npos ? full : full.substr(previous + 1));
}

}  // namespace dravo
