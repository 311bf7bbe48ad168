#pragma once
// Fuzz input handed to readers that take a file name: the bytes go to one
// temporary file per process, rewritten for every input.

#include <cstddef>
#include <cstdint>
#include <string>

namespace dravo::fuzz {

// Largest input a target accepts; larger inputs are skipped so that one run
// never holds more than a few megabytes.
inline constexpr size_t kMaxInputSize = 1 << 20;

// Writes [data, data + size) to this process's temporary file (ending in
// `extension`, e.g. ".avi") and returns its name.
std::string writeInputFile(const uint8_t* data, size_t size, std::string const& extension);

// Silences the library's log output below level 1 so that fuzzing is not
// dominated by refusal messages.
void quietLogging();

}  // namespace dravo::fuzz
