#pragma once
// Shrinking images: the resize step of a conversion.
//
// Stateless; any thread, on images no other thread writes.

#include <memory>

#include "media_common/video/image_buffer.h"

namespace dravo::media::image_conversion {

// A new image of `target_format`'s pixel format and size, made from `source`
// (same number of planes), never larger than the source: each dimension is
// the smaller of target and source. Planes shrunk by 1.9 or more use the
// 2x2 average, others bilinear scaling. An aligned I420 target (from an
// aligned source) first crops the source to the target's aspect ratio.
// Encoded targets are a programming error.
std::shared_ptr<ImageBuffer> downsampleImageBuffer(
    const ImageBuffer::FormatType& target_format, const std::shared_ptr<ImageBuffer const>& source);

// Each destination sample is the rounded mean of the 2x2 source block at
// its scaled position. Plane offsets are relative to `src` and `dst`, the
// images' data pointers.
void downsample2x2Average(const unsigned char* src, const ImageBuffer::Plane& src_plane,
                          unsigned char* dst, const ImageBuffer::Plane& dst_plane);

}  // namespace dravo::media::image_conversion
