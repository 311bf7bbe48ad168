#include "media_common/pad_format_filter.h"

#include <gtest/gtest.h>

#include "media_common/video/image_buffer_converter.h"
#include "tests/support/capture.h"
#include "tests/support/chain_elements.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

using FormatType = ImageBuffer::FormatType;
using ImagePtr = std::shared_ptr<ImageBuffer const>;

// The offered size in I420.
FormatType i420Of(FormatType const& offered) {
  return ImageBuffer(offered.width_, offered.height_, ImageBuffer::IMAGE_I420, nullptr, nullptr, 0)
      .format();
}

// Hands every frame on twice, as copies stamped 1 and 2, to show the order
// in which a converter's results reach the element, then a null one.
struct TwoFrameConverter {
  static std::vector<ImagePtr> convert(FormatType const&, ImagePtr img) {
    std::vector<ImagePtr> out;
    for (int stamp : {1, 2}) {
      auto copy = std::make_shared<ImageBuffer>(*img);
      copy->setStartTimestamp(Time::fromNSec(stamp));
      out.push_back(copy);
    }
    out.push_back(nullptr);
    return out;
  }
};

// A sink that accepts I420 only and records what reaches it.
class ConstrainedSink : public Element, public SinkMixin<ImageBuffer> {
 public:
  ~ConstrainedSink() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SinkMixin<ImageBuffer>::initialize();
    filter_.applyToPad(getInputPad());
    filter_.takeHandlerFromPad();
    filter_.setConstraint(&i420Of);
  }
  void onBuffer(ImagePtr const& buffer) override { buffers.push_back(buffer); }

  std::vector<ImagePtr> buffers;

 private:
  PadFormatFilter<ImageBuffer, TwoFrameConverter> filter_;
};

class PadFormatFilterTest : public ::testing::Test {
 protected:
  // Unlinking queues topology events that hold the pads, and the pads hold
  // the scheduler: run them and drop the rest before the scheduler goes.
  ~PadFormatFilterTest() override {
    links_ = LinkHandles();
    scheduler_->runAll();
    scheduler_->shutdown(false);
  }
  template <typename T>
  std::shared_ptr<T> make(std::string const& name) {
    auto element = createElement<T>(ElementArgs(scheduler_, root_->getNode(name, true)));
    scheduler_->runAll();
    return element;
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<testing::PlainSource<ImageBuffer>> source_ =
      make<testing::PlainSource<ImageBuffer>>("source");
  LinkHandles links_;
};

TEST_F(PadFormatFilterTest, EachConvertedBufferReachesTheHandlerInOrderNullAndMisuseAreRefused) {
  testing::AssertionCapture assertions;
  auto sink = make<ConstrainedSink>("sink");
  links_ += LinkHandle(source_->getOutputPad()->link(*sink->getInputPad()));
  scheduler_->runAll();
  source_->sendBuffer(std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_I420));
  scheduler_->runAll();
  ASSERT_EQ(sink->buffers.size(), 2u);
  EXPECT_EQ(sink->buffers[0]->getStartTimestamp(), Time::fromNSec(1));
  EXPECT_EQ(sink->buffers[1]->getStartTimestamp(), Time::fromNSec(2));

  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Converter returned NULL buffer."});

  // Misuse is checked and logged.
  testing::LogCapture log("check:1");
  PadFormatFilter<ImageBuffer, ImageBufferConverter> unattached;
  unattached.takeHandlerFromPad();
  unattached.setConstraint([](FormatType const& f) { return f; });
  auto pad = std::make_shared<InputPad<ImageBuffer>>();
  PadFormatFilter<ImageBuffer, ImageBufferConverter> twice;
  twice.applyToPad(pad);
  twice.applyToPad(pad);
  EXPECT_EQ(log.messages("check"),
            (std::vector<std::string>{"Check failed my_pad_ ", "Check failed my_pad_ ",
                                      "Check failed handler_func_ ", "Check failed !my_pad_ "}));
}

}  // namespace
}  // namespace dravo::media
