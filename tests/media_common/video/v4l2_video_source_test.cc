#include "media_common/video/v4l2_video_source.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "common/deferred.h"
#include "media_common/link_handle.h"
#include "media_common/synthetic_clock.h"
#include "media_common/video/v4l2_device_probe.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/media_common/video/fake_v4l2_device.h"
#include "tests/media_common/video/video_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using v4l2_testing::FakeCamera;
using v4l2_testing::FakeFormat;
using v4l2_testing::FakeV4L2System;
using video_testing::FrameCollector;

constexpr Time kStart = Time::fromNSec(11000000000000);  // 11000 s

std::vector<uint8_t> yuyvFrame(int width, int height, uint32_t padding, uint8_t seed) {
  size_t const stride = static_cast<size_t>(width) * 2 + padding;
  std::vector<uint8_t> bytes(stride * static_cast<size_t>(height));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(seed + i % 7);
  return bytes;
}

// Waits in wall time (generously) for `condition`, running the scheduler.
template <typename Condition>
bool eventually(testing::ManualScheduler& scheduler, Condition condition) {
  Time const deadline = Time::now() + Duration::fromSec(30);
  while (!condition()) {
    if (Time::now() > deadline) return false;
    waitForDeferredCalls();
    scheduler.runAll();
    std::this_thread::yield();
  }
  return true;
}

class V4L2VideoSourceTest : public CaptureSourceTest<V4L2VideoSource> {
 protected:
  V4L2VideoSourceTest() : CaptureSourceTest(kStart) {}
  void SetUp() override {
    camera_ = system_->addCamera("/dev/video3");
    camera_->card = "Desk camera";
    camera_->bus_info = "usb-0000:00:14.0-2";
    camera_->formats = {
        FakeFormat{V4L2_PIX_FMT_YUYV, {{320, 240}, {640, 480}}, false, {}, {{1, 30}, {1, 15}}}};
    camera_->row_padding = 16;
  }
  void start(std::string const& device) {
    ElementArgs args = cameraArgs(device, 320, 240);
    args.property("req_fps", PropertyValue(15.0f));
    attach(createV4L2VideoSource(args, system_));
  }

  std::shared_ptr<FakeV4L2System> system_ = std::make_shared<FakeV4L2System>();
  std::shared_ptr<FakeCamera> camera_;
};

// A frame too short for the mode is dropped, and one claiming more than its
// buffer holds is read no further than the buffer; streaming goes on.
TEST_F(V4L2VideoSourceTest, StreamsTheChosenModeAsYuyvFramesDroppingShortOnes) {
  start("usb-0000:00:14.0-2");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  v4l2_pix_format const format = camera_->get(&FakeCamera::format_);
  EXPECT_EQ(320u, format.width);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_YUYV), format.pixelformat);
  v4l2_fract const interval = camera_->get(&FakeCamera::interval_);
  EXPECT_EQ(15u, interval.denominator / interval.numerator);
  EXPECT_EQ(PropertyValue(15.0f), source_->getPropertyNode("fps")->getValue());
  EXPECT_EQ(status_codes::Ok, statusCode());

  auto const bytes = yuyvFrame(320, 240, 16, 3);
  ASSERT_TRUE(camera_->pushFrame(bytes, 100));
  ASSERT_TRUE(camera_->pushFrame(bytes, 1 << 30));
  generator_.advanceClock(Duration::fromMSec(70));
  ASSERT_TRUE(camera_->pushFrame(bytes));
  ASSERT_TRUE(eventually(*scheduler_, [&] { return sink_->count() >= 2; }));
  ASSERT_EQ(2u, sink_->count());  // the short frame is gone
  auto frame = sink_->frames()[1];
  EXPECT_EQ(ImageBuffer::IMAGE_YUYV, frame->format().pixel_format_);
  EXPECT_EQ(320, frame->width());
  EXPECT_EQ(kStart + Duration::fromMSec(70), frame->getStartTimestamp());
  EXPECT_NE(0, frame->getPriority());
  for (int y : {0, 1, 239})
    EXPECT_EQ(0, std::memcmp(frame->getPixelAddress(0, y, 0), bytes.data() + y * (640 + 16), 640))
        << y;
  EXPECT_EQ(status_codes::Ok, statusCode());
}

// A silent camera is reopened by the watchdog and streams again; an
// unplugged one ends in a status the watchdog leaves alone, and closes.
TEST_F(V4L2VideoSourceTest, WatchdogReopensASilentCameraAndAnUnpluggedOneFails) {
  start("usb-0000:00:14.0-2");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  for (int i = 0; i < 12; ++i) {
    generator_.advanceClock(Duration::fromSec(1));
    settle();
  }
  // Each opening looks the node up (one open) and then streams (another).
  EXPECT_EQ(4, camera_->get(&FakeCamera::open_count_));
  ASSERT_TRUE(camera_->waitUntilStreaming());
  ASSERT_TRUE(camera_->pushFrame(yuyvFrame(320, 240, 16, 1)));
  ASSERT_TRUE(eventually(*scheduler_, [&] { return sink_->count() == 1; }));

  camera_->unplug();
  ASSERT_TRUE(eventually(*scheduler_, [&] { return statusCode() < 0; }));
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  EXPECT_NE(std::string::npos,
            source_->getStatus()->getStatusMessage().find("Camera usb-0000:00:14.0-2 stopped"));
  generator_.advanceClock(Duration::fromSec(30));
  settle();
  EXPECT_EQ(4, camera_->get(&FakeCamera::open_count_));
  source_->getPropertyNode("enabled")->setValue(PropertyValue(false));
  settle();
  EXPECT_FALSE(camera_->get(&FakeCamera::open_));
  EXPECT_EQ(0u, camera_->get(&FakeCamera::mapped_));
}

TEST_F(V4L2VideoSourceTest, MissingOrLockedCamerasSetTheOpenStatus) {
  start("usb-elsewhere");
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  EXPECT_EQ("Camera usb-elsewhere not found", source_->getStatus()->getStatusMessage());
  camera_->openable = false;
  source_->getPropertyNode("device")->setValue(PropertyValue("/dev/video3"));
  settle();
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  camera_->openable = true;
  source_->getPropertyNode("reopen")->setValue(PropertyValue(true));
  settle();
  EXPECT_EQ(status_codes::Ok, statusCode());
  EXPECT_TRUE(camera_->get(&FakeCamera::streaming_));
}

TEST(V4L2ProbeTest, ListsCaptureDevicesOnceByBusPosition) {
  FakeV4L2System system;
  auto first = system.addCamera("/dev/video0");
  first->card = "Front";
  first->bus_info = "usb-a";
  auto metadata = system.addCamera("/dev/video1");
  metadata->bus_info = "usb-a";
  metadata->device_caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  auto twin = system.addCamera("/dev/video2");
  twin->bus_info = "usb-a";
  auto second = system.addCamera("/dev/video4");
  second->card = std::string(40, 'N');  // fills the field without a terminator
  second->bus_info = "";
  auto locked = system.addCamera("/dev/video5");
  locked->openable = false;
  system.addNodeWithoutDriver("/dev/video9");

  auto list = probeV4L2Devices(system);
  ASSERT_EQ(2u, list->numDevices());
  auto it = list->begin();
  EXPECT_EQ(DeviceList::Entry("usb-a", "Front"), *it++);
  EXPECT_EQ(DeviceList::Entry("/dev/video4", std::string(32, 'N')), *it);

  EXPECT_EQ("/dev/video0", findV4L2DeviceNode(system, ""));
  EXPECT_EQ("/dev/video0", findV4L2DeviceNode(system, "usb-a"));
  EXPECT_EQ("/dev/video4", findV4L2DeviceNode(system, "/dev/video4"));
  EXPECT_EQ("", findV4L2DeviceNode(system, "usb-b"));
}

}  // namespace
}  // namespace dravo::media
