#include <gtest/gtest.h>

#include "tests/support/chain_elements.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

class TestEvent : public Event {};
using Events = std::vector<std::shared_ptr<Event const>>;

class RecordingSource : public testing::PlainSource<Buffer> {
 public:
  bool onUpstreamEvent(std::shared_ptr<Event const> const& event) override {
    if (dynamic_cast<TestEvent const*>(event.get())) upstream.push_back(event);
    return true;
  }
  Events upstream;
};

// Forwards copies; stops test events while `pass_events` is false.
class GatingFilter : public testing::CopyFilter<Buffer> {
 public:
  bool onDownstreamEvent(std::shared_ptr<Event const> const& event) override {
    return pass_events || !dynamic_cast<TestEvent const*>(event.get());
  }
  bool pass_events = true;
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

// source -> filter -> sink, all on one hand-stepped scheduler.
TEST(MixinsTest, BuffersAndEventsCrossAFilterAndTheSourceBoundsBuffersInFlight) {
  auto root = PropertyNode::create();
  auto scheduler = std::make_shared<testing::ManualScheduler>();
  auto args = [&](char const* name) { return ElementArgs(scheduler, root->getNode(name, true)); };
  auto source = createElement<RecordingSource>(args("source"));
  auto filter = createElement<GatingFilter>(args("filter"));
  auto sink = createElement<KeepingSink>(args("sink"));
  LinkHandles links;
  links += LinkHandle(source->getOutputPad()->link(*filter->getInputPad()));
  links += LinkHandle(filter->getOutputPad()->link(*sink->getInputPad()));
  source->getPropertyNode("priority")->setValue(PropertyValue(9));
  scheduler->runAll();

  auto down = std::make_shared<TestEvent>(), up = std::make_shared<TestEvent>();
  source->sendDownstreamEvent(down);
  sink->sendUpstreamEvent(up);
  scheduler->runAll();
  filter->pass_events = false;
  source->sendDownstreamEvent(std::make_shared<TestEvent>());
  scheduler->runAll();
  EXPECT_EQ(sink->events, Events{down});
  EXPECT_EQ(source->upstream, Events{up});

  for (int id = 1; id <= 7; ++id) {
    auto buffer = std::make_shared<Buffer>();
    buffer->setStartTimestamp(Time::fromNSec(id));
    buffer->setPriority(55);  // overwritten by the source
    source->sendBuffer(buffer);
  }
  scheduler->runAll();
  // Two are delivered and held, with their tokens, by the sink; four more
  // wait, and the seventh send pushes the oldest waiting one (3) out.
  auto delivered = [&] {
    std::vector<int64_t> ids;
    for (auto const& buffer : sink->buffers) ids.push_back(buffer->getStartTimestamp().toNSec());
    sink->buffers.clear();
    scheduler->runAll();
    return ids;
  };
  ASSERT_EQ(sink->buffers.size(), 2u);
  EXPECT_EQ(sink->buffers[0]->getPriority(), 9);
  EXPECT_EQ(delivered(), (std::vector<int64_t>{1, 2}));
  EXPECT_EQ(delivered(), (std::vector<int64_t>{4, 5}));
  EXPECT_EQ(delivered(), (std::vector<int64_t>{6, 7}));
}

}  // namespace
}  // namespace dravo::media
