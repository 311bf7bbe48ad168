#include "qvideo/resampler_4taps.h"

#include <libyuv/scale.h>

namespace qvideo {

void Resampler4Taps::resampleImg(const QvGray8& source, const QvGray8& destination) {
  if (source.empty() || destination.empty()) return;
  libyuv::ScalePlane(source.data_, source.stride_, source.width_, source.height_, destination.data_,
                     destination.stride_, destination.width_, destination.height_,
                     libyuv::kFilterBilinear);
  padImage_reference(destination);
}

}  // namespace qvideo
