#include "media_common/video/image_buffer.h"

#include <turbojpeg.h>

#include "common/check.h"
#include "common/diagnostics/buffer_trace.h"
#include "common/logging.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/jpeg_header.h"
#include "qvideo/qv_i420.h"

DRAVO_LOGGER("video");

namespace dravo::media {

ImageBuffer::ImageBuffer(const FormatType& format) : format_(format) { allocate(); }

ImageBuffer::ImageBuffer(const FormatType& format, unsigned char* data,
                         std::shared_ptr<void> allocation)
    : data_(data), allocation_(std::move(allocation)), format_(format) {}

ImageBuffer::ImageBuffer(int width, int height, PixelFormat format) {
  format_.width_ = width;
  format_.height_ = height;
  format_.pixel_format_ = format;
  format_.pixel_aspect_ = 1.0f;
  setupDefaultPlanes(format_);
  allocate();
}

ImageBuffer::ImageBuffer(int width, int height, PixelFormat format, unsigned char* data,
                         std::shared_ptr<void> allocation, int size) {
  format_.width_ = width;
  format_.height_ = height;
  format_.pixel_format_ = format;
  format_.pixel_aspect_ = 1.0f;
  if (width < 0 && height < 0 && !autoDetectWidthAndHeight(data, size))
    LOGS(2) << "Can't autodetect width and height for format " << format;
  setupDefaultPlanes(format_);
  setData(data, std::move(allocation), size);
}

// A copy shares pixels and cache but gets a mutex of its own.
ImageBuffer::ImageBuffer(const ImageBuffer& other)
    : Buffer(other),
      size_(other.size_),
      data_(other.data_),
      allocation_(other.allocation_),
      format_(other.format_) {
  MutexLock lock(other.cache_mutex_);
  cache_ = other.cache_;
}

ImageBuffer& ImageBuffer::operator=(const ImageBuffer& other) {
  if (this == &other) return *this;
  Buffer::operator=(other);
  size_ = other.size_;
  data_ = other.data_;
  allocation_ = other.allocation_;
  format_ = other.format_;
  std::shared_ptr<ImageBufferCache> cache;
  {
    MutexLock lock(other.cache_mutex_);
    cache = other.cache_;
  }
  MutexLock lock(cache_mutex_);
  cache_ = std::move(cache);
  return *this;
}

ImageBuffer::~ImageBuffer() {
  if (!buffer_trace::isEnabled()) return;
  LOGS_TO("buffer_trace", 5) << "Destroying <" << getStartTimestamp() << "," << getCreationTime()
                             << "> format:" << format_ << " this:" << static_cast<void*>(this);
  buffer_trace::untrack(this);
}

void ImageBuffer::allocate() {
  size_ = 0;
  if (format_.pixel_format_ == IMAGE_ALIGNED_I420) {
    if (!qvideo::QvI420::fitsLayout(format_.width_, format_.height_, 16)) {
      LOGS(2) << "Image size out of range: " << format_.width_ << "x" << format_.height_;
      return;
    }
    auto image = std::make_shared<qvideo::QvI420>(format_.width_, format_.height_, 16);
    data_ = image->data();
    allocation_ = std::move(image);
    return;
  }
  if (format_.min_allocation_ <= 0) return;
  unsigned char* bytes = new unsigned char[format_.min_allocation_];
  data_ = bytes;
  allocation_ = std::shared_ptr<unsigned char>(bytes, std::default_delete<unsigned char[]>());
}

unsigned char* ImageBuffer::doGetPixelAddress(int x, int y, int plane) const {
  DRAVO_CHECK_GE(plane, 0);
  DRAVO_CHECK_LT(plane, (int)format_.planes_.size());
  if (plane < 0 || plane >= static_cast<int>(format_.planes_.size())) return nullptr;
  Plane const& p = format_.planes_[plane];
  return data_ + p.offset_ + static_cast<ptrdiff_t>(y) * p.stride_ + x;
}

std::shared_ptr<qvideo::QvI420> ImageBuffer::getQvI420() {
  return std::static_pointer_cast<qvideo::QvI420>(allocation_);
}

std::shared_ptr<qvideo::QvI420 const> ImageBuffer::getQvI420() const {
  return std::static_pointer_cast<qvideo::QvI420 const>(allocation_);
}

void ImageBuffer::setData(unsigned char* data, std::shared_ptr<void> allocation, int size) {
  data_ = data;
  allocation_ = std::move(allocation);
  size_ = size;
}

void ImageBuffer::updateMargins() {
  if (format_.pixel_format_ != IMAGE_ALIGNED_I420) return;
  DRAVO_CHECK(allocation_.get());
  if (allocation_) getQvI420()->padImage();
}

bool ImageBuffer::autoDetectWidthAndHeight() { return autoDetectWidthAndHeight(data_, size_); }

bool ImageBuffer::autoDetectWidthAndHeight(const unsigned char* data, int size) {
  if (format_.pixel_format_ != IMAGE_JPEG && format_.pixel_format_ != IMAGE_MJPEG) return false;
  int width = 0;
  int height = 0;
  std::string error;
  if (!readJpegSize(data, size, &width, &height, &error)) {
    LOGS(2) << "Error decoding (M)JPEG header: " << error;
    return false;
  }
  format_.width_ = width;
  format_.height_ = height;
  return true;
}

}  // namespace dravo::media
