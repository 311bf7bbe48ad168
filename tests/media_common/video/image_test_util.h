#pragma once
// Helpers for the image tests: synthetic pictures, a PSNR measure and JPEG
// data.

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media::image_testing {

using Bytes = std::vector<unsigned char>;

// Fills every plane sample with `value(plane, x, y)`.
inline void fillPlanes(ImageBuffer& image, const std::function<int(int, int, int)>& value) {
  for (int p = 0; p < static_cast<int>(image.planes().size()); ++p) {
    ImageBuffer::Plane const& plane = image.planes()[p];
    for (int y = 0; y < plane.height_; ++y)
      for (int x = 0; x < plane.width_; ++x)
        *image.getPixelAddress(x, y, p) = static_cast<unsigned char>(value(p, x, y));
  }
}

// The layout of a `width` x `height` image in `format`, without pixels.
inline ImageBuffer::FormatType formatOf(int width, int height, ImageBuffer::PixelFormat format,
                                        float pixel_aspect = 1.0f) {
  ImageBuffer::FormatType f = ImageBuffer(width, height, format, nullptr, nullptr, 0).format();
  f.pixel_aspect_ = pixel_aspect;
  return f;
}

// A smooth, colourful I420 picture (limited range), so colour conversions
// and scaling can be checked against it.
inline std::shared_ptr<ImageBuffer> makeTestI420(
    int width, int height, ImageBuffer::PixelFormat format = ImageBuffer::IMAGE_I420) {
  auto image = std::make_shared<ImageBuffer>(width, height, format);
  fillPlanes(*image, [&](int p, int x, int y) {
    if (p == 0) return 40 + (x * 150 / std::max(1, width)) + (y * 30 / std::max(1, height));
    if (p == 1) return 100 + (x * 50 / std::max(1, width / 2));
    return 150 - (y * 50 / std::max(1, height / 2));
  });
  image->updateMargins();
  image->setPriority(7);
  return image;
}

// Peak signal-to-noise ratio of one plane of two images of equal plane size.
inline double planePsnr(const ImageBuffer& a, const ImageBuffer& b, int plane) {
  ImageBuffer::Plane const& pa = a.planes()[plane];
  double sum = 0;
  for (int y = 0; y < pa.height_; ++y)
    for (int x = 0; x < pa.width_; ++x) {
      double const d = *a.getPixelAddress(x, y, plane) - *b.getPixelAddress(x, y, plane);
      sum += d * d;
    }
  double const mse = sum / (static_cast<double>(pa.width_) * pa.height_);
  return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A JPEG of makeTestI420's picture, as the converter encodes it.
inline Bytes makeJpeg(int width, int height) {
  auto jpeg =
      ImageBufferConverter::easyConvert(ImageBuffer::IMAGE_JPEG, makeTestI420(width, height));
  return jpeg ? Bytes(jpeg->data(), jpeg->data() + jpeg->size()) : Bytes();
}

// The same JPEG without its DHT segments, as Motion-JPEG frames come.
inline Bytes withoutHuffmanTables(const Bytes& jpeg) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  size_t pos = 2;
  while (pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xDA) {
    size_t const length = 2 + (size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]);
    if (jpeg[pos + 1] != 0xC4)
      out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + pos + length);
    pos += length;
  }
  out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
  return out;
}

// An image over a copy of `bytes` with the size read from them.
inline std::shared_ptr<ImageBuffer> wrapEncoded(const Bytes& bytes, ImageBuffer::PixelFormat format,
                                                int width = -1, int height = -1) {
  auto copy = std::make_shared<Bytes>(bytes);
  return std::make_shared<ImageBuffer>(width, height, format, copy->data(), copy,
                                       static_cast<int>(copy->size()));
}

}  // namespace dravo::media::image_testing
