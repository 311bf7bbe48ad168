#include "qvideo/encoded_frame.h"

#include <turbojpeg.h>

#include <cstring>
#include <vector>

#include "common/logging.h"
#include "qvideo/jpeg/mjpeg_decoder.h"
#include "qvideo/jpeg/turbojpeg_handles.h"
#include "qvideo/jpeg/yuv_range.h"
#include "qvideo/qv_i420.h"

DRAVO_LOGGER("encoded_frame");

namespace qvideo {
namespace {

constexpr char kMagic[4] = {'Q', 'V', '1', 'F'};
constexpr uint8_t kVersion = 1;

bool validDimensions(int64_t width, int64_t height) {
  return width >= 1 && height >= 1 && width <= EncodedFrame::kMaxDimension &&
         height <= EncodedFrame::kMaxDimension;
}

size_t rawI420Size(int width, int height) {
  size_t const chroma =
      static_cast<size_t>((width + 1) / 2) * static_cast<size_t>((height + 1) / 2);
  return static_cast<size_t>(width) * static_cast<size_t>(height) + 2 * chroma;
}

void putU32(uint32_t value, std::string* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<char>(value >> shift));
}

uint32_t getU32(const uint8_t* data) {
  return uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
         uint32_t{data[3]} << 24;
}

bool jpegHasSize(const uint8_t* data, size_t size, int width, int height) {
  tjhandle handle = dravo::jpeg::threadDecompressor();
  int header_width = 0;
  int header_height = 0;
  int subsampling = 0;
  int colorspace = 0;
  if (handle == nullptr) return false;
  if (tjDecompressHeader3(handle, data, size, &header_width, &header_height, &subsampling,
                          &colorspace) != 0) {
    dravo::jpeg::discardThreadDecompressor();
    return false;
  }
  return header_width == width && header_height == height;
}

bool usableImage(const QvI420& image) {
  return !image.y().empty() && !image.u().empty() && !image.v().empty() &&
         validDimensions(image.width(), image.height());
}

}  // namespace

EncodedFrame::EncodedFrame() = default;
EncodedFrame::~EncodedFrame() = default;

bool EncodedFrame::encodeJpeg(const QvI420& image, int quality) {
  if (!usableImage(image) || quality < 1 || quality > 100) return false;
  int const width = image.width();
  int const height = image.height();
  // JPEG stores full-range YCbCr; our planes are limited range.
  std::vector<uint8_t> full_range(rawI420Size(width, height));
  unsigned char* planes[3];
  int strides[3];
  size_t offset = 0;
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    planes[i] = full_range.data() + offset;
    strides[i] = plane.width_;
    dravo::jpeg::mapPlaneRange(
        dravo::jpeg::RangeMapping::kLimitedToFull,
        i == 0 ? dravo::jpeg::SampleKind::kLuma : dravo::jpeg::SampleKind::kChroma, plane.data_,
        plane.stride_, planes[i], strides[i], plane.width_, plane.height_);
    offset += static_cast<size_t>(plane.width_) * plane.height_;
  }

  tjhandle handle = dravo::jpeg::threadCompressor();
  if (handle == nullptr) return false;
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  const unsigned char* source_planes[3] = {planes[0], planes[1], planes[2]};
  if (tjCompressFromYUVPlanes(handle, source_planes, width, strides, height, TJSAMP_420, &jpeg,
                              &jpeg_size, quality, 0) != 0) {
    LOGF(2, "JPEG compression of a %dx%d frame failed: %s", width, height, tjGetErrorStr2(handle));
    tjFree(jpeg);
    dravo::jpeg::discardThreadCompressor();
    return false;
  }
  payload_.assign(reinterpret_cast<const char*>(jpeg), jpeg_size);
  tjFree(jpeg);
  width_ = width;
  height_ = height;
  kind_ = PAYLOAD_JPEG;
  return true;
}

bool EncodedFrame::storeI420(const QvI420& image) {
  if (!usableImage(image)) return false;
  std::string payload;
  payload.reserve(rawI420Size(image.width(), image.height()));
  for (int i = 0; i < 3; ++i) {
    const QvGray8& plane = image.plane(i);
    for (int y = 0; y < plane.height_; ++y)
      payload.append(reinterpret_cast<const char*>(plane.row(y)), plane.width_);
  }
  payload_ = std::move(payload);
  width_ = image.width();
  height_ = image.height();
  kind_ = PAYLOAD_I420;
  return true;
}

bool EncodedFrame::decode(QvI420* image) const {
  if (image == nullptr || kind_ == PAYLOAD_NONE || image->width() != width_ ||
      image->height() != height_ || !usableImage(*image))
    return false;
  const QvGray8& y = image->y();
  const QvGray8& u = image->u();
  const QvGray8& v = image->v();
  const auto* payload = reinterpret_cast<const uint8_t*>(payload_.data());
  if (kind_ == PAYLOAD_JPEG) {
    return dravo::jpeg::decompressMJPEG(payload, payload_.size(), width_, height_, false, y.data_,
                                        y.stride_, u.data_, u.stride_, v.data_, v.stride_);
  }
  if (payload_.size() != rawI420Size(width_, height_)) return false;
  for (const QvGray8* plane : {&y, &u, &v}) {
    for (int row = 0; row < plane->height_; ++row) {
      std::memcpy(plane->row(row), payload, plane->width_);
      payload += plane->width_;
    }
  }
  return true;
}

void EncodedFrame::serialize(std::string* out) const {
  out->clear();
  out->reserve(kHeaderSize + payload_.size());
  out->append(kMagic, sizeof(kMagic));
  out->push_back(static_cast<char>(kVersion));
  out->push_back(static_cast<char>(kind_));
  out->append(2, '\0');
  putU32(static_cast<uint32_t>(width_), out);
  putU32(static_cast<uint32_t>(height_), out);
  putU32(static_cast<uint32_t>(payload_.size()), out);
  out->append(payload_);
}

bool EncodedFrame::deserialize(const uint8_t* data, size_t length) {
  if (data == nullptr || length < kHeaderSize) {
    LOGF(2, "QV1 frame refused: %zu bytes, shorter than its header", data ? length : 0);
    return false;
  }
  if (std::memcmp(data, kMagic, sizeof(kMagic)) != 0 || data[4] != kVersion || data[6] != 0 ||
      data[7] != 0) {
    LOGF(2, "QV1 frame refused: bad magic, version %u or reserved bytes", data[4]);
    return false;
  }
  uint8_t const kind = data[5];
  uint32_t const width = getU32(data + 8);
  uint32_t const height = getU32(data + 12);
  uint32_t const payload_length = getU32(data + 16);
  // The length is a claim: it must match the bytes actually present.
  if (payload_length != length - kHeaderSize) {
    LOGF(2, "QV1 frame refused: payload claims %u bytes, %zu present", payload_length,
         length - kHeaderSize);
    return false;
  }
  const uint8_t* payload = data + kHeaderSize;
  bool valid = false;
  switch (kind) {
    case PAYLOAD_NONE:
      valid = width == 0 && height == 0 && payload_length == 0;
      break;
    case PAYLOAD_I420:
      valid = validDimensions(width, height) &&
              payload_length == rawI420Size(static_cast<int>(width), static_cast<int>(height));
      break;
    case PAYLOAD_JPEG:
      valid =
          validDimensions(width, height) &&
          jpegHasSize(payload, payload_length, static_cast<int>(width), static_cast<int>(height));
      break;
    default:
      break;
  }
  if (!valid) {
    LOGF(2, "QV1 frame refused: kind %u, %ux%u, payload of %u bytes", kind, width, height,
         payload_length);
    return false;
  }
  payload_.assign(reinterpret_cast<const char*>(payload), payload_length);
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  kind_ = static_cast<PayloadKind>(kind);
  return true;
}

}  // namespace qvideo
