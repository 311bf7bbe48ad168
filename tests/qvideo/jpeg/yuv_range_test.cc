#include "qvideo/jpeg/yuv_range.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace dravo::jpeg {
namespace {

std::array<uint8_t, 256> mapAll(RangeMapping mapping, SampleKind kind,
                                std::array<uint8_t, 256> const& values) {
  std::array<uint8_t, 256> out;
  // One row of 256 samples, so the vector and the remainder code both run.
  mapPlaneRange(mapping, kind, values.data(), 256, out.data(), 256, 256, 1);
  return out;
}

// Full to limited rounds to nearest; limited to full and back is the
// identity on the limited range.
TEST(YuvRangeTest, FullToLimitedRoundsToNearestAndInvertsLimitedToFull) {
  std::array<uint8_t, 256> identity;
  for (int v = 0; v < 256; ++v) identity[v] = static_cast<uint8_t>(v);
  for (SampleKind kind : {SampleKind::kLuma, SampleKind::kChroma}) {
    bool const luma = kind == SampleKind::kLuma;
    auto const limited = mapAll(RangeMapping::kFullToLimited, kind, identity);
    for (int v = 0; v < 256; ++v)
      EXPECT_EQ(limited[v],
                std::lround(luma ? 16 + v * 219.0 / 255.0 : 128 + (v - 128) * 224.0 / 255.0))
          << v;
    auto const full = mapAll(RangeMapping::kLimitedToFull, kind, identity);
    auto const back = mapAll(RangeMapping::kFullToLimited, kind, full);
    int const top = luma ? 235 : 240;
    for (int v = 16; v <= top; ++v) EXPECT_EQ(back[v], v) << v;
    // Chroma's 224 steps span 255 around 128, so its low end lands on 0.5.
    EXPECT_LE(full[16], 1);
    EXPECT_EQ(full[top], 255);
  }
}

}  // namespace
}  // namespace dravo::jpeg
