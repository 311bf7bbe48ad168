#include "qvideo/jpeg/yuv_range.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace dravo::jpeg {
namespace {

std::array<uint8_t, 256> mapAll(RangeMapping mapping, SampleKind kind) {
  std::array<uint8_t, 256> values;
  for (int v = 0; v < 256; ++v) values[v] = static_cast<uint8_t>(v);
  std::array<uint8_t, 256> out;
  // One row of 256 samples, so the vector and the remainder code both run.
  mapPlaneRange(mapping, kind, values.data(), 256, out.data(), 256, 256, 1);
  return out;
}

TEST(YuvRangeTest, FullToLimitedRoundsToNearest) {
  auto const luma = mapAll(RangeMapping::kFullToLimited, SampleKind::kLuma);
  auto const chroma = mapAll(RangeMapping::kFullToLimited, SampleKind::kChroma);
  for (int v = 0; v < 256; ++v) {
    EXPECT_EQ(luma[v], std::lround(16 + v * 219.0 / 255.0)) << v;
    EXPECT_EQ(chroma[v], std::lround(128 + (v - 128) * 224.0 / 255.0)) << v;
  }
}

TEST(YuvRangeTest, LimitedToFullAndBackIsTheIdentityOnTheLimitedRange) {
  for (SampleKind kind : {SampleKind::kLuma, SampleKind::kChroma}) {
    auto const full = mapAll(RangeMapping::kLimitedToFull, kind);
    std::array<uint8_t, 256> back;
    mapPlaneRange(RangeMapping::kFullToLimited, kind, full.data(), 256, back.data(), 256, 256, 1);
    int const top = kind == SampleKind::kLuma ? 235 : 240;
    for (int v = 16; v <= top; ++v) EXPECT_EQ(back[v], v) << v;
    // Chroma's 224 steps span 255 around 128, so its low end lands on 0.5.
    EXPECT_LE(full[16], 1);
    EXPECT_EQ(full[top], 255);
    EXPECT_EQ(full[128], kind == SampleKind::kLuma ? 130 : 128);
  }
}

}  // namespace
}  // namespace dravo::jpeg
