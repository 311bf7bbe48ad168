#pragma once
// One frame of the in-house QV1 codec, in memory and in its byte form.
//
// A frame holds a picture size, a payload kind and the payload. It is made by
// encoding an I420 image (encodeJpeg, storeI420) or by parsing bytes
// (deserialize), and turned back into pixels with decode.
//
// Byte form, version 1 (integers little-endian, 20-byte header):
//   offset  size  field
//        0     4  magic "QV1F"
//        4     1  version, 1
//        5     1  payload kind: 0 none, 1 JPEG, 2 raw I420
//        6     2  reserved, 0
//        8     4  width in pixels
//       12     4  height in pixels
//       16     4  payload length n in bytes
//       20     n  payload; nothing follows it
// Kind 0 (an empty frame) has width, height and n all 0. Kinds 1 and 2 have
// width and height in [1, kMaxDimension]. A JPEG payload is a baseline JFIF
// image of exactly width x height (4:2:0, full-range YCbCr). A raw I420
// payload is the planes Y, U, V one after another with no row padding
// (n = w·h + 2·((w+1)/2)·((h+1)/2)), limited range as in qvideo/low_level.h.
//
// Owner: whoever made it, usually through std::shared_ptr<EncodedFrame const>
// once complete. Const methods may run on several threads at once; the others
// need the frame to themselves.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvideo {

class QvI420;

class EncodedFrame {
 public:
  enum PayloadKind : uint8_t { PAYLOAD_NONE = 0, PAYLOAD_JPEG = 1, PAYLOAD_I420 = 2 };

  static constexpr size_t kHeaderSize = 20;
  static constexpr int kMaxDimension = 16384;

  // An empty frame (PAYLOAD_NONE, 0 x 0).
  EncodedFrame();
  ~EncodedFrame();

  // Compresses the picture of `image` to a JPEG payload at `quality` (1 to
  // 100). Returns false and leaves the frame unchanged when the image is
  // empty or too large or the compressor fails.
  bool encodeJpeg(const QvI420& image, int quality);
  // Stores the picture of `image` uncompressed. Same failure rule.
  bool storeI420(const QvI420& image);
  // Writes the picture into `*image`, which must have the frame's width and
  // height; only the picture area of each plane is written. False for an
  // empty frame, a size mismatch or a payload that does not decode.
  bool decode(QvI420* image) const;

  // Replaces `*out` with the byte form.
  void serialize(std::string* out) const;
  // Parses a byte form. Anything that breaks the rules above (short or long
  // input, bad magic, version or kind, sizes out of range, a payload length
  // other than the bytes present, a raw payload of the wrong size, a JPEG
  // payload whose header is unreadable or of another size) gives false and
  // leaves the frame unchanged. Never reads outside [data, data + length)
  // and never allocates more than `length` bytes.
  bool deserialize(const uint8_t* data, size_t length);

  int width() const { return width_; }
  int height() const { return height_; }
  PayloadKind payloadKind() const { return kind_; }
  const std::string& payload() const { return payload_; }

 private:
  int width_ = 0;
  int height_ = 0;
  PayloadKind kind_ = PAYLOAD_NONE;
  std::string payload_;
};

}  // namespace qvideo
