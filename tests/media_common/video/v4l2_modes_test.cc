#include "media_common/video/v4l2_modes.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/fake_v4l2_device.h"

namespace dravo::media {
namespace {

using v4l2_testing::FakeFormat;

// Modes of one fake camera whose formats each test scripts.
class V4L2ModesTest : public ::testing::Test {
 protected:
  std::vector<V4L2Mode> modes(V4L2Request const& request = {}) {
    auto device = system_.createDevice();
    EXPECT_EQ(0, device->open("/dev/video0"));
    return enumerateV4L2Modes(*device, request);
  }

  v4l2_testing::FakeV4L2System system_;
  std::shared_ptr<v4l2_testing::FakeCamera> camera_ = system_.addCamera("/dev/video0");
};

// Size first, then rate, then the asked-for format; stepwise sizes snap
// onto their steps within the range.
TEST_F(V4L2ModesTest, NearestModeWinsAndFormatBreaksTies) {
  camera_->formats = {
      FakeFormat{V4L2_PIX_FMT_YUYV, {{640, 480}}, {}, {{1, 30}, {1, 10}}},
      FakeFormat{V4L2_PIX_FMT_H264, {{1280, 720}}, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_NV12, {{1280, 720}, {640, 480}}, {}, {{1, 10}}},
      FakeFormat{V4L2_PIX_FMT_MJPEG, {{1280, 720}}, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_YUV420, {}, {160, 320, 16, 120, 240, 8}, {{1, 5}}},
  };
  for (V4L2Mode const& mode : modes()) EXPECT_NE(uint32_t{V4L2_PIX_FMT_H264}, mode.fourcc);
  struct Case {
    int width, height;
    float fps;
    ImageBuffer::PixelFormat preferred;
    uint32_t fourcc;
    int got_width, got_height;
  } const cases[] = {
      {1280, 720, 30, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_MJPEG, 1280, 720},
      {1280, 720, 10, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_NV12, 1280, 720},
      {640, 480, 10, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_NV12, 640, 480},
      {640, 480, 10, ImageBuffer::IMAGE_MJPEG, V4L2_PIX_FMT_YUYV, 640, 480},
      {200, 150, 5, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_YUV420, 208, 152},
      {10, 10, 5, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_YUV420, 160, 120},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << "@" << c.fps);
    V4L2Request const request{c.width, c.height, c.fps, c.preferred};
    auto mode = chooseV4L2Mode(modes(request), request);
    ASSERT_TRUE(mode);
    EXPECT_EQ(c.fourcc, mode->fourcc);
    EXPECT_EQ(c.got_width, mode->width);
    EXPECT_EQ(c.got_height, mode->height);
    EXPECT_FLOAT_EQ(c.fps, mode->fps());
  }
}

TEST_F(V4L2ModesTest, HostileDriverAnswersAreBoundedOrSkipped) {
  camera_->formats = {
      FakeFormat{V4L2_PIX_FMT_YUYV, {{0, 480}, {99999, 10}, {320, 240}}, {}, {{0, 0}}}};
  auto sane = modes();
  ASSERT_EQ(1u, sane.size());
  EXPECT_EQ(320, sane[0].width);
  EXPECT_FLOAT_EQ(30, sane[0].fps());  // no usable interval: assume 30 fps
  camera_->formats.assign(10000, camera_->formats[0]);
  EXPECT_LE(modes().size(), 64u);
  EXPECT_FALSE(chooseV4L2Mode({}, V4L2Request{}));
}

}  // namespace
}  // namespace dravo::media
