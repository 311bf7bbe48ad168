#include "qvideo/jpeg/yuv_range.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

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

long fullToLimited(SampleKind kind, int v) {
  return std::lround(kind == SampleKind::kLuma ? 16 + v * 219.0 / 255.0
                                               : 128 + (v - 128) * 224.0 / 255.0);
}

// Random planes whose rows end at every offset from the vector width, mapped
// in place and into another plane: every sample is exact, and the bytes past
// each row's width are left alone.
TEST(YuvRangeTest, FullToLimitedIsExactAtEveryRowLengthAndKeepsThePadding) {
  std::mt19937 random(7);
  for (SampleKind kind : {SampleKind::kLuma, SampleKind::kChroma}) {
    for (int width : {1, 15, 16, 17, 31, 33, 47, 250}) {
      int const stride = width + 5;
      int const height = 3;
      std::vector<uint8_t> in(static_cast<size_t>(stride) * height);
      for (auto& v : in) v = static_cast<uint8_t>(random());
      std::vector<uint8_t> out(in.size(), 0xEE);
      std::vector<uint8_t> in_place = in;
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in.data(), stride, out.data(), stride,
                    width, height);
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in_place.data(), stride, in_place.data(),
                    stride, width, height);
      for (size_t i = 0; i < in.size(); ++i) {
        bool const inside = static_cast<int>(i % stride) < width;
        ASSERT_EQ(out[i], inside ? fullToLimited(kind, in[i]) : 0xEE) << width << " " << i;
        ASSERT_EQ(in_place[i], inside ? out[i] : in[i]) << width << " " << i;
      }
    }
  }
}

}  // namespace
}  // namespace dravo::jpeg
