#include "media_common/video/device_video_source.h"

#include <gtest/gtest.h>

#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

constexpr Time kStart = Time::fromNSec(7000000000000);  // 7000 s

// Records every reopen with the clock time it came at; frames and openings
// are reported by the test.
class ScriptedDeviceSource : public DeviceVideoSource {
 public:
  using DeviceVideoSource::frameArrived;
  using DeviceVideoSource::takeReopenRequest;

  std::vector<Time> reopens;

 protected:
  void reopenDevice() override { reopens.push_back(getClock()->getTime()); }
};

// A scripted device source on the capture fixture's synthetic clock.
class DeviceVideoSourceTest : public CaptureSourceTest<ScriptedDeviceSource> {
 protected:
  DeviceVideoSourceTest() : CaptureSourceTest(kStart) {}
  void start(std::string const& device) {
    source_ = createElement<ScriptedDeviceSource>(cameraArgs(device, 640, 480));
    settle();
    EXPECT_TRUE(source_->takeReopenRequest());
    EXPECT_FALSE(source_->takeReopenRequest());
  }
  void TearDown() override {
    expectVideoTimeoutProperty().set(false);
    CaptureSourceTest::TearDown();
  }
  // Moves the clock on one second at a time.
  void runFor(Duration d) {
    for (Duration done; done < d; done = done + Duration::fromSec(1)) {
      generator_.advanceClock(Duration::fromSec(1));
      settle();
    }
  }
  std::string statusMessage() { return source_->getStatus()->getStatusMessage(); }
};

// A named device is reopened after 10 s without frames, twice, and then
// given up; a frame between reopens allows two more.
TEST_F(DeviceVideoSourceTest, NamedDeviceIsReopenedTwiceThenGivesUp) {
  testing::LogCapture log("video_source:4");
  start("cam0");
  runFor(Duration::fromSec(22));
  ASSERT_EQ(2u, source_->reopens.size());
  EXPECT_NEAR(10.0, (source_->reopens[0] - kStart).toSec(), 1.01);
  EXPECT_NEAR(20.0, (source_->reopens[1] - kStart).toSec(), 2.01);
  EXPECT_TRUE(log.contains("Attempting to re-open camera cam0"));
  source_->frameArrived();
  runFor(Duration::fromSec(25));
  EXPECT_EQ(4u, source_->reopens.size());
  EXPECT_EQ(status_codes::Ok, statusCode());
  runFor(Duration::fromSec(12));
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  EXPECT_EQ("Max retry count of 2 reached", statusMessage());
  // The failed watchdog idles: no more reopens.
  runFor(Duration::fromSec(30));
  EXPECT_EQ(4u, source_->reopens.size());
}

// The default camera only reports the time-out; expected time-outs are
// never acted upon.
TEST_F(DeviceVideoSourceTest, SourcesThatAreNotReopened) {
  for (bool const default_camera : {true, false}) {
    SCOPED_TRACE(default_camera ? "default camera" : "expected time-out");
    expectVideoTimeoutProperty().set(!default_camera);
    root_ = PropertyNode::create("pipeline");
    start(default_camera ? "" : "cam0");
    runFor(Duration::fromSec(9));
    EXPECT_EQ(status_codes::Ok, statusCode());
    runFor(Duration::fromSec(51));
    EXPECT_TRUE(source_->reopens.empty());
    EXPECT_EQ(default_camera ? "Frames timed out on default camera" : "", statusMessage());
  }
}

// Mode and device changes ask for a reopen, cropping does not; the reopen
// pulse asks too, reads back false and restarts the watchdog's wait.
TEST_F(DeviceVideoSourceTest, ChangesAndThePulseRequestAReopen) {
  start("cam0");
  for (char const* name : {"req_width", "req_fps", "device"}) {
    source_->getPropertyNode(name)->setValue(name == std::string("device") ? PropertyValue("cam1")
                                                                           : PropertyValue(99));
    settle();
    EXPECT_TRUE(source_->takeReopenRequest()) << name;
  }
  source_->getPropertyNode("do_crop")->setValue(PropertyValue(false));
  settle();
  EXPECT_FALSE(source_->takeReopenRequest());

  runFor(Duration::fromSec(8));
  auto reopen = source_->getPropertyNode("reopen");
  reopen->setValue(PropertyValue(true));
  settle();
  EXPECT_EQ(PropertyValue(false), reopen->getValue());
  EXPECT_TRUE(source_->takeReopenRequest());
  runFor(Duration::fromSec(8));
  EXPECT_TRUE(source_->reopens.empty());  // not at the old deadline
  runFor(Duration::fromSec(4));
  EXPECT_EQ(1u, source_->reopens.size());
}

}  // namespace
}  // namespace dravo::media
