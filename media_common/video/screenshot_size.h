#pragma once
// The size of a screen or window picture taken at a requested size: the
// same fitting serves the X11 capture and the screen-cast portal.
//
// A pure function, safe on any thread.

#include "common/size.h"

namespace dravo::media {

// The size of a picture of a `source`-sized area when `requested` is asked
// for: `source` itself unless `requested` has both parts positive and is
// narrower; then `requested` corrected towards the source's aspect ratio
// (a width or height off by less than one pixel is kept), never larger than
// `source` and never empty.
Size fitScreenshotSize(Size const& source, Size const& requested);

}  // namespace dravo::media
