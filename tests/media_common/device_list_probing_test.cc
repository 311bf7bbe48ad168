// The device list manager's probe thread: the first probe on the caller's
// thread, repeated probes at the configured interval, shutdown while a probe
// runs, and blacklist changes racing with probe-driven updates.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/property_enum.h"
#include "common/property_node.h"
#include "common/thread.h"
#include "common/time.h"
#include "media_common/device_list_manager.h"
#include "tests/media_common/device_list_test_support.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using testing::makeList;
using testing::ScopedConfigPath;

// A probe whose answers, calls and threads the test can see and wait for;
// while its gate is closed each call blocks until the test opens it.
class TestProbe : public std::enable_shared_from_this<TestProbe> {
 public:
  DeviceProbeFunction function() {
    return DeviceProbeFunction(shared_from_this(), [this] { return probe(); });
  }
  void setList(std::shared_ptr<DeviceList> list) {
    std::lock_guard lock(mutex_);
    list_ = std::move(list);
  }
  void setGate(bool open) {
    std::lock_guard lock(mutex_);
    gate_open_ = open;
    condition_.notify_all();
  }
  // Waits until `count` calls have started.
  bool waitForCalls(int count) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, std::chrono::seconds(30), [&] { return calls_ >= count; });
  }
  int calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  // Names of the threads of the calls, or "caller" for the test's own.
  std::vector<std::string> threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  std::shared_ptr<DeviceList> probe() {
    std::unique_lock lock(mutex_);
    ++calls_;
    threads_.push_back(std::this_thread::get_id() == test_thread_ ? "caller"
                                                                  : Thread::current()->getName());
    condition_.notify_all();
    condition_.wait(lock, [this] { return gate_open_; });
    ++finished_;
    return list_;
  }

  mutable std::mutex mutex_;
  std::condition_variable condition_;
  std::shared_ptr<DeviceList> list_;
  bool gate_open_ = true;
  int calls_ = 0, finished_ = 0;
  std::vector<std::string> threads_;
  const std::thread::id test_thread_ = std::this_thread::get_id();
};

// Counts updates; its listUpdated may run on the probe thread.
class CountingManager : public DeviceListManagerBase {
 public:
  using DeviceListManagerBase::DeviceListManagerBase;
  int updates() const { return updates_; }

 protected:
  void listUpdated() override { ++updates_; }

 private:
  std::atomic<int> updates_{0};
};

class DeviceListProbingTest : public ::testing::Test {
 protected:
  ~DeviceListProbingTest() override { interval_->setValue(interval_->getDefaultValue()); }
  void setInterval(Duration interval) { interval_->setValue(PropertyValue(interval)); }

  ScopedConfigPath config_;
  std::shared_ptr<PropertyNode> interval_ = getPropertyNode("media/devices/device_probe_interval");
  std::shared_ptr<TestProbe> probe_ = std::make_shared<TestProbe>();
  CountingManager manager_{"camera"};
};

TEST_F(DeviceListProbingTest, ProbesAtOnceThenOnTheNamedThreadUntilDisabledAndAgain) {
  dravo::testing::LogCapture log("device_list_manager:5");
  dravo::testing::AssertionCapture assertions;
  setInterval(Duration::fromMSec(1));
  for (int round = 1; round <= 2; ++round) {
    probe_->setList(makeList({{"a", "A"}}));
    int calls = probe_->calls();
    manager_.enablePeriodicProbing(probe_->function());
    // The first probe ran on this thread and its list is already current.
    EXPECT_EQ("caller", probe_->threads().at(calls));
    EXPECT_EQ("a", manager_.getDefault());
    ASSERT_TRUE(probe_->waitForCalls(calls + 3));
    probe_->setList(makeList({{"b", "B"}}));
    ASSERT_TRUE(probe_->waitForCalls(probe_->calls() + 2));
    manager_.disablePeriodicProbing();
    EXPECT_EQ("b", manager_.getDefault());
    // Off means off: no probe runs after disable returned.
    calls = probe_->calls();
    EXPECT_EQ(calls, probe_->finished());
    manager_.disablePeriodicProbing();  // a second disable does nothing
    EXPECT_EQ(calls, probe_->calls());
  }
  EXPECT_EQ(4, manager_.updates());  // unchanged probes do not count
  for (std::string const& thread : probe_->threads())
    EXPECT_TRUE(thread == "caller" || thread == "Periodic Device Probe") << thread;
  EXPECT_TRUE(log.contains("Doing automatic probe."));

  // Enabling twice keeps the running thread.
  setInterval(Duration::fromSec(3600));
  manager_.enablePeriodicProbing(probe_->function());
  int calls = probe_->calls();
  manager_.enablePeriodicProbing(probe_->function());
  EXPECT_EQ(std::vector<std::string>{"Assertion failed: !periodic_probing_"},
            assertions.messages());
  EXPECT_EQ(calls, probe_->calls());
  manager_.disablePeriodicProbing();
}

TEST_F(DeviceListProbingTest, DisableWakesALongWaitAndWaitsForARunningProbe) {
  setInterval(Duration::fromSec(100));
  manager_.enablePeriodicProbing(probe_->function());
  Time before = Time::now();
  manager_.disablePeriodicProbing();
  // Only the probe on enable ran; the thread left its wait without probing.
  EXPECT_EQ(1, probe_->calls());
  EXPECT_LT(Time::now() - before, Duration::fromSec(50));

  setInterval(Duration::fromMSec(1));
  manager_.enablePeriodicProbing(probe_->function());
  probe_->setGate(false);
  ASSERT_TRUE(probe_->waitForCalls(3));  // the thread is inside a probe now
  std::atomic<bool> disabled{false};
  std::thread stopper([&] {
    manager_.disablePeriodicProbing();
    disabled = true;
  });
  EXPECT_FALSE(disabled);
  probe_->setGate(true);
  stopper.join();
  EXPECT_EQ(probe_->calls(), probe_->finished());
}

TEST_F(DeviceListProbingTest, AProbeWhoseOwnerIsGoneGivesAnEmptyList) {
  setInterval(Duration::fromMSec(1));
  auto owner = std::make_shared<int>(0);
  DeviceProbeFunction probe(owner, [] { return makeList({{"a", "A"}}); });
  DeviceListManager manager("camera", PropertyNode::create());
  manager.enablePeriodicProbing(probe);
  EXPECT_EQ("a", manager.getDefault());
  owner.reset();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!manager.getCurrentDeviceList()->empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  manager.disablePeriodicProbing();
  EXPECT_TRUE(manager.getCurrentDeviceList()->empty());
}

// Blacklist changes, reads and probe-driven updates from several threads at
// once; run under ThreadSanitizer this catches unguarded shared state.
TEST_F(DeviceListProbingTest, BlacklistChangesRaceSafelyWithProbing) {
  setInterval(Duration::fromMSec(1));
  auto node = PropertyNode::create();
  DeviceListManager manager("camera", node);
  std::atomic<int> round{0};
  DeviceProbeFunction probe(probe_, [&round] {
    return ++round % 2 ? makeList({{"a", "A"}, {"b", "B"}}) : makeList({{"b", "B"}, {"c", "C"}});
  });
  manager.enablePeriodicProbing(probe);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int i = 0;
  for (; (i < 200 || round < 20) && std::chrono::steady_clock::now() < deadline; ++i) {
    if (i % 2)
      manager.addToBlacklist("b");
    else
      manager.removeFromBlacklist("b");
    std::string name = manager.getDefaultNonBlacklisted();
    EXPECT_TRUE(name.empty() || name == "A" || name == "B" || name == "C") << name;
    EXPECT_LE(manager.getCurrentNonBlacklistedDeviceList()->numDevices(), 2u);
    EXPECT_LE(getPropertyEnumValues(node).size(), 2u);
  }
  manager.disablePeriodicProbing();
  EXPECT_GE(round, 20);
  // Whatever the interleaving, the file matches the last change.
  EXPECT_EQ((i - 1) % 2 ? "b\n" : "", config_.readBlacklist("camera"));
}

}  // namespace
}  // namespace dravo::media
