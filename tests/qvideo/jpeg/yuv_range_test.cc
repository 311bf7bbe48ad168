#include "qvideo/jpeg/yuv_range.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace dravo::jpeg {
namespace {

// Planes whose rows end at every offset from the vector width, mapped in
// place and into another plane: every sample rounds to nearest, the bytes
// past each row's width stay alone, and limited to full and back is the
// identity on the limited range.
TEST(YuvRangeTest, MappingIsExactAtEveryRowLengthKeepsThePaddingAndInverts) {
  for (SampleKind kind : {SampleKind::kLuma, SampleKind::kChroma}) {
    bool const luma = kind == SampleKind::kLuma;
    for (int width : {1, 15, 16, 17, 31, 33, 47, 256}) {
      int const stride = width + 5, height = 3;
      std::vector<uint8_t> in(static_cast<size_t>(stride) * height);
      for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 37 + width);
      std::vector<uint8_t> out(in.size(), 0xEE), in_place = in;
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in.data(), stride, out.data(), stride,
                    width, height);
      mapPlaneRange(RangeMapping::kFullToLimited, kind, in_place.data(), stride, in_place.data(),
                    stride, width, height);
      for (size_t i = 0; i < in.size(); ++i) {
        bool const inside = static_cast<int>(i % stride) < width;
        long const v = in[i];
        long const limited =
            std::lround(luma ? 16 + v * 219.0 / 255.0 : 128 + (v - 128) * 224.0 / 255.0);
        ASSERT_EQ(out[i], inside ? limited : 0xEE) << width << " " << i;
        ASSERT_EQ(in_place[i], inside ? out[i] : in[i]) << width << " " << i;
      }
    }
    std::vector<uint8_t> values(256), full(256);
    for (int v = 0; v < 256; ++v) values[v] = static_cast<uint8_t>(v);
    mapPlaneRange(RangeMapping::kLimitedToFull, kind, values.data(), 256, full.data(), 256, 256, 1);
    mapPlaneRange(RangeMapping::kFullToLimited, kind, full.data(), 256, values.data(), 256, 256, 1);
    int const top = luma ? 235 : 240;
    for (int v = 16; v <= top; ++v) EXPECT_EQ(values[v], v) << v;
    // Chroma's 224 steps span 255 around 128, so its low end lands on 0.5.
    EXPECT_LE(full[16], 1);
    EXPECT_EQ(full[top], 255);
  }
}

}  // namespace
}  // namespace dravo::jpeg
