// Lifetimes: handles that undo a registration with their last copy, weak
// functions that call only while their owner lives, and signal connections
// that end with either side.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "common/handle.h"
#include "common/sigslot.h"
#include "common/weak_function.h"

namespace dravo {
namespace {

// A registration whose release counts itself.
AutoHandleInitializer<int> registerOne(std::shared_ptr<int> const& releases) {
  return {releases, [](int& count) { ++count; }};
}

TEST(HandleTest, ReleaseRunsOnceWhenTheLastAutoHandleGoesOnWhicheverThread) {
  auto releases = std::make_shared<int>(0);
  { auto dropped = registerOne(releases); }  // leaves its registration
  // AutoHandles made from copies of one plain Handle share one release.
  Handle<int> plain = registerOne(releases).release();
  { AutoHandle<int> a(plain), b(Handle<int>{plain}); }  // from two copies
  { AutoHandle<int> again(plain); }                     // released already
  EXPECT_EQ(*releases, 1);
  for (int round = 0; round < 50; ++round) {
    auto count = std::make_shared<int>(0);  // a second release would race
    AutoHandle<int> handle = registerOne(count);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) threads.emplace_back([copy = handle]() mutable { copy.reset(); });
    handle.reset();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(*count, 1);
  }
}

struct Target {
  void add(int a, int b) { sum += a + b; }
  int sum = 0;
};

TEST(WeakFunctionTest, CallsOnlyWhileTheOwnerLivesAndKeepsItAliveDuringTheCall) {
  auto target = std::make_shared<Target>();
  WeakFunction<void(int)> add_ten = bindWeak<void(int)>(target, &Target::add, 10);
  EXPECT_TRUE(add_ten(5) && target->sum == 15);
  std::weak_ptr<Target> watch = target;
  bool alive_inside = false;
  WeakFunction<void()> drop_owner(target, [&] {
    target.reset();  // the last outside reference
    alive_inside = !watch.expired();
  });
  EXPECT_TRUE(drop_owner() && alive_inside && watch.expired());
  EXPECT_FALSE(add_ten(1)) << "a dead owner means no call";
}

// Counts what reaches it; used on the test's thread.
struct Receiver : sigslot::has_slots<sigslot::multi_threaded_local> {
  ~Receiver() override { disconnect_all(); }
  void onValue(int value) { values.push_back(value); }

  std::vector<int> values;
};

TEST(SigslotTest, DisconnectEndsOnlyWhatItNamesAndEitherSideDyingEndsTheConnection) {
  sigslot::signal1<int> signal;
  Receiver a, b;
  signal.connect(&a, &Receiver::onValue);
  signal.connect(&b, &Receiver::onValue);
  signal.connect(&b, [&b](int value) { b.values.push_back(-value); });
  signal.disconnect(&a);
  signal(1);
  EXPECT_EQ(b.values, (std::vector<int>{1, -1})) << "in connection order";
  {
    Receiver gone;
    signal.connect(&gone, &Receiver::onValue);
    sigslot::signal1<int> local;
    local.connect(&a, &Receiver::onValue);
  }
  EXPECT_TRUE(!a.has_connections() && signal.connection_count() == 2u);
  b.disconnect_all();  // the receiver's side
  signal(2);
  EXPECT_EQ(b.values.size(), 2u);
}

// A receiver whose slot touches its own state; a call after disconnect (or
// during destruction) shows up as a counted violation or as an ASan/TSan
// report. Two emitters may run the slot at once.
struct Guarded : sigslot::has_slots<sigslot::multi_threaded_local> {
  ~Guarded() override {
    disconnect_all();
    alive_ = false;
  }
  void onTick() {
    ++in_slot_;
    if (!alive_) ++violations;
    --in_slot_;
  }

  std::atomic<bool> alive_{true};
  std::atomic<int> in_slot_{0};
  static inline std::atomic<int> violations{0};
};

TEST(SigslotTest, DisconnectWaitsForCallsOnOtherThreads) {
  sigslot::signal0<> signal;
  std::atomic<bool> stop{false};
  std::vector<std::thread> emitters;
  for (int i = 0; i < 2; ++i)
    emitters.emplace_back([&] {
      while (!stop.load()) signal();
    });

  int slot_running_after_disconnect = 0;
  for (int i = 0; i < 2000; ++i) {
    // On the heap: a late call is a use after free. Odd rounds: disconnected
    // by the destructor.
    auto receiver = std::make_unique<Guarded>();
    signal.connect(receiver.get(), &Guarded::onTick);
    if (i % 2 == 0) {
      signal.disconnect(receiver.get());
      slot_running_after_disconnect += receiver->in_slot_ != 0;
    }
  }
  stop = true;
  for (auto& emitter : emitters) emitter.join();

  EXPECT_EQ(slot_running_after_disconnect + Guarded::violations, 0);
  EXPECT_EQ(signal.connection_count(), 0u);
}

}  // namespace
}  // namespace dravo
