#include "media_common/video/jpeg_header.h"

#include <turbojpeg.h>

#include "common/string_util.h"

namespace dravo::media {

bool readJpegSize(const unsigned char* data, int size, int* width, int* height,
                  std::string* error) {
  tjhandle handle = tjInitDecompress();
  if (!handle) {
    *error = tjGetErrorStr();
    return false;
  }
  int w = 0;
  int h = 0;
  int subsampling = 0;
  // TurboJPEG only reads the buffer, despite its non-const parameter; it
  // refuses null data and sizes that are not positive itself.
  int const result =
      tjDecompressHeader2(handle, const_cast<unsigned char*>(data),
                          size > 0 ? static_cast<unsigned long>(size) : 0, &w, &h, &subsampling);
  if (result != 0) *error = tjGetErrorStr();
  tjDestroy(handle);
  if (result != 0) return false;
  if (w <= 0 || h <= 0 || w > kMaxJpegDimension || h > kMaxJpegDimension ||
      static_cast<long long>(w) * h > kMaxJpegPixelsPerByte * size) {
    *error = stringPrintf("implausible picture size %dx%d for %d bytes", w, h, size);
    return false;
  }
  *width = w;
  *height = h;
  return true;
}

}  // namespace dravo::media
