#include "media_common/video/video_processor.h"

#include <gtest/gtest.h>

#include "media_common/link_handle.h"
#include "tests/media_common/video/video_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

// A processor between a hand-fed pad and a frame collector, with a hook
// that records every request and writes one result for the main video stream.
class VideoProcessorTest : public ::testing::Test, public sigslot::has_slots<> {
 protected:
  void SetUp() override {
    processor_ =
        createElement<VideoProcessor>(ElementArgs(scheduler_, root_->getNode("processor", true)));
    sink_ = createElement<video_testing::FrameCollector>(
        ElementArgs(scheduler_, root_->getNode("sink", true)));
    out_->initialize(PadArgs(root_->getNode("out", true), scheduler_));
    links_ += LinkHandle(out_->link(*processor_->getInputPad()));
    links_ += LinkHandle(processor_->getOutputPad()->link(*sink_->getInputPad()));
    hook_->signal_.connect(this, [this](ProcessorRequest& request) {
      requests_.push_back(request);
      if (request.stream_kind == 2) request.results.add_results()->set_name("motion");
    });
    scheduler_->runAll();
  }
  void TearDown() override { scheduler_->shutdown(true); }
  std::shared_ptr<ImageBuffer const> process(ImageBuffer::PixelFormat format) {
    auto frame = std::make_shared<ImageBuffer>(40, 30, format);
    frame->setStartTimestamp(Time::fromNSec(4242));
    frame->setPriority(5);
    out_->sendBuffer(input_ = frame);
    scheduler_->runAll();
    return sink_->count() ? sink_->frames().back() : nullptr;
  }
  static int resultEvents(ImageBuffer const& frame) {
    int count = 0;
    for (auto const& event : frame.getMetadataMap())
      count += dynamic_cast<ProcessorResultsEvent const*>(event.get()) != nullptr;
    return count;
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<VideoProcessor> processor_;
  std::shared_ptr<video_testing::FrameCollector> sink_;
  std::shared_ptr<OutputPad<ImageBuffer>> out_ = std::make_shared<OutputPad<ImageBuffer>>();
  LinkHandles links_;
  std::shared_ptr<VideoProcessorHook> hook_ = std::make_shared<VideoProcessorHook>();
  std::vector<ProcessorRequest> requests_;
  std::shared_ptr<ImageBuffer const> input_;
};

TEST_F(VideoProcessorTest, HookSeesTheAlignedPlanesAndItsResultsRideOnTheFrame) {
  auto output = process(ImageBuffer::IMAGE_ALIGNED_I420);  // no hook: a copy sharing the pixels
  ASSERT_NE(nullptr, output);
  EXPECT_NE(input_.get(), output.get());
  EXPECT_EQ(input_->data(), output->data());

  processor_->setParameters("video", hook_);
  output = process(ImageBuffer::IMAGE_I420);
  EXPECT_EQ(ImageBuffer::IMAGE_ALIGNED_I420, output->format().pixel_format_);
  EXPECT_EQ(5, output->getPriority());
  ASSERT_EQ(1u, requests_.size());
  EXPECT_EQ(2, requests_[0].stream_kind);
  for (int p = 0; p < 3; ++p) {
    EXPECT_EQ(output->planes()[p].stride_, requests_[0].planes[p].stride) << p;
    EXPECT_EQ(output->getPixelAddress(0, 0, p), requests_[0].planes[p].data) << p;
    EXPECT_EQ(Time::fromNSec(4242), requests_[0].planes[p].timestamp) << p;
  }
  ASSERT_EQ(1, resultEvents(*output));
  EXPECT_EQ("motion", output->getMetadata<ProcessorResultsEvent>()->results(0).name());

  // Without results the frame passes as it is; names compare exactly.
  processor_->setParameters("nav_video", hook_);
  output = process(ImageBuffer::IMAGE_ALIGNED_I420);
  ASSERT_EQ(2u, requests_.size());
  EXPECT_EQ(1, requests_[1].stream_kind);
  EXPECT_EQ(0, resultEvents(*output));
  EXPECT_EQ(input_->data(), output->data());
  processor_->setParameters("Video", hook_);
  EXPECT_EQ(0, resultEvents(*process(ImageBuffer::IMAGE_ALIGNED_I420)));
  EXPECT_EQ(2u, requests_.size());
}

}  // namespace
}  // namespace dravo::media
