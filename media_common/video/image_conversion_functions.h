#pragma once
// The pixel-format conversions of the conversion table, one function per
// kind of change. Each makes a new image of the wanted format from the
// source and returns it, or null when the source or the wanted format does
// not have the shape the conversion needs.
//
// Stateless; any thread, on images no other thread writes.

#include <memory>

#include "media_common/video/image_buffer.h"

namespace dravo::media::image_conversion {

using ImagePtr = std::shared_ptr<ImageBuffer const>;
using ConversionFunction = std::shared_ptr<ImageBuffer> (*)(const ImageBuffer::FormatType& target,
                                                            const ImagePtr& source);

// Plain copy between I420 layouts; also cuts the centred window out of the
// source when the target is constrained I420 of the source width rounded
// down to a multiple of 8.
std::shared_ptr<ImageBuffer> from_I420_to_I420(const ImageBuffer::FormatType& target,
                                               const ImagePtr& source);
// BGR24, BGRX32 or BGRA32 to an I420 layout of the same or (constrained) a
// smaller size, taking the centred window.
std::shared_ptr<ImageBuffer> from_BGR_to_I420(const ImageBuffer::FormatType& target,
                                              const ImagePtr& source);
std::shared_ptr<ImageBuffer> from_BGR888_to_BGRX8888(const ImageBuffer::FormatType& target,
                                                     const ImagePtr& source);
std::shared_ptr<ImageBuffer> from_I420_to_RGB24(const ImageBuffer::FormatType& target,
                                                const ImagePtr& source);
std::shared_ptr<ImageBuffer> from_I420_to_BGRX32(const ImageBuffer::FormatType& target,
                                                 const ImagePtr& source);
std::shared_ptr<ImageBuffer> from_YUYV_to_I420(const ImageBuffer::FormatType& target,
                                               const ImagePtr& source);

// JPEG and Motion-JPEG decoding; the header is read, and must state the
// target size, before the result is allocated.
std::shared_ptr<ImageBuffer> from_JPEG_to_I420(const ImageBuffer::FormatType& target,
                                               const ImagePtr& source);
std::shared_ptr<ImageBuffer> from_MJPEG_to_I420(const ImageBuffer::FormatType& target,
                                                const ImagePtr& source);
// Inserts the standard Huffman tables after the start-of-image marker.
std::shared_ptr<ImageBuffer> from_MJPEG_to_JPEG(const ImageBuffer::FormatType& target,
                                                const ImagePtr& source);
// Through RGB24, compressed by TurboJPEG at quality 90, 4:2:0.
std::shared_ptr<ImageBuffer> from_I420_to_JPEG(const ImageBuffer::FormatType& target,
                                               const ImagePtr& source);
// The same compression at `quality` (1 to 100) instead of 90.
std::shared_ptr<ImageBuffer> compressI420ToJpeg(const ImagePtr& source, int quality);
// Any convertible format: first to I420 (through ImageBufferConverter), then RGB24.
std::shared_ptr<ImageBuffer> from_any_to_RGB24(const ImageBuffer::FormatType& target,
                                               const ImagePtr& source);

// True when every plane of `format` lies inside its `min_allocation_`
// bytes (aligned I420 is laid out by its allocator and always fits).
bool planesFitAllocation(const ImageBuffer::FormatType& format);

}  // namespace dravo::media::image_conversion
