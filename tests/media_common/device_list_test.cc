// Device lists and their manager: change detection, the blacklist and its
// file, enum publication, and the periodic probe thread.

#include "media_common/device_list.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>

#include "common/file.h"
#include "common/property_enum.h"
#include "common/property_node.h"
#include "media_common/device_list_manager.h"
#include "tests/support/capture.h"
#include "tests/support/scoped_temp_dir.h"
#include "tests/support/waitable_flag.h"

namespace dravo::media {
namespace {

using Entries = std::vector<std::string>;
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
  // The camera blacklist file's contents.
  std::string blacklist() const {
    std::string text;
    EXPECT_TRUE(File::readFileToStringIfExists(dir_.file("camera.blacklist"), &text));
    return text;
  }

  dravo::testing::ScopedTempDir dir_;
  std::shared_ptr<PropertyNode> node_ = PropertyNode::create();
  std::shared_ptr<PropertyNode> interval_ = getPropertyNode("media/devices/device_probe_interval");
};

TEST_F(DeviceListTest, ManagerPublishesChangedListsFilteredByAPersistentBlacklist) {
  LogCapture log("device_list_manager:5");
  // Identifiers stay unique; a renamed device is a change.
  auto list = makeList({{"b", "B"}, {"b", "other name"}});
  list->prependDevice("a", "A");
  EXPECT_EQ(entriesOf(*list), (Entries{"a=A", "b=B"}));
  EXPECT_NE(*makeList({{"a", "A"}}), *makeList({{"a", "renamed"}}));
  // A hand-edited file: blank lines, an identifier holding a NUL, no final
  // newline. Arbitrary bytes are the blacklist fuzzer's.
  std::string const nul_id("y\0x", 3);
  ASSERT_TRUE(File::writeStringToFile(dir_.file("camera.blacklist"), "\n\n\nz\n\n" + nul_id));
  {
    DeviceListManager manager("camera", node_);
    EXPECT_TRUE(manager.isBlacklisted(nul_id) && manager.isBlacklisted("z"));
    EXPECT_FALSE(manager.isBlacklisted(""));
    manager.addToBlacklist("b");
    manager.removeFromBlacklist("z");
    manager.removeFromBlacklist(nul_id);
    manager.addToBlacklist("usb:0000:00:14.0-1 with spaces");
    EXPECT_EQ(blacklist(), "b\nusb:0000:00:14.0-1 with spaces\n");  // sorted, one per line
    log.clear();
    manager.updateList(makeList({{"a", "Front camera"}, {"b", "Back camera"}}));
    manager.updateList(makeList({{"a", "Front camera"}, {"b", "Back camera"}}));
    auto lines = log.messages("device_list_manager");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Device list has changed."), 1);
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
}

TEST_F(DeviceListTest, ProbesAtOnceThenPeriodicallyUntilDisabledWhichWaitsForARunningProbe) {
  interval_->setValue(PropertyValue(Duration::fromMSec(1)));
  std::atomic<int> started{0}, finished{0};
  std::atomic<bool> moved{false}, block{true};
  testing::WaitableFlag blocked, release;
  auto owner = std::make_shared<int>(0);
  DeviceProbeFunction probe(owner, [&] {
    ++started;
    if (moved && block.exchange(false)) {  // the first probe after the move waits inside
      blocked.set();
      release.waitFor();
    }
    ++finished;
    return makeList({{moved ? "b" : "a", "camera"}});
  });
  DeviceListManager manager("camera", node_);
  manager.enablePeriodicProbing(probe);
  EXPECT_EQ(manager.getDefault(), "a");  // the first probe ran before enable returned
  moved = true;
  ASSERT_TRUE(blocked.waitFor());
  std::thread releaser([&] { release.set(); });
  manager.disablePeriodicProbing();
  releaser.join();
  EXPECT_EQ(manager.getDefault(), "b");
  EXPECT_EQ(finished.load(), started.load());  // none is left running
}

}  // namespace
}  // namespace dravo::media
