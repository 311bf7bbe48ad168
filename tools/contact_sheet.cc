#include "tools/contact_sheet.h"

#include <algorithm>
#include <vector>

#include "common/string_util.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_buffer_util.h"
#include "tools/endpoints.h"
#include "tools/tool_error.h"

namespace dravo::tool {

namespace {

constexpr int kMargin = 4;

int64_t countFrames(std::string const& path) {
  auto reader = openVideoFile(path);
  int64_t frames = 0;
  Duration duration;
  while (reader->readFrame(&duration)) ++frames;
  return frames;
}

}  // namespace

std::vector<int64_t> contactSheetIndices(int64_t frames, int64_t cells) {
  std::vector<int64_t> indices;
  if (frames <= 0 || cells <= 0) return indices;
  int64_t const shown = std::min<int64_t>(frames, cells);
  for (int64_t i = 0; i < shown; ++i) indices.push_back(i * frames / shown);
  return indices;
}

std::shared_ptr<media::ImageBuffer> makeContactSheet(std::string const& path,
                                                     ContactSheetLayout const& layout) {
  int64_t const frames = countFrames(path);
  std::vector<int64_t> const indices =
      contactSheetIndices(frames, int64_t{layout.columns} * layout.rows);
  if (indices.empty()) throw fileError(path, "holds no frame");

  auto reader = openVideoFile(path);
  std::shared_ptr<media::ImageBuffer> sheet;
  int cell_width = layout.cell_width & ~7;
  int cell_height = 0;
  size_t next = 0;
  Time stamp;
  Duration duration;
  for (int64_t index = 0; next < indices.size(); ++index) {
    std::shared_ptr<media::ImageBuffer> frame = reader->readFrame(&duration);
    if (!frame) break;
    if (index != indices[next]) {
      stamp = stamp + duration;
      continue;
    }
    if (!sheet) {
      cell_width = std::min(cell_width, frame->width() & ~1);
      cell_height = std::max(2, (frame->height() * cell_width / std::max(1, frame->width())) & ~1);
      int64_t const width = kMargin + int64_t{layout.columns} * (cell_width + kMargin);
      int64_t const height = kMargin + int64_t{layout.rows} * (cell_height + kMargin);
      if (width * height > kMaxContactSheetPixels)
        throw usageError(stringPrintf(
            "a %dx%d grid of %d-pixel pictures makes a %lldx%lld sheet; the limit is %lld "
            "megapixels",
            layout.columns, layout.rows, cell_width, static_cast<long long>(width),
            static_cast<long long>(height),
            static_cast<long long>(kMaxContactSheetPixels / 1'000'000)));
      sheet = std::make_shared<media::ImageBuffer>(
          static_cast<int>(width), static_cast<int>(height), media::ImageBuffer::IMAGE_I420);
      unsigned char grey[3] = {40, 128, 128};
      media::ImageBufferUtil::filledRectangle(sheet.get(), 0, 0, sheet->width(), sheet->height(),
                                              grey);
    }
    media::ImageBuffer::FormatType target;
    target.width_ = cell_width;
    target.height_ = cell_height;
    target.pixel_format_ = media::ImageBuffer::IMAGE_I420;
    media::ImageBuffer::setupDefaultPlanes(target);
    auto const scaled = media::ImageBufferConverter::easyConvert(target, frame);
    int const column = static_cast<int>(next) % layout.columns;
    int const row = static_cast<int>(next) / layout.columns;
    int const x = kMargin + column * (cell_width + kMargin);
    int const y = kMargin + row * (cell_height + kMargin);
    if (scaled)
      media::ImageBufferUtil::drawImage(sheet.get(), x, y, *scaled, 0, 0, scaled->width(),
                                        scaled->height());
    std::string const caption = stringPrintf("%.2f s", stamp.toSec());
    media::ImageBufferUtil::writeString(sheet.get(), x, y + std::max(0, cell_height - 16), caption);
    stamp = stamp + duration;
    ++next;
  }
  if (!sheet) throw fileError(path, "holds no readable frame");
  return sheet;
}

}  // namespace dravo::tool
