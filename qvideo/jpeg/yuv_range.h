#pragma once
// Moves YUV samples between full range (JPEG/JFIF) and the limited range
// every I420 plane of this library uses (see qvideo/low_level.h).
//
// Internal to the JPEG code. Stateless; any thread may call it.

#include <cstdint>

namespace dravo::jpeg {

enum class RangeMapping { kFullToLimited, kLimitedToFull };
enum class SampleKind { kLuma, kChroma };

// Maps width x height samples from `source` into `destination`; the two may
// be the same plane (same pointer and stride), never partly overlapping.
// Limited to full and back is the identity on the limited range.
void mapPlaneRange(RangeMapping mapping, SampleKind kind, const uint8_t* source, int source_stride,
                   uint8_t* destination, int destination_stride, int width, int height);

}  // namespace dravo::jpeg
