#pragma once
// ImageBuffer: the video frame of the pipeline.
//
// A `Buffer` carrying one picture in one of the `PixelFormat`s, laid out as
// its `FormatType` says: plane offsets are relative to `data()`, and
// `allocation()` keeps the memory alive. Copies share the pixel memory (and
// the conversion cache) and never duplicate it.
//
// Owner: the producer creates and fills an image, then hands it on as
// `std::shared_ptr<ImageBuffer const>`; from then on nobody writes its pixels
// and any thread may read it. The conversion cache (filled by
// `ImageBufferConverter`) is shared by an image and every image converted
// from it; `cache_mutex_` serialises its creation.

#include <memory>
#include <ostream>

#include "common/mutex.h"
#include "media_common/buffer.h"
#include "media_common/video/format_type.h"
#include "media_common/video/pixel_format.h"

namespace qvideo {
class QvI420;
}

namespace dravo::media {

class ImageBufferCache;

class ImageBuffer : public Buffer {
 public:
  using PixelFormat = image_format::PixelFormat;
  using enum image_format::PixelFormat;
  using Plane = image_format::Plane;
  using FormatType = image_format::FormatType;

  // Allocates memory for `format` as it stands (no default layout is
  // computed): a QvI420 with alignment 16 for IMAGE_ALIGNED_I420, otherwise
  // `min_allocation_` bytes.
  explicit ImageBuffer(const FormatType& format);
  // Wraps `data`, kept alive by `allocation`; allocates nothing.
  ImageBuffer(const FormatType& format, unsigned char* data, std::shared_ptr<void> allocation);
  // The default layout of `format` at width x height, allocated.
  ImageBuffer(int width, int height, PixelFormat format);
  // The default layout over `data` (`size` valid bytes). With width and
  // height both negative the size is read from JPEG data. With both 0 and
  // null data the image only carries a format.
  ImageBuffer(int width, int height, PixelFormat format, unsigned char* data,
              std::shared_ptr<void> allocation, int size);
  ImageBuffer(const ImageBuffer& other);
  ImageBuffer& operator=(const ImageBuffer& other);
  ~ImageBuffer() override;

  const FormatType& format() const { return format_; }
  std::vector<Plane>& planes() { return format_.planes_; }
  const std::vector<Plane>& planes() const { return format_.planes_; }
  int width() const { return format_.width_; }
  int height() const { return format_.height_; }
  // Valid bytes as stated by the creator of encoded data; 0 for images that
  // allocated their own memory.
  int size() const { return size_; }
  unsigned char* data() { return data_; }
  const unsigned char* data() const { return data_; }
  std::shared_ptr<void> allocation() const { return allocation_; }
  void setPixelAspectRatio(float aspect) { format_.pixel_aspect_ = aspect; }

  // Address of byte `x` of row `y` in `plane`. `x` counts bytes: callers
  // multiply by the bytes per pixel of packed formats. A plane outside the
  // format is a caller error (logged check); the result is then null.
  unsigned char* getPixelAddress(int x, int y, int plane) { return doGetPixelAddress(x, y, plane); }
  const unsigned char* getPixelAddress(int x, int y, int plane) const {
    return doGetPixelAddress(x, y, plane);
  }

  // The QvI420 owning the pixels; only for IMAGE_ALIGNED_I420 images that
  // allocated their own memory.
  std::shared_ptr<qvideo::QvI420> getQvI420();
  std::shared_ptr<qvideo::QvI420 const> getQvI420() const;

  // Repeats the edge samples of an aligned image into its alignment margin;
  // producers of aligned images call it after writing the pixels. Does
  // nothing for other formats.
  void updateMargins();

  // Reads width and height from the header of JPEG or MJPEG data.
  bool autoDetectWidthAndHeight();

  static void setupDefaultPlanes(FormatType& format) { image_format::setupDefaultPlanes(format); }
  static bool isI420Variant(PixelFormat format) { return image_format::isI420Variant(format); }
  static bool isSameOrMoreSpecificI420Format(PixelFormat a, PixelFormat b) {
    return image_format::isSameOrMoreSpecificI420Format(a, b);
  }
  static PixelFormat idealFormat(PixelFormat format, unsigned width, unsigned height) {
    return image_format::idealFormat(format, width, height);
  }
  static void constrainW8H2(unsigned width, unsigned height, unsigned* out_width,
                            unsigned* out_height) {
    image_format::constrainW8H2(width, height, out_width, out_height);
  }
  static float estimatedBytesPerPixel(PixelFormat format) {
    return image_format::estimatedBytesPerPixel(format);
  }

 protected:
  unsigned char* doGetPixelAddress(int x, int y, int plane) const;
  void setData(unsigned char* data, std::shared_ptr<void> allocation, int size);
  bool autoDetectWidthAndHeight(const unsigned char* data, int size);

 private:
  friend class ImageBufferCache;
  friend class ImageBufferConverter;

  void allocate();

  int32_t size_ = 0;
  unsigned char* data_ = nullptr;
  std::shared_ptr<void> allocation_;
  FormatType format_;
  // Set once, by the first conversion, on an image that is otherwise const.
  mutable Mutex cache_mutex_;
  mutable std::shared_ptr<ImageBufferCache> cache_ DRAVO_GUARDED_BY(cache_mutex_);
};

}  // namespace dravo::media
