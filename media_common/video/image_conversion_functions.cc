#include "media_common/video/image_conversion_functions.h"

#include <libyuv/planar_functions.h>

#include "common/check.h"
#include "common/logging.h"
#include "qvideo/low_level.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media::image_conversion {
namespace {

using FormatType = ImageBuffer::FormatType;

bool sameSize(const FormatType& a, const FormatType& b) {
  return a.width_ == b.width_ && a.height_ == b.height_;
}

// The I420 targets may be the source size, or constrained I420 cut down
// from it (width rounded down to a multiple of 8, height not larger).
bool acceptsI420Size(const FormatType& source, const FormatType& target) {
  if (sameSize(source, target)) return true;
  return target.pixel_format_ == ImageBuffer::IMAGE_CONSTRAINED_I420 &&
         (source.width_ & ~7) == target.width_ && source.height_ >= target.height_;
}

// Allocates the result, refusing layouts that would address memory outside it.
std::shared_ptr<ImageBuffer> makeResult(const FormatType& target) {
  if (!planesFitAllocation(target)) {
    LOGS(2) << "Refusing target layout " << target;
    return nullptr;
  }
  return std::make_shared<ImageBuffer>(target);
}

const uint8_t* planeStart(const ImageBuffer& image, int plane) {
  return image.getPixelAddress(0, 0, plane);
}

}  // namespace

bool planesFitAllocation(const FormatType& format) {
  if (format.pixel_format_ == ImageBuffer::IMAGE_ALIGNED_I420)
    return format.width_ >= 0 && format.height_ >= 0 && format.planes_.size() == 3;
  for (ImageBuffer::Plane const& p : format.planes_) {
    if (p.width_ < 0 || p.height_ < 0 || p.offset_ < 0 || p.stride_ < 0) return false;
    if (p.height_ == 0 || p.width_ == 0) continue;
    int64_t const end = int64_t{p.offset_} + int64_t{p.stride_} * (p.height_ - 1) + p.width_;
    if (end > format.min_allocation_) return false;
  }
  return true;
}

std::shared_ptr<ImageBuffer> from_I420_to_I420(const FormatType& target, const ImagePtr& source) {
  if (source->planes().size() != 3 || target.planes_.size() != 3) return nullptr;
  if (!acceptsI420Size(source->format(), target)) return nullptr;
  std::shared_ptr<ImageBuffer> result = makeResult(target);
  if (!result) return nullptr;
  for (int p = 0; p < 3; ++p) {
    ImageBuffer::Plane const& from = source->planes()[p];
    ImageBuffer::Plane const& to = result->planes()[p];
    int const crop_h2 = (from.height_ - to.height_) / 2;
    int const crop_w2 = (from.width_ - to.width_) / 2;
    DRAVO_ASSERT(crop_h2 >= 0 && crop_w2 >= 0);
    if (crop_h2 < 0 || crop_w2 < 0) return nullptr;
    // One memcpy when both planes are unpadded, else row by row.
    libyuv::CopyPlane(source->getPixelAddress(crop_w2, crop_h2, p), from.stride_,
                      result->getPixelAddress(0, 0, p), to.stride_, to.width_, to.height_);
  }
  result->updateMargins();
  return result;
}

std::shared_ptr<ImageBuffer> from_BGR_to_I420(const FormatType& target, const ImagePtr& source) {
  if (source->planes().size() != 1 || target.planes_.size() != 3) return nullptr;
  if (!acceptsI420Size(source->format(), target)) return nullptr;
  std::shared_ptr<ImageBuffer> result = makeResult(target);
  if (!result) return nullptr;
  int const crop_w = source->width() - result->width();
  int const crop_h = source->height() - result->height();
  DRAVO_ASSERT(crop_h >= 0 && crop_w >= 0);
  if (crop_h < 0 || crop_w < 0) return nullptr;
  ImageBuffer::PixelFormat const format = source->format().pixel_format_;
  int const bytes_per_pixel = format == ImageBuffer::IMAGE_BGR24 ? 3 : 4;
  const uint8_t* from = source->getPixelAddress(crop_w / 2 * bytes_per_pixel, crop_h / 2, 0);
  int const stride = source->planes()[0].stride_;
  auto const& planes = result->planes();
  uint8_t* y = result->getPixelAddress(0, 0, 0);
  uint8_t* u = result->getPixelAddress(0, 0, 1);
  uint8_t* v = result->getPixelAddress(0, 0, 2);
  int const w = result->width();
  int const h = result->height();
  bool ok = false;
  if (format == ImageBuffer::IMAGE_BGR24) {
    ok = qvideo::LowLevel::convertFromBGR888toI420(w, h, from, stride, y, planes[0].stride_, u,
                                                   planes[1].stride_, v, planes[2].stride_);
  } else if (format == ImageBuffer::IMAGE_BGRX32) {
    ok = qvideo::LowLevel::convertFromBGRX8888toI420(w, h, from, stride, y, planes[0].stride_, u,
                                                     planes[1].stride_, v, planes[2].stride_);
  } else if (format == ImageBuffer::IMAGE_BGRA32) {
    ok = qvideo::LowLevel::convertFromBGRA8888toI420(w, h, from, stride, y, planes[0].stride_, u,
                                                     planes[1].stride_, v, planes[2].stride_);
  } else {
    DRAVO_ASSERT(false);
    return nullptr;
  }
  if (!ok) return nullptr;
  result->updateMargins();
  return result;
}

std::shared_ptr<ImageBuffer> from_BGR888_to_BGRX8888(const FormatType& target,
                                                     const ImagePtr& source) {
  if (source->planes().size() != 1 || target.planes_.size() != 1) return nullptr;
  if (!sameSize(source->format(), target)) return nullptr;
  LOGS(5) << "Source format: " << source->format();
  LOGS(5) << "Target format: " << target;
  std::shared_ptr<ImageBuffer> result = makeResult(target);
  if (!result) return nullptr;
  if (!qvideo::LowLevel::convertFromBGR888toBGRX8888(
          source->width(), source->height(), planeStart(*source, 0), source->planes()[0].stride_,
          result->getPixelAddress(0, 0, 0), result->planes()[0].stride_))
    return nullptr;
  return result;
}

namespace {

template <bool (*Convert)(int, int, const uint8_t*, int, const uint8_t*, int, const uint8_t*, int,
                          uint8_t*, int)>
std::shared_ptr<ImageBuffer> fromI420ToPacked(const FormatType& target, const ImagePtr& source) {
  if (source->planes().size() != 3 || target.planes_.size() != 1) return nullptr;
  if (!sameSize(source->format(), target)) return nullptr;
  std::shared_ptr<ImageBuffer> result = makeResult(target);
  if (!result) return nullptr;
  qvideo::LowLevel::initIfNeeded();
  auto const& planes = source->planes();
  if (!Convert(source->width(), source->height(), planeStart(*source, 0), planes[0].stride_,
               planeStart(*source, 1), planes[1].stride_, planeStart(*source, 2), planes[2].stride_,
               result->getPixelAddress(0, 0, 0), result->planes()[0].stride_))
    return nullptr;
  return result;
}

}  // namespace

std::shared_ptr<ImageBuffer> from_I420_to_RGB24(const FormatType& target, const ImagePtr& source) {
  return fromI420ToPacked<qvideo::LowLevel::convertFromI420toRGB888>(target, source);
}

std::shared_ptr<ImageBuffer> from_I420_to_BGRX32(const FormatType& target, const ImagePtr& source) {
  return fromI420ToPacked<qvideo::LowLevel::convertFromI420toBGRA8888>(target, source);
}

std::shared_ptr<ImageBuffer> from_YUYV_to_I420(const FormatType& target, const ImagePtr& source) {
  if (source->planes().size() != 1 || target.planes_.size() != 3) return nullptr;
  if (!sameSize(source->format(), target)) return nullptr;
  std::shared_ptr<ImageBuffer> result = makeResult(target);
  if (!result) return nullptr;
  auto const& planes = result->planes();
  if (!qvideo::LowLevel::convertFromYUYVtoI420(
          planeStart(*source, 0), source->width(), source->height(), source->planes()[0].stride_,
          result->getPixelAddress(0, 0, 0), planes[0].stride_, result->getPixelAddress(0, 0, 1),
          planes[1].stride_, result->getPixelAddress(0, 0, 2), planes[2].stride_))
    return nullptr;
  result->updateMargins();
  return result;
}

}  // namespace dravo::media::image_conversion
