// A source -> filter -> sink chain of pads, each stage on its own threaded
// scheduler, with the source throttled by its pad's token pool.

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <vector>

#include "common/deferred.h"
#include "media_common/pad.h"
#include "media_common/threaded_scheduler.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

using testing::WaitableFlag;

class CountedBuffer : public Buffer {
 public:
  explicit CountedBuffer(int index) : index(index) { setPriority(1); }
  const int index;
};

// Hands tokens of a pool to the test thread, which waits for them.
class TokenWaiter : public std::enable_shared_from_this<TokenWaiter> {
 public:
  TokenReference take(TokenPool& pool) {
    pool.getToken(TokenRequest(weak_from_this(), [this](TokenReference const& token) {
      std::lock_guard lock(mutex_);
      tokens_.push_back(token);
      arrived_.notify_all();
    }));
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::seconds(30), [this] { return !tokens_.empty(); });
    if (tokens_.empty()) return TokenReference();
    TokenReference token = tokens_.front();
    tokens_.pop_front();
    return token;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<TokenReference> tokens_;
};

TEST(ThreadedPipelineTest, SourceFilterSinkDeliverEveryBufferInOrder) {
  constexpr int kBuffers = 300;
  auto root = PropertyNode::create("pipeline");
  auto source_scheduler = createThreadedScheduler(2, root->getNode("source", true));
  auto filter_scheduler = createThreadedScheduler(2, root->getNode("filter", true));
  auto sink_scheduler = createThreadedScheduler(2, root->getNode("sink", true));
  auto make_pad = [&](auto pad, char const* path, std::shared_ptr<Scheduler> const& scheduler) {
    pad->initialize(PadArgs(root->getNode(path, true), scheduler));
    return pad;
  };
  auto source_out =
      make_pad(std::make_shared<OutputPad<CountedBuffer>>(), "source/pads/out", source_scheduler);
  auto filter_in =
      make_pad(std::make_shared<InputPad<CountedBuffer>>(), "filter/pads/in", filter_scheduler);
  auto filter_out =
      make_pad(std::make_shared<OutputPad<CountedBuffer>>(), "filter/pads/out", filter_scheduler);
  auto sink_in =
      make_pad(std::make_shared<InputPad<CountedBuffer>>(), "sink/pads/in", sink_scheduler);

  // The filter makes a new buffer that inherits the input's timing,
  // priority and token.
  auto filter_owner = std::make_shared<int>(0);
  filter_in->setBufferHandler(filter_owner, [&](std::shared_ptr<DataBase const> const& data) {
    auto in = std::dynamic_pointer_cast<CountedBuffer const>(data);
    if (!in) return;
    auto out = std::make_shared<CountedBuffer>(in->index);
    out->copyMetadata(*in);
    filter_out->sendBuffer(out);
  });
  std::mutex mutex;
  std::vector<int> received;
  WaitableFlag all_received;
  auto sink_owner = std::make_shared<int>(0);
  sink_in->setBufferHandler(sink_owner, [&](std::shared_ptr<DataBase const> const& data) {
    auto buffer = std::dynamic_pointer_cast<CountedBuffer const>(data);
    std::lock_guard lock(mutex);
    received.push_back(buffer ? buffer->index : -1);
    if (received.size() == kBuffers) all_received.set();
  });
  LinkHandles links;
  links += LinkHandle(source_out->link(*filter_in));
  links += LinkHandle(filter_out->link(*sink_in));
  for (auto const& scheduler : {source_scheduler, filter_scheduler, sink_scheduler})
    scheduler->start();

  TokenPool pool = source_out->getOrCreateTokenPool();
  pool.setNumTokens(4);
  auto waiter = std::make_shared<TokenWaiter>();
  for (int i = 0; i < kBuffers; ++i) {
    TokenReference token = waiter->take(pool);
    ASSERT_FALSE(token.empty());
    auto buffer = std::make_shared<CountedBuffer>(i);
    buffer->addToken(token);
    source_out->sendBuffer(buffer);
  }
  ASSERT_TRUE(all_received.waitFor());
  for (auto const& scheduler : {source_scheduler, filter_scheduler, sink_scheduler})
    scheduler->waitIdle();

  std::vector<int> expected(kBuffers);
  for (int i = 0; i < kBuffers; ++i) expected[i] = i;
  {
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, expected);
  }
  // Every copy of every buffer is gone, so every token came back.
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);

  links.reset();
  for (auto const& scheduler : {source_scheduler, filter_scheduler, sink_scheduler})
    scheduler->waitIdle();
  // Pads hold their schedulers; the schedulers go on the deferred thread.
  source_out.reset();
  filter_in.reset();
  filter_out.reset();
  sink_in.reset();
  source_scheduler.reset();
  filter_scheduler.reset();
  sink_scheduler.reset();
  waitForDeferredCalls();
}

}  // namespace
}  // namespace dravo::media
