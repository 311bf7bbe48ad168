#pragma once
// A width and height in pixels. A plain value; negative or zero parts mean
// "no size given" (`Size(-1, -1)` asks for the natural size).

#include <cstdint>
#include <ostream>

namespace dravo {

struct Size {
  constexpr Size() = default;
  constexpr Size(int32_t width, int32_t height) : width_(width), height_(height) {}

  constexpr int32_t width() const { return width_; }
  constexpr int32_t height() const { return height_; }
  // Both parts positive.
  constexpr bool isValid() const { return width_ > 0 && height_ > 0; }
  constexpr int64_t area() const { return isValid() ? int64_t{width_} * height_ : 0; }

  constexpr bool operator==(Size const&) const = default;

  int32_t width_ = 0;
  int32_t height_ = 0;
};

inline std::ostream& operator<<(std::ostream& os, Size const& size) {
  return os << size.width_ << "x" << size.height_;
}

}  // namespace dravo
