#pragma once
// Writes one image as a binary PPM ("P6") picture, converting it to RGB24
// first. Functions only; any thread, on images nobody writes.

#include <memory>
#include <string>

#include "media_common/video/image_buffer.h"

namespace dravo::tool {

// ToolError (status 1) naming the file when it cannot be converted or written.
void writePpm(std::string const& path, std::shared_ptr<media::ImageBuffer const> const& image);

}  // namespace dravo::tool
