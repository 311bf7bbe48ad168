#include "media_common/video/screenshot_size.h"

#include <algorithm>
#include <cmath>

namespace dravo::media {

Size fitScreenshotSize(Size const& source, Size const& requested) {
  Size out = source;
  if (!requested.isValid() || !source.isValid() || requested.width() >= source.width()) return out;
  out = requested;
  double const ratio = static_cast<double>(source.width()) / source.height();
  double const excess = requested.height() * ratio - requested.width();
  if (std::abs(excess) >= 1.0) {
    if (excess > 0)
      out.width_ = static_cast<int32_t>(std::trunc(requested.height() * ratio));
    else
      out.height_ = static_cast<int32_t>(std::trunc(requested.width() / ratio));
  }
  // Never larger than the source, and never empty.
  out.width_ = std::clamp(out.width_, 1, source.width());
  out.height_ = std::clamp(out.height_, 1, source.height());
  return out;
}

}  // namespace dravo::media
