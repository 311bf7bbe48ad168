#include "media_common/video/v4l2_modes.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>

#include "common/logging.h"
#include "media_common/video/video_mode_picker.h"

DRAVO_LOGGER("video_source");

namespace dravo::media {

namespace {

// Bounds on what a driver may make us enumerate.
constexpr uint32_t kMaxFormats = 64;
constexpr uint32_t kMaxSizes = 256;
constexpr uint32_t kMaxIntervals = 64;
constexpr uint32_t kMaxDimension = 16384;

bool sensibleSize(uint32_t width, uint32_t height) {
  return width > 0 && height > 0 && width <= kMaxDimension && height <= kMaxDimension;
}

int clampDimension(uint32_t value) { return static_cast<int>(std::min(value, kMaxDimension)); }

struct Size {
  int width;
  int height;
};

std::vector<Size> frameSizes(V4L2Device& device, uint32_t fourcc, V4L2Request const& request) {
  std::vector<Size> sizes;
  for (uint32_t index = 0; index < kMaxSizes; ++index) {
    v4l2_frmsizeenum size{};
    size.index = index;
    size.pixel_format = fourcc;
    if (device.ioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
    if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
      if (sensibleSize(size.discrete.width, size.discrete.height))
        sizes.push_back(
            {static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height)});
      continue;
    }
    // Stepwise or continuous: one entry that describes the whole range.
    auto const& range = size.stepwise;
    if (!sensibleSize(range.min_width, range.min_height) || range.max_width < range.min_width ||
        range.max_height < range.min_height)
      break;
    int const step_w = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS
                           ? 1
                           : std::max(1, clampDimension(range.step_width));
    int const step_h = size.type == V4L2_FRMSIZE_TYPE_CONTINUOUS
                           ? 1
                           : std::max(1, clampDimension(range.step_height));
    sizes.push_back({VideoModePicker::findClosestInRange(clampDimension(range.min_width),
                                                         clampDimension(range.max_width), step_w,
                                                         request.width),
                     VideoModePicker::findClosestInRange(clampDimension(range.min_height),
                                                         clampDimension(range.max_height), step_h,
                                                         request.height)});
    break;
  }
  return sizes;
}

double seconds(v4l2_fract const& f) {
  return f.denominator ? static_cast<double>(f.numerator) / f.denominator : 0;
}

// The interval nearest to the requested rate within [lo, hi] seconds.
std::pair<uint32_t, uint32_t> intervalInRange(double lo, double hi, float fps) {
  double const fastest = 1.0 / lo;
  double const slowest = 1.0 / hi;
  float const rate = static_cast<float>(std::clamp<double>(fps, slowest, fastest));
  // The rate as frames per 1000 or 1001 seconds covers the usual
  // whole and NTSC-style rates.
  int frames = 0;
  int per_seconds = 0;
  VideoModePicker::findClosestInFractionRange(1, 1000 * 1001, 1, 1000, 1001, 1, rate, &frames,
                                              &per_seconds);
  if (frames <= 0 || per_seconds <= 0) return {1, 30};
  return {static_cast<uint32_t>(per_seconds), static_cast<uint32_t>(frames)};
}

std::vector<std::pair<uint32_t, uint32_t>> frameIntervals(V4L2Device& device, uint32_t fourcc,
                                                          Size size, V4L2Request const& request) {
  std::vector<std::pair<uint32_t, uint32_t>> intervals;
  for (uint32_t index = 0; index < kMaxIntervals; ++index) {
    v4l2_frmivalenum interval{};
    interval.index = index;
    interval.pixel_format = fourcc;
    interval.width = static_cast<uint32_t>(size.width);
    interval.height = static_cast<uint32_t>(size.height);
    if (device.ioctl(VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
    if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
      if (interval.discrete.numerator && interval.discrete.denominator)
        intervals.emplace_back(interval.discrete.numerator, interval.discrete.denominator);
      continue;
    }
    double const lo = seconds(interval.stepwise.min);
    double const hi = seconds(interval.stepwise.max);
    if (lo > 0 && hi >= lo) intervals.push_back(intervalInRange(lo, hi, request.fps));
    break;
  }
  // Drivers that cannot tell still stream at some rate: assume 30 fps.
  if (intervals.empty()) intervals.emplace_back(1, 30);
  return intervals;
}

// Lower is better.
int formatRank(ImageBuffer::PixelFormat format, ImageBuffer::PixelFormat preferred) {
  bool const compressed_preferred =
      preferred == ImageBuffer::IMAGE_MJPEG || preferred == ImageBuffer::IMAGE_JPEG;
  if (format == preferred) return 0;
  if (!compressed_preferred && ImageBuffer::isI420Variant(format) &&
      ImageBuffer::isI420Variant(preferred))
    return 0;
  switch (format) {
    case ImageBuffer::IMAGE_I420:
      return compressed_preferred ? 3 : 1;
    case ImageBuffer::IMAGE_YUYV:
      return 2;
    case ImageBuffer::IMAGE_MJPEG:
    case ImageBuffer::IMAGE_JPEG:
      return compressed_preferred ? 1 : 3;
    default:
      return 4;
  }
}

}  // namespace

float V4L2Mode::fps() const {
  return interval_num ? static_cast<float>(interval_den) / static_cast<float>(interval_num) : 0;
}

ImageBuffer::PixelFormat pixelFormatForFourcc(uint32_t fourcc) {
  switch (fourcc) {
    case V4L2_PIX_FMT_YUYV:
      return ImageBuffer::IMAGE_YUYV;
    case V4L2_PIX_FMT_YUV420:
    case V4L2_PIX_FMT_NV12:
      return ImageBuffer::IMAGE_I420;
    case V4L2_PIX_FMT_MJPEG:
      return ImageBuffer::IMAGE_MJPEG;
    case V4L2_PIX_FMT_JPEG:
      return ImageBuffer::IMAGE_JPEG;
    default:
      return ImageBuffer::IMAGE_UNKNOWN;
  }
}

std::string fourccName(uint32_t fourcc) {
  std::string name;
  for (int shift = 0; shift < 32; shift += 8) {
    char const c = static_cast<char>((fourcc >> shift) & 0xff);
    name += (c >= 32 && c < 127) ? c : '?';
  }
  return name;
}

std::vector<V4L2Mode> enumerateV4L2Modes(V4L2Device& device, V4L2Request const& request) {
  std::vector<V4L2Mode> modes;
  for (uint32_t index = 0; index < kMaxFormats; ++index) {
    v4l2_fmtdesc format{};
    format.index = index;
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (device.ioctl(VIDIOC_ENUM_FMT, &format) < 0) break;
    if (pixelFormatForFourcc(format.pixelformat) == ImageBuffer::IMAGE_UNKNOWN) {
      LOGF(5, "Skipping capture format %s", fourccName(format.pixelformat).c_str());
      continue;
    }
    for (Size size : frameSizes(device, format.pixelformat, request)) {
      for (auto [num, den] : frameIntervals(device, format.pixelformat, size, request))
        modes.push_back({format.pixelformat, size.width, size.height, num, den});
    }
  }
  return modes;
}

std::optional<V4L2Mode> chooseV4L2Mode(std::vector<V4L2Mode> const& modes,
                                       V4L2Request const& request) {
  std::optional<V4L2Mode> best;
  float best_score = 0;
  int best_rank = 0;
  for (V4L2Mode const& mode : modes) {
    float const score = VideoModePicker::videoModeScore(request.width, request.height, request.fps,
                                                        mode.width, mode.height, mode.fps());
    int const rank = formatRank(pixelFormatForFourcc(mode.fourcc), request.preferred);
    if (!best || score > best_score || (score == best_score && rank < best_rank)) {
      best = mode;
      best_score = score;
      best_rank = rank;
    }
  }
  return best;
}

}  // namespace dravo::media
