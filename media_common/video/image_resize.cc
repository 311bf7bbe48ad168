#include "media_common/video/image_resize.h"

#include <libyuv/scale.h>
#include <libyuv/scale_argb.h>
#include <libyuv/scale_rgb.h>

#include <algorithm>

#include "common/check.h"
#include "common/logging.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_resize_kernels.h"
#include "qvideo/qv_i420.h"
#include "qvideo/resampler_4taps.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media::image_conversion {
namespace {

using FormatType = ImageBuffer::FormatType;

constexpr int kAlignment = 16;

bool strongShrink(int source_width, int destination_width) {
  return static_cast<double>(source_width) >= 1.9 * static_cast<double>(destination_width);
}

void scalePlane(const ImageBuffer& source, int p, ImageBuffer& result) {
  ImageBuffer::Plane const& from = source.planes()[p];
  ImageBuffer::Plane const& to = result.planes()[p];
  if (to.width_ <= 0 || to.height_ <= 0 || from.width_ <= 0 || from.height_ <= 0) return;
  if (!strongShrink(from.width_, to.width_)) {
    if (isTwoThirds(from.width_, from.height_, to.width_, to.height_)) {
      shrinkTwoThirds(source.getPixelAddress(0, 0, p), from.stride_, from.width_, from.height_,
                      result.getPixelAddress(0, 0, p), to.stride_);
      return;
    }
    libyuv::ScalePlane(source.getPixelAddress(0, 0, p), from.stride_, from.width_, from.height_,
                       result.getPixelAddress(0, 0, p), to.stride_, to.width_, to.height_,
                       libyuv::kFilterBilinear);
  } else {
    downsample2x2Average(source.data(), from, result.data(), to);
  }
}

// Packed pixels must be scaled as pixels, not as bytes, or neighbouring
// channels would blend; libyuv scales 3- and 4-byte layouts whole.
bool scalePacked(const ImageBuffer& source, ImageBuffer& result) {
  ImageBuffer::Plane const& from = source.planes()[0];
  ImageBuffer::Plane const& to = result.planes()[0];
  if (to.width_ <= 0 || to.height_ <= 0) return true;
  libyuv::FilterMode const mode =
      strongShrink(from.width_, to.width_) ? libyuv::kFilterBox : libyuv::kFilterBilinear;
  switch (source.format().pixel_format_) {
    case ImageBuffer::IMAGE_RGB24:
    case ImageBuffer::IMAGE_BGR24:
      return libyuv::RGBScale(source.data() + from.offset_, from.stride_, from.width_, from.height_,
                              result.data() + to.offset_, to.stride_, to.width_, to.height_,
                              mode) == 0;
    case ImageBuffer::IMAGE_BGRX32:
    case ImageBuffer::IMAGE_BGRA32:
      return libyuv::ARGBScale(source.data() + from.offset_, from.stride_, from.width_,
                               from.height_, result.data() + to.offset_, to.stride_, to.width_,
                               to.height_, mode) == 0;
    default:
      LOGS(2) << "Can't resize images of format " << source.format().pixel_format_;
      return false;
  }
}

struct Crop {
  int width;
  int height;
};

// The part of the source with the target's aspect ratio, in source pixels.
Crop cropToAspect(int sw, int sh, float aspect, int tw, int th) {
  float const r = static_cast<float>(tw) / static_cast<float>(th);
  float cw = static_cast<float>(sw);
  float ch = static_cast<float>(sh);
  if (r <= static_cast<float>(sw) / static_cast<float>(sh) * aspect) {
    if (aspect >= 1.0f) {
      cw = static_cast<float>(sh) * r / aspect;
    } else {
      ch = static_cast<float>(sh) * aspect;
      cw = static_cast<float>(sh) * r;
    }
  } else if (aspect < 1.0f) {
    ch = static_cast<float>(sw) * aspect / r;
  } else {
    cw = static_cast<float>(sw) / aspect;
    ch = static_cast<float>(sw) / r;
  }
  return {std::clamp(static_cast<int>(cw), 1, sw), std::clamp(static_cast<int>(ch), 1, sh)};
}

std::shared_ptr<ImageBuffer> downsampleAligned(int tw, int th, const Crop& crop,
                                               const std::shared_ptr<ImageBuffer const>& source) {
  if (source->format().pixel_format_ != ImageBuffer::IMAGE_ALIGNED_I420) {
    DRAVO_CHECK(source->format().pixel_format_ == ImageBuffer::IMAGE_ALIGNED_I420);
    return nullptr;
  }
  qvideo::QvI420 cropped(crop.width, crop.height, kAlignment);
  ImageBufferConverter::copyAndCropImageBufferToQvI420(source, &cropped);
  if (crop.width == tw && crop.height == th) {
    std::shared_ptr<ImageBuffer> result;
    ImageBufferConverter::copyQvI420ToImageBuffer(cropped, &result);
    return result;
  }
  auto result = std::make_shared<ImageBuffer>(tw, th, ImageBuffer::IMAGE_ALIGNED_I420);
  std::shared_ptr<qvideo::QvI420> planes = result->getQvI420();
  for (int p = 0; p < 3; ++p)
    qvideo::Resampler4Taps::resampleImg(cropped.plane(p), planes->plane(p));
  return result;
}

}  // namespace

std::shared_ptr<ImageBuffer> downsampleImageBuffer(
    const FormatType& target_format, const std::shared_ptr<ImageBuffer const>& source) {
  DRAVO_ASSERT(source);
  if (!source) return nullptr;
  int const tw = std::min(target_format.width_, source->width());
  int const th = std::min(target_format.height_, source->height());
  float const aspect = source->format().pixel_aspect_;
  LOGS(5) << "Source format: " << source->format();
  LOGS(5) << "Target format: " << target_format;
  if (tw == source->width() && th == source->height() &&
      target_format.pixel_aspect_ == source->format().pixel_aspect_)
    return ImageBufferCache::sharePixels(*source);
  if (tw <= 0 || th <= 0 || source->width() <= 0 || source->height() <= 0) return nullptr;
  Crop const crop = cropToAspect(source->width(), source->height(), aspect, tw, th);

  DRAVO_ASSERT(target_format.pixel_format_ != ImageBuffer::IMAGE_JPEG);
  DRAVO_ASSERT(target_format.pixel_format_ != ImageBuffer::IMAGE_MJPEG);
  if (target_format.pixel_format_ == ImageBuffer::IMAGE_JPEG ||
      target_format.pixel_format_ == ImageBuffer::IMAGE_MJPEG)
    return nullptr;
  // The plane count of the pixel format, as a new image of it will have.
  FormatType const result_format = image_format::defaultFormat(tw, th, target_format.pixel_format_);
  DRAVO_ASSERT(source->planes().size() == target_format.planes_.size());
  if (source->planes().size() != target_format.planes_.size() ||
      source->planes().size() != result_format.planes_.size() || source->planes().empty())
    return nullptr;

  if (target_format.pixel_format_ == ImageBuffer::IMAGE_ALIGNED_I420)
    return downsampleAligned(tw, th, crop, source);

  auto result = std::make_shared<ImageBuffer>(tw, th, target_format.pixel_format_);
  if (source->planes().size() == 1) {
    if (!scalePacked(*source, *result)) return nullptr;
    return result;
  }
  for (int p = 0; p < static_cast<int>(source->planes().size()); ++p)
    scalePlane(*source, p, *result);
  return result;
}

void downsample2x2Average(const unsigned char* src, const ImageBuffer::Plane& src_plane,
                          unsigned char* dst, const ImageBuffer::Plane& dst_plane) {
  DRAVO_ASSERT(src);
  DRAVO_ASSERT(dst);
  DRAVO_ASSERT(src_plane.width_ >= dst_plane.width_ && src_plane.height_ >= dst_plane.height_);
  if (!src || !dst || src_plane.width_ < dst_plane.width_ ||
      src_plane.height_ < dst_plane.height_ || dst_plane.width_ <= 0 || dst_plane.height_ <= 0)
    return;
  int const sw = src_plane.width_;
  int const sh = src_plane.height_;
  const unsigned char* from = src + src_plane.offset_;
  unsigned char* to = dst + dst_plane.offset_;
  // An exact halving is libyuv's 2x2 box filter, with the same rounding.
  if (sw == 2 * dst_plane.width_ && sh == 2 * dst_plane.height_) {
    libyuv::ScalePlane(from, src_plane.stride_, sw, sh, to, dst_plane.stride_, dst_plane.width_,
                       dst_plane.height_, libyuv::kFilterBox);
    return;
  }
  float const sx = static_cast<float>(sw) / static_cast<float>(dst_plane.width_);
  float const sy = static_cast<float>(sh) / static_cast<float>(dst_plane.height_);
  int const last_column = std::max(0, sw - 2);
  int const next_column = sw >= 2 ? 1 : 0;
  for (int y = 0; y < dst_plane.height_; ++y) {
    int const r0 = std::min(sh - 1, static_cast<int>(static_cast<float>(y) * sy));
    int const r1 = std::min(sh - 1, r0 + 1);
    const unsigned char* row0 = from + static_cast<ptrdiff_t>(r0) * src_plane.stride_;
    const unsigned char* row1 = from + static_cast<ptrdiff_t>(r1) * src_plane.stride_;
    unsigned char* out = to + static_cast<ptrdiff_t>(y) * dst_plane.stride_;
    for (int x = 0; x < dst_plane.width_; ++x) {
      int const c = std::clamp(static_cast<int>(static_cast<float>(x) * sx), 0, last_column);
      int const sum = row0[c] + row0[c + next_column] + row1[c] + row1[c + next_column];
      out[x] = static_cast<unsigned char>((sum + 2) >> 2);
    }
  }
}

}  // namespace dravo::media::image_conversion
