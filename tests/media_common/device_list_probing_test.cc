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

constexpr auto kDeadline = std::chrono::seconds(30);

// A probe whose answers, call count and threads the test can see and wait
// for. Optionally each call blocks until the test opens the gate.
class TestProbe : public std::enable_shared_from_this<TestProbe> {
 public:
  DeviceProbeFunction function() {
    return DeviceProbeFunction(shared_from_this(), [this] { return probe(); });
  }
  void setList(std::shared_ptr<DeviceList> list) {
    std::lock_guard lock(mutex_);
    list_ = std::move(list);
  }
  void closeGate() {
    std::lock_guard lock(mutex_);
    gate_open_ = false;
  }
  void openGate() {
    std::lock_guard lock(mutex_);
    gate_open_ = true;
    condition_.notify_all();
  }
  // Waits until `count` calls have started.
  bool waitForCalls(int count) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, kDeadline, [&] { return calls_ >= count; });
  }
  int calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
  }
  std::vector<std::string> threadNames() const {
    std::lock_guard lock(mutex_);
    return thread_names_;
  }
  std::vector<std::thread::id> threadIds() const {
    std::lock_guard lock(mutex_);
    return thread_ids_;
  }

 private:
  std::shared_ptr<DeviceList> probe() {
    std::unique_lock lock(mutex_);
    ++calls_;
    thread_names_.push_back(Thread::current()->getName());
    thread_ids_.push_back(std::this_thread::get_id());
    condition_.notify_all();
    condition_.wait(lock, [this] { return gate_open_; });
    ++finished_;
    return list_;
  }

  mutable std::mutex mutex_;
  std::condition_variable condition_;
  std::shared_ptr<DeviceList> list_;
  bool gate_open_ = true;
  int calls_ = 0;
  int finished_ = 0;
  std::vector<std::string> thread_names_;
  std::vector<std::thread::id> thread_ids_;
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
};

TEST_F(DeviceListProbingTest, IntervalIsAStaticPropertyOfFiveSeconds) {
  EXPECT_EQ(PropertyValue(Duration::fromSec(5)), interval_->getDefaultValue());
  EXPECT_EQ(
      PropertyValue("How often drivers should poll for devices (only for drivers that poll)."),
      interval_->getMeta("help"));
}

TEST_F(DeviceListProbingTest, ProbesOnceAtOnceThenOnTheNamedThreadAtTheInterval) {
  dravo::testing::LogCapture log("device_list_manager:5");
  setInterval(Duration::fromMSec(1));
  probe_->setList(makeList({{"a", "A"}}));
  CountingManager manager("camera");

  manager.enablePeriodicProbing(probe_->function());
  // The first probe ran on this thread and its list is already current.
  EXPECT_EQ(std::this_thread::get_id(), probe_->threadIds().at(0));
  EXPECT_EQ("a", manager.getDefault());
  EXPECT_EQ(1, manager.updates());

  ASSERT_TRUE(probe_->waitForCalls(3));
  probe_->setList(makeList({{"b", "B"}}));
  int calls_after_change = probe_->calls();
  ASSERT_TRUE(probe_->waitForCalls(calls_after_change + 2));
  manager.disablePeriodicProbing();

  EXPECT_EQ("b", manager.getDefault());
  // Unchanged probes do not count as updates.
  EXPECT_EQ(2, manager.updates());
  std::vector<std::string> names = probe_->threadNames();
  std::vector<std::thread::id> ids = probe_->threadIds();
  for (size_t i = 1; i < names.size(); ++i) {
    EXPECT_EQ("Periodic Device Probe", names[i]);
    EXPECT_NE(std::this_thread::get_id(), ids[i]);
  }
  EXPECT_TRUE(log.contains("enablePeriodicProbing"));
  EXPECT_TRUE(log.contains("Doing automatic probe."));

  // Off means off: no probe runs after disable returned.
  int calls = probe_->calls();
  EXPECT_EQ(calls, probe_->finished());
  manager.disablePeriodicProbing();  // a second disable does nothing
  EXPECT_EQ(calls, probe_->calls());
}

TEST_F(DeviceListProbingTest, DisableWakesAThreadWaitingOutALongInterval) {
  setInterval(Duration::fromSec(100));
  CountingManager manager("camera");
  manager.enablePeriodicProbing(probe_->function());
  Time before = Time::now();
  manager.disablePeriodicProbing();
  // Only the probe on enable ran; the thread left its wait without probing.
  EXPECT_EQ(1, probe_->calls());
  EXPECT_LT(Time::now() - before, Duration::fromSec(50));
}

TEST_F(DeviceListProbingTest, DisableWaitsForARunningProbeToFinish) {
  setInterval(Duration::fromMSec(1));
  CountingManager manager("camera");
  manager.enablePeriodicProbing(probe_->function());
  probe_->closeGate();
  ASSERT_TRUE(probe_->waitForCalls(2));  // the thread is inside a probe now

  std::atomic<bool> disabled{false};
  std::thread stopper([&] {
    manager.disablePeriodicProbing();
    disabled = true;
  });
  EXPECT_FALSE(disabled);
  probe_->openGate();
  stopper.join();
  // The probe that was running had finished before disable returned.
  EXPECT_EQ(probe_->calls(), probe_->finished());
}

TEST_F(DeviceListProbingTest, ProbingCanBeEnabledAgainAfterDisable) {
  setInterval(Duration::fromMSec(1));
  CountingManager manager("camera");
  for (int round = 1; round <= 3; ++round) {
    probe_->setList(makeList({{std::to_string(round).c_str(), "device"}}));
    int calls = probe_->calls();
    manager.enablePeriodicProbing(probe_->function());
    EXPECT_EQ(std::to_string(round), manager.getDefault());
    ASSERT_TRUE(probe_->waitForCalls(calls + 2));
    manager.disablePeriodicProbing();
  }
  EXPECT_EQ(3, manager.updates());
}

TEST_F(DeviceListProbingTest, EnablingTwiceIsAnAssertionAndKeepsTheRunningThread) {
  dravo::testing::AssertionCapture assertions;
  setInterval(Duration::fromSec(3600));
  CountingManager manager("camera");
  manager.enablePeriodicProbing(probe_->function());
  manager.enablePeriodicProbing(probe_->function());
  EXPECT_EQ(std::vector<std::string>{"Assertion failed: !periodic_probing_"},
            assertions.messages());
  EXPECT_EQ(1, probe_->calls());
  manager.disablePeriodicProbing();
}

TEST_F(DeviceListProbingTest, AProbeWhoseOwnerIsGoneGivesAnEmptyList) {
  setInterval(Duration::fromMSec(1));
  auto owner = std::make_shared<int>(0);
  std::atomic<int> calls{0};
  DeviceProbeFunction probe(owner, [&calls] {
    ++calls;
    return makeList({{"a", "A"}});
  });
  DeviceListManager manager("camera", PropertyNode::create());
  manager.enablePeriodicProbing(probe);
  EXPECT_EQ("a", manager.getDefault());
  owner.reset();
  // The owner is gone, so a later probe yields no list: the devices vanish.
  auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!manager.getCurrentDeviceList()->empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  manager.disablePeriodicProbing();
  EXPECT_TRUE(manager.getCurrentDeviceList()->empty());
  EXPECT_GE(calls, 1);
}

// Blacklist changes, reads and probe-driven updates from several threads at
// once; run under ThreadSanitizer this catches unguarded shared state.
TEST_F(DeviceListProbingTest, BlacklistChangesRaceSafelyWithProbing) {
  setInterval(Duration::fromMSec(1));
  auto node = PropertyNode::create();
  DeviceListManager manager("camera", node);
  std::atomic<int> round{0};
  DeviceProbeFunction probe(probe_, [&round] {
    int n = ++round;
    return n % 2 ? makeList({{"a", "A"}, {"b", "B"}}) : makeList({{"b", "B"}, {"c", "C"}});
  });
  manager.enablePeriodicProbing(probe);
  auto deadline = std::chrono::steady_clock::now() + kDeadline;
  int i = 0;
  for (; i < 200 || round < 20; ++i) {
    if (i % 2)
      manager.addToBlacklist("b");
    else
      manager.removeFromBlacklist("b");
    std::string name = manager.getDefaultNonBlacklisted();
    EXPECT_TRUE(name.empty() || name == "A" || name == "B" || name == "C") << name;
    auto list = manager.getCurrentNonBlacklistedDeviceList();
    EXPECT_LE(list->numDevices(), 2u);
    EXPECT_LE(getPropertyEnumValues(node).size(), 2u);
    if (std::chrono::steady_clock::now() > deadline) break;  // fails below
  }
  manager.disablePeriodicProbing();
  EXPECT_GE(round, 20);
  // Whatever the interleaving, the file matches the last change.
  EXPECT_EQ((i - 1) % 2 ? "b\n" : "", config_.readBlacklist("camera"));
}

}  // namespace
}  // namespace dravo::media
