#include "media_common/pad.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/deferred.h"
#include "media_common/pipeline_topology_change_event.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

class TestBuffer : public Buffer {
 public:
  explicit TestBuffer(int priority = 3) { setPriority(priority); }
};

class TestEvent : public Event {};

using Events = std::vector<std::shared_ptr<Event const>>;
using Topology = std::vector<PipelineTopologyChangeEvent::TopologyChangeType>;

// What one side of a pipeline saw; handlers run on the deferred thread, the
// test reads after waitForDeferredCalls().
struct Seen {
  std::vector<std::shared_ptr<DataBase const>> buffers;
  std::vector<std::shared_ptr<Event const>> events;
  Topology topology;

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
  std::shared_ptr<OutputPad<TestBuffer>> out(std::string const& name = "src/pads/out") {
    return makePad<OutputPad<TestBuffer>>(name, scheduler_);
  }
  std::shared_ptr<InputPad<TestBuffer>> in(std::string const& name = "sink/pads/in") {
    return makePad<InputPad<TestBuffer>>(name, scheduler_);
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  // Runs every task on the deferred thread.
  std::shared_ptr<Scheduler> scheduler_ = [] {
    auto scheduler = createTrivialScheduler();
    scheduler->start();
    return scheduler;
  }();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

TEST_F(PadTest, OneOutputToTwoInputsOnTheirOwnSchedulers) {
  auto other = std::make_shared<testing::ManualScheduler>();
  auto source = out();
  auto in1 = in("a/pads/in");
  auto in2 = makePad<InputPad<TestBuffer>>("b/pads/in", other);
  Seen seen1, seen2;
  in1->setBufferHandler(owner_, seen1.recordBuffers());
  in2->setBufferHandler(owner_, seen2.recordBuffers());
  LinkHandle l1 = source->link(*in1), l2 = source->link(*in2);
  waitForDeferredCalls();
  other->runAll();
  bool less_urgent_ran = false;
  other->schedule(TaskFunction(owner_, [&] { less_urgent_ran = true; }), Priority(6, false),
                  nullptr);
  auto buffer = std::make_shared<TestBuffer>(7);
  source->sendBuffer(buffer);
  waitForDeferredCalls();
  // Delivered at the buffer's priority; shared, never copied.
  other->runOne();
  EXPECT_FALSE(less_urgent_ran);
  EXPECT_EQ(seen1.buffers, std::vector<std::shared_ptr<DataBase const>>{buffer});
  EXPECT_EQ(seen2.buffers, std::vector<std::shared_ptr<DataBase const>>{buffer});
}

TEST_F(PadTest, LinksAreToldToBothSidesAndCarryBuffersOnlyWhileHeldAndHandled) {
  testing::LogCapture log("pad:5");
  auto source = out();
  auto sink = in();
  Seen upstream, downstream;
  source->setUpstreamEventHandler(owner_, upstream.recordEvents());
  sink->setDownstreamEventHandler(owner_, downstream.recordEvents());
  LinkHandle link = source->link(*sink);
  source->sendBuffer(std::make_shared<TestBuffer>());
  waitForDeferredCalls();
  EXPECT_TRUE(log.contains("didn't schedule pad with dead handler"));

  Seen seen;
  sink->setBufferHandler(owner_, seen.recordBuffers());
  link.reset();
  source->sendBuffer(std::make_shared<TestBuffer>());
  waitForDeferredCalls();
  using T = PipelineTopologyChangeEvent;
  EXPECT_EQ(downstream.topology, (Topology{T::Linked, T::Unlinked}));
  EXPECT_EQ(upstream.topology, (Topology{T::Linked, T::Unlinked}));
  // A link whose handle was never kept is undone at once.
  { LinkHandle dropped = source->link(*sink); }
  source->sendBuffer(std::make_shared<TestBuffer>());
  waitForDeferredCalls();
  EXPECT_TRUE(seen.buffers.empty());
}

TEST_F(PadTest, EventIsPropagatedWhenItsHandlersOwnerDied) {
  // source.out -> [filter.in => filter.out] -> sink.in, where the filter
  // joins its pads with an event-only link and runs on a scheduler the test
  // steps by hand, so that the handler's owner can die between the dispatch
  // and the handler task.
  auto manual = std::make_shared<testing::ManualScheduler>();
  auto filter_in = makePad<InputPad<TestBuffer>>("f/i", manual);
  auto filter_out = out("f/o"), source_out = out("s/o");
  auto sink_in = in("k/i");
  LinkHandles links;
  links += LinkHandle(source_out->link(*filter_in));
  links += LinkHandle(filter_in->eventOnlyLink(*filter_out));
  links += LinkHandle(filter_out->link(*sink_in));
  auto owner = std::make_shared<int>(0);
  Seen filter, sink;
  filter_in->setDownstreamEventHandler(owner, filter.recordEvents(false));
  sink_in->setDownstreamEventHandler(owner_, sink.recordEvents());
  waitForDeferredCalls();
  manual->runAll();
  auto event = std::make_shared<TestEvent>();
  source_out->sendDownstreamEvent(event);
  waitForDeferredCalls();
  ASSERT_TRUE(manual->runOne());  // dispatch: queues the handler task
  ASSERT_EQ(manual->size(), 1u);
  owner.reset();
  manual->runOne();  // the handler is not called; its task is released
  waitForDeferredCalls();
  EXPECT_TRUE(filter.events.empty());
  EXPECT_EQ(sink.events, std::vector<std::shared_ptr<Event const>>{event});
  links.reset();
  waitForDeferredCalls();  // the unlink notifications write into `sink`
}

TEST_F(PadTest, BuffersQueuedForAClearedHandlerAreDropped) {
  testing::LogCapture log("pad:5");
  auto manual = std::make_shared<testing::ManualScheduler>();
  auto source = out();
  auto sink = makePad<InputPad<TestBuffer>>("k/i", manual);
  Seen seen;
  sink->setBufferHandler(owner_, seen.recordBuffers());
  LinkHandle link = source->link(*sink);
  source->sendBuffer(std::make_shared<TestBuffer>());
  sink->clearBufferHandler();
  manual->runAll();
  EXPECT_TRUE(seen.buffers.empty());
  EXPECT_TRUE(log.contains("dropped data for a cleared handler"));
}

// source.out -> sink.in =event-only=> sink.out -> next.in, with the sink's
// pads stepped by hand, so that its downstream handler can be swapped while
// an event waits for the dispatch task or for the handler task.
TEST_F(PadTest, EventsOnTheirWayReachTheCurrentHandlerOrTravelOn) {
  auto manual = std::make_shared<testing::ManualScheduler>();
  auto source = out("s/o");
  auto sink_in = makePad<InputPad<TestBuffer>>("k/i", manual);
  auto sink_out = makePad<OutputPad<TestBuffer>>("k/o", manual);
  auto next = in("n/i");
  Seen first, second, third, beyond;
  next->setDownstreamEventHandler(owner_, beyond.recordEvents());
  sink_in->setDownstreamEventHandler(owner_, first.recordEvents(false));
  LinkHandles links;
  links += LinkHandle(source->link(*sink_in));
  links += LinkHandle(sink_in->eventOnlyLink(*sink_out));
  links += LinkHandle(sink_out->link(*next));
  manual->runAll();
  auto send = [&] {
    auto event = std::make_shared<TestEvent>();
    source->sendDownstreamEvent(event);
    return event;
  };

  auto before_dispatch = send();
  sink_in->setDownstreamEventHandler(owner_, second.recordEvents(false));
  manual->runAll();
  auto before_handler = send();
  ASSERT_TRUE(manual->runOne());  // the dispatch queues the handler task
  sink_in->setDownstreamEventHandler(owner_, third.recordEvents(false));
  manual->runAll();
  auto before_clear = send();
  sink_in->clearDownstreamEventHandler();
  manual->runAll();
  waitForDeferredCalls();
  EXPECT_TRUE(first.events.empty());
  EXPECT_EQ(second.events, Events{before_dispatch});
  EXPECT_EQ(third.events, Events{before_handler});
  EXPECT_EQ(beyond.events, Events{before_clear});
  links.reset();
  waitForDeferredCalls();
}

TEST_F(PadTest, NoEventIsLostWhileTwoThreadsKeepReplacingTheHandler) {
  auto manual = std::make_shared<testing::ManualScheduler>();
  auto source = out();
  auto sink = makePad<InputPad<TestBuffer>>("k/i", manual);
  LinkHandle link = source->link(*sink);
  manual->runAll();
  std::atomic<int> handled{0};
  auto count = [&](std::shared_ptr<Event const> const& event) {
    if (dynamic_cast<TestEvent const*>(event.get())) handled.fetch_add(1);
    return false;
  };
  sink->setDownstreamEventHandler(owner_, count);
  int sent = 0;
  auto send = [&] {
    source->sendDownstreamEvent(std::make_shared<TestEvent>());
    ++sent;
    manual->runAll();
  };
  for (int round = 0; round < 5; ++round) {
    std::atomic<int> replacing{2};
    auto replace = [&] {
      for (int i = 0; i < 1000; ++i) sink->setDownstreamEventHandler(owner_, count);
      replacing.fetch_sub(1);
    };
    std::thread a(replace), b(replace);
    while (replacing.load() != 0) send();
    a.join();
    b.join();
    send();  // after the last swap of the round
  }
  EXPECT_EQ(handled.load(), sent);
}

// Test scheduler that runs a hook while a task is being queued.
class HookedScheduler : public testing::ManualScheduler {
 public:
  void scheduleWithDebug(TaskFunction const& function, Priority const& priority,
                         std::shared_ptr<TaskInfo const> const& info) override {
    if (hook) hook();
    testing::ManualScheduler::scheduleWithDebug(function, priority, info);
  }
  std::function<void()> hook;
};

TEST_F(PadTest, AnOwnerReleasedDuringASendDiesOnTheReleasingThread) {
  auto hooked = std::make_shared<HookedScheduler>();
  auto source = out();
  auto sink = makePad<InputPad<TestBuffer>>("k/i", hooked);
  std::thread::id died_on;
  std::shared_ptr<int> owner(new int(0), [&](int* object) {
    died_on = std::this_thread::get_id();
    delete object;
  });
  sink->setBufferHandler(owner, [](std::shared_ptr<DataBase const> const&) {});
  LinkHandle link = source->link(*sink);
  std::thread::id releasing;
  hooked->hook = [&] {
    std::thread([&] {
      releasing = std::this_thread::get_id();
      owner.reset();
    }).join();
  };
  source->sendBuffer(std::make_shared<TestBuffer>());
  hooked->hook = nullptr;
  EXPECT_EQ(died_on, releasing);
}

TEST_F(PadTest, FullQueueDropsWithAThrottledMessageAndMisuseIsReported) {
  testing::LogCapture log;
  testing::AssertionCapture assertions;
  auto source = out();
  auto sink = in();
  Seen seen;
  sink->setBufferHandler(owner_, seen.recordBuffers());
  LinkHandle link = source->link(*sink);
  source->getOrCreateTokenPool().setQueueLength(1);
  for (int i = 0; i < 4; ++i) source->sendBuffer(std::make_shared<TestBuffer>());
  waitForDeferredCalls();
  // One buffer holds the token, one request waits, two are refused: only the
  // first drop within 5 s is logged at this level.
  EXPECT_EQ(seen.buffers.size(), 1u);
  EXPECT_EQ(log.messages("pad"), std::vector<std::string>{"Buffer dropped because of full queue "
                                                          "on pad pipeline/src/pads/out buffer."});

  auto lone = out("lone");
  lone->initialize(PadArgs(root_, scheduler_));
  lone->sendBuffer(std::make_shared<TestBuffer>(0));
  lone->sendBuffer(nullptr);
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{
                "Assertion failed: Attempted to initialize a pad more than once.",
                "Assertion failed: Read comment in the code above this assertion to understand "
                "how to solve this issue."}));
  EXPECT_EQ(log.messages("check"), std::vector<std::string>{"Check failed buff.get() "});
}

}  // namespace
}  // namespace dravo::media
