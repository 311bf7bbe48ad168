#pragma once
// Capture modes of a Video4Linux2 device and the choice among them.
//
// `enumerateV4L2Modes` asks the device for its pixel formats, frame sizes
// and frame intervals. Discrete sizes and intervals are listed as they are;
// stepwise and continuous ranges contribute the one value nearest to the
// request (sizes snapped onto their steps, the rate as a fraction picked
// with `VideoModePicker`). Only formats this library can deliver are kept.
// The driver is outside data: every list is bounded and nonsense entries
// (zero sizes, zero denominators) are skipped.
//
// `chooseV4L2Mode` takes the mode with the best `VideoModePicker` score
// against the request; among equal scores the format nearest to the
// preferred pixel format wins.
//
// Plain functions; the device is used by the calling thread only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "media_common/video/image_buffer.h"
#include "media_common/video/v4l2_device.h"

namespace dravo::media {

struct V4L2Mode {
  uint32_t fourcc = 0;
  int width = 0;
  int height = 0;
  // Seconds per frame as a fraction.
  uint32_t interval_num = 1;
  uint32_t interval_den = 30;

  float fps() const;
  bool operator==(V4L2Mode const&) const = default;
};

struct V4L2Request {
  int width = 640;
  int height = 480;
  float fps = 30;
  ImageBuffer::PixelFormat preferred = ImageBuffer::IMAGE_CONSTRAINED_I420;
};

// The image format frames of `fourcc` are delivered in; IMAGE_UNKNOWN for
// formats this library does not take.
ImageBuffer::PixelFormat pixelFormatForFourcc(uint32_t fourcc);
// "YUYV", "MJPG", ...
std::string fourccName(uint32_t fourcc);

std::vector<V4L2Mode> enumerateV4L2Modes(V4L2Device& device, V4L2Request const& request);
std::optional<V4L2Mode> chooseV4L2Mode(std::vector<V4L2Mode> const& modes,
                                       V4L2Request const& request);

}  // namespace dravo::media
