#include "media_common/video/v4l2_frame.h"

#include <libyuv/convert.h>
#include <linux/videodev2.h>

#include <cstring>

#include "common/logging.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

namespace {

constexpr int kMaxDimension = 16384;

void copyPlane(uint8_t const* source, size_t source_stride, ImageBuffer& image, int plane) {
  ImageBuffer::Plane const& p = image.planes()[plane];
  for (int y = 0; y < p.height_; ++y)
    std::memcpy(image.getPixelAddress(0, y, plane), source + static_cast<size_t>(y) * source_stride,
                static_cast<size_t>(p.width_));
}

std::shared_ptr<ImageBuffer> fromYUYV(int width, int height, size_t stride, uint8_t const* data,
                                      size_t bytes) {
  size_t const row = static_cast<size_t>(width) * 2;
  if (stride < row) stride = row;
  if (bytes < stride * static_cast<size_t>(height - 1) + row) return nullptr;
  auto image = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_YUYV);
  if (!image->data()) return nullptr;
  for (int y = 0; y < height; ++y)
    std::memcpy(image->getPixelAddress(0, y, 0), data + static_cast<size_t>(y) * stride, row);
  return image;
}

std::shared_ptr<ImageBuffer> fromPlanar420(int width, int height, size_t stride,
                                           uint8_t const* data, size_t bytes, bool nv12) {
  if (stride < static_cast<size_t>(width)) stride = static_cast<size_t>(width);
  size_t const chroma_height = static_cast<size_t>((height + 1) / 2);
  size_t const chroma_width = static_cast<size_t>((width + 1) / 2);
  size_t const luma_bytes = stride * static_cast<size_t>(height);
  // NV12: one interleaved plane at the luma stride; YUV420: two at half.
  size_t const chroma_stride = nv12 ? stride : stride / 2;
  if (!nv12 && chroma_stride < chroma_width) return nullptr;
  size_t const chroma_plane_bytes = chroma_stride * chroma_height;
  size_t const needed = luma_bytes + (nv12 ? chroma_plane_bytes : 2 * chroma_plane_bytes);
  if (bytes < needed) return nullptr;
  auto image = std::make_shared<ImageBuffer>(width, height, ImageBuffer::IMAGE_I420);
  if (!image->data()) return nullptr;
  uint8_t const* chroma = data + luma_bytes;
  if (nv12) {
    ImageBuffer::Plane const& u = image->planes()[1];
    ImageBuffer::Plane const& v = image->planes()[2];
    ImageBuffer::Plane const& y = image->planes()[0];
    libyuv::NV12ToI420(data, static_cast<int>(stride), chroma, static_cast<int>(stride),
                       image->getPixelAddress(0, 0, 0), y.stride_, image->getPixelAddress(0, 0, 1),
                       u.stride_, image->getPixelAddress(0, 0, 2), v.stride_, width, height);
    return image;
  }
  copyPlane(data, stride, *image, 0);
  copyPlane(chroma, chroma_stride, *image, 1);
  copyPlane(chroma + chroma_plane_bytes, chroma_stride, *image, 2);
  return image;
}

std::shared_ptr<ImageBuffer> fromJpeg(int width, int height, ImageBuffer::PixelFormat format,
                                      uint8_t const* data, size_t bytes) {
  if (bytes == 0 || bytes > static_cast<size_t>(INT32_MAX)) return nullptr;
  auto copy = std::make_shared_for_overwrite<uint8_t[]>(bytes);
  std::memcpy(copy.get(), data, bytes);
  return std::make_shared<ImageBuffer>(width, height, format, copy.get(), copy,
                                       static_cast<int>(bytes));
}

}  // namespace

std::shared_ptr<ImageBuffer> imageFromV4L2Buffer(uint32_t fourcc, int width, int height,
                                                 uint32_t stride, uint8_t const* data,
                                                 size_t bytes) {
  if (!data || width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension)
    return nullptr;
  switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
      return fromYUYV(width, height, stride, data, bytes);
    case V4L2_PIX_FMT_YUV420:
      return fromPlanar420(width, height, stride, data, bytes, false);
    case V4L2_PIX_FMT_NV12:
      return fromPlanar420(width, height, stride, data, bytes, true);
    case V4L2_PIX_FMT_MJPEG:
      return fromJpeg(width, height, ImageBuffer::IMAGE_MJPEG, data, bytes);
    case V4L2_PIX_FMT_JPEG:
      return fromJpeg(width, height, ImageBuffer::IMAGE_JPEG, data, bytes);
    default:
      LOGF(3, "Frames of format %08x cannot be delivered", fourcc);
      return nullptr;
  }
}

}  // namespace dravo::media
