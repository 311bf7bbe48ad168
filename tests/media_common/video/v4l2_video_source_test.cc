#include "media_common/video/v4l2_video_source.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include "media_common/video/v4l2_device_probe.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/media_common/video/fake_v4l2_device.h"

namespace dravo::media {
namespace {

using v4l2_testing::FakeCamera;
using v4l2_testing::FakeFormat;
using v4l2_testing::FakeV4L2System;

constexpr Time kStart = Time::fromNSec(11000000000000);  // 11000 s

// A V4L2 source on one fake YUYV camera with padded rows.
class V4L2VideoSourceTest : public CaptureSourceTest<V4L2VideoSource> {
 protected:
  V4L2VideoSourceTest() : CaptureSourceTest(kStart) {
    camera_->bus_info = "usb-0000:00:14.0-2";
    camera_->formats = {
        FakeFormat{V4L2_PIX_FMT_YUYV, {{320, 240}, {640, 480}}, {}, {{1, 30}, {1, 15}}}};
  }
  // Waits in wall time (generously) for `condition`, running the scheduler.
  template <typename Condition>
  bool eventually(Condition condition) {
    Time const deadline = Time::now() + Duration::fromSec(30);
    while (!condition()) {
      if (Time::now() > deadline) return false;
      settle();
      std::this_thread::yield();
    }
    return true;
  }

  std::shared_ptr<FakeV4L2System> system_ = std::make_shared<FakeV4L2System>();
  std::shared_ptr<FakeCamera> camera_ = system_->addCamera("/dev/video3");
};

// A missing or locked camera sets the open status until a reopen finds
// it. A frame too short for the mode is dropped, and one claiming more than
// its buffer holds is read no further than the buffer; streaming goes on.
// An unplugged camera ends in a status the watchdog leaves alone; disabling
// closes the device and unmaps its buffers.
TEST_F(V4L2VideoSourceTest, OpensStreamsTheChosenModeAndFailsWhenUnplugged) {
  ElementArgs args = cameraArgs("usb-elsewhere", 320, 240);
  args.property("req_fps", PropertyValue(15.0f));
  attach(createV4L2VideoSource(args, system_));
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  EXPECT_EQ("Camera usb-elsewhere not found", source_->getStatus()->getStatusMessage());
  camera_->openable = false;
  source_->getPropertyNode("device")->setValue(PropertyValue("usb-0000:00:14.0-2"));
  settle();
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  camera_->openable = true;
  source_->getPropertyNode("reopen")->setValue(PropertyValue(true));
  settle();
  std::vector<uint8_t> bytes((640 + 16) * 240);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 7);
  ASSERT_TRUE(eventually([&] { return camera_->pushFrame(bytes, 100); }));
  EXPECT_EQ(320u, camera_->format_.width);
  EXPECT_EQ(15u, camera_->interval_.denominator);
  ASSERT_TRUE(camera_->pushFrame(bytes, 1 << 30));
  generator_.advanceClock(Duration::fromMSec(70));
  ASSERT_TRUE(camera_->pushFrame(bytes));
  ASSERT_TRUE(eventually([&] { return sink_->count() >= 2; }));
  ASSERT_EQ(2u, sink_->count());  // the short frame is gone
  auto frame = sink_->frames()[1];
  EXPECT_EQ(kStart + Duration::fromMSec(70), frame->getStartTimestamp());
  for (int y : {1, 239})
    EXPECT_EQ(0, std::memcmp(frame->getPixelAddress(0, y, 0), bytes.data() + y * (640 + 16), 640))
        << y;

  camera_->unplug();
  ASSERT_TRUE(eventually([&] { return statusCode() < 0; }));
  EXPECT_NE(std::string::npos,
            source_->getStatus()->getStatusMessage().find("Camera usb-0000:00:14.0-2 stopped"));
  generator_.advanceClock(Duration::fromSec(30));
  settle();
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  source_->getPropertyNode("enabled")->setValue(PropertyValue(false));
  settle();
  EXPECT_FALSE(camera_->open_);
  EXPECT_EQ(0u, camera_->mapped_);
}

// Nodes sharing a bus position (metadata nodes, twins) are one device; the
// card name is read no further than its field.
TEST(V4L2ProbeTest, ListsCaptureDevicesOnceByBusPosition) {
  FakeV4L2System system;
  auto first = system.addCamera("/dev/video0");
  first->card = "Front";
  first->bus_info = "usb-a";
  system.addCamera("/dev/video1")->device_caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  system.addCamera("/dev/video2")->bus_info = "usb-a";
  auto second = system.addCamera("/dev/video4");
  second->card = std::string(40, 'N');
  second->bus_info = "";
  system.addCamera("/dev/video5")->openable = false;

  auto list = probeV4L2Devices(system);
  ASSERT_EQ(2u, list->numDevices());
  EXPECT_EQ(DeviceList::Entry("usb-a", "Front"), *list->begin());
  EXPECT_EQ(DeviceList::Entry("/dev/video4", std::string(32, 'N')), *++list->begin());
  EXPECT_EQ("/dev/video0", findV4L2DeviceNode(system, "usb-a"));
  EXPECT_EQ("/dev/video4", findV4L2DeviceNode(system, "/dev/video4"));
  EXPECT_EQ("", findV4L2DeviceNode(system, "usb-b"));
}

}  // namespace
}  // namespace dravo::media
