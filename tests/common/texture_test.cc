#include "common/texture.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

TEST(TextureTest, PixelTextureLayoutUniqueIdsAndHostileSizes) {
  EXPECT_NE(TextureId().serial(), TextureId().serial());
  PixelTexture i420(Texture::FORMAT_I420, Size(5, 3), Time::fromNSec(7));
  ASSERT_EQ(i420.getPlanes(), 3);
  EXPECT_EQ(i420.getStride(1), 3);
  EXPECT_EQ(i420.getSize(), 5u * 3 + 2 * (3u * 2));
  EXPECT_EQ(i420.getBuffer(2) - i420.getBuffer(0), 15 + 6);
  EXPECT_TRUE(i420.getBuffer(3) == nullptr && i420.getStride(-1) == 0) << "planes out of range";
  PixelTexture bgra(Texture::FORMAT_BGRA32, Size(2, 2));
  bgra.mutableBuffer(0)[15] = 0xAB;  // the last byte is writable
  // Hostile sizes allocate nothing.
  EXPECT_EQ(PixelTexture(Texture::FORMAT_RGB, Size(-1, -1)).getPlanes(), 0);
  EXPECT_EQ(PixelTexture(Texture::FORMAT_RGB, Size(1 << 30, 2)).getSize(), 0u);
}

}  // namespace
}  // namespace dravo
