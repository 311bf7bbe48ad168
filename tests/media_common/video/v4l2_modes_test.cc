#include "media_common/video/v4l2_modes.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/fake_v4l2_device.h"

namespace dravo::media {
namespace {

using v4l2_testing::FakeFormat;
using v4l2_testing::FakeV4L2System;

class V4L2ModesTest : public ::testing::Test {
 protected:
  void SetUp() override { camera_ = system_.addCamera("/dev/video0"); }
  std::vector<V4L2Mode> modes(V4L2Request const& request) {
    auto device = system_.createDevice();
    EXPECT_EQ(0, device->open("/dev/video0"));
    return enumerateV4L2Modes(*device, request);
  }
  std::optional<V4L2Mode> choose(
      int width, int height, float fps,
      ImageBuffer::PixelFormat preferred = ImageBuffer::IMAGE_CONSTRAINED_I420) {
    V4L2Request request{width, height, fps, preferred};
    return chooseV4L2Mode(modes(request), request);
  }

  FakeV4L2System system_;
  std::shared_ptr<v4l2_testing::FakeCamera> camera_;
};

TEST_F(V4L2ModesTest, NearestModeWinsAndFormatBreaksTies) {
  camera_->formats = {
      FakeFormat{V4L2_PIX_FMT_YUYV, {{640, 480}}, false, {}, {{1, 30}, {1, 10}}},
      FakeFormat{V4L2_PIX_FMT_H264, {{1280, 720}}, false, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_YUV420, {{1280, 720}}, false, {}, {{1, 10}}},
      FakeFormat{V4L2_PIX_FMT_MJPEG, {{1280, 720}, {1920, 1080}}, false, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_NV12, {{640, 480}}, false, {}, {{1, 30}}},
  };
  auto all = modes(V4L2Request{});
  EXPECT_EQ(6u, all.size());  // H.264 is left out
  for (V4L2Mode const& mode : all) EXPECT_NE(static_cast<uint32_t>(V4L2_PIX_FMT_H264), mode.fourcc);

  // 720p30 only comes as MJPEG; planar YUV has it at 10 fps only.
  auto hd = choose(1280, 720, 30);
  ASSERT_TRUE(hd);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_MJPEG), hd->fourcc);
  EXPECT_EQ(1280, hd->width);
  EXPECT_FLOAT_EQ(30, hd->fps());

  // VGA at 30 comes as YUYV and NV12: I420 was asked for.
  auto vga = choose(640, 480, 30);
  ASSERT_TRUE(vga);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_NV12), vga->fourcc);
  // Asking for MJPEG at VGA still gets VGA, as MJPEG has no VGA mode.
  auto compressed = choose(640, 480, 30, ImageBuffer::IMAGE_MJPEG);
  ASSERT_TRUE(compressed);
  EXPECT_EQ(640, compressed->width);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_YUYV), compressed->fourcc);

  // Slow rates prefer the slow mode at the right size.
  auto slow = choose(1280, 720, 10);
  ASSERT_TRUE(slow);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_YUV420), slow->fourcc);
  EXPECT_EQ(10u, slow->interval_den);
}

TEST_F(V4L2ModesTest, StepwiseSizesSnapOntoTheirSteps) {
  FakeFormat stepwise{V4L2_PIX_FMT_NV12, {}, true, {}, {{1, 30}}};
  stepwise.range = {160, 1920, 16, 120, 1080, 8};
  camera_->formats = {stepwise};
  auto mode = choose(1000, 500, 30);
  ASSERT_TRUE(mode);
  EXPECT_EQ(1008, mode->width);
  EXPECT_EQ(504, mode->height);
  auto tiny = choose(10, 10, 30);
  ASSERT_TRUE(tiny);
  EXPECT_EQ(160, tiny->width);
  EXPECT_EQ(120, tiny->height);
}

TEST_F(V4L2ModesTest, HostileDriverAnswersAreBoundedOrSkipped) {
  camera_->formats = {
      FakeFormat{V4L2_PIX_FMT_YUYV, {{0, 480}, {99999, 10}, {320, 240}}, false, {}, {{0, 0}}}};
  auto sane = modes(V4L2Request{});
  ASSERT_EQ(1u, sane.size());
  EXPECT_EQ(320, sane[0].width);
  // No usable interval: assume 30 fps.
  EXPECT_FLOAT_EQ(30, sane[0].fps());

  camera_->formats = {FakeFormat{V4L2_PIX_FMT_YUYV, {{320, 240}}, false, {}, {{1, 30}}}};
  camera_->endless_formats = true;
  EXPECT_LE(modes(V4L2Request{}).size(), 64u);
  EXPECT_FALSE(chooseV4L2Mode({}, V4L2Request{}));
}

}  // namespace
}  // namespace dravo::media
