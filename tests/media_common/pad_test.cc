// Pads: fan-out, links and their notifications, and the handler faults:
// cleared, swapped or dying handlers while deliveries are on their way.

#include "media_common/pad.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/deferred.h"
#include "media_common/pipeline_topology_change_event.h"
#include "media_common/trivial_scheduler.h"
#include "tests/support/capture.h"
#include "tests/support/manual_scheduler.h"

namespace dravo::media {
namespace {

// A buffer ready to send: it has a non-zero priority.
class TestBuffer : public Buffer {
 public:
  explicit TestBuffer(int priority = 3) { setPriority(priority); }
};

// An event no pad handles on its own.
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

// Pads under one property root; scheduler_ runs their tasks on the deferred
// thread, manual_ when the test steps them.
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
  // An input pad whose tasks the test runs by hand on manual_.
  std::shared_ptr<InputPad<TestBuffer>> steppedIn() {
    return makePad<InputPad<TestBuffer>>("k/i", manual_);
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("pipeline");
  std::shared_ptr<Scheduler> scheduler_ = [] {
    auto scheduler = createTrivialScheduler();
    scheduler->start();
    return scheduler;
  }();
  std::shared_ptr<testing::ManualScheduler> manual_ = std::make_shared<testing::ManualScheduler>();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);
};

TEST_F(PadTest, OneOutputToTwoInputsOnTheirOwnSchedulers) {
  auto source = out();
  auto in1 = in("a/pads/in");
  auto in2 = steppedIn();
  Seen seen1, seen2;
  in1->setBufferHandler(owner_, seen1.recordBuffers());
  in2->setBufferHandler(owner_, seen2.recordBuffers());
  LinkHandle l1 = source->link(*in1), l2 = source->link(*in2);
  waitForDeferredCalls();
  manual_->runAll();
  bool less_urgent_ran = false;
  manual_->schedule(TaskFunction(owner_, [&] { less_urgent_ran = true; }), Priority(6, false),
                    nullptr);
  auto buffer = std::make_shared<TestBuffer>(7);
  source->sendBuffer(buffer);
  waitForDeferredCalls();
  // Delivered at the buffer's priority; shared, never copied.
  manual_->runOne();
  EXPECT_FALSE(less_urgent_ran);
  EXPECT_EQ(seen1.buffers, std::vector<std::shared_ptr<DataBase const>>{buffer});
  EXPECT_EQ(seen2.buffers, std::vector<std::shared_ptr<DataBase const>>{buffer});
}

TEST_F(PadTest, LinksAreToldToBothSidesAndCarryBuffersOnlyWhileHeldAndHandled) {
  auto source = out();
  auto sink = in();
  Seen upstream, downstream, seen;
  source->setUpstreamEventHandler(owner_, upstream.recordEvents());
  sink->setDownstreamEventHandler(owner_, downstream.recordEvents());
  LinkHandle link = source->link(*sink);
  source->sendBuffer(std::make_shared<TestBuffer>());  // no buffer handler yet
  waitForDeferredCalls();
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

TEST_F(PadTest, BuffersQueuedForAClearedHandlerAreDropped) {
  testing::LogCapture log("pad:5");
  auto source = out();
  auto sink = steppedIn();
  Seen seen;
  sink->setBufferHandler(owner_, seen.recordBuffers());
  LinkHandle link = source->link(*sink);
  source->sendBuffer(std::make_shared<TestBuffer>());
  sink->clearBufferHandler();
  manual_->runAll();
  EXPECT_TRUE(seen.buffers.empty());
  EXPECT_TRUE(log.contains("dropped data for a cleared handler"));
}

// source.out -> sink.in =event-only=> sink.out -> next.in, with the sink's
// pads stepped by hand, so that its downstream handler can be swapped, or its
// owner die, while an event waits for the dispatch task or the handler task.
TEST_F(PadTest, EventsOnTheirWayReachTheCurrentHandlerOrTravelOn) {
  auto source = out("s/o");
  auto sink_in = steppedIn();
  auto sink_out = makePad<OutputPad<TestBuffer>>("k/o", manual_);
  auto next = in("n/i");
  Seen first, second, third, beyond;
  next->setDownstreamEventHandler(owner_, beyond.recordEvents());
  sink_in->setDownstreamEventHandler(owner_, first.recordEvents(false));
  LinkHandles links;
  links += LinkHandle(source->link(*sink_in));
  links += LinkHandle(sink_in->eventOnlyLink(*sink_out));
  links += LinkHandle(sink_out->link(*next));
  manual_->runAll();
  auto send = [&] {
    auto event = std::make_shared<TestEvent>();
    source->sendDownstreamEvent(event);
    return event;
  };

  auto before_dispatch = send();
  sink_in->setDownstreamEventHandler(owner_, second.recordEvents(false));
  manual_->runAll();
  auto before_handler = send();
  ASSERT_TRUE(manual_->runOne());  // the dispatch queues the handler task
  sink_in->setDownstreamEventHandler(owner_, third.recordEvents(false));
  manual_->runAll();
  // A handler whose owner dies between the dispatch and the handler task.
  auto doomed = std::make_shared<int>(0);
  sink_in->setDownstreamEventHandler(doomed, third.recordEvents(false));
  auto before_death = send();
  ASSERT_TRUE(manual_->runOne());
  doomed.reset();
  manual_->runAll();
  auto before_clear = send();
  sink_in->clearDownstreamEventHandler();
  manual_->runAll();
  waitForDeferredCalls();
  EXPECT_TRUE(first.events.empty());
  EXPECT_EQ(second.events, Events{before_dispatch});
  EXPECT_EQ(third.events, Events{before_handler});
  EXPECT_EQ(beyond.events, (Events{before_death, before_clear}));
  links.reset();
  waitForDeferredCalls();
}

TEST_F(PadTest, NoEventIsLostWhileTwoThreadsKeepReplacingTheHandler) {
  auto source = out();
  auto sink = steppedIn();
  LinkHandle link = source->link(*sink);
  manual_->runAll();
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
    manual_->runAll();
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
  // The send queues its task while another thread drops the last reference.
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

}  // namespace
}  // namespace dravo::media
