#include <gtest/gtest.h>

#include "media_common/filter_element.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

class TestBuffer : public Buffer {
 public:
  explicit TestBuffer(int id = 0) : id(id) {}
  int id;
};
class TestEvent : public Event {};

class TestSource : public Source<TestBuffer> {
 public:
  ~TestSource() override { disconnect_all(); }
  bool onUpstreamEvent(std::shared_ptr<Event const> const& event) override {
    upstream.push_back(event);
    return true;
  }
  std::vector<std::shared_ptr<Event const>> upstream;
};

class TestSink : public Element, public SinkMixin<TestBuffer> {
 public:
  ~TestSink() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SinkMixin<TestBuffer>::initialize();
  }
  void onBuffer(std::shared_ptr<TestBuffer const> const& buffer) override {
    buffers.push_back(buffer);
  }
  bool onDownstreamEvent(std::shared_ptr<Event const> const& event) override {
    if (!dynamic_cast<TestEvent const*>(event.get())) return true;
    events.push_back(event);
    return true;
  }
  std::vector<std::shared_ptr<TestBuffer const>> buffers;
  std::vector<std::shared_ptr<Event const>> events;
};

// Adds 100 to each buffer's id; transparent for events.
class TestFilter : public FilterElement<TestBuffer, TestBuffer> {
 public:
  ~TestFilter() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<TestBuffer const> const& in) override {
    auto out = std::make_shared<TestBuffer>(in->id + 100);
    out->copyMetadata(*in);
    sendBuffer(out);
  }
  bool onDownstreamEvent(std::shared_ptr<Event const> const& event) override {
    if (pass_events || !dynamic_cast<TestEvent const*>(event.get())) return true;
    ++refused;
    return false;
  }
  bool pass_events = true;
  int refused = 0;
};

class MixinsTest : public ::testing::Test {
 protected:
  template <typename T>
  std::shared_ptr<T> make(std::string const& name) {
    auto element = createElement<T>(ElementArgs(scheduler_, root_->getNode(name, true)));
    scheduler_->runAll();  // first property-change pass
    return element;
  }
  void linkAll() {
    links_ += LinkHandle(source_->getOutputPad()->link(*filter_->getInputPad()));
    links_ += LinkHandle(filter_->getOutputPad()->link(*sink_->getInputPad()));
    scheduler_->runAll();
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create();
  std::shared_ptr<testing::ManualScheduler> scheduler_ =
      std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<TestSource> source_ = make<TestSource>("source");
  std::shared_ptr<TestFilter> filter_ = make<TestFilter>("filter");
  std::shared_ptr<TestSink> sink_ = make<TestSink>("sink");
  LinkHandles links_;
};

TEST_F(MixinsTest, BuffersAndEventsCrossAFilterUnlessItRefusesThem) {
  linkAll();
  source_->getPropertyNode("priority")->setValue(PropertyValue(9));
  scheduler_->runAll();
  auto buffer = std::make_shared<TestBuffer>(1);
  buffer->setPriority(55);  // overwritten by the source
  source_->sendBuffer(buffer);
  auto down = std::make_shared<TestEvent>(), up = std::make_shared<TestEvent>();
  source_->sendDownstreamEvent(down);
  sink_->sendUpstreamEvent(up);
  scheduler_->runAll();
  ASSERT_EQ(sink_->buffers.size(), 1u);
  EXPECT_EQ(sink_->buffers[0]->id, 101);
  EXPECT_EQ(sink_->buffers[0]->getPriority(), 9);
  EXPECT_EQ(sink_->events, std::vector<std::shared_ptr<Event const>>{down});
  ASSERT_FALSE(source_->upstream.empty());
  EXPECT_EQ(source_->upstream.back(), up);

  filter_->pass_events = false;
  source_->sendDownstreamEvent(std::make_shared<TestEvent>());
  scheduler_->runAll();
  EXPECT_EQ(filter_->refused, 1);
  EXPECT_EQ(sink_->events.size(), 1u);
}

TEST_F(MixinsTest, SourceBoundsBuffersInFlight) {
  links_ += LinkHandle(source_->getOutputPad()->link(*sink_->getInputPad()));
  scheduler_->runAll();
  TokenPool pool = source_->getOutputPad()->getOrCreateTokenPool();
  for (int id = 1; id <= 7; ++id) source_->sendBuffer(std::make_shared<TestBuffer>(id));
  scheduler_->runAll();
  // Two delivered and held by the sink; four wait; the oldest waiting (3) was
  // refused when the seventh arrived.
  ASSERT_EQ(sink_->buffers.size(), 2u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 4u);
  auto held = std::move(sink_->buffers);
  sink_->buffers.clear();
  held.clear();
  scheduler_->runAll();
  std::vector<int> ids;
  for (auto const& b : sink_->buffers) ids.push_back(b->id);
  EXPECT_EQ(ids, (std::vector<int>{4, 5}));
}

}  // namespace
}  // namespace dravo::media
