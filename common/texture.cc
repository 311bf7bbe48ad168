#include "common/texture.h"

#include <atomic>

namespace dravo {

namespace {
std::atomic<uint64_t> g_next_texture_serial{1};
constexpr int32_t kMaxDimension = 16384;
}  // namespace

TextureId::TextureId() : serial_(g_next_texture_serial.fetch_add(1, std::memory_order_relaxed)) {}

std::ostream& operator<<(std::ostream& os, TextureId const& id) { return os << id.serial(); }

PixelTexture::PixelTexture(Format format, Size size, Time timestamp, TextureId id)
    : format_(format), size_(size), timestamp_(timestamp), id_(std::move(id)) {
  if (!size.isValid() || size.width_ > kMaxDimension || size.height_ > kMaxDimension) return;
  int32_t width = size.width_;
  int32_t height = size.height_;
  auto addPlane = [this](int32_t stride, int32_t rows) {
    offsets_.push_back(pixels_.size());
    strides_.push_back(stride);
    pixels_.resize(pixels_.size() + static_cast<size_t>(stride) * static_cast<size_t>(rows));
  };
  switch (format) {
    case FORMAT_RGB:
    case FORMAT_BGR24:
      addPlane(width * 3, height);
      break;
    case FORMAT_BGRX32:
    case FORMAT_BGRA32:
      addPlane(width * 4, height);
      break;
    case FORMAT_I420:
      addPlane(width, height);
      addPlane((width + 1) / 2, (height + 1) / 2);
      addPlane((width + 1) / 2, (height + 1) / 2);
      break;
    case FORMAT_APPL:
      break;
  }
}

uint8_t* PixelTexture::mutableBuffer(int plane) {
  if (plane < 0 || static_cast<size_t>(plane) >= offsets_.size()) return nullptr;
  return pixels_.data() + offsets_[plane];
}

uint8_t const* PixelTexture::getBuffer(int plane) const {
  if (plane < 0 || static_cast<size_t>(plane) >= offsets_.size()) return nullptr;
  return pixels_.data() + offsets_[plane];
}

int32_t PixelTexture::getStride(int plane) const {
  if (plane < 0 || static_cast<size_t>(plane) >= strides_.size()) return 0;
  return strides_[plane];
}

}  // namespace dravo
