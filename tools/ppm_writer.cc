#include "tools/ppm_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/string_util.h"
#include "media_common/video/image_buffer_converter.h"
#include "tools/tool_error.h"

namespace dravo::tool {

void writePpm(std::string const& path, std::shared_ptr<media::ImageBuffer const> const& image) {
  auto rgb = media::ImageBufferConverter::easyConvert(media::ImageBuffer::IMAGE_RGB24, image);
  if (!rgb) throw fileError(path, "the picture cannot be converted to RGB");
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw fileError(path, std::strerror(errno));
  std::string const header = stringPrintf("P6\n%d %d\n255\n", rgb->width(), rgb->height());
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  size_t const row_bytes = static_cast<size_t>(rgb->width()) * 3;
  for (int y = 0; ok && y < rgb->height(); ++y)
    ok = std::fwrite(rgb->getPixelAddress(0, y, 0), 1, row_bytes, file) == row_bytes;
  if (std::fclose(file) != 0) ok = false;
  if (!ok) throw fileError(path, "write failed");
}

}  // namespace dravo::tool
