#include "media_common/video/screencast_frame.h"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/raw.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

#include "common/logging.h"

DRAVO_LOGGER("screencast_frame");

namespace dravo::media {

namespace {

// Pools keep a few buffers: one being filled, one waiting to be sent, one or
// two downstream.
constexpr size_t kPooledBuffers = 4;
// Larger pointers are not pointers, larger pictures not screens.
constexpr int32_t kMaxCursorSide = 1024;
constexpr int32_t kMaxSide = 16384;

StreamRect intersect(StreamRect const& a, StreamRect const& b) {
  int64_t const x0 = std::max<int64_t>(a.x, b.x);
  int64_t const y0 = std::max<int64_t>(a.y, b.y);
  int64_t const x1 = std::min<int64_t>(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
  int64_t const y1 = std::min<int64_t>(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
          static_cast<int32_t>(y1 - y0)};
}

// Byte positions of blue, green, red and alpha in a 4-byte cursor pixel;
// nothing for formats a pointer does not come in.
std::optional<std::array<int, 4>> cursorChannels(uint32_t format) {
  switch (format) {
    case SPA_VIDEO_FORMAT_BGRA:
      return std::array<int, 4>{0, 1, 2, 3};
    case SPA_VIDEO_FORMAT_RGBA:
      return std::array<int, 4>{2, 1, 0, 3};
    case SPA_VIDEO_FORMAT_ARGB:
      return std::array<int, 4>{3, 2, 1, 0};
    case SPA_VIDEO_FORMAT_ABGR:
      return std::array<int, 4>{1, 2, 3, 0};
    default:
      return std::nullopt;
  }
}

}  // namespace

bool StreamCursor::update(void const* meta, size_t size) {
  if (!meta || size < sizeof(spa_meta_cursor)) return false;
  spa_meta_cursor cursor;
  std::memcpy(&cursor, meta, sizeof(cursor));
  // Id 0: nothing new about the pointer in this buffer.
  if (cursor.id == 0) return false;
  bool const moved = !visible_ || x_ != cursor.position.x || y_ != cursor.position.y;
  visible_ = true;
  x_ = cursor.position.x;
  y_ = cursor.position.y;
  size_t const bitmap_at = cursor.bitmap_offset;
  if (bitmap_at < sizeof(spa_meta_cursor) || bitmap_at > size ||
      size - bitmap_at < sizeof(spa_meta_bitmap))
    return moved;  // no new picture
  spa_meta_bitmap bitmap;
  std::memcpy(&bitmap, static_cast<uint8_t const*>(meta) + bitmap_at, sizeof(bitmap));
  if (bitmap.format == 0) return moved;  // no new picture
  if (bitmap.offset == 0) {
    visible_ = false;  // the pointer is hidden
    return true;
  }
  auto const channels = cursorChannels(bitmap.format);
  int64_t const width = bitmap.size.width;
  int64_t const height = bitmap.size.height;
  int64_t const stride = bitmap.stride != 0 ? bitmap.stride : width * 4;
  size_t const pixels_at = bitmap_at + size_t{bitmap.offset};
  if (!channels || width <= 0 || height <= 0 || width > kMaxCursorSide || height > kMaxCursorSide ||
      stride < width * 4 || bitmap.offset < sizeof(spa_meta_bitmap) || pixels_at > size ||
      static_cast<uint64_t>(size - pixels_at) <
          static_cast<uint64_t>(stride * (height - 1) + width * 4)) {
    LOGF(5, "Ignoring a malformed pointer picture");
    return moved;
  }
  auto const& [b, g, r, a] = *channels;
  uint8_t const* pixels = static_cast<uint8_t const*>(meta) + pixels_at;
  image_.width_ = static_cast<int32_t>(width);
  image_.height_ = static_cast<int32_t>(height);
  image_.argb_.resize(static_cast<size_t>(width * height));
  // Pointer pictures come premultiplied, as the blend expects them.
  for (int64_t y = 0; y < height; ++y) {
    uint8_t const* row = pixels + y * stride;
    for (int64_t x = 0; x < width; ++x) {
      uint8_t const* p = row + x * 4;
      image_.argb_[static_cast<size_t>(y * width + x)] =
          uint32_t{p[a]} << 24 | uint32_t{p[r]} << 16 | uint32_t{p[g]} << 8 | p[b];
    }
  }
  hot_x_ = cursor.hotspot.x;
  hot_y_ = cursor.hotspot.y;
  return true;
}

CursorImage StreamCursor::placed() const {
  CursorImage placed = image_;
  placed.x_ = x_ - hot_x_;
  placed.y_ = y_ - hot_y_;
  return placed;
}

FrameMemoryPool::State::~State() {
  for (uint8_t* memory : free) delete[] memory;
}

std::shared_ptr<uint8_t> FrameMemoryPool::get(size_t bytes) {
  uint8_t* memory = nullptr;
  {
    MutexLock lock(state_->mutex);
    if (state_->bytes != bytes) {
      for (uint8_t* old : state_->free) delete[] old;
      state_->free.clear();
      state_->bytes = bytes;
    }
    if (!state_->free.empty()) {
      memory = state_->free.back();
      state_->free.pop_back();
    }
  }
  if (!memory) memory = new uint8_t[bytes];
  std::weak_ptr<State> pool = state_;
  return std::shared_ptr<uint8_t>(memory, [pool, bytes](uint8_t* released) {
    if (auto state = pool.lock()) {
      MutexLock lock(state->mutex);
      if (state->bytes == bytes && state->free.size() < kPooledBuffers) {
        state->free.push_back(released);
        return;
      }
    }
    delete[] released;
  });
}

std::shared_ptr<ImageBuffer const> ScreenCastFrameBuilder::build(StreamPicture const& picture,
                                                                 StreamCursor const& cursor,
                                                                 char const** why) {
  StreamRect const whole{0, 0, picture.width, picture.height};
  StreamRect area = whole;
  if (picture.crop && picture.crop->width > 0 && picture.crop->height > 0)
    area = intersect(*picture.crop, whole);
  int64_t const stride = picture.stride != 0 ? picture.stride : int64_t{picture.width} * 4;
  if (!picture.data || picture.width <= 0 || picture.height <= 0 || picture.width > kMaxSide ||
      picture.height > kMaxSide || area.width <= 0) {
    *why = "empty picture or crop region outside it";
    return nullptr;
  }
  if (stride < int64_t{picture.width} * 4) {
    *why = "row stride shorter than a row";
    return nullptr;
  }
  uint64_t const needed = static_cast<uint64_t>(stride) * (area.y + area.height - 1) +
                          (uint64_t{static_cast<uint32_t>(area.x)} + area.width) * 4;
  if (needed > picture.size) {
    *why = "picture larger than its buffer";
    return nullptr;
  }
  if (stride > INT32_MAX) {
    *why = "row stride out of range";
    return nullptr;
  }
  uint8_t const* first = picture.data + stride * area.y + int64_t{area.x} * 4;
  int32_t const out_stride = area.width * 4;
  auto memory = pool_.get(static_cast<size_t>(out_stride) * area.height);
  int const in_stride = static_cast<int>(stride);
  bool const rgb =
      picture.layout == StreamPixelLayout::RGBX || picture.layout == StreamPixelLayout::RGBA;
  // libyuv names formats by their 32-bit value: its ARGB is BGRA in memory
  // and its ABGR is RGBA.
  if (rgb)
    libyuv::ABGRToARGB(first, in_stride, memory.get(), out_stride, area.width, area.height);
  else
    libyuv::ARGBCopy(first, in_stride, memory.get(), out_stride, area.width, area.height);
  return finish(std::move(memory), area.width, area.height, cursor);
}

std::shared_ptr<ImageBuffer const> ScreenCastFrameBuilder::redrawCursor(
    StreamCursor const& cursor) {
  if (!last_) return nullptr;
  int32_t const width = last_->width();
  int32_t const height = last_->height();
  int32_t const stride = width * 4;
  auto memory = pool_.get(static_cast<size_t>(stride) * height);
  std::memcpy(memory.get(), last_->data(), static_cast<size_t>(stride) * height);
  for (int32_t y = 0; y < under_rect_.height; ++y)
    std::memcpy(memory.get() + int64_t{under_rect_.y + y} * stride + int64_t{under_rect_.x} * 4,
                under_pixels_.data() + int64_t{y} * under_rect_.width * 4,
                static_cast<size_t>(under_rect_.width) * 4);
  return finish(std::move(memory), width, height, cursor);
}

std::shared_ptr<ImageBuffer const> ScreenCastFrameBuilder::finish(std::shared_ptr<uint8_t> memory,
                                                                  int32_t width, int32_t height,
                                                                  StreamCursor const& cursor) {
  int32_t const stride = width * 4;
  under_rect_ = {};
  under_pixels_.clear();
  if (cursor.visible()) {
    CursorImage const placed = cursor.placed();
    under_rect_ =
        intersect({placed.x_, placed.y_, placed.width_, placed.height_}, {0, 0, width, height});
    under_pixels_.resize(static_cast<size_t>(under_rect_.width) * under_rect_.height * 4);
    for (int32_t y = 0; y < under_rect_.height; ++y)
      std::memcpy(under_pixels_.data() + int64_t{y} * under_rect_.width * 4,
                  memory.get() + int64_t{under_rect_.y + y} * stride + int64_t{under_rect_.x} * 4,
                  static_cast<size_t>(under_rect_.width) * 4);
    blendCursor(placed, 0, 0, memory.get(), stride, width, height);
  }
  ImageBuffer::FormatType format;
  format.width_ = width;
  format.height_ = height;
  format.pixel_aspect_ = 1.0f;
  format.pixel_format_ = ImageBuffer::IMAGE_BGRX32;
  format.planes_ = {ImageBuffer::Plane(width, height, 0, stride)};
  format.min_allocation_ = stride * height;
  uint8_t* data = memory.get();
  last_ = std::make_shared<ImageBuffer>(format, data, std::move(memory));
  return last_;
}

}  // namespace dravo::media
