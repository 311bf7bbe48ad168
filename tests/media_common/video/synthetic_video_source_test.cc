#include "media_common/video/synthetic_video_source.h"

#include <gtest/gtest.h>

#include "common/string_util.h"
#include "media_common/hardware_timestamp_event.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using video_testing::showsCaption;
using Plasma = SyntheticVideoSource::Plasma;

constexpr Time kStart = Time::fromNSec(5000000000000);  // 5000 s
Duration const kFrame = Duration::fromSec(1.0 / 30.0);

uint8_t luma(ImageBuffer const& frame, int x, int y) { return *frame.getPixelAddress(x, y, 0); }

TEST(PlasmaTest, OnlyI420IsDrawn) {
  testing::LogCapture log;
  auto rgb = std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_RGB24);
  std::memset(rgb->data(), 7, static_cast<size_t>(rgb->format().min_allocation_));
  Plasma().draw(rgb.get());
  EXPECT_TRUE(
      log.contains("Check failed frame->format().pixel_format_ == ImageBuffer::IMAGE_I420"));
  EXPECT_EQ(7, *rgb->getPixelAddress(5, 5, 0));
}

// A synthetic source on a hand-run scheduler and a synthetic clock, feeding a
// collector.
class SyntheticVideoSourceTest : public CaptureSourceTest<Source<ImageBuffer>> {
 protected:
  SyntheticVideoSourceTest() : CaptureSourceTest(kStart) {}
  ElementArgs args() {
    return ElementArgs(scheduler_, root_->getNode("source", true))
        .property("clock", PropertyValue(std::weak_ptr<Clock>(generator_.getClock())));
  }
  void start(ElementArgs const& args) { attach(createSyntheticVideoSource(args)); }
  void start() { start(args()); }
  void advance(Duration d) {
    generator_.advanceClock(d);
    settle();
  }
  std::shared_ptr<ImageBuffer const> frame(size_t i) { return sink_->frames().at(i); }
};

TEST_F(SyntheticVideoSourceTest, FramesCarryCaptionTimestampAndOneHardwareStampAtTheRequestedRate) {
  start();
  advance(kFrame);
  ASSERT_EQ(1u, sink_->count());
  auto const& f = *frame(0);
  EXPECT_EQ(kStart + kFrame, f.getStartTimestamp());
  EXPECT_NE(0, f.getPriority());
  std::string const caption = stringPrintf("Frame 000000. 640x480 %.2f",
                                           static_cast<double>((kStart + kFrame).toNSec()) / 1e9);
  EXPECT_TRUE(showsCaption(f, caption)) << caption;
  int hardware_stamps = 0;
  for (auto const& event : f.getMetadataMap())
    hardware_stamps += dynamic_cast<HardwareTimestampEvent const*>(event.get()) != nullptr;
  EXPECT_EQ(1, hardware_stamps);
  EXPECT_EQ(85, *f.getPixelAddress(0, 0, 1));  // the red bar's chroma
  EXPECT_EQ(255, *f.getPixelAddress(0, 0, 2));

  // A zero rate stops frames and a positive one resumes them.
  source_->getPropertyNode("req_fps")->setValue(PropertyValue(0.0));
  settle();
  advance(Duration::fromSec(2));
  EXPECT_EQ(1u, sink_->count());
  source_->getPropertyNode("req_fps")->setValue(PropertyValue(10.0));
  settle();
  advance(Duration::fromMSec(99));
  EXPECT_EQ(1u, sink_->count());
  advance(Duration::fromMSec(1));
  ASSERT_EQ(2u, sink_->count());
  EXPECT_EQ(kStart + kFrame + Duration::fromSec(2) + Duration::fromMSec(100),
            frame(1)->getStartTimestamp());
  EXPECT_TRUE(showsCaption(*frame(1), "Frame 000001."));
}

TEST_F(SyntheticVideoSourceTest, TinyAndOddSizesStayInsideTheFrame) {
  start();
  struct Size {
    int width;
    int height;
  };
  for (Size size : {Size{1, 1}, Size{3, 5}, Size{257, 9}, Size{0, 0}}) {
    SCOPED_TRACE(::testing::Message() << size.width << "x" << size.height);
    source_->getPropertyNode("req_width")->setValue(PropertyValue(size.width));
    source_->getPropertyNode("req_height")->setValue(PropertyValue(size.height));
    settle();
    sink_->clear();
    advance(kFrame);
    ASSERT_EQ(1u, sink_->count());
    auto const& f = *frame(0);
    EXPECT_EQ(size.width, f.width());
    EXPECT_EQ(size.height, f.height());
    if (size.width == 0) continue;
    // Bars where they fit: red at the origin, white from x = 224 on.
    EXPECT_EQ(76, luma(f, 0, 0));
    if (size.width > 224) {
      EXPECT_EQ(255, luma(f, std::min(size.width, 256) - 1, std::min(7, size.height - 1)));
    }
    // Chroma outside whole blocks is neutral, never left undefined.
    if (size.height > 8 && size.width % 2) {
      ImageBuffer::Plane const& u = f.planes()[1];
      EXPECT_EQ(128, *f.getPixelAddress(u.width_ - 1, u.height_ - 1, 1));
    }
  }
}

}  // namespace
}  // namespace dravo::media
