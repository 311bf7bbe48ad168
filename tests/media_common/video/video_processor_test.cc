#include "media_common/video/video_processor.h"

#include <gtest/gtest.h>

#include "media_common/link_handle.h"
#include "tests/media_common/video/video_test_support.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using video_testing::FrameCollector;

// Records every request and writes one result for the main video stream.
class RecordingHook : public VideoProcessorHook, public sigslot::has_slots<> {
 public:
  RecordingHook() {
    signal_.connect(this, [this](ProcessorRequest& request) {
      requests.push_back(request);
      if (request.stream_kind == 2) request.results.add_results()->set_name("motion");
    });
  }
  ~RecordingHook() override { disconnect_all(); }

  std::vector<ProcessorRequest> requests;
};

class VideoProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    processor_ =
        createElement<VideoProcessor>(ElementArgs(scheduler_, root_->getNode("processor", true)));
    sink_ = createElement<FrameCollector>(ElementArgs(scheduler_, root_->getNode("sink", true)));
    out_->initialize(PadArgs(root_->getNode("test/pads/out", true), scheduler_));
    links_ += LinkHandle(out_->link(*processor_->getInputPad()));
    links_ += LinkHandle(processor_->getOutputPad()->link(*sink_->getInputPad()));
    scheduler_->runAll();
  }
  void TearDown() override { scheduler_->shutdown(true); }
  std::shared_ptr<ImageBuffer const> process(ImageBuffer::PixelFormat format) {
    auto frame = std::make_shared<ImageBuffer>(40, 30, format);
    frame->setStartTimestamp(Time::fromNSec(4242));
    frame->setPriority(5);
    input_ = frame;
    out_->sendBuffer(frame);
    scheduler_->runAll();
    auto frames = sink_->frames();
    return frames.empty() ? nullptr : frames.back();
  }
  static int resultEvents(ImageBuffer const& frame) {
    int count = 0;
    for (auto const& event : frame.getMetadataMap())
      if (dynamic_cast<ProcessorResultsEvent const*>(event.get())) ++count;
    return count;
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<VideoProcessor> processor_;
  std::shared_ptr<FrameCollector> sink_;
  std::shared_ptr<OutputPad<ImageBuffer>> out_ = std::make_shared<OutputPad<ImageBuffer>>();
  LinkHandles links_;
  std::shared_ptr<RecordingHook> hook_ = std::make_shared<RecordingHook>();
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
  ASSERT_EQ(1u, hook_->requests.size());
  ProcessorRequest const& request = hook_->requests[0];
  EXPECT_EQ(2, request.stream_kind);
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(output->planes()[p].stride_, request.planes[p].stride);
    EXPECT_EQ(output->getPixelAddress(0, 0, p), request.planes[p].data);
    EXPECT_EQ(Time::fromNSec(4242), request.planes[p].timestamp);
  }
  ASSERT_EQ(1, resultEvents(*output));
  EXPECT_EQ("motion", output->getMetadata<ProcessorResultsEvent>()->results(0).name());

  // Without results the frame passes as it is; names compare exactly.
  processor_->setParameters("nav_video", hook_);
  output = process(ImageBuffer::IMAGE_ALIGNED_I420);
  ASSERT_EQ(2u, hook_->requests.size());
  EXPECT_EQ(1, hook_->requests[1].stream_kind);
  EXPECT_EQ(0, resultEvents(*output));
  EXPECT_EQ(input_->data(), output->data());
  processor_->setParameters("Video", hook_);
  output = process(ImageBuffer::IMAGE_ALIGNED_I420);
  EXPECT_EQ(2u, hook_->requests.size());
  EXPECT_EQ(0, resultEvents(*output));
}

}  // namespace
}  // namespace dravo::media
