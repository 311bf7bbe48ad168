#pragma once
// Hand-written plane shrinks for the common ratios that libyuv's general
// bilinear scaler handles slowly.
//
// Stateless; any thread, on planes no other thread writes.

#include <cstdint>

namespace dravo::media::image_conversion {

// Whether a `src_width` x `src_height` plane becomes `dst_width` x
// `dst_height` by exactly 2/3 in both directions (1920x1080 to 1280x720).
bool isTwoThirds(int src_width, int src_height, int dst_width, int dst_height);

// Bilinear 2/3 shrink of an 8-bit plane (`isTwoThirds` must hold). Output
// sample (x, y) is the source interpolated at (0.25 + 1.5x, 0.25 + 1.5y),
// where libyuv's bilinear scaler samples too, rounded to nearest: each 3x3
// source block gives a 2x2 output block, with weights 3/4 and 1/4 along
// each axis.
void shrinkTwoThirds(const uint8_t* src, int src_stride, int src_width, int src_height,
                     uint8_t* dst, int dst_stride);

}  // namespace dravo::media::image_conversion
