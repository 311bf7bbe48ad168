// The screen source element against a private Xvfb server: frames at the
// requested rate, the loop stopping for hidden windows and bad ids.

#include "media_common/video/x11_screen_source.h"

#include <gtest/gtest.h>

#include "common/property_node.h"
#include "media_common/link_handle.h"
#include "media_common/threaded_scheduler.h"
#include "tests/media_common/video/screen_source_test_support.h"
#include "tests/media_common/video/x11_test_display.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using video_testing::eventually;

class X11ScreenSourceTest : public testing::X11Test {
 protected:
  void TearDown() override {
    link_ = LinkHandle();
    source_.reset();
    sink_.reset();
    scheduler_->shutdown(true);
  }

  PropertyValue value(char const* name) { return source_->getPropertyNode(name)->getValue(); }
  void set(char const* name, PropertyValue const& v) {
    source_->getPropertyNode(name)->setValue(v);
  }
  int statusCode() { return source_->getStatus()->getStatusCode(); }

  testing::LogCapture log_{"screenshot_x11:5,x11_screen_source:5"};
  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<Scheduler> scheduler_ = createThreadedScheduler(2, nullptr);
  std::shared_ptr<ScreenVideoSource> source_;
  std::shared_ptr<video_testing::NewestFrameSink> sink_;
  LinkHandle link_;
};

// An id that is no window fails the capture with a status; a change that
// finds a picture to take starts the loop again. Hiding the window stops the
// loop without an error.
TEST_F(X11ScreenSourceTest, SendsFramesAtAThirdOfTheRequestedRateUntilTheWindowHides) {
  scheduler_->start();
  source_ = createScreenSource(ElementArgs(scheduler_, root_->getNode("screen", true)));
  sink_ = createElement<video_testing::NewestFrameSink>(
      ElementArgs(scheduler_, root_->getNode("sink", true)));
  link_ = LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
  set("req_fps", PropertyValue(60.0f));  // 20 pictures a second
  set("window", PropertyValue("9"));     // no such display
  set("enabled", PropertyValue(true));
  ASSERT_TRUE(eventually([&] { return statusCode() == status_codes::Error_ScreenCaptureAPI; }));
  EXPECT_EQ(value("active"), PropertyValue(false));
  EXPECT_EQ(sink_->count(), 0);

  Window window = createWindow(200, 200, 320, 240, 0x336699, "Captured window");
  set("window", PropertyValue(std::to_string(window)));
  ASSERT_TRUE(sink_->waitForCount(1));
  auto const first = std::chrono::steady_clock::now();
  ASSERT_TRUE(sink_->waitFor(
      [](ImageBuffer const& frame, int count) { return count >= 21 && frame.width() == 320; }));
  double const seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
  // 20 intervals of 50 ms; loose bounds for a loaded machine.
  EXPECT_GT(seconds, 0.5);
  EXPECT_LT(seconds, 4.0);
  EXPECT_EQ(value("active"), PropertyValue(true));
  EXPECT_EQ(value("height"), PropertyValue(240));
  EXPECT_EQ(statusCode(), status_codes::Ok);

  XUnmapWindow(display_, window);
  XSync(display_, False);
  ASSERT_TRUE(eventually([&] {
    return log_.contains("Window was minimized, stopping capture") &&
           value("active") == PropertyValue(false) && value("width") == PropertyValue(0) &&
           value("height") == PropertyValue(0);
  }));
  EXPECT_EQ(statusCode(), status_codes::Ok);
}

}  // namespace
}  // namespace dravo::media
