#include "qvideo/qv_i420.h"

#include <cstdlib>
#include <limits>
#include <new>

#include "common/check.h"

namespace qvideo {
namespace {

constexpr int kMaxAlignment = 4096;

bool isValidAlignment(int alignment) {
  return alignment > 0 && alignment <= kMaxAlignment && (alignment & (alignment - 1)) == 0;
}

int64_t roundUp(int64_t value, int64_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

// Where each plane of an owned image goes inside one allocation.
struct OwnedLayout {
  int y_stride = 0;
  int y_rows = 0;
  int chroma_stride = 0;
  int chroma_rows = 0;
  int64_t u_offset = 0;
  int64_t v_offset = 0;
  int64_t total = 0;
};

// Sizes are computed in 64 bits; an image whose layout does not fit in the
// int strides and offsets the planes use is refused.
bool computeLayout(int width, int height, int alignment, OwnedLayout* layout) {
  if (width < 0 || height < 0 || !isValidAlignment(alignment)) return false;
  int64_t const chroma_width = (int64_t{width} + 1) / 2;
  int64_t const y_stride = roundUp(width, alignment);
  int64_t const y_rows = roundUp(height, alignment);
  int64_t const chroma_stride = roundUp(chroma_width, alignment);
  int64_t const chroma_rows = (y_rows + 1) / 2;
  int64_t const y_size = y_stride * y_rows;
  int64_t const chroma_size = chroma_stride * chroma_rows;
  int64_t const total = y_size + 2 * chroma_size;
  if (y_stride > std::numeric_limits<int>::max() || y_rows > std::numeric_limits<int>::max() ||
      total > std::numeric_limits<int>::max())
    return false;
  layout->y_stride = static_cast<int>(y_stride);
  layout->y_rows = static_cast<int>(y_rows);
  layout->chroma_stride = static_cast<int>(chroma_stride);
  layout->chroma_rows = static_cast<int>(chroma_rows);
  layout->u_offset = y_size;
  layout->v_offset = y_size + chroma_size;
  layout->total = total;
  return true;
}

QvGray8 makePlane(uint8_t* data, int width, int height, int stride, int padded_height) {
  QvGray8 plane;
  plane.width_ = width;
  plane.height_ = height;
  plane.stride_ = stride;
  plane.padded_height_ = padded_height;
  plane.data_ = data;
  return plane;
}

}  // namespace

QvI420::QvI420() = default;

QvI420::QvI420(int width, int height, int alignment) {
  OwnedLayout layout;
  bool const valid = computeLayout(width, height, alignment, &layout);
  DRAVO_ASSERT_MSG(valid, "Invalid QvI420 layout %dx%d alignment %d", width, height, alignment);
  if (!valid) return;
  alignment_ = alignment;
  if (layout.total > 0) {
    data_ = static_cast<uint8_t*>(
        ::operator new(static_cast<size_t>(layout.total), std::align_val_t(alignment)));
    owns_data_ = true;
  }
  int const chroma_width = (width + 1) / 2;
  int const chroma_height = (height + 1) / 2;
  y_ = makePlane(data_, width, height, layout.y_stride, layout.y_rows);
  u_ = makePlane(data_ ? data_ + layout.u_offset : nullptr, chroma_width, chroma_height,
                 layout.chroma_stride, layout.chroma_rows);
  v_ = makePlane(data_ ? data_ + layout.v_offset : nullptr, chroma_width, chroma_height,
                 layout.chroma_stride, layout.chroma_rows);
}

QvI420::~QvI420() { release(); }

void QvI420::release() {
  if (owns_data_) ::operator delete(data_, std::align_val_t(alignment_));
  data_ = nullptr;
  owns_data_ = false;
  alignment_ = 1;
  y_ = u_ = v_ = QvGray8();
}

bool QvI420::init(uint8_t* data, int width, int height, ptrdiff_t y_offset, ptrdiff_t u_offset,
                  ptrdiff_t v_offset, int y_stride, int chroma_stride) {
  release();
  int const chroma_width = (width + 1) / 2;
  int const chroma_height = (height + 1) / 2;
  if (width < 0 || height < 0 || y_stride < width || chroma_stride < chroma_width) return false;
  if (data == nullptr && width > 0 && height > 0) return false;
  data_ = data;
  if (data == nullptr) return true;
  y_ = makePlane(data + y_offset, width, height, y_stride, height);
  u_ = makePlane(data + u_offset, chroma_width, chroma_height, chroma_stride, chroma_height);
  v_ = makePlane(data + v_offset, chroma_width, chroma_height, chroma_stride, chroma_height);
  return true;
}

void QvI420::padImage() {
  padImage_reference(y_);
  padImage_reference(u_);
  padImage_reference(v_);
}

bool QvI420::fitsLayout(int width, int height, int alignment) {
  OwnedLayout layout;
  return computeLayout(width, height, alignment, &layout);
}

std::unique_ptr<QvI420> QvI420::createDummyImage(int width, int height, int alignment) {
  if (!fitsLayout(width, height, alignment)) return nullptr;
  return std::make_unique<QvI420>(width, height, alignment);
}

const QvGray8& QvI420::plane(int index) const {
  DRAVO_ASSERT(index >= 0 && index < 3);
  if (index == 1) return u_;
  if (index == 2) return v_;
  return y_;
}

}  // namespace qvideo
