#pragma once
// Small string helpers shared by the whole code base. All are pure functions,
// safe on any thread.
//
// SplitString, ParseUInt32 and GetShortSourceName keep the upper-case names
// that their long-standing callers use; newer helpers are lowerCamelCase.

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dravo {

std::string stringPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string vstringPrintf(const char* format, va_list args);

// ASCII lower case; other bytes are kept.
std::string toLower(std::string_view text);

// Options of SplitString.
enum SplitOptions : int {
  kSplitKeepEmpty = 0,  // "a,,b," gives "a", "", "b", ""
  kSplitSkipEmpty = 1,  // "a,,b," gives "a", "b"; an empty text gives nothing
};
// Splits `text` at every character found in `delimiters`.
std::vector<std::string> SplitString(std::string const& text, std::string const& delimiters,
                                     int options);

// Parses a whole decimal text into `out`; false on anything else (signs,
// blanks, overflow, empty text), leaving `out` untouched.
bool ParseUInt32(std::string_view text, uint32_t* out);

// UTF-16 (host order) to UTF-8; unpaired surrogates become U+FFFD.
std::string utf16To8(std::u16string_view text);

// The last two components of a source path ("media_common/debug_probe.cc"),
// used in user-visible messages instead of the build machine's full path.
std::string GetShortSourceName(const char* path);

}  // namespace dravo
