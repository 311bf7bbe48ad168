#pragma once
// Turns one filled Video4Linux2 capture buffer into an `ImageBuffer`.
//
// The bytes are copied out (the driver reuses its buffer at once): YUYV
// becomes IMAGE_YUYV, planar YUV 4:2:0 and NV12 become IMAGE_I420, MJPEG
// and JPEG become IMAGE_MJPEG and IMAGE_JPEG of the mode's size. Row strides
// of the driver ("bytesperline") are honoured and removed. The buffer is
// outside data: a frame whose bytes do not cover the picture its format
// claims gives null, and nothing outside [data, data + bytes) is read.
//
// A plain function; any thread.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "media_common/video/image_buffer.h"

namespace dravo::media {

// `stride` is the driver's bytesperline (0: tightly packed).
std::shared_ptr<ImageBuffer> imageFromV4L2Buffer(uint32_t fourcc, int width, int height,
                                                 uint32_t stride, uint8_t const* data,
                                                 size_t bytes);

}  // namespace dravo::media
