#pragma once
// A planar 4:2:0 image: Y at full size, U and V at ((w + 1) / 2) x ((h + 1) / 2).
//
// Two ways to get one:
// - The constructor (width, height, alignment) allocates and owns the planes.
//   The base data pointer and every plane start are aligned to `alignment`
//   bytes (a power of two); each stride is its plane width rounded up to the
//   alignment, and the luma plane has room for its height rounded up to the
//   alignment (the chroma planes for half of that). The margin beyond the
//   picture is there so that block-based code may read whole aligned blocks;
//   padImage fills it with repeated edge samples.
// - `init` wraps memory owned by someone else; the caller keeps it alive as
//   long as the QvI420 uses it, and the destructor leaves it alone.
//
// Owner: whoever creates it (often through a shared pointer that also owns an
// image's pixels). Not thread-safe: one writer at a time; concurrent readers
// are fine once the pixels are written.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/non_copyable.h"
#include "qvideo/qv_gray8.h"

namespace qvideo {

class QvI420 : public dravo::NonCopyable {
 public:
  // An empty image (no planes) until `init` is called.
  QvI420();
  // Allocates a width x height image. Width and height must not be negative
  // and `alignment` must be a power of two up to 4096 (asserted). The pixels
  // are left uninitialised.
  QvI420(int width, int height, int alignment);
  ~QvI420();

  // Wraps existing memory: plane p starts at data + offset p; the chroma
  // planes share `chroma_stride`. Releases whatever the image owned before.
  // Returns false, leaving the image empty, when a size or stride is
  // negative, a stride is shorter than its plane width, or data is null while
  // the size is not zero. The alignment becomes 1.
  bool init(uint8_t* data, int width, int height, ptrdiff_t y_offset, ptrdiff_t u_offset,
            ptrdiff_t v_offset, int y_stride, int chroma_stride);

  // Repeats the edge samples of each plane into its margin (padImage_reference).
  void padImage();

  // Whether the constructor can lay out such an image: sizes not negative,
  // the alignment a power of two up to 4096, and every stride and offset
  // within an int.
  static bool fitsLayout(int width, int height, int alignment);
  // An allocated image with the layout the constructor gives, for callers
  // that want to learn that layout. Null when a size is negative or the
  // alignment is not a power of two up to 4096.
  static std::unique_ptr<QvI420> createDummyImage(int width, int height, int alignment);

  int width() const { return y_.width_; }
  int height() const { return y_.height_; }
  int alignment() const { return alignment_; }
  // Start of the memory block the planes are laid out in (null when empty).
  uint8_t* data() const { return data_; }
  int chromaStride() const { return u_.stride_; }

  const QvGray8& y() const { return y_; }
  const QvGray8& u() const { return u_; }
  const QvGray8& v() const { return v_; }
  // Plane 0 is Y, 1 is U, 2 is V.
  const QvGray8& plane(int index) const;

 private:
  void release();

  QvGray8 y_;
  QvGray8 u_;
  QvGray8 v_;
  uint8_t* data_ = nullptr;
  int alignment_ = 1;
  bool owns_data_ = false;
};

}  // namespace qvideo
