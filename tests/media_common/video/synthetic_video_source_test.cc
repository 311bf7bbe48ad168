#include "media_common/video/synthetic_video_source.h"

#include <gtest/gtest.h>

#include "common/string_util.h"
#include "media_common/hardware_timestamp_event.h"
#include "tests/media_common/video/capture_source_test_fixture.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using video_testing::showsCaption;

constexpr Time kStart = Time::fromNSec(5000000000000);  // 5000 s
Duration const kFrame = Duration::fromSec(1.0 / 30.0);

uint8_t luma(ImageBuffer const& frame, int x, int y) { return *frame.getPixelAddress(x, y, 0); }

TEST(PlasmaTest, OnlyI420IsDrawn) {
  testing::LogCapture log;
  auto rgb = std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_RGB24);
  std::memset(rgb->data(), 7, static_cast<size_t>(rgb->format().min_allocation_));
  SyntheticVideoSource::Plasma().draw(rgb.get());
  EXPECT_TRUE(
      log.contains("Check failed frame->format().pixel_format_ == ImageBuffer::IMAGE_I420"));
  EXPECT_EQ(7, *rgb->getPixelAddress(5, 5, 0));
}

// Values from the pattern's definition, worked out independently.
TEST(PlasmaTest, MatchesItsDefinitionAtSamplePixelsAndMovesOnAfterEachFrame) {
  SyntheticVideoSource::Plasma plasma;
  EXPECT_EQ(std::vector<int32_t>({plasma.sine(1), plasma.sine(128), plasma.sine(384)}),
            std::vector<int32_t>({12, 1024, -1024}));
  auto colour = [&](int i) {
    auto const& c = plasma.palette(i);
    return std::vector<int>{c.y, c.u, c.v};
  };
  EXPECT_EQ(colour(0), (std::vector<int>{180, 36, 91}));
  EXPECT_EQ(colour(200), (std::vector<int>{144, 142, 27}));
  plasma.setEasy(false);
  auto frame = std::make_shared<ImageBuffer>(64, 32, ImageBuffer::IMAGE_I420);
  plasma.draw(frame.get());
  EXPECT_EQ(78, luma(*frame, 0, 0));
  EXPECT_EQ(157, luma(*frame, 63, 31));
  // The 2x2 block at (40, 16) takes its chroma from (41, 17).
  EXPECT_EQ(33, *frame->getPixelAddress(20, 8, 1));
  EXPECT_EQ(148, *frame->getPixelAddress(20, 8, 2));
  plasma.draw(frame.get());
  EXPECT_EQ(159, luma(*frame, 63, 31));
}

// A synthetic source on a hand-run scheduler and a synthetic clock, feeding a
// collector.
class SyntheticVideoSourceTest : public CaptureSourceTest<Source<ImageBuffer>> {
 protected:
  SyntheticVideoSourceTest() : CaptureSourceTest(kStart) {}
  void SetUp() override {
    attach(createSyntheticVideoSource(
        ElementArgs(scheduler_, root_->getNode("source", true))
            .property("clock", PropertyValue(std::weak_ptr<Clock>(generator_.getClock())))));
  }
  void set(char const* name, PropertyValue const& value) {
    source_->getPropertyNode(name)->setValue(value);
    settle();
  }
  void advance(Duration d) {
    generator_.advanceClock(d);
    settle();
  }
  std::shared_ptr<ImageBuffer const> frame(size_t i) { return sink_->frames().at(i); }
};

TEST_F(SyntheticVideoSourceTest, FramesCarryCaptionTimestampAndOneHardwareStampAtTheRequestedRate) {
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

  // A zero rate stops frames and a positive one resumes them.
  set("req_fps", PropertyValue(0.0));
  advance(Duration::fromSec(2));
  EXPECT_EQ(1u, sink_->count());
  set("req_fps", PropertyValue(10.0));
  advance(Duration::fromMSec(99));
  EXPECT_EQ(1u, sink_->count());
  advance(Duration::fromMSec(1));
  ASSERT_EQ(2u, sink_->count());
  EXPECT_EQ(kStart + kFrame + Duration::fromSec(2) + Duration::fromMSec(100),
            frame(1)->getStartTimestamp());
  EXPECT_TRUE(showsCaption(*frame(1), "Frame 000001."));
}

TEST_F(SyntheticVideoSourceTest, TinyAndOddSizesStayInsideTheFrame) {
  for (auto [width, height] : {std::pair{1, 1}, {3, 5}, {257, 9}, {0, 0}}) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height);
    set("req_width", PropertyValue(width));
    set("req_height", PropertyValue(height));
    sink_->clear();
    advance(kFrame);
    ASSERT_EQ(1u, sink_->count());
    auto const& f = *frame(0);
    EXPECT_EQ(std::pair(width, height), std::pair(f.width(), f.height()));
    if (width == 0) continue;
    // Bars where they fit: red at the origin, white from x = 224 on.
    EXPECT_EQ(76, luma(f, 0, 0));
    if (width > 224) {
      EXPECT_EQ(255, luma(f, 255, std::min(7, height - 1)));
    }
    // Chroma outside whole blocks is neutral, never left undefined.
    if (height > 8 && width % 2) {
      ImageBuffer::Plane const& u = f.planes()[1];
      EXPECT_EQ(128, *f.getPixelAddress(u.width_ - 1, u.height_ - 1, 1));
    }
  }
}

TEST_F(SyntheticVideoSourceTest, SizesThatCannotBeDrawnAreRefusedUntilADrawableOneComes) {
  testing::LogCapture log("video:2");
  for (auto [width, height] : {std::pair{-4, 480}, {-4, 100000}}) {
    SCOPED_TRACE(::testing::Message() << width << "x" << height);
    log.clear();
    set("req_width", PropertyValue(width));
    set("req_height", PropertyValue(height));
    advance(kFrame * 3);
    EXPECT_EQ(0u, sink_->count());
    EXPECT_EQ(status_codes::Error_Unknown, statusCode());
    EXPECT_EQ(stringPrintf("Frame size out of range: %dx%d", width, height),
              source_->getStatus()->getStatusMessage());
    EXPECT_EQ(1u, log.lines().size());  // once, not at every tick
  }
  set("req_width", PropertyValue(640));
  set("req_height", PropertyValue(48));
  advance(kFrame);
  ASSERT_EQ(1u, sink_->count());
  EXPECT_EQ(std::pair(640, 48), std::pair(frame(0)->width(), frame(0)->height()));
  EXPECT_EQ(status_codes::Ok, statusCode());
}

}  // namespace
}  // namespace dravo::media
