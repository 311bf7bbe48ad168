#include "media_common/video/format_type.h"

#include <cstdint>
#include <memory>

#include "common/check.h"
#include "common/logging.h"
#include "qvideo/qv_i420.h"

DRAVO_LOGGER("video");

namespace dravo::media::image_format {
namespace {

// Sizes whose byte count does not fit the 32-bit offsets of a plane (or
// that are negative, as JPEG images are before their size is known) get no
// planes: nothing may be allocated or addressed for them.
bool layoutFits(FormatType& f, int64_t bytes_per_pixel_x2) {
  int64_t const w = f.width_;
  int64_t const h = f.height_;
  if (w >= 0 && h >= 0 && (w + 1) * (h + 1) * bytes_per_pixel_x2 / 2 <= INT32_MAX) return true;
  LOGS(2) << "Image size out of range: " << f.width_ << "x" << f.height_;
  f.planes_.clear();
  f.min_allocation_ = 0;
  return false;
}

// Planes Y, U, V one after another without gaps.
void setupPackedI420(FormatType& f) {
  if (!layoutFits(f, 3)) return;
  int32_t const w = f.width_;
  int32_t const h = f.height_;
  int32_t const cw = (w + 1) / 2;
  int32_t const ch = (h + 1) / 2;
  f.planes_ = {Plane(w, h, 0, w), Plane(cw, ch, w * h, cw), Plane(cw, ch, w * h + cw * ch, cw)};
  f.min_allocation_ = w * h + 2 * cw * ch;
}

// The layout a qvideo::QvI420 with alignment 16 gives; such images are
// always allocated as a QvI420, so no byte count is needed.
void setupAlignedI420(FormatType& f) {
  std::unique_ptr<qvideo::QvI420> img = qvideo::QvI420::createDummyImage(f.width_, f.height_, 16);
  DRAVO_CHECK(img);
  f.planes_.clear();
  f.min_allocation_ = 0;
  if (!img) return;
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& plane = img->plane(p);
    int32_t const offset = plane.data_ ? static_cast<int32_t>(plane.data_ - img->data()) : 0;
    int32_t const stride = p == 0 ? plane.stride_ : img->chromaStride();
    f.planes_.emplace_back(plane.width_, plane.height_, offset, stride);
  }
}

}  // namespace

bool FormatType::operator==(const FormatType& other) const {
  return width_ == other.width_ && height_ == other.height_ &&
         pixel_format_ == other.pixel_format_ && pixel_aspect_ == other.pixel_aspect_ &&
         planes_ == other.planes_;
}

bool FormatType::isSameOrMoreSpecificI420Format(const FormatType& other) const {
  return width_ == other.width_ && height_ == other.height_ &&
         pixel_aspect_ == other.pixel_aspect_ &&
         image_format::isSameOrMoreSpecificI420Format(other.pixel_format_, pixel_format_);
}

std::ostream& operator<<(std::ostream& out, const FormatType& f) {
  out << f.width_ << "x" << f.height_ << " " << f.pixel_format_ << " pix_aspect=" << f.pixel_aspect_
      << " min_allocation=" << f.min_allocation_ << " (";
  for (size_t i = 0; i < f.planes_.size(); ++i) {
    Plane const& p = f.planes_[i];
    out << (i == 0 ? "[" : ",[") << p.width_ << "x" << p.height_ << " ofs=" << p.offset_
        << " stride=" << p.stride_ << "]";
  }
  return out << ")";
}

void setupDefaultPlanes(FormatType& f) {
  int32_t const w = f.width_;
  int32_t const h = f.height_;
  switch (f.pixel_format_) {
    case IMAGE_RGB24:
    case IMAGE_BGR24:
      if (!layoutFits(f, 6)) return;
      f.planes_ = {Plane(w, h, 0, 3 * w)};
      f.min_allocation_ = 3 * w * h;
      return;
    case IMAGE_BGRX32:
    case IMAGE_BGRA32:
      if (!layoutFits(f, 8)) return;
      f.planes_ = {Plane(w, h, 0, 4 * w)};
      f.min_allocation_ = 4 * w * h;
      return;
    case IMAGE_YUYV:
      if (!layoutFits(f, 4)) return;
      f.planes_ = {Plane(w, h, 0, 2 * w)};
      f.min_allocation_ = 2 * w * h;
      return;
    case IMAGE_JPEG:
    case IMAGE_MJPEG:
    case IMAGE_PLATFORM_BUFFER:
    case IMAGE_QV1:
      f.planes_.clear();
      f.min_allocation_ = 1;
      return;
    case IMAGE_I420:
      setupPackedI420(f);
      return;
    case IMAGE_CONSTRAINED_I420: {
      unsigned cw = 0;
      unsigned ch = 0;
      constrainW8H2(static_cast<unsigned>(w), static_cast<unsigned>(h), &cw, &ch);
      f.width_ = static_cast<int32_t>(cw);
      f.height_ = static_cast<int32_t>(ch);
      setupPackedI420(f);
      return;
    }
    case IMAGE_ALIGNED_I420:
      setupAlignedI420(f);
      return;
    case IMAGE_UNKNOWN:
    case IMAGE_ANY:
      LOGS(2) << "Unexpected format " << f.pixel_format_;
      f.planes_.clear();
      return;
  }
}

FormatType defaultFormat(int width, int height, PixelFormat pixel_format) {
  FormatType f;
  f.width_ = width;
  f.height_ = height;
  f.pixel_format_ = pixel_format;
  setupDefaultPlanes(f);
  return f;
}

}  // namespace dravo::media::image_format
