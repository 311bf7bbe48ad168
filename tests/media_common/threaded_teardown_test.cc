// Tearing a running threaded pipeline down in every order: source, filter
// and sink each on their own threaded scheduler, a producer thread feeding
// the source, then one part after another destroyed while buffers are in
// flight. Nothing may crash, hang or reorder buffers, and every token comes
// back to the source's pool. Under AddressSanitizer this also checks leaks.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/deferred.h"
#include "media_common/filter_element.h"
#include "media_common/sink_mixin.h"
#include "media_common/source_element.h"
#include "media_common/threaded_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

// Numbered in the order the producer sends them.
class Frame : public Buffer {
 public:
  explicit Frame(int index = 0) : index(index) {}
  int index;
};

class FrameSource : public Source<Frame> {
 public:
  ~FrameSource() override { disconnect_all(); }
};

class CopyFilter : public FilterElement<Frame, Frame> {
 public:
  ~CopyFilter() override { disconnect_all(); }
  void onBuffer(std::shared_ptr<Frame const> const& in) override {
    auto out = std::make_shared<Frame>(in->index);
    out->copyMetadata(*in);
    sendBuffer(out);
  }
};

class CountingSink : public Element, public SinkMixin<Frame> {
 public:
  ~CountingSink() override { disconnect_all(); }
  void initialize() override {
    Element::initialize();
    SinkMixin<Frame>::initialize();
  }
  // The only producer thread never waits for a token, so every send happens
  // on it, in order, and must arrive in order across the three schedulers.
  void onBuffer(std::shared_ptr<Frame const> const& frame) override {
    if (frame->index <= last_index) ++*out_of_order;
    last_index = frame->index;
    if (++received == 20) running.set();
  }
  int last_index = -1;  // the sink's strand only
  std::atomic<int> received{0};
  std::shared_ptr<std::atomic<int>> out_of_order = std::make_shared<std::atomic<int>>(0);
  testing::WaitableFlag running;
};

enum class Teardown { kSinkFirst, kSourceFirst, kFilterFirst, kLinksFirst, kShutdownFirst };

class ThreadedTeardownTest : public ::testing::TestWithParam<Teardown> {
 protected:
  void SetUp() override {
    for (char const* name : {"source", "filter", "sink"})
      schedulers_.push_back(createThreadedScheduler(2, root_->getNode(name, true)));
    source_ =
        createElement<FrameSource>(ElementArgs(schedulers_[0], root_->getNode("source", true)));
    filter_ =
        createElement<CopyFilter>(ElementArgs(schedulers_[1], root_->getNode("filter", true)));
    sink_ = createElement<CountingSink>(ElementArgs(schedulers_[2], root_->getNode("sink", true)));
    source_->getPropertyNode("priority")->setValue(PropertyValue(1));
    links_ += LinkHandle(source_->getOutputPad()->link(*filter_->getInputPad()));
    links_ += LinkHandle(filter_->getOutputPad()->link(*sink_->getInputPad()));
    pool_ = source_->getOutputPad()->getOrCreateTokenPool();
    for (auto const& scheduler : schedulers_) scheduler->start();
    // The elements' first property pass, after which the source may send.
    for (auto const& scheduler : schedulers_) scheduler->waitIdle();
  }

  // Feeds the source from a thread of its own until told to stop; the
  // source's pool throttles it.
  void startProducer() {
    producer_ = std::thread([this] {
      for (int index = 0; !stop_producer_.load();) {
        if (pool_.getNumTokensOutstanding() < pool_.getNumTokens())
          source_->sendBuffer(std::make_shared<Frame>(index++));
        else
          std::this_thread::yield();
      }
    });
  }
  void stopProducer() {
    stop_producer_ = true;
    if (producer_.joinable()) producer_.join();
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("teardown");
  std::vector<std::shared_ptr<Scheduler>> schedulers_;
  std::shared_ptr<FrameSource> source_;
  std::shared_ptr<CopyFilter> filter_;
  std::shared_ptr<CountingSink> sink_;
  LinkHandles links_;
  TokenPool pool_{0, 0, false};
  std::thread producer_;
  std::atomic<bool> stop_producer_{false};
};

TEST_P(ThreadedTeardownTest, NothingCrashesHangsOrKeepsATokenWhateverGoesFirst) {
  startProducer();
  ASSERT_TRUE(sink_->running.waitFor());
  auto out_of_order = sink_->out_of_order;
  switch (GetParam()) {
    case Teardown::kSinkFirst:
      sink_.reset();
      stopProducer();
      break;
    case Teardown::kSourceFirst:
      stopProducer();
      source_.reset();
      break;
    case Teardown::kFilterFirst:
      filter_.reset();
      stopProducer();
      break;
    case Teardown::kLinksFirst:
      links_.reset();
      stopProducer();
      break;
    case Teardown::kShutdownFirst:
      for (auto const& scheduler : schedulers_) scheduler->shutdown(false);
      stopProducer();
      break;
  }
  // Then everything else, the schedulers last but without waiting for them.
  stopProducer();
  links_.reset();
  source_.reset();
  filter_.reset();
  sink_.reset();
  for (auto const& scheduler : schedulers_) scheduler->shutdown(true);
  schedulers_.clear();
  waitForDeferredCalls();
  EXPECT_EQ(pool_.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(out_of_order->load(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, ThreadedTeardownTest,
                         ::testing::Values(Teardown::kSinkFirst, Teardown::kSourceFirst,
                                           Teardown::kFilterFirst, Teardown::kLinksFirst,
                                           Teardown::kShutdownFirst));

}  // namespace
}  // namespace dravo::media
