// The conversion-table functions that read or write JPEG data.

#include <turbojpeg.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/logging.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/image_conversion_functions.h"
#include "media_common/video/jpeg_header.h"
#include "qvideo/jpeg/huffman_tables.h"
#include "qvideo/jpeg/mjpeg_decoder.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media::image_conversion {
namespace {

using FormatType = ImageBuffer::FormatType;

// Decodes only after the header has confirmed the target size, so that a
// header claiming a huge picture never makes us allocate it.
std::shared_ptr<ImageBuffer> decodeJpeg(const FormatType& target, const ImagePtr& source,
                                        bool motion_jpeg) {
  if (!source->planes().empty() || target.planes_.size() != 3) return nullptr;
  if (!source->data() || source->size() <= 0) return nullptr;
  int width = 0;
  int height = 0;
  std::string error;
  if (!readJpegSize(source->data(), source->size(), &width, &height, &error)) {
    LOGS(3) << "Error decoding (M)JPEG header: " << error;
    return nullptr;
  }
  if (width != target.width_ || height != target.height_) {
    LOGS(3) << "JPEG data is " << width << "x" << height << ", expected " << target.width_ << "x"
            << target.height_;
    return nullptr;
  }
  if (!planesFitAllocation(target)) return nullptr;
  auto result = std::make_shared<ImageBuffer>(target);
  auto const& planes = result->planes();
  if (!jpeg::decompressMJPEG(source->data(), static_cast<size_t>(source->size()), width, height,
                             motion_jpeg, result->getPixelAddress(0, 0, 0), planes[0].stride_,
                             result->getPixelAddress(0, 0, 1), planes[1].stride_,
                             result->getPixelAddress(0, 0, 2), planes[2].stride_))
    return nullptr;
  result->updateMargins();
  return result;
}

// An image owning a copy of `bytes`.
std::shared_ptr<ImageBuffer> makeEncodedImage(int width, int height,
                                              ImageBuffer::PixelFormat format,
                                              const unsigned char* bytes, size_t size) {
  unsigned char* data = new unsigned char[size];
  std::shared_ptr<unsigned char> owner(data, std::default_delete<unsigned char[]>());
  std::memcpy(data, bytes, size);
  return std::make_shared<ImageBuffer>(width, height, format, data, owner, static_cast<int>(size));
}

}  // namespace

std::shared_ptr<ImageBuffer> from_JPEG_to_I420(const FormatType& target, const ImagePtr& source) {
  return decodeJpeg(target, source, false);
}

std::shared_ptr<ImageBuffer> from_MJPEG_to_I420(const FormatType& target, const ImagePtr& source) {
  return decodeJpeg(target, source, true);
}

std::shared_ptr<ImageBuffer> from_MJPEG_to_JPEG(const FormatType& target, const ImagePtr& source) {
  if (source->width() != target.width_ || source->height() != target.height_) return nullptr;
  if (!source->data() || source->size() < 2) return nullptr;
  size_t const size = static_cast<size_t>(source->size());
  size_t const total = size + jpeg::kMJPGDHTSegSize;
  unsigned char* data = new unsigned char[total];
  std::shared_ptr<unsigned char> owner(data, std::default_delete<unsigned char[]>());
  std::memcpy(data, source->data(), 2);
  std::memcpy(data + 2, jpeg::kMJPGDHTSeg, jpeg::kMJPGDHTSegSize);
  std::memcpy(data + 2 + jpeg::kMJPGDHTSegSize, source->data() + 2, size - 2);
  return std::make_shared<ImageBuffer>(target.width_, target.height_, target.pixel_format_, data,
                                       owner, static_cast<int>(total));
}

std::shared_ptr<ImageBuffer> from_I420_to_JPEG(const FormatType& target, const ImagePtr& source) {
  (void)target;
  return compressI420ToJpeg(source, 90);
}

std::shared_ptr<ImageBuffer> compressI420ToJpeg(const ImagePtr& source, int quality) {
  int const width = source->width();
  int const height = source->height();
  FormatType const rgb_format =
      image_format::defaultFormat(width, height, ImageBuffer::IMAGE_RGB24);
  std::shared_ptr<ImageBuffer> rgb = from_I420_to_RGB24(rgb_format, source);
  if (!rgb || width <= 0 || height <= 0) return nullptr;
  tjhandle handle = tjInitCompress();
  if (!handle) {
    LOGS(2) << "Can't create JPEG compressor: " << tjGetErrorStr();
    return nullptr;
  }
  std::vector<unsigned char> compressed(tjBufSize(width, height, TJSAMP_420));
  unsigned long compressed_size = 0;
  int const status = tjCompress(handle, rgb->data(), width, rgb->planes()[0].stride_, height, 3,
                                compressed.data(), &compressed_size, TJSAMP_420, quality, 0);
  if (status != 0) LOGS(2) << "JPEG compression failed: " << tjGetErrorStr();
  tjDestroy(handle);
  if (status != 0 || compressed_size == 0 || compressed_size > compressed.size()) return nullptr;
  return makeEncodedImage(width, height, ImageBuffer::IMAGE_JPEG, compressed.data(),
                          compressed_size);
}

std::shared_ptr<ImageBuffer> from_any_to_RGB24(const FormatType& target, const ImagePtr& source) {
  FormatType i420 =
      image_format::defaultFormat(target.width_, target.height_, ImageBuffer::IMAGE_I420);
  i420.pixel_aspect_ = target.pixel_aspect_;
  std::vector<std::shared_ptr<ImageBuffer const>> converted =
      ImageBufferConverter::convert(i420, source);
  if (converted.empty() || !converted[0]) return nullptr;
  return from_I420_to_RGB24(target, converted[0]);
}

}  // namespace dravo::media::image_conversion
