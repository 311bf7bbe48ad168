// Device lists and their manager: change detection, the blacklist and its
// file, enum publication, and the periodic probe thread.

#include "media_common/device_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "common/file.h"
#include "common/property_enum.h"
#include "common/property_node.h"
#include "media_common/device_list_manager.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"

namespace dravo::media {
namespace {

using Entries = std::vector<std::string>;
using dravo::testing::AssertionCapture;
using dravo::testing::LogCapture;

std::shared_ptr<DeviceList> makeList(
    std::initializer_list<std::pair<char const*, char const*>> entries) {
  auto list = std::make_shared<DeviceList>();
  for (auto const& [id, name] : entries) list->appendDevice(id, name);
  return list;
}

Entries entriesOf(DeviceList const& list) {
  Entries result;
  for (auto const& [id, name] : list) result.push_back(id + "=" + name);
  return result;
}

// Points the configuration path at a fresh directory, so blacklist files
// never touch the real home directory, and restores the probe interval.
class DeviceListTest : public ::testing::Test {
 protected:
  DeviceListTest() { setenv("DRAVO_CONFIG_PATH", dir_.path().c_str(), 1); }
  ~DeviceListTest() override {
    unsetenv("DRAVO_CONFIG_PATH");
    interval_->setValue(interval_->getDefaultValue());
  }
  // The camera blacklist file's contents, or nullopt when there is none.
  std::optional<std::string> blacklist() const {
    std::string text;
    if (!File::readFileToStringIfExists(dir_.file("camera.blacklist"), &text)) return std::nullopt;
    return text;
  }
  void setInterval(Duration interval) { interval_->setValue(PropertyValue(interval)); }

  dravo::testing::ScopedTempDir dir_;
  std::shared_ptr<PropertyNode> node_ = PropertyNode::create();
  std::shared_ptr<PropertyNode> interval_ = getPropertyNode("media/devices/device_probe_interval");
};

TEST_F(DeviceListTest, ManagerPublishesChangedListsFilteredByAPersistentBlacklist) {
  {
    // Identifiers stay unique; lists compare in order and by name.
    LogCapture list_log("device_list_manager:6");
    DeviceList list;
    list.appendDevice("b", "B");
    list.prependDevice("a", "A");
    list.appendDevice("b", "other name");
    EXPECT_EQ(entriesOf(list), (Entries{"a=A", "b=B"}));
    EXPECT_TRUE(list_log.contains("Device b added to device list more than once."));
    EXPECT_NE(*makeList({{"a", "A"}, {"b", "B"}}), *makeList({{"b", "B"}, {"a", "A"}}));
    EXPECT_NE(*makeList({{"a", "A"}}), *makeList({{"a", "renamed"}}));
  }
  LogCapture log("device_list_manager:5");
  {
    DeviceListManager manager("camera", node_);
    manager.updateList(nullptr);  // null and empty equal the initial list
    manager.addToBlacklist("z");
    manager.addToBlacklist("b");
    manager.removeFromBlacklist("z");
    manager.addToBlacklist("usb:0000:00:14.0-1 with spaces");
    EXPECT_EQ(blacklist(), "b\nusb:0000:00:14.0-1 with spaces\n");  // sorted, one per line
    log.clear();
    manager.updateList(makeList({{"a", "Front camera"}, {"b", "Back camera"}}));
    manager.updateList(makeList({{"a", "Front camera"}, {"b", "Back camera"}}));
    EXPECT_EQ(log.messages("device_list_manager"),
              (Entries{"Device list has changed.", "DeviceListManager::listUpdated",
                       "Adding enum value for a / Front camera",
                       "Adding enum value for b / Back camera", "Device list has not changed."}));
    // Blacklisting shows only after the next changed list; a snapshot taken
    // earlier keeps its contents.
    auto before = manager.getCurrentNonBlacklistedDeviceList();
    manager.addToBlacklist("a");
    EXPECT_EQ(manager.getDefaultNonBlacklisted(), "Front camera");
    manager.updateList(makeList({{"a", "A"}, {"b", "B"}, {"c", "C"}}));
    EXPECT_EQ(entriesOf(*manager.getCurrentNonBlacklistedDeviceList()), Entries{"c=C"});
    EXPECT_EQ(entriesOf(*before), Entries{"a=Front camera"});
    Entries published;
    for (auto const& v : getPropertyEnumValues(node_))
      published.push_back(v.value.getString() + "=" + v.name + "/" + v.display_name);
    EXPECT_EQ(published, (Entries{"a=a/A", "b=b/B", "c=c/C"}));  // replaced, not merged
  }
  DeviceListManager second("camera", node_);
  EXPECT_TRUE(second.isBlacklisted("usb:0000:00:14.0-1 with spaces") && !second.isBlacklisted("z"));
  EXPECT_FALSE(DeviceListManager("microphone", node_).isBlacklisted("a"));  // a file per kind
  second.clearBlacklist();
  EXPECT_EQ(blacklist(), "");

  // A missing configuration directory is created.
  std::string nested = dir_.file("not/yet/there");
  setenv("DRAVO_CONFIG_PATH", nested.c_str(), 1);
  DeviceListManager("camera", node_).addToBlacklist("a");
  std::string text;
  EXPECT_TRUE(File::readFileToStringIfExists(nested + "/camera.blacklist", &text) && text == "a\n");

  // Without a source name there is no blacklist and no file.
  AssertionCapture assertions;
  DeviceListManager unnamed("", node_);
  unnamed.addToBlacklist("a");
  EXPECT_FALSE(unnamed.isBlacklisted("a"));
  EXPECT_EQ(assertions.messages(), Entries(2, "Assertion failed: !source_name_.empty()"));
  EXPECT_FALSE(std::filesystem::exists(nested + "/.blacklist"));
}

// Arbitrary bytes are the blacklist fuzzer's; here the shapes whose
// identifiers must survive a load and a rewrite.
TEST_F(DeviceListTest, MalformedBlacklistFilesLoadWithoutEmptyIdentifiers) {
  std::string long_line(200000, 'x');
  std::pair<std::string, Entries> const cases[] = {
      {"\n\n\na\n\n\nb", {"a", "b"}},
      {long_line + "\nshort\n", {long_line, "short"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (auto const& [contents, blacklisted] : cases) {
    SCOPED_TRACE(contents.substr(0, 20));
    ASSERT_TRUE(File::writeStringToFile(dir_.file("camera.blacklist"), contents));
    DeviceListManager manager("camera", node_);
    EXPECT_FALSE(manager.isBlacklisted(""));
    for (std::string const& id : blacklisted) EXPECT_TRUE(manager.isBlacklisted(id));
    // Rewriting keeps exactly what was loaded, one identifier per line.
    manager.addToBlacklist("added");
    std::string text = *blacklist();
    EXPECT_TRUE(text.find("\n\n") == std::string::npos && text.front() != '\n');
  }
}

// A probe whose calls the test can count and wait for; while its gate is
// closed each call blocks until the test opens it.
class TestProbe : public std::enable_shared_from_this<TestProbe> {
 public:
  DeviceProbeFunction function() {
    return DeviceProbeFunction(shared_from_this(), [this] {
      std::unique_lock lock(mutex_);
      ++calls_;
      condition_.notify_all();
      condition_.wait(lock, [this] { return gate_open_; });
      ++finished_;
      return list_;
    });
  }
  void set(std::shared_ptr<DeviceList> list, bool gate_open = true) {
    std::lock_guard lock(mutex_);
    list_ = std::move(list);
    gate_open_ = gate_open;
    condition_.notify_all();
  }
  // Waits until `count` calls have started.
  bool waitForCalls(size_t count) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, std::chrono::seconds(30), [&] { return calls_ >= count; });
  }
  // Calls started and calls finished.
  std::pair<size_t, size_t> calls() const {
    std::lock_guard lock(mutex_);
    return {calls_, finished_};
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable condition_;
  std::shared_ptr<DeviceList> list_;
  bool gate_open_ = true;
  size_t calls_ = 0, finished_ = 0;
};

TEST_F(DeviceListTest, ProbesAtOnceThenOnTheNamedThreadUntilDisabledAndAgain) {
  LogCapture log("device_list_manager:5");
  AssertionCapture assertions;
  auto probe = std::make_shared<TestProbe>();
  DeviceListManager manager("camera", node_);
  setInterval(Duration::fromMSec(1));
  probe->set(makeList({{"a", "A"}}));
  manager.enablePeriodicProbing(probe->function());
  EXPECT_EQ(manager.getDefault(), "a");  // the first probe ran before enable returned
  ASSERT_TRUE(probe->waitForCalls(probe->calls().first + 2));
  probe->set(makeList({{"b", "B"}}));
  ASSERT_TRUE(probe->waitForCalls(probe->calls().first + 2));
  // Disable comes while a probe is blocked inside, and waits for it.
  probe->set(makeList({{"b", "B"}}), false);
  ASSERT_TRUE(probe->waitForCalls(probe->calls().first + 1));
  std::thread opener([&] { probe->set(makeList({{"b", "B"}})); });
  manager.disablePeriodicProbing();
  opener.join();
  EXPECT_EQ(manager.getDefault(), "b");
  // Off means off: no probe runs after disable returned.
  auto calls = probe->calls();
  EXPECT_EQ(calls.second, calls.first);
  manager.disablePeriodicProbing();  // a second disable does nothing
  EXPECT_EQ(probe->calls(), calls);
  auto lines = log.messages("device_list_manager");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Device list has changed."), 2);
  EXPECT_TRUE(log.contains("Doing automatic probe."));

  // Enabling again works; twice keeps the running thread; disable wakes it
  // from its hour-long wait.
  setInterval(Duration::fromSec(3600));
  manager.enablePeriodicProbing(probe->function());
  calls = probe->calls();
  manager.enablePeriodicProbing(probe->function());
  EXPECT_EQ(assertions.messages(), Entries{"Assertion failed: !periodic_probing_"});
  EXPECT_EQ(probe->calls(), calls);
  manager.disablePeriodicProbing();
}

// Blacklist changes, reads and probe-driven updates from several threads at
// once; under ThreadSanitizer this catches unguarded shared state.
TEST_F(DeviceListTest, BlacklistChangesRaceSafelyWithProbing) {
  setInterval(Duration::fromMSec(1));
  DeviceListManager manager("camera", node_);
  auto owner = std::make_shared<int>(0);
  std::atomic<int> round{0};
  manager.enablePeriodicProbing(DeviceProbeFunction(owner, [&round] {
    return ++round % 2 ? makeList({{"a", "A"}, {"b", "B"}}) : makeList({{"b", "B"}, {"c", "C"}});
  }));
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int i = 0;
  for (; (i < 200 || round < 20) && std::chrono::steady_clock::now() < deadline; ++i) {
    i % 2 ? manager.addToBlacklist("b") : manager.removeFromBlacklist("b");
    std::string name = manager.getDefaultNonBlacklisted();
    EXPECT_TRUE(name.empty() || name == "A" || name == "B" || name == "C") << name;
    EXPECT_LE(manager.getCurrentNonBlacklistedDeviceList()->numDevices(), 2u);
    EXPECT_LE(getPropertyEnumValues(node_).size(), 2u);
  }
  manager.disablePeriodicProbing();
  EXPECT_GE(round, 20);
  // Whatever the interleaving, the file matches the last change.
  EXPECT_EQ(blacklist(), (i - 1) % 2 ? "b\n" : "");
}

}  // namespace
}  // namespace dravo::media
