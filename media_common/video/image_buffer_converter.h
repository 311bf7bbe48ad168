#pragma once
// Converting image buffers to another pixel format and size, and bridging
// them to the qvideo types.
//
// A conversion is one table-driven pixel-format change at the source size
// followed, when needed, by one shrink. Results are remembered in a cache
// shared by the source image and every image converted from it, so several
// consumers asking for the same format of one frame cause one conversion.
//
// All operations are static and stateless; any thread may call them, on
// images no other thread writes. Concurrent conversions of one frame
// coordinate through its cache.

#include <memory>
#include <vector>

#include "media_common/video/image_buffer.h"

namespace qvideo {
class EncodedFrame;
class QvI420;
}  // namespace qvideo

namespace dravo::media {

class ImageBufferConverter {
 public:
  using ImagePtr = std::shared_ptr<ImageBuffer const>;

  // `img` in the `target` format: one image on success (the source itself
  // when nothing changes), empty on failure. Results carry the source's
  // metadata, tokens, start timestamp and priority.
  static std::vector<ImagePtr> convert(const ImageBuffer::FormatType& target, ImagePtr img);
  // The single image of convert, or null (also for a null `img`).
  static ImagePtr easyConvert(const ImageBuffer::FormatType& target, ImagePtr img);
  // To the default layout of `format` at the image's size, pixel aspect 1.
  static ImagePtr easyConvert(const ImageBuffer::PixelFormat& format, ImagePtr img);
  // Shrinks without the cache; the result takes the source's metadata.
  static ImagePtr downsample(const ImageBuffer::FormatType& target, ImagePtr img);

  // Copies the three planes of an I420-variant image of the same size.
  static void copyImageBufferToQvI420(const ImagePtr& src, qvideo::QvI420* dst);
  // Copies the centred part of an I420-variant image that fits `dst`.
  static void copyAndCropImageBufferToQvI420(const ImagePtr& src, qvideo::QvI420* dst);
  // A new image of idealFormat(format, w, h) (an I420 variant) holding a
  // copy of `src`, priority -1000; null for other formats.
  static std::shared_ptr<ImageBuffer> copyQvI420ToImageBuffer(const qvideo::QvI420& src,
                                                              ImageBuffer::PixelFormat format);
  // Copies into `*dst`, first creating it as idealFormat(IMAGE_I420, w, h)
  // when null; priority -1000.
  static void copyQvI420ToImageBuffer(const qvideo::QvI420& src, std::shared_ptr<ImageBuffer>* dst);
  // Points `dst` at the planes of an I420-variant image, no copy; the image
  // must outlive `dst`'s use.
  static void wrapImageBufferToQvI420(const ImagePtr& src, qvideo::QvI420* dst);
  // An IMAGE_I420 image over `src`'s memory, no copy; `src` must outlive it.
  static ImagePtr wrapQvI420ToImageBuffer(const qvideo::QvI420& src);
  // An IMAGE_QV1 image holding the frame's byte form, priority -1000.
  static std::shared_ptr<ImageBuffer> createImageBufferFromQv1EncodedFrame(
      std::shared_ptr<qvideo::EncodedFrame const> frame);
  // The frame parsed from an IMAGE_QV1 image's bytes, or null.
  static std::shared_ptr<qvideo::EncodedFrame const> createQv1EncodedFrameFromImageBuffer(
      const ImagePtr& img);

 private:
  static ImagePtr doConvert(const ImageBuffer::FormatType& target, const ImagePtr& img);
};

}  // namespace dravo::media
