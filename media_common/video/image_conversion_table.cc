#include "media_common/video/image_conversion_table.h"

namespace dravo::media::image_conversion {
namespace {

struct Row {
  ImageBuffer::PixelFormat from;
  ImageBuffer::PixelFormat to;
  ConversionFunction function;
};

using enum image_format::PixelFormat;

// Searched in order; the first match wins.
constexpr Row kTable[] = {
    {IMAGE_MJPEG, IMAGE_I420, from_MJPEG_to_I420},
    {IMAGE_MJPEG, IMAGE_ALIGNED_I420, from_MJPEG_to_I420},
    {IMAGE_MJPEG, IMAGE_CONSTRAINED_I420, from_MJPEG_to_I420},
    {IMAGE_JPEG, IMAGE_I420, from_JPEG_to_I420},
    {IMAGE_JPEG, IMAGE_ALIGNED_I420, from_JPEG_to_I420},
    {IMAGE_YUYV, IMAGE_I420, from_YUYV_to_I420},
    {IMAGE_YUYV, IMAGE_ALIGNED_I420, from_YUYV_to_I420},
    {IMAGE_YUYV, IMAGE_CONSTRAINED_I420, from_YUYV_to_I420},
    {IMAGE_I420, IMAGE_RGB24, from_I420_to_RGB24},
    {IMAGE_ALIGNED_I420, IMAGE_RGB24, from_I420_to_RGB24},
    {IMAGE_I420, IMAGE_BGRX32, from_I420_to_BGRX32},
    {IMAGE_ALIGNED_I420, IMAGE_BGRX32, from_I420_to_BGRX32},
    {IMAGE_I420, IMAGE_I420, from_I420_to_I420},
    {IMAGE_I420, IMAGE_ALIGNED_I420, from_I420_to_I420},
    {IMAGE_ALIGNED_I420, IMAGE_I420, from_I420_to_I420},
    {IMAGE_ALIGNED_I420, IMAGE_CONSTRAINED_I420, from_I420_to_I420},
    {IMAGE_I420, IMAGE_CONSTRAINED_I420, from_I420_to_I420},
    {IMAGE_CONSTRAINED_I420, IMAGE_I420, from_I420_to_I420},
    {IMAGE_CONSTRAINED_I420, IMAGE_ALIGNED_I420, from_I420_to_I420},
    {IMAGE_I420, IMAGE_JPEG, from_I420_to_JPEG},
    {IMAGE_ALIGNED_I420, IMAGE_JPEG, from_I420_to_JPEG},
    {IMAGE_BGR24, IMAGE_I420, from_BGR_to_I420},
    {IMAGE_BGR24, IMAGE_ALIGNED_I420, from_BGR_to_I420},
    {IMAGE_BGR24, IMAGE_CONSTRAINED_I420, from_BGR_to_I420},
    {IMAGE_BGRX32, IMAGE_I420, from_BGR_to_I420},
    {IMAGE_BGRX32, IMAGE_ALIGNED_I420, from_BGR_to_I420},
    {IMAGE_BGRX32, IMAGE_CONSTRAINED_I420, from_BGR_to_I420},
    {IMAGE_BGRA32, IMAGE_I420, from_BGR_to_I420},
    {IMAGE_BGRA32, IMAGE_ALIGNED_I420, from_BGR_to_I420},
    {IMAGE_BGRA32, IMAGE_CONSTRAINED_I420, from_BGR_to_I420},
    {IMAGE_BGR24, IMAGE_BGRX32, from_BGR888_to_BGRX8888},
    {IMAGE_MJPEG, IMAGE_JPEG, from_MJPEG_to_JPEG},
    {IMAGE_ANY, IMAGE_RGB24, from_any_to_RGB24},
};
static_assert(std::size(kTable) == 33);

}  // namespace

ConversionFunction findConversion(ImageBuffer::PixelFormat from, ImageBuffer::PixelFormat to) {
  for (Row const& row : kTable) {
    if ((row.from == from || row.from == IMAGE_ANY) && (row.to == to || row.to == IMAGE_ANY))
      return row.function;
  }
  return nullptr;
}

}  // namespace dravo::media::image_conversion
