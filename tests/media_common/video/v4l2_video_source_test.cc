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

TEST_F(V4L2VideoSourceTest, StreamsTheChosenModeAsYuyvFrames) {
  start("usb-0000:00:14.0-2");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  EXPECT_EQ(320u, camera_->lastFormat().width);
  EXPECT_EQ(static_cast<uint32_t>(V4L2_PIX_FMT_YUYV), camera_->lastFormat().pixelformat);
  EXPECT_EQ(15u, camera_->lastInterval().denominator / camera_->lastInterval().numerator);
  EXPECT_EQ(PropertyValue(320), source_->getPropertyNode("width")->getValue());
  EXPECT_EQ(PropertyValue(15.0f), source_->getPropertyNode("fps")->getValue());
  EXPECT_EQ(status_codes::Ok, statusCode());

  auto const bytes = yuyvFrame(320, 240, 16, 3);
  generator_.advanceClock(Duration::fromMSec(70));
  ASSERT_TRUE(camera_->pushFrame(bytes));
  ASSERT_TRUE(eventually(*scheduler_, [&] { return sink_->count() == 1; }));
  auto frame = sink_->frames()[0];
  EXPECT_EQ(ImageBuffer::IMAGE_YUYV, frame->format().pixel_format_);
  EXPECT_EQ(320, frame->width());
  EXPECT_EQ(kStart + Duration::fromMSec(70), frame->getStartTimestamp());
  EXPECT_NE(0, frame->getPriority());
  for (int y : {0, 1, 239})
    EXPECT_EQ(0, std::memcmp(frame->getPixelAddress(0, y, 0), bytes.data() + y * (640 + 16), 640))
        << y;
}

TEST_F(V4L2VideoSourceTest, ShortFramesAreDroppedAndStreamingGoesOn) {
  start("");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  auto const bytes = yuyvFrame(320, 240, 16, 9);
  // Four buffers are queued: a short frame, one that claims more than its
  // buffer holds (read no further than the buffer), a good one.
  ASSERT_TRUE(camera_->pushFrame(bytes, 100));
  ASSERT_TRUE(camera_->pushFrame(bytes, 1 << 30));
  ASSERT_TRUE(camera_->pushFrame(bytes));
  ASSERT_TRUE(eventually(*scheduler_, [&] { return sink_->count() >= 1; }));
  EXPECT_EQ(status_codes::Ok, statusCode());
}

TEST_F(V4L2VideoSourceTest, UnpluggedCameraEndsInAStatusAndCloses) {
  start("usb-0000:00:14.0-2");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  camera_->unplug();
  ASSERT_TRUE(eventually(*scheduler_, [&] { return statusCode() < 0; }));
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  EXPECT_NE(std::string::npos,
            source_->getStatus()->getStatusMessage().find("Camera usb-0000:00:14.0-2 stopped"));
  // The watchdog leaves a failed source alone; closing still joins.
  generator_.advanceClock(Duration::fromSec(30));
  settle();
  source_->getPropertyNode("enabled")->setValue(PropertyValue(false));
  settle();
  EXPECT_FALSE(camera_->isOpen());
  EXPECT_EQ(0u, camera_->mappedBuffers());
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
  EXPECT_TRUE(camera_->isStreaming());
}

TEST_F(V4L2VideoSourceTest, WatchdogReopensASilentCamera) {
  start("usb-0000:00:14.0-2");
  ASSERT_TRUE(camera_->waitUntilStreaming());
  for (int i = 0; i < 12; ++i) {
    generator_.advanceClock(Duration::fromSec(1));
    settle();
  }
  // Each opening looks the node up (one open) and then streams (another).
  EXPECT_EQ(4, camera_->openCount());
  ASSERT_TRUE(camera_->waitUntilStreaming());
  ASSERT_TRUE(camera_->pushFrame(yuyvFrame(320, 240, 16, 1)));
  ASSERT_TRUE(eventually(*scheduler_, [&] { return sink_->count() == 1; }));
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

// Opens a real camera when the machine has one.
TEST(V4L2RealDeviceTest, FirstCameraDeliversAFrame) {
  auto system = getV4L2System();
  std::string const path = findV4L2DeviceNode(*system, "");
  if (path.empty()) GTEST_SKIP() << "no capture device";
  V4L2Capture capture(system->createDevice());
  std::string error;
  ASSERT_TRUE(capture.open(path, V4L2Request{}, &error)) << error;
  std::mutex mutex;
  std::condition_variable arrived;
  std::shared_ptr<ImageBuffer> frame;
  bool failed = false;
  ASSERT_TRUE(capture.start(
      [&](std::shared_ptr<ImageBuffer> const& image) {
        std::lock_guard lock(mutex);
        frame = image;
        arrived.notify_all();
      },
      [&](std::string const&) {
        std::lock_guard lock(mutex);
        failed = true;
        arrived.notify_all();
      },
      &error))
      << error;
  {
    std::unique_lock lock(mutex);
    arrived.wait_for(lock, std::chrono::seconds(10), [&] { return frame || failed; });
  }
  capture.stop();
  ASSERT_TRUE(frame);
  EXPECT_EQ(capture.mode().width, frame->width());
}

}  // namespace
}  // namespace dravo::media
