#pragma once
// Resamples one 8-bit plane to the size of another.
//
// Stateless; any thread may call it, on planes no other thread writes.

#include "qvideo/qv_gray8.h"

namespace qvideo {

class Resampler4Taps {
 public:
  // Scales the picture of `source` to the picture size of `destination`, then
  // refreshes the destination's padding margin (padImage_reference), so an
  // owned aligned image is ready to use without a separate padImage.
  //
  // Filter: libyuv's bilinear filter, the four taps being the 2x2 source
  // samples around each output position. Its weights always sum to one, so a
  // constant plane stays exactly constant (libyuv's box filter, which would
  // average more samples on strong reductions, loses up to 3 levels on a
  // constant plane at non-integer ratios). Reductions beyond 2:1 skip samples
  // and may alias; callers that shrink a lot average 2x2 blocks first. Reads
  // only the source's picture area. Does nothing when either plane is empty.
  // The planes must not overlap.
  static void resampleImg(const QvGray8& source, const QvGray8& destination);
};

}  // namespace qvideo
