#include "qvideo/jpeg/yuv_range.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace dravo::jpeg {
namespace {

using Table = std::array<uint8_t, 256>;

// Limited range: luma 16..235 (219 steps), chroma 16..240 around 128 (224 steps).
Table makeLimitedToFullTable(SampleKind kind) {
  Table table{};
  for (int value = 0; value < 256; ++value) {
    double const full = kind == SampleKind::kLuma ? (value - 16.0) * 255.0 / 219.0
                                                  : 128.0 + (value - 128.0) * 255.0 / 224.0;
    table[value] = static_cast<uint8_t>(std::clamp(std::lround(full), 0L, 255L));
  }
  return table;
}

void mapWithTable(const Table& table, const uint8_t* source, int source_stride,
                  uint8_t* destination, int destination_stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = source + static_cast<ptrdiff_t>(y) * source_stride;
    uint8_t* out = destination + static_cast<ptrdiff_t>(y) * destination_stride;
    for (int x = 0; x < width; ++x) out[x] = table[in[x]];
  }
}

// Every decoded frame takes this way, so it is arithmetic the compiler can
// vectorise rather than a table lookup: (v * scale + offset) >> 16, with
// constants that give lround(16 + v * 219 / 255) for luma and
// lround(128 + (v - 128) * 224 / 255) for chroma, exactly, for all 256 inputs.
void mapFullToLimited(SampleKind kind, const uint8_t* source, int source_stride,
                      uint8_t* destination, int destination_stride, int width, int height) {
  bool const luma = kind == SampleKind::kLuma;
  uint32_t const scale = luma ? 56280 : 57566;
  uint32_t const offset = luma ? 1081835 : 1052927;
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = source + static_cast<ptrdiff_t>(y) * source_stride;
    uint8_t* out = destination + static_cast<ptrdiff_t>(y) * destination_stride;
    for (int x = 0; x < width; ++x) out[x] = static_cast<uint8_t>((in[x] * scale + offset) >> 16);
  }
}

}  // namespace

void mapPlaneRange(RangeMapping mapping, SampleKind kind, const uint8_t* source, int source_stride,
                   uint8_t* destination, int destination_stride, int width, int height) {
  if (mapping == RangeMapping::kFullToLimited) {
    mapFullToLimited(kind, source, source_stride, destination, destination_stride, width, height);
    return;
  }
  static const Table luma = makeLimitedToFullTable(SampleKind::kLuma);
  static const Table chroma = makeLimitedToFullTable(SampleKind::kChroma);
  mapWithTable(kind == SampleKind::kLuma ? luma : chroma, source, source_stride, destination,
               destination_stride, width, height);
}

}  // namespace dravo::jpeg
