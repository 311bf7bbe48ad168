// JPEG and Motion-JPEG data: the header size check, then a full decode into
// I420 planes of the size the header gave.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_input_file.h"
#include "media_common/video/jpeg_header.h"
#include "qvideo/jpeg/mjpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > dravo::fuzz::kMaxInputSize) return -1;
  dravo::fuzz::quietLogging();
  int width = 0;
  int height = 0;
  std::string error;
  if (!dravo::media::readJpegSize(data, static_cast<int>(size), &width, &height, &error)) return 0;
  // Cap the planes so one input cannot ask for more than a few megabytes.
  if (static_cast<int64_t>(width) * height > 4096 * 4096 / 4) return 0;
  int chroma_width = (width + 1) / 2;
  int chroma_height = (height + 1) / 2;
  std::vector<uint8_t> y(static_cast<size_t>(width) * height);
  std::vector<uint8_t> u(static_cast<size_t>(chroma_width) * chroma_height);
  std::vector<uint8_t> v(u.size());
  bool motion_jpeg = size > 0 && (data[size - 1] & 1);
  dravo::jpeg::decompressMJPEG(data, size, width, height, motion_jpeg, y.data(), width, u.data(),
                               chroma_width, v.data(), chroma_width);
  return 0;
}
