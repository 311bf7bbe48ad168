#pragma once
// AVIVideoLayout: how the frames of an AVI video stream are stored, decided
// from the stream header's handler code and the stream's "strf" bitmap
// header, and how one stored frame becomes an ImageBuffer.
//
// Handler codes and what their frames become:
//   "JPEG", "MJPG", "QV1 "    the compressed bytes, as they are
//   "I420", "IYUV"            I420, planes Y, U, V packed without padding
//   "YV12"                    I420 over the same bytes with U and V swapped
//   "YUY2"                    YUYV, rows of 4 * ceil(width / 2) bytes
//   0, "DIB ", "RGB ", "raw " uncompressed bitmap ("strf" compression 0) of
//                             24 bits (BGR24) or 32 bits (BGRX32) a pixel,
//                             rows padded to 4 bytes, bottom-up unless the
//                             "strf" height is negative
// Anything else is unsupported; `codec()` then names the code for messages.
// Raw frames are wrapped without copying (bottom-up rows are turned over in
// place) and reach I420 through the library's conversion table.
//
// A plain value; any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "media_common/video/image_buffer.h"

namespace dravo::media {

// The fields of a "strf" bitmap header that decide the layout.
struct AVIBitmapHeader {
  int32_t height = 0;  // negative: rows stored top-down
  uint16_t bit_count = 0;
  std::string compression;  // four characters; "\0\0\0\0" for uncompressed
};

class AVIVideoLayout {
 public:
  AVIVideoLayout() = default;
  // The layout of `width` x `height` frames of a stream whose header names
  // `handler`; `bitmap` is the stream's "strf", null when it has none.
  static AVIVideoLayout decide(std::string const& handler, AVIBitmapHeader const* bitmap,
                               int32_t width, int32_t height);

  // IMAGE_UNKNOWN when the frames cannot be read.
  ImageBuffer::PixelFormat pixelFormat() const { return format_; }
  // The code that names the stream's codec: the handler, or the "strf"
  // compression when the handler says nothing; printable characters only.
  std::string const& codec() const { return codec_; }
  // Bytes a raw frame takes; 0 for compressed frames (any size goes).
  int64_t frameBytes() const;
  // The stored frame `payload` of `size` bytes as an image that owns it.
  // Raw frames need at least `frameBytes()`.
  std::shared_ptr<ImageBuffer> wrap(std::shared_ptr<unsigned char[]> const& payload,
                                    uint32_t size) const;

 private:
  // The bytes of one row of a packed (single-plane) raw format.
  int64_t rowBytes() const;

  ImageBuffer::PixelFormat format_ = ImageBuffer::IMAGE_UNKNOWN;
  std::string codec_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  bool swap_chroma_ = false;  // YV12
  bool bottom_up_ = false;    // uncompressed bitmaps with a positive height
};

}  // namespace dravo::media
