// ImageBufferConverter's bridges between image buffers and the qvideo types.

#include <libyuv/planar_functions.h>

#include <cstring>
#include <string>

#include "common/check.h"
#include "common/logging.h"
#include "media_common/video/image_buffer_converter.h"
#include "qvideo/encoded_frame.h"
#include "qvideo/qv_i420.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media {
namespace {

constexpr int kExternalDataPriority = -1000;

// The QvI420 bridges need an I420 variant with three planes; the checks are
// logged, and the copy is skipped when it could not be done safely.
bool isCopyableI420(const ImageBufferConverter::ImagePtr& src) {
  if (!src) return false;
  if (!src->format().isI420Variant()) {
    LOGS(1) << "Invalid image format " << src->format().pixel_format_;
    return false;
  }
  DRAVO_CHECK_EQ(src->planes().size(), 3u);
  return src->planes().size() == 3u && src->data();
}

void copyPlanes(const ImageBuffer& src, const qvideo::QvI420& dst, bool centred) {
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& to = dst.plane(p);
    ImageBuffer::Plane const& from = src.planes()[p];
    if (to.width_ > from.width_ || to.height_ > from.height_) continue;
    int const row = centred ? (from.height_ - to.height_) / 2 : 0;
    int const column = centred ? (from.width_ - to.width_) / 2 : 0;
    libyuv::CopyPlane(src.getPixelAddress(column, row, p), from.stride_, to.data_, to.stride_,
                      to.width_, to.height_);
    qvideo::padImage_reference(to);
  }
}

}  // namespace

void ImageBufferConverter::copyImageBufferToQvI420(const ImagePtr& src, qvideo::QvI420* dst) {
  if (!isCopyableI420(src) || !dst) return;
  DRAVO_CHECK_EQ(src->width(), dst->width());
  DRAVO_CHECK_EQ(src->height(), dst->height());
  if (src->width() != dst->width() || src->height() != dst->height()) return;
  copyPlanes(*src, *dst, false);
}

void ImageBufferConverter::copyAndCropImageBufferToQvI420(const ImagePtr& src,
                                                          qvideo::QvI420* dst) {
  if (!isCopyableI420(src) || !dst) return;
  DRAVO_CHECK_GE(src->width(), dst->width());
  DRAVO_CHECK_GE(src->height(), dst->height());
  if (src->width() < dst->width() || src->height() < dst->height()) return;
  copyPlanes(*src, *dst, true);
}

std::shared_ptr<ImageBuffer> ImageBufferConverter::copyQvI420ToImageBuffer(
    const qvideo::QvI420& src, ImageBuffer::PixelFormat format) {
  if (!ImageBuffer::isI420Variant(format)) {
    LOGS(1) << "Invalid image format " << format;
    return nullptr;
  }
  auto dst = std::make_shared<ImageBuffer>(
      src.width(), src.height(),
      ImageBuffer::idealFormat(format, static_cast<unsigned>(src.width()),
                               static_cast<unsigned>(src.height())));
  copyQvI420ToImageBuffer(src, &dst);
  return dst;
}

void ImageBufferConverter::copyQvI420ToImageBuffer(const qvideo::QvI420& src,
                                                   std::shared_ptr<ImageBuffer>* dst) {
  if (!*dst) {
    *dst = std::make_shared<ImageBuffer>(
        src.width(), src.height(),
        ImageBuffer::idealFormat(ImageBuffer::IMAGE_I420, static_cast<unsigned>(src.width()),
                                 static_cast<unsigned>(src.height())));
  }
  ImageBuffer& image = **dst;
  if (!image.format().isI420Variant() || image.planes().size() != 3 || !image.data()) {
    LOGS(1) << "Invalid image format " << image.format().pixel_format_;
    return;
  }
  // A constrained image may be smaller than the QvI420; never larger.
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& from = src.plane(p);
    ImageBuffer::Plane const& to = image.planes()[p];
    if (to.width_ > from.width_ || to.height_ > from.height_) {
      DRAVO_CHECK(to.width_ <= from.width_ && to.height_ <= from.height_);
      return;
    }
    libyuv::CopyPlane(from.data_, from.stride_, image.getPixelAddress(0, 0, p), to.stride_,
                      to.width_, to.height_);
  }
  image.updateMargins();
  image.setPriority(kExternalDataPriority);
}

void ImageBufferConverter::wrapImageBufferToQvI420(const ImagePtr& src, qvideo::QvI420* dst) {
  if (!isCopyableI420(src) || !dst) return;
  auto const& planes = src->planes();
  // The QvI420 view is read-only by contract; init takes a mutable pointer.
  dst->init(const_cast<uint8_t*>(src->data()), src->width(), src->height(), planes[0].offset_,
            planes[1].offset_, planes[2].offset_, planes[0].stride_, planes[1].stride_);
}

ImageBufferConverter::ImagePtr ImageBufferConverter::wrapQvI420ToImageBuffer(
    const qvideo::QvI420& src) {
  ImageBuffer::FormatType format;
  format.width_ = src.width();
  format.height_ = src.height();
  format.pixel_aspect_ = 1.0f;
  format.pixel_format_ = ImageBuffer::IMAGE_I420;
  int32_t end = 0;
  for (int p = 0; p < 3; ++p) {
    qvideo::QvGray8 const& plane = src.plane(p);
    int const width = p == 0 ? plane.width_ : (src.width() + 1) / 2;
    int const height = p == 0 ? plane.height_ : (src.height() + 1) / 2;
    int const stride = p == 0 ? plane.stride_ : src.chromaStride();
    int32_t const offset = plane.data_ ? static_cast<int32_t>(plane.data_ - src.data()) : 0;
    format.planes_.emplace_back(width, height, offset, stride);
    end = std::max(end, offset + stride * height);
  }
  format.min_allocation_ = end;
  auto wrapped = std::make_shared<ImageBuffer>(format, src.data(), nullptr);
  return easyConvert(
      image_format::defaultFormat(src.width(), src.height(), ImageBuffer::IMAGE_I420), wrapped);
}

std::shared_ptr<ImageBuffer> ImageBufferConverter::createImageBufferFromQv1EncodedFrame(
    std::shared_ptr<qvideo::EncodedFrame const> frame) {
  if (!frame) return nullptr;
  std::string bytes;
  frame->serialize(&bytes);
  auto owner = std::make_shared_for_overwrite<unsigned char[]>(bytes.size());
  std::memcpy(owner.get(), bytes.data(), bytes.size());
  auto image = std::make_shared<ImageBuffer>(1, 1, ImageBuffer::IMAGE_QV1, owner.get(), owner,
                                             static_cast<int>(bytes.size()));
  image->setPriority(kExternalDataPriority);
  return image;
}

std::shared_ptr<qvideo::EncodedFrame const>
ImageBufferConverter::createQv1EncodedFrameFromImageBuffer(const ImagePtr& img) {
  if (!img || !img->data() || img->size() <= 0) return nullptr;
  auto frame = std::make_shared<qvideo::EncodedFrame>();
  if (!frame->deserialize(img->data(), static_cast<size_t>(img->size()))) return nullptr;
  return frame;
}

}  // namespace dravo::media
