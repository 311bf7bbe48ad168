#include "common/texture.h"

#include <gtest/gtest.h>

#include <sstream>

namespace dravo {
namespace {

TEST(TextureTest, IdsAreUniqueAndCarryFeedback) {
  TextureId a, b;
  EXPECT_NE(a.serial(), b.serial());
  TextureId copy = a;
  EXPECT_EQ(copy, a);
  auto feedback = std::make_shared<DrivingFeedback>();
  feedback->tag = 42;
  copy.setFeedback(feedback);
  EXPECT_EQ(copy.feedback()->tag, 42u);
  EXPECT_EQ(a.feedback(), nullptr);
  std::ostringstream text;
  text << a;
  EXPECT_EQ(text.str(), std::to_string(a.serial()));
}

TEST(TextureTest, PixelTextureLayout) {
  PixelTexture i420(Texture::FORMAT_I420, Size(5, 3), Time::fromNSec(7));
  ASSERT_EQ(i420.getPlanes(), 3);
  EXPECT_EQ(i420.getStride(0), 5);
  EXPECT_EQ(i420.getStride(1), 3);
  EXPECT_EQ(i420.getSize(), 5u * 3 + 2 * (3u * 2));
  EXPECT_EQ(i420.getBuffer(1) - i420.getBuffer(0), 15);
  EXPECT_EQ(i420.getBuffer(2) - i420.getBuffer(1), 6);
  EXPECT_EQ(i420.getBuffer(3), nullptr);
  EXPECT_EQ(i420.getStride(-1), 0);
  EXPECT_EQ(i420.getTimestamp(), Time::fromNSec(7));
  EXPECT_EQ(i420.getViewport(), (Texture::Viewport{0, 0, 5, 3}));

  PixelTexture bgra(Texture::FORMAT_BGRA32, Size(2, 2));
  bgra.mutableBuffer(0)[7] = 0xAB;
  EXPECT_EQ(bgra.getBuffer()[7], 0xAB);
  EXPECT_EQ(bgra.getStride(0), 8);
  EXPECT_EQ(bgra.getFormat(), Texture::FORMAT_BGRA32);

  // Hostile sizes allocate nothing.
  EXPECT_EQ(PixelTexture(Texture::FORMAT_RGB, Size(-1, -1)).getPlanes(), 0);
  EXPECT_EQ(PixelTexture(Texture::FORMAT_RGB, Size(1 << 30, 2)).getSize(), 0u);
  EXPECT_FALSE(Size(-1, -1).isValid());
  EXPECT_EQ(Size(3, 4).area(), 12);
}

}  // namespace
}  // namespace dravo
