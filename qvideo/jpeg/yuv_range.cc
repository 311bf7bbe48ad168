#include "qvideo/jpeg/yuv_range.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace dravo::jpeg {
namespace {

using Table = std::array<uint8_t, 256>;

// Limited range: luma 16..235 (219 steps), chroma 16..240 around 128 (224 steps).
Table makeTable(RangeMapping mapping, SampleKind kind) {
  bool const luma = kind == SampleKind::kLuma;
  double const limited_span = luma ? 219.0 : 224.0;
  double const scale =
      mapping == RangeMapping::kFullToLimited ? limited_span / 255.0 : 255.0 / limited_span;
  Table table{};
  for (int value = 0; value < 256; ++value) {
    double mapped;
    if (luma) {
      mapped =
          mapping == RangeMapping::kFullToLimited ? 16.0 + value * scale : (value - 16.0) * scale;
    } else {
      mapped = 128.0 + (value - 128.0) * scale;
    }
    table[value] = static_cast<uint8_t>(std::clamp(std::lround(mapped), 0L, 255L));
  }
  return table;
}

const Table& tableFor(RangeMapping mapping, SampleKind kind) {
  static const Table tables[2][2] = {
      {makeTable(RangeMapping::kFullToLimited, SampleKind::kLuma),
       makeTable(RangeMapping::kFullToLimited, SampleKind::kChroma)},
      {makeTable(RangeMapping::kLimitedToFull, SampleKind::kLuma),
       makeTable(RangeMapping::kLimitedToFull, SampleKind::kChroma)},
  };
  return tables[mapping == RangeMapping::kLimitedToFull][kind == SampleKind::kChroma];
}

}  // namespace

void mapPlaneRange(RangeMapping mapping, SampleKind kind, const uint8_t* source, int source_stride,
                   uint8_t* destination, int destination_stride, int width, int height) {
  const Table& table = tableFor(mapping, kind);
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = source + static_cast<ptrdiff_t>(y) * source_stride;
    uint8_t* out = destination + static_cast<ptrdiff_t>(y) * destination_stride;
    for (int x = 0; x < width; ++x) out[x] = table[in[x]];
  }
}

}  // namespace dravo::jpeg
