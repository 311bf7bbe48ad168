#include "media_common/video/avi_video_layout.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace dravo::media {

namespace {

bool isUncompressedBitmapHandler(std::string const& handler) {
  return handler == std::string(4, '\0') || handler == "DIB " || handler == "RGB " ||
         handler == "raw ";
}

// Non-printable bytes (a zero handler, binary junk) would spoil messages.
std::string printable(std::string const& code) {
  std::string text = code;
  for (char& c : text)
    if (c < 0x20 || c > 0x7e) c = '?';
  return text;
}

}  // namespace

AVIVideoLayout AVIVideoLayout::decide(std::string const& handler, AVIBitmapHeader const* bitmap,
                                      int32_t width, int32_t height) {
  AVIVideoLayout layout;
  layout.width_ = width;
  layout.height_ = height;
  layout.codec_ = printable(handler);
  if (handler == "JPEG") {
    layout.format_ = ImageBuffer::IMAGE_JPEG;
  } else if (handler == "MJPG") {
    layout.format_ = ImageBuffer::IMAGE_MJPEG;
  } else if (handler == "I420" || handler == "IYUV") {
    layout.format_ = ImageBuffer::IMAGE_I420;
  } else if (handler == "QV1 ") {
    layout.format_ = ImageBuffer::IMAGE_QV1;
  } else if (handler == "YV12") {
    layout.format_ = ImageBuffer::IMAGE_I420;
    layout.swap_chroma_ = true;
  } else if (handler == "YUY2") {
    layout.format_ = ImageBuffer::IMAGE_YUYV;
  } else if (isUncompressedBitmapHandler(handler) && bitmap) {
    if (bitmap->compression == std::string(4, '\0')) {
      layout.codec_ = "uncompressed " + std::to_string(bitmap->bit_count) + "-bit";
      if (bitmap->bit_count == 24) layout.format_ = ImageBuffer::IMAGE_BGR24;
      if (bitmap->bit_count == 32) layout.format_ = ImageBuffer::IMAGE_BGRX32;
      layout.bottom_up_ = bitmap->height > 0;
    } else if (!isUncompressedBitmapHandler(bitmap->compression)) {
      // The handler says nothing; the bitmap header names the codec.
      return decide(bitmap->compression, nullptr, width, height);
    }
  }
  return layout;
}

int64_t AVIVideoLayout::rowBytes() const {
  int64_t const w = width_;
  switch (format_) {
    case ImageBuffer::IMAGE_YUYV:
      return 4 * ((w + 1) / 2);
    case ImageBuffer::IMAGE_BGR24:
      return (w * 3 + 3) / 4 * 4;
    case ImageBuffer::IMAGE_BGRX32:
      return w * 4;
    default:
      return 0;
  }
}

int64_t AVIVideoLayout::frameBytes() const {
  int64_t const w = width_;
  int64_t const h = height_;
  if (format_ == ImageBuffer::IMAGE_I420) return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
  return rowBytes() * h;
}

std::shared_ptr<ImageBuffer> AVIVideoLayout::wrap(std::shared_ptr<unsigned char[]> const& payload,
                                                  uint32_t size) const {
  unsigned char* const data = payload.get();
  if (format_ == ImageBuffer::IMAGE_I420 && swap_chroma_) {
    ImageBuffer::FormatType format = image_format::defaultFormat(width_, height_, format_);
    std::swap(format.planes_[1].offset_, format.planes_[2].offset_);
    return std::make_shared<ImageBuffer>(format, data, payload);
  }
  int64_t const row_bytes = rowBytes();
  if (row_bytes == 0) {
    // Compressed and plain I420 frames keep the default layout of their
    // format; JPEG data tells its own size.
    auto frame = std::make_shared<ImageBuffer>(width_, height_, format_, data, payload,
                                               static_cast<int>(size));
    frame->autoDetectWidthAndHeight();
    return frame;
  }
  if (bottom_up_) {
    std::vector<unsigned char> row(static_cast<size_t>(row_bytes));
    for (int64_t top = 0, bottom = height_ - 1; top < bottom; ++top, --bottom) {
      unsigned char* const a = data + top * row_bytes;
      unsigned char* const b = data + bottom * row_bytes;
      std::memcpy(row.data(), a, row.size());
      std::memcpy(a, b, row.size());
      std::memcpy(b, row.data(), row.size());
    }
  }
  ImageBuffer::FormatType format;
  format.width_ = width_;
  format.height_ = height_;
  format.pixel_format_ = format_;
  format.planes_ = {ImageBuffer::Plane(width_, height_, 0, static_cast<int32_t>(row_bytes))};
  format.min_allocation_ = static_cast<int32_t>(frameBytes());
  return std::make_shared<ImageBuffer>(format, data, payload);
}

}  // namespace dravo::media
