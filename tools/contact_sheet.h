#pragma once
// A contact sheet: `columns` x `rows` frames spread evenly over a video
// file, each shrunk into its cell and captioned with its timestamp in the
// library's 8x16 font, drawn into one I420 picture.
//
// Functions only; the command's thread.

#include <cstdint>
#include <memory>
#include <string>

#include "media_common/video/image_buffer.h"

namespace dravo::tool {

struct ContactSheetLayout {
  int columns = 4;
  int rows = 4;
  // Width of one cell; the height follows the video's aspect ratio.
  int cell_width = 160;
};

// The frame indices shown for a file of `frames` frames: evenly spread,
// first frame first; fewer when the file is shorter than the grid.
std::vector<int64_t> contactSheetIndices(int64_t frames, int64_t cells);

// Largest sheet drawn, in pixels.
constexpr int64_t kMaxContactSheetPixels = 64'000'000;

// ToolError (status 1) when the file cannot be read or holds no frame;
// status 2 when the layout asks for a sheet of more than
// kMaxContactSheetPixels, before anything of that size is allocated.
std::shared_ptr<media::ImageBuffer> makeContactSheet(std::string const& path,
                                                     ContactSheetLayout const& layout);

}  // namespace dravo::tool
