// Elements: their lifecycle and property passes, the source, filter and
// sink mixins, clock-synchronised sinks, pad format filters, bins and the
// names codec bins derive from their channels.

#include "media_common/element.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/cached_property.h"
#include "common/deferred.h"
#include "media_common/bin.h"
#include "media_common/codec_bin_params.h"
#include "media_common/pad_format_filter.h"
#include "media_common/property_clock.h"
#include "media_common/sink_element.h"
#include "media_common/synthetic_clock.h"
#include "media_common/video/image_buffer.h"
#include "tests/support/capture.h"
#include "tests/support/chain_elements.h"
#include "tests/support/manual_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

// Elements on one hand-stepped scheduler under one property root.
class ElementTest : public ::testing::Test {
 protected:
  // Unlinking queues topology events that hold the pads, and the pads hold
  // the scheduler: run them and drop the rest before the scheduler goes.
  ~ElementTest() override {
    links_ = LinkHandles();
    scheduler_->runAll();
    scheduler_->shutdown(false);
  }
  ElementArgs args(std::string const& name) {
    return ElementArgs(scheduler_, root_->getNode(name, true));
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  LinkHandles links_;
};

// Records its lifecycle calls and the widths its property passes saw.
class RecordingElement : public Element {
 public:
  ~RecordingElement() override { disconnect_all(); }

  std::vector<std::string> calls;
  std::vector<int32_t> widths_seen;
  CachedProperty<int32_t> width_;

 protected:
  void initialize() override {
    Element::initialize();
    calls.push_back("initialize");
    width_.bind(getPropertyChangeSignal(), getPropertyNode("width"), 640, "Width.");
  }
  void onPropertyChange(bool first) override {
    calls.push_back(first ? "change(first)" : "change");
    widths_seen.push_back(*width_);
  }
};

TEST_F(ElementTest, PropertyPassesComeFirstAndCoalesceChangesFromAnyThread) {
  auto element =
      createElement<RecordingElement>(args("elem").property("width", PropertyValue(320)));
  EXPECT_EQ(element->calls, std::vector<std::string>{"initialize"});
  // The first property pass is queued ahead of anything else.
  scheduler_->schedule(TaskFunction(element, [&] { element->calls.push_back("other"); }),
                       Priority(1000, false), nullptr);
  scheduler_->runAll();
  EXPECT_EQ(element->calls, (std::vector<std::string>{"initialize", "change(first)", "other"}));
  std::thread([&] {
    for (int width : {1, 2, 3}) element->getPropertyNode("width")->setValue(PropertyValue(width));
  }).join();
  EXPECT_EQ(scheduler_->runAll(), 1);
  EXPECT_EQ(element->widths_seen, (std::vector<int32_t>{320, 3}));
}

// A sink that records the start stamps of the buffers that came out, into a
// list that outlives it, and can be handed buffers directly.
class RecordingSink : public Sink<Buffer> {
 public:
  ~RecordingSink() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override {
    delivered->push_back(buffer->getStartTimestamp());
  }
  void deliver(Time stamp) {
    auto buffer = std::make_shared<Buffer>();
    buffer->setStartTimestamp(stamp);
    buffer->setPriority(1);
    preOnBuffer(buffer);
  }

  std::shared_ptr<std::vector<Time>> delivered = std::make_shared<std::vector<Time>>();
};

TEST_F(ElementTest, SequenceConfinedStateRefusesAnotherThread) {
  if (!DRAVO_DCHECK_IS_ON) GTEST_SKIP() << "sequence checks are compiled out";
  testing::AssertionCapture assertions;
  auto sink = createElement<RecordingSink>(args("sink"));
  scheduler_->runAll();
  sink->deliver(Time());  // binds its state to this sequence
  EXPECT_TRUE(assertions.messages().empty());
  std::thread([&] { sink->deliver(Time()); }).join();
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Called on the wrong sequence"});
}

TEST_F(ElementTest, SinkPassesBuffersAtOnceOnAFrozenClockAndHoldsThemUntilTheirStampsOtherwise) {
  auto sink = createElement<RecordingSink>(args("sink"));
  scheduler_->runAll();
  auto delivered = sink->delivered;
  SyntheticClockGenerator generator(false, Time::fromNSec(1000000000000));
  auto at = [&](int64_t ms) { return Time::fromNSec(1000000000000) + Duration::fromMSec(ms); };
  // Runs what the clock and the scheduler have made due until nothing is left.
  auto settle = [&] {
    do {
      waitForDeferredCalls();
    } while (scheduler_->runAll() > 0);
  };
  auto advanceTo = [&](int64_t ms) {
    generator.setTime(at(ms));
    settle();
  };
  sink->deliver(at(100000));
  sink->deliver(at(-100000));
  EXPECT_EQ(*delivered, (std::vector<Time>{at(100000), at(-100000)}));
  delivered->clear();

  setPropertyClock(*sink->getPropertyNode("clock"), generator.getClock());
  sink->deliver(at(10));
  sink->deliver(at(20));
  advanceTo(19);
  EXPECT_EQ(*delivered, (std::vector<Time>{at(10)}));
  advanceTo(20);
  sink->deliver(at(0));  // already due: delivered inside its arrival
  EXPECT_EQ(*delivered, (std::vector<Time>{at(10), at(20), at(0)}));
  delivered->clear();

  // A stamp before the first queued one flushes the queue.
  sink->deliver(at(30));
  sink->deliver(at(50));
  sink->deliver(at(40));  // between: queued behind 50
  settle();
  sink->deliver(at(25));
  EXPECT_EQ(*delivered, (std::vector<Time>{at(30), at(50), at(40)}));
  sink->deliver(at(7000));
  settle();
  generator.freeze();  // the pending timer is aborted: a fresh look passes it through
  settle();
  EXPECT_EQ(delivered->back(), at(7000));
}

// An event no element handles on its own.
class TestEvent : public Event {};
using Events = std::vector<std::shared_ptr<Event const>>;

// Records the test events that come back upstream.
class RecordingSource : public testing::PlainSource<Buffer> {
 public:
  bool onUpstreamEvent(std::shared_ptr<Event const> const& event) override {
    if (dynamic_cast<TestEvent const*>(event.get())) upstream.push_back(event);
    return true;
  }
  Events upstream;
};

// Keeps every buffer (and so its token) until the test lets go of it.
class KeepingSink : public testing::CountingSink<Buffer> {
 public:
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override { buffers.push_back(buffer); }
  bool onDownstreamEvent(std::shared_ptr<Event const> const& event) override {
    if (dynamic_cast<TestEvent const*>(event.get())) events.push_back(event);
    return true;
  }
  std::vector<std::shared_ptr<Buffer const>> buffers;
  Events events;
};

TEST_F(ElementTest, BuffersAndEventsCrossAFilterAndTheSourceQueuesFourBuffers) {
  auto source = createElement<RecordingSource>(args("source"));
  auto filter = createElement<testing::CopyFilter<Buffer>>(args("filter"));
  auto sink = createElement<KeepingSink>(args("sink"));
  links_ += LinkHandle(source->getOutputPad()->link(*filter->getInputPad()));
  links_ += LinkHandle(filter->getOutputPad()->link(*sink->getInputPad()));
  source->getPropertyNode("priority")->setValue(PropertyValue(9));
  scheduler_->runAll();

  auto down = std::make_shared<TestEvent>(), up = std::make_shared<TestEvent>();
  source->sendDownstreamEvent(down);
  sink->sendUpstreamEvent(up);
  scheduler_->runAll();
  EXPECT_EQ(sink->events, Events{down});
  EXPECT_EQ(source->upstream, Events{up});

  for (int id = 1; id <= 7; ++id) {
    auto buffer = std::make_shared<Buffer>();
    buffer->setStartTimestamp(Time::fromNSec(id));
    buffer->setPriority(55);  // overwritten by the source
    source->sendBuffer(buffer);
  }
  scheduler_->runAll();
  // Two are delivered and held, with their tokens, by the sink; four more
  // wait, and the seventh send pushes the oldest waiting one (3) out.
  auto delivered = [&] {
    std::vector<int64_t> ids;
    for (auto const& buffer : sink->buffers) ids.push_back(buffer->getStartTimestamp().toNSec());
    sink->buffers.clear();
    scheduler_->runAll();
    return ids;
  };
  ASSERT_EQ(sink->buffers.size(), 2u);
  EXPECT_EQ(sink->buffers[0]->getPriority(), 9);
  EXPECT_EQ(delivered(), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(delivered(), (std::vector<int64_t>{4, 5}));
  EXPECT_EQ(delivered(), (std::vector<int64_t>{6, 7}));
}

using ImagePtr = std::shared_ptr<ImageBuffer const>;

// Hands every frame on twice, as copies stamped 1 and 2, then a null one.
struct TwoFrameConverter {
  static std::vector<ImagePtr> convert(ImageBuffer::FormatType const&, ImagePtr img) {
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

TEST_F(ElementTest, PadFormatFilterHandsOnEachConvertedBufferInOrderAndRefusesNull) {
  testing::AssertionCapture assertions;
  auto out = std::make_shared<OutputPad<ImageBuffer>>();
  auto in = std::make_shared<InputPad<ImageBuffer>>();
  out->initialize(PadArgs(root_->getNode("out", true), scheduler_));
  in->initialize(PadArgs(root_->getNode("in", true), scheduler_));
  std::vector<ImagePtr> seen;
  auto owner = std::make_shared<int>(0);
  in->setBufferHandler(owner, [&](std::shared_ptr<DataBase const> const& data) {
    seen.push_back(std::dynamic_pointer_cast<ImageBuffer const>(data));
  });
  PadFormatFilter<ImageBuffer, TwoFrameConverter> filter;
  filter.applyToPad(in);
  filter.takeHandlerFromPad();
  filter.setConstraint([](ImageBuffer::FormatType const& offered) { return offered; });
  LinkHandle link = out->link(*in);
  auto image = std::make_shared<ImageBuffer>(8, 8, ImageBuffer::IMAGE_I420);
  image->setPriority(1);
  out->sendBuffer(image);
  scheduler_->runAll();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0]->getStartTimestamp(), Time::fromNSec(1));
  EXPECT_EQ(seen[1]->getStartTimestamp(), Time::fromNSec(2));
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: Converter returned NULL buffer."});
}

// A bin that exposes its protected helpers and sets `destroying` when its
// destruction starts, before the base waits for its elements.
class TestBin : public Bin {
 public:
  TestBin(std::shared_ptr<AbstractPipeline> const& pipeline, testing::WaitableFlag* destroying)
      : Bin(pipeline, "chain"), destroying_(destroying) {}
  ~TestBin() override { destroying_->set(); }
  using Bin::addLink;
  using Bin::elementArgs;

 private:
  testing::WaitableFlag* destroying_;
};

// Holds the bin's destroyed-signal connection.
struct Listener : sigslot::has_slots<sigslot::multi_threaded_local> {
  ~Listener() override { disconnect_all(); }
};

// The bin's destruction waits for its elements, which go on another thread;
// the links and nodes it holds go with it.
TEST_F(ElementTest, BinDestructionWaitsUntilEveryElementIsGoneThenDropsLinksAndNodes) {
  Listener listener;
  testing::WaitableFlag destroying;
  auto bin =
      std::make_unique<TestBin>(std::make_shared<SimplePipeline>(scheduler_, root_), &destroying);
  auto source = createElement<testing::PlainSource<Buffer>>(bin->elementArgs("source"));
  auto sink = createElement<testing::CountingSink<Buffer>>(bin->elementArgs("sink"));
  bin->addLink(LinkHandle(source->getOutputPad()->link(*sink->getInputPad())));
  scheduler_->runAll();
  std::weak_ptr<PadBase> pad = source->getOutputPad();
  std::weak_ptr<Element> weak_source = source, weak_sink = sink;
  bool gone_when_signalled = false;
  bin->getDestroyedSignal().connect(&listener, [&](void*) {
    gone_when_signalled = weak_source.expired() && weak_sink.expired();
  });
  // An element that is already gone does not hold the bin up.
  createElement<testing::CountingSink<Buffer>>(bin->elementArgs("early")).reset();
  std::thread releaser([&] {
    ASSERT_TRUE(destroying.waitFor());
    source.reset();
    sink.reset();
  });
  bin.reset();
  releaser.join();
  EXPECT_TRUE(gone_when_signalled);
  EXPECT_TRUE(pad.expired());
  EXPECT_FALSE(root_->getNode("chain"));
}

TEST(CodecBinParamsTest, NamesComeFromTheChannel) {
  CodecBinParams video(ChannelDescription("cam", CTYPE_VIDEO, "h264"), nullptr, "id1");
  EXPECT_EQ(video.getDecoderName(), "id1/decoder/cam/h264");
  EXPECT_EQ(video.getEncoderName(), "encoder/cam/h264");
  EXPECT_EQ(video.getSourceName(), "video_source/cam");
  EXPECT_EQ(video.getSinkName(), "video_sink/id1/cam");
  CodecBinParams audio(ChannelDescription("mic", CTYPE_AUDIO, "opus"), nullptr, "id2");
  EXPECT_EQ(audio.getSinkName(), "mic");  // audio sinks are named by the channel alone
}

}  // namespace
}  // namespace dravo::media
