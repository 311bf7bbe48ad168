// Tearing a running threaded pipeline down in every order: source, filter
// and sink each on their own threaded scheduler, a producer thread feeding
// the source, then one part after another destroyed while buffers are in
// flight. Nothing may crash, hang or reorder buffers, and every token comes
// back to the source's pool. Under AddressSanitizer this also checks leaks.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/deferred.h"
#include "media_common/threaded_scheduler.h"
#include "tests/support/chain_elements.h"

namespace dravo::media {
namespace {

using Source = testing::PlainSource<Buffer>;
using Filter = testing::CopyFilter<Buffer>;

// The only producer thread never waits for a token, so every send happens on
// it, in order, and must arrive in order (the start stamp numbers them)
// across the three schedulers.
class OrderCheckingSink : public testing::CountingSink<Buffer> {
 public:
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override {
    if (buffer->getStartTimestamp() <= last_) ++*out_of_order;
    last_ = buffer->getStartTimestamp();
    CountingSink::onBuffer(buffer);
  }
  std::shared_ptr<std::atomic<int>> out_of_order = std::make_shared<std::atomic<int>>(0);

 private:
  Time last_ = Time::min();  // the sink's strand only
};

enum class Teardown { kSinkFirst, kSourceFirst, kFilterFirst, kLinksFirst, kShutdownFirst };

class ThreadedTeardownTest : public ::testing::TestWithParam<Teardown> {
 protected:
  template <typename T>
  std::shared_ptr<T> make(char const* name) {
    schedulers_.push_back(createThreadedScheduler(2, root_->getNode(name, true)));
    return createElement<T>(ElementArgs(schedulers_.back(), root_->getNode(name, true)));
  }

  std::shared_ptr<PropertyNode> root_ = PropertyNode::create("teardown");
  std::vector<std::shared_ptr<Scheduler>> schedulers_;
  std::shared_ptr<Source> source_ = make<Source>("source");
  std::shared_ptr<Filter> filter_ = make<Filter>("filter");
  std::shared_ptr<OrderCheckingSink> sink_ = make<OrderCheckingSink>("sink");
  LinkHandles links_;
  std::thread producer_;
  std::atomic<bool> stop_{false};
};

TEST_P(ThreadedTeardownTest, NothingCrashesHangsOrKeepsATokenWhateverGoesFirst) {
  source_->getPropertyNode("priority")->setValue(PropertyValue(1));
  links_ += LinkHandle(source_->getOutputPad()->link(*filter_->getInputPad()));
  links_ += LinkHandle(filter_->getOutputPad()->link(*sink_->getInputPad()));
  TokenPool pool = source_->getOutputPad()->getOrCreateTokenPool();
  for (auto const& scheduler : schedulers_) scheduler->start();
  // The elements' first property pass, after which the source may send.
  for (auto const& scheduler : schedulers_) scheduler->waitIdle();
  sink_->notify_at = 20;
  // Feeds the source until told to stop; the source's pool throttles it.
  producer_ = std::thread([&] {
    for (int64_t index = 1; !stop_;) {
      if (pool.getNumTokensOutstanding() >= pool.getNumTokens()) {
        std::this_thread::yield();
        continue;
      }
      auto buffer = std::make_shared<Buffer>();
      buffer->setStartTimestamp(Time::fromNSec(index++));
      source_->sendBuffer(buffer);
    }
  });
  auto stopProducer = [&] {
    stop_ = true;
    if (producer_.joinable()) producer_.join();
  };
  ASSERT_TRUE(sink_->reached.waitFor());
  auto out_of_order = sink_->out_of_order;
  Teardown const first = GetParam();
  if (first == Teardown::kSinkFirst) sink_.reset();
  if (first == Teardown::kSourceFirst) stopProducer(), source_.reset();
  if (first == Teardown::kFilterFirst) filter_.reset();
  if (first == Teardown::kLinksFirst) links_.reset();
  if (first == Teardown::kShutdownFirst)
    for (auto const& scheduler : schedulers_) scheduler->shutdown(false);
  // Then everything else, the schedulers last but without waiting for them.
  stopProducer();
  links_.reset();
  source_.reset();
  filter_.reset();
  sink_.reset();
  for (auto const& scheduler : schedulers_) scheduler->shutdown(true);
  schedulers_.clear();
  waitForDeferredCalls();
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(out_of_order->load(), 0);
}

INSTANTIATE_TEST_SUITE_P(EveryOrder, ThreadedTeardownTest,
                         ::testing::Values(Teardown::kSinkFirst, Teardown::kSourceFirst,
                                           Teardown::kFilterFirst, Teardown::kLinksFirst,
                                           Teardown::kShutdownFirst));

}  // namespace
}  // namespace dravo::media
