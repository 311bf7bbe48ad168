#include "media_common/pad.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/deferred.h"
#include "media_common/pipeline_topology_change_event.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

// Records every task queued on it, then runs it on a trivial scheduler.
class RecordingScheduler : public Scheduler {
 public:
  RecordingScheduler() { inner_->start(); }
  void scheduleWithDebug(TaskFunction const& f, Priority const& p,
                         std::shared_ptr<TaskInfo const> const& info) override {
    {
      std::lock_guard lock(mutex_);
      priorities_.push_back(p);
      names_.push_back(info ? info->getName() : "");
    }
    inner_->schedule(f, p, info);
  }
  void start() override {}
  void shutdown(bool wait) override { inner_->shutdown(wait); }
  void waitIdle() override { inner_->waitIdle(); }
  void getQueuedTasks(std::vector<std::shared_ptr<TaskInfo const>>&) override {}

  std::vector<Priority> priorities() {
    std::lock_guard lock(mutex_);
    return priorities_;
  }
  std::vector<std::string> names() {
    std::lock_guard lock(mutex_);
    return names_;
  }

 private:
  std::shared_ptr<Scheduler> inner_ = createTrivialScheduler();
  std::mutex mutex_;
  std::vector<Priority> priorities_;
  std::vector<std::string> names_;
};

class TestBuffer : public Buffer {
 public:
  explicit TestBuffer(int priority = 3) { setPriority(priority); }
};

class TestEvent : public Event {};

// What one side of a pipeline saw; all handlers run on deferred threads, the
// test reads after waitForDeferredCalls().
struct Seen {
  std::vector<std::shared_ptr<DataBase const>> buffers;
  std::vector<std::shared_ptr<Event const>> events;
  std::vector<PipelineTopologyChangeEvent::TopologyChangeType> topology;

  EventHandlerFunction recordEvents(bool pass = true) {
    return [this, pass](std::shared_ptr<Event const> const& event) {
      if (auto topo = std::dynamic_pointer_cast<PipelineTopologyChangeEvent const>(event))
        topology.push_back(topo->getType());
      else
        events.push_back(event);
      return pass;
    };
  }
  InputPadBase::BufferHandler recordBuffers() {
    return [this](std::shared_ptr<DataBase const> const& data) { buffers.push_back(data); };
  }
};

class PadTest : public ::testing::Test {
 protected:
  template <typename P>
  std::shared_ptr<P> makePad(std::string const& name, std::shared_ptr<Scheduler> scheduler) {
    auto pad = std::make_shared<P>();
    pad->initialize(PadArgs(root_->getNode(name, true), std::move(scheduler)));
    return pad;
  }
  void settle() { waitForDeferredCalls(); }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<RecordingScheduler> scheduler_ = std::make_shared<RecordingScheduler>();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

TEST_F(PadTest, OneOutputToTwoInputsOnTheirOwnSchedulers) {
  auto other = std::make_shared<RecordingScheduler>();
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  auto in1 = makePad<InputPad<TestBuffer>>("a/pads/in", scheduler_);
  auto in2 = makePad<InputPad<TestBuffer>>("b/pads/in", other);
  Seen seen1, seen2;
  in1->setBufferHandler(owner_, seen1.recordBuffers());
  in2->setBufferHandler(owner_, seen2.recordBuffers());
  LinkHandle l1 = out->link(*in1);
  LinkHandle l2 = out->link(*in2);
  settle();
  auto buffer = std::make_shared<TestBuffer>(7);
  out->sendBuffer(buffer);
  settle();
  ASSERT_EQ(seen1.buffers.size(), 1u);
  ASSERT_EQ(seen2.buffers.size(), 1u);
  EXPECT_EQ(seen1.buffers[0], buffer);  // shared, never copied
  EXPECT_EQ(seen2.buffers[0], buffer);
  // The delivery task on each receiving scheduler carries the buffer's priority.
  auto last = other->priorities().back();
  EXPECT_EQ(last, Priority(*buffer));
  EXPECT_EQ(other->names().back(), "pipeline/b/pads/in buffer");
}

TEST_F(PadTest, UnhandledOrReleasedLinksDropBuffers) {
  testing::LogCapture log("pad:5");
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  auto in = makePad<InputPad<TestBuffer>>("sink/pads/in", scheduler_);
  LinkHandle link = out->link(*in);
  out->sendBuffer(std::make_shared<TestBuffer>());
  settle();
  EXPECT_TRUE(log.contains("didn't schedule pad with dead handler"));

  Seen seen;
  in->setBufferHandler(owner_, seen.recordBuffers());
  link.reset();
  out->sendBuffer(std::make_shared<TestBuffer>());
  settle();
  EXPECT_TRUE(seen.buffers.empty());

  // A link whose handle was never kept is undone at once.
  { LinkHandle dropped = out->link(*in); }
  out->sendBuffer(std::make_shared<TestBuffer>());
  settle();
  EXPECT_TRUE(seen.buffers.empty());
}

TEST_F(PadTest, LinkAndUnlinkAreToldToBothSides) {
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  auto in = makePad<InputPad<TestBuffer>>("sink/pads/in", scheduler_);
  Seen upstream, downstream;
  out->setUpstreamEventHandler(owner_, upstream.recordEvents());
  in->setDownstreamEventHandler(owner_, downstream.recordEvents());
  LinkHandle link = out->link(*in);
  settle();
  using T = PipelineTopologyChangeEvent;
  EXPECT_EQ(downstream.topology, std::vector<T::TopologyChangeType>{T::Linked});
  EXPECT_EQ(upstream.topology, std::vector<T::TopologyChangeType>{T::Linked});
  link.reset();
  settle();
  EXPECT_EQ(downstream.topology, (std::vector<T::TopologyChangeType>{T::Linked, T::Unlinked}));
  EXPECT_EQ(upstream.topology, (std::vector<T::TopologyChangeType>{T::Linked, T::Unlinked}));
}

// source.out -> [filter.in => filter.out] -> sink.in, where the filter has no
// downstream handler and joins its pads with an event-only link.
class FilterChainTest : public PadTest {
 protected:
  void SetUp() override {
    links_ += LinkHandle(source_out_->link(*filter_in_));
    links_ += LinkHandle(filter_in_->eventOnlyLink(*filter_out_));
    links_ += LinkHandle(filter_out_->link(*sink_in_));
    sink_in_->setDownstreamEventHandler(owner_, sink_.recordEvents());
    source_out_->setUpstreamEventHandler(owner_, source_.recordEvents());
    settle();
  }
  void TearDown() override { links_.reset(); }

  std::shared_ptr<OutputPad<TestBuffer>> source_out_ =
      makePad<OutputPad<TestBuffer>>("s/o", scheduler_);
  std::shared_ptr<InputPad<TestBuffer>> filter_in_ =
      makePad<InputPad<TestBuffer>>("f/i", scheduler_);
  std::shared_ptr<OutputPad<TestBuffer>> filter_out_ =
      makePad<OutputPad<TestBuffer>>("f/o", scheduler_);
  std::shared_ptr<InputPad<TestBuffer>> sink_in_ = makePad<InputPad<TestBuffer>>("k/i", scheduler_);
  LinkHandles links_;
  Seen source_, filter_, sink_;
};

TEST_F(FilterChainTest, EventsPassThroughAFilterBothWays) {
  auto down = std::make_shared<TestEvent>();
  source_out_->sendDownstreamEvent(down);
  auto up = std::make_shared<TestEvent>();
  sink_in_->sendUpstreamEvent(up);
  settle();
  EXPECT_EQ(sink_.events, std::vector<std::shared_ptr<Event const>>{down});
  EXPECT_EQ(source_.events, std::vector<std::shared_ptr<Event const>>{up});
}

TEST_F(FilterChainTest, HandlerDecidesWhetherTheEventTravelsOn) {
  auto keeper = std::make_shared<int>(0);
  filter_in_->setDownstreamEventHandler(keeper, filter_.recordEvents(false));
  source_out_->sendDownstreamEvent(std::make_shared<TestEvent>());
  settle();
  EXPECT_EQ(filter_.events.size(), 1u);
  EXPECT_TRUE(sink_.events.empty());

  filter_in_->setDownstreamEventHandler(keeper, filter_.recordEvents(true));
  source_out_->sendDownstreamEvent(std::make_shared<TestEvent>());
  settle();
  EXPECT_EQ(filter_.events.size(), 2u);
  EXPECT_EQ(sink_.events.size(), 1u);
}

TEST_F(FilterChainTest, EventIsPropagatedWhenItsHandlersOwnerDied) {
  // The filter runs on a scheduler the test steps by hand, so that the
  // handler's owner can die between the dispatch and the handler task.
  auto manual = std::make_shared<testing::ManualScheduler>();
  auto filter_in = makePad<InputPad<TestBuffer>>("g/i", manual);
  auto filter_out = makePad<OutputPad<TestBuffer>>("g/o", scheduler_);
  auto source_out = makePad<OutputPad<TestBuffer>>("t/o", scheduler_);
  LinkHandles links;
  links += LinkHandle(source_out->link(*filter_in));
  links += LinkHandle(filter_in->eventOnlyLink(*filter_out));
  links += LinkHandle(filter_out->link(*sink_in_));
  auto owner = std::make_shared<int>(0);
  Seen filter;
  filter_in->setDownstreamEventHandler(owner, filter.recordEvents(false));
  settle();
  manual->runAll();
  auto event = std::make_shared<TestEvent>();
  source_out->sendDownstreamEvent(event);
  settle();
  ASSERT_TRUE(manual->runOne());  // dispatch: queues the handler task
  ASSERT_EQ(manual->size(), 1u);
  owner.reset();
  manual->runOne();  // the handler is not called; its task is released
  settle();
  EXPECT_TRUE(filter.events.empty());
  EXPECT_EQ(std::count(sink_.events.begin(), sink_.events.end(), event), 1);
  links.reset();
}

TEST_F(PadTest, OneTokenPoolHoldsTheSecondBufferUntilTheFirstIsReleased) {
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  auto in = makePad<InputPad<TestBuffer>>("sink/pads/in", scheduler_);
  Seen seen;
  in->setBufferHandler(owner_, seen.recordBuffers());
  LinkHandle link = out->link(*in);
  TokenPool pool = out->getOrCreateTokenPool();
  EXPECT_EQ(pool.getNumTokens(), 1u);
  out->sendBuffer(std::make_shared<TestBuffer>());
  out->sendBuffer(std::make_shared<TestBuffer>());
  settle();
  ASSERT_EQ(seen.buffers.size(), 1u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 1u);
  // Releasing the last copy of the first buffer gives its token back; the
  // second buffer is then delivered on the deferred thread.
  auto first = std::move(seen.buffers);
  seen.buffers.clear();
  first.clear();
  settle();
  EXPECT_EQ(seen.buffers.size(), 1u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
}

TEST_F(PadTest, FullQueueDropsWithAThrottledMessage) {
  testing::LogCapture log;
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  auto in = makePad<InputPad<TestBuffer>>("sink/pads/in", scheduler_);
  Seen seen;
  in->setBufferHandler(owner_, seen.recordBuffers());
  LinkHandle link = out->link(*in);
  out->getOrCreateTokenPool().setQueueLength(1);
  for (int i = 0; i < 4; ++i) out->sendBuffer(std::make_shared<TestBuffer>());
  settle();
  auto drops = log.messages("pad");
  ASSERT_EQ(drops.size(), 1u);  // the next two drops within 5 s go to level 7
  EXPECT_EQ(drops[0], "Buffer dropped because of full queue on pad pipeline/src/pads/out buffer.");
}

TEST_F(PadTest, ContractFailures) {
  testing::LogCapture log;
  testing::AssertionCapture assertions;
  auto out = makePad<OutputPad<TestBuffer>>("src/pads/out", scheduler_);
  out->initialize(PadArgs(root_, scheduler_));
  out->sendBuffer(std::make_shared<TestBuffer>(0));
  out->sendBuffer(nullptr);
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{
                "Assertion failed: Attempted to initialize a pad more than once.",
                "Assertion failed: Read comment in the code above this assertion to understand "
                "how to solve this issue."}));
  EXPECT_EQ(log.messages("check"), std::vector<std::string>{"Check failed buff.get() "});
  LinkHandles empty;
  empty.reset();
  EXPECT_EQ(empty.size(), 0u);
}

}  // namespace
}  // namespace dravo::media
