#pragma once
// What `media-tool info` reports about a media file (AVI, Y4M, WAV): kind,
// pixel or sample format, size, rate, frame count, duration, metadata and,
// on request, every frame's timestamp and duration. Files are read with the
// library's own readers, so damaged files are refused the same way.
//
// Functions only; the command's thread.

#include <nlohmann/json.hpp>
#include <string>

namespace dravo::tool {

// ToolError (status 1) when the file cannot be read as its kind.
nlohmann::ordered_json describeMediaFile(std::string const& path, bool with_frames);

// The same facts as "key: value" lines, frames one per line.
std::string formatMediaInfo(nlohmann::ordered_json const& info);

}  // namespace dravo::tool
