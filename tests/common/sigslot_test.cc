#include "common/sigslot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace dravo {
namespace {

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
  signal.connect(&a, &Receiver::onValue);
  EXPECT_FALSE(Receiver(a).has_connections()) << "a copy starts without connections";
  b.disconnect_all();  // the receiver's side
  signal(2);
  EXPECT_TRUE(a.values == std::vector<int>{2} && b.values.size() == 2u);
}

TEST(SigslotTest, SlotsMayDisconnectConnectAndEmitDuringEmission) {
  sigslot::signal1<int> signal;
  Receiver self_removing, late;
  signal.connect(&self_removing, [&](int depth) {
    self_removing.values.push_back(depth);
    if (depth < 2) signal(depth + 1);
    if (depth > 0) return;
    signal.disconnect(&self_removing);  // must not wait for its own call
    signal.connect(&late, &Receiver::onValue);
  });
  signal(0);
  EXPECT_EQ(self_removing.values, (std::vector<int>{0, 1, 2}));
  signal(5);
  EXPECT_EQ(late.values, std::vector<int>{5})
      << "connected during an emission: called from the next";
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
