// Device lists and the device list manager without probing: change
// detection, the non-blacklisted list, the blacklist file, enum publication.

#include "media_common/device_list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "common/property_enum.h"
#include "common/property_node.h"
#include "media_common/device_list_manager.h"
#include "tests/media_common/device_list_test_support.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

using testing::entriesOf;
using testing::makeList;
using testing::ScopedConfigPath;
using Entries = std::vector<std::string>;

TEST(DeviceListTest, KeepsIdentifiersUniqueAndOrderedAndComparesInOrder) {
  dravo::testing::LogCapture log("device_list_manager:6");
  DeviceList list;
  list.appendDevice("b", "B");
  list.prependDevice("a", "A");
  list.appendDevice("c", "C");
  list.appendDevice("b", "other name");
  list.prependDevice("c", "C");
  EXPECT_EQ((Entries{"a=A", "b=B", "c=C"}), entriesOf(list));
  EXPECT_EQ(3u, list.numDevices());
  EXPECT_EQ((std::vector<std::string>{"appendDevice 'b' 'B'", "appendDevice 'c' 'C'",
                                      "appendDevice 'b' 'other name'",
                                      "Device b added to device list more than once.",
                                      "Device c added to device list more than once."}),
            log.messages("device_list_manager"));

  list.removeDevice("b");
  list.removeDevice("missing");
  EXPECT_EQ((Entries{"a=A", "c=C"}), entriesOf(list));
  list.appendDevice("b", "B");  // a removed identifier may come back
  EXPECT_EQ((Entries{"a=A", "c=C", "b=B"}), entriesOf(list));
  list.clear();
  EXPECT_TRUE(list.empty());

  // Equal lists hold the same entries in the same order.
  EXPECT_EQ(*makeList({{"a", "A"}, {"b", "B"}}), *makeList({{"a", "A"}, {"b", "B"}}));
  EXPECT_NE(*makeList({{"a", "A"}, {"b", "B"}}), *makeList({{"b", "B"}, {"a", "A"}}));
  EXPECT_NE(*makeList({{"a", "A"}}), *makeList({{"a", "renamed"}}));
  EXPECT_NE(*makeList({{"a", "A"}}), *makeList({{"a", "A"}, {"b", "B"}}));
}

// Counts listUpdated calls and records the lists each one saw.
class RecordingManager : public DeviceListManagerBase {
 public:
  using DeviceListManagerBase::DeviceListManagerBase;
  int updates() const { return updates_; }
  Entries lastSeen() const { return last_seen_; }

 protected:
  void listUpdated() override {
    ++updates_;
    last_seen_ = entriesOf(*currentListLocked());
  }

 private:
  std::atomic<int> updates_{0};
  Entries last_seen_;
};

class DeviceListManagerTest : public ::testing::Test {
 protected:
  ScopedConfigPath config_;
  dravo::testing::LogCapture log_{"device_list_manager:5"};
};

TEST_F(DeviceListManagerTest, OnlyChangedListsReplaceTheCurrentOneAndTheBlacklistFiltersIt) {
  RecordingManager manager("camera");
  // Null and empty lists equal the initial empty list.
  manager.updateList(nullptr);
  manager.updateList(std::make_shared<DeviceList>());
  EXPECT_EQ(0, manager.updates());
  manager.addToBlacklist("b");
  manager.updateList(makeList({{"a", "A"}, {"b", "B"}, {"c", "C"}}));
  log_.clear();
  manager.updateList(makeList({{"a", "A"}, {"b", "B"}, {"c", "C"}}));
  EXPECT_TRUE(log_.contains("Device list has not changed."));
  EXPECT_EQ(1, manager.updates());
  EXPECT_EQ((Entries{"a=A", "b=B", "c=C"}), manager.lastSeen());
  EXPECT_EQ((Entries{"a=A", "c=C"}), entriesOf(*manager.getCurrentNonBlacklistedDeviceList()));
  EXPECT_EQ("a", manager.getDefault());
  EXPECT_EQ("A", manager.getDefaultNonBlacklisted());

  // Blacklisting shows only after the next changed list; a snapshot taken
  // earlier keeps its contents.
  auto before = manager.getCurrentNonBlacklistedDeviceList();
  manager.addToBlacklist("a");
  EXPECT_TRUE(manager.isBlacklisted("a"));
  EXPECT_EQ("A", manager.getDefaultNonBlacklisted());
  manager.updateList(makeList({{"a", "A"}, {"b", "B"}, {"c", "C"}, {"d", "D"}}));
  EXPECT_TRUE(log_.contains("Device list has changed."));
  EXPECT_EQ(2, manager.updates());
  EXPECT_EQ("C", manager.getDefaultNonBlacklisted());
  EXPECT_EQ("a", manager.getDefault());
  EXPECT_EQ((Entries{"a=A", "c=C"}), entriesOf(*before));

  manager.clearBlacklist();
  manager.updateList(makeList({{"d", "D"}}));
  EXPECT_EQ((Entries{"d=D"}), entriesOf(*manager.getCurrentNonBlacklistedDeviceList()));
  manager.updateList(nullptr);
  EXPECT_EQ(4, manager.updates());
  EXPECT_EQ("", manager.getDefault());
}

TEST_F(DeviceListManagerTest, BlacklistFileIsSortedOneIdPerLineAndReadBackByTheNextManager) {
  {
    RecordingManager manager("camera");
    EXPECT_EQ(std::nullopt, config_.readBlacklist("camera"));
    manager.addToBlacklist("z");
    manager.addToBlacklist("m");
    EXPECT_EQ("m\nz\n", config_.readBlacklist("camera"));
    manager.addToBlacklist("m");
    manager.addToBlacklist("usb:0000:00:14.0-1 with spaces");
    manager.removeFromBlacklist("z");
    manager.removeFromBlacklist("never there");
    EXPECT_EQ("m\nusb:0000:00:14.0-1 with spaces\n", config_.readBlacklist("camera"));
  }
  log_.clear();
  RecordingManager second("camera");
  EXPECT_TRUE(log_.contains("Successfully read device blacklist file '" +
                            config_.blacklistFile("camera") + "'."));
  EXPECT_TRUE(second.isBlacklisted("m"));
  EXPECT_TRUE(second.isBlacklisted("usb:0000:00:14.0-1 with spaces"));
  EXPECT_FALSE(second.isBlacklisted("z"));

  EXPECT_FALSE(RecordingManager("microphone").isBlacklisted("m"));  // a file per kind

  second.clearBlacklist();
  EXPECT_EQ("", config_.readBlacklist("camera"));

  // A missing configuration directory is created.
  std::string nested = File::joinPath(config_.path(), "not/yet/there");
  setenv("DRAVO_CONFIG_PATH", nested.c_str(), 1);
  RecordingManager third("camera");
  EXPECT_FALSE(third.isBlacklisted("m"));
  third.addToBlacklist("a");
  std::string text;
  EXPECT_TRUE(File::readFileToStringIfExists(File::joinPath(nested, "camera.blacklist"), &text));
  EXPECT_EQ("a\n", text);
}

TEST_F(DeviceListManagerTest, MalformedBlacklistFilesLoadWithoutEmptyIdentifiers) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> blacklisted;
  };
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xff);
  std::string long_line(200000, 'x');
  std::vector<Case> cases = {
      {"empty", "", {}},
      {"blank lines", "\n\n\na\n\n\nb", {"a", "b"}},
      {"only line feeds", "\n\n\n", {}},
      {"long line", long_line + "\nshort\n", {long_line, "short"}},
      {"zero bytes", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"garbage", garbage, {}},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(File::writeStringToFile(config_.blacklistFile("camera"), c.text));
    RecordingManager manager("camera");
    EXPECT_FALSE(manager.isBlacklisted(""));
    for (std::string const& id : c.blacklisted) EXPECT_TRUE(manager.isBlacklisted(id));
    // Rewriting keeps exactly what was loaded, one identifier per line.
    manager.addToBlacklist("added");
    std::string text = *config_.readBlacklist("camera");
    EXPECT_EQ(std::string::npos, text.find("\n\n"));
    EXPECT_NE('\n', text.front());
  }
}

TEST_F(DeviceListManagerTest, WithoutSourceNameThereIsNoBlacklistAndNoFile) {
  dravo::testing::AssertionCapture assertions;
  RecordingManager manager("");
  manager.updateList(makeList({{"a", "A"}}));
  EXPECT_EQ(1, manager.updates());
  EXPECT_EQ("a", manager.getDefault());
  EXPECT_TRUE(manager.getCurrentNonBlacklistedDeviceList()->empty());
  EXPECT_EQ("", manager.getDefaultNonBlacklisted());

  manager.addToBlacklist("a");
  manager.removeFromBlacklist("a");
  manager.clearBlacklist();
  EXPECT_FALSE(manager.isBlacklisted("a"));
  EXPECT_EQ(std::vector<std::string>(4, "Assertion failed: !source_name_.empty()"),
            assertions.messages());
  EXPECT_TRUE(std::filesystem::is_empty(config_.path()));
}

TEST_F(DeviceListManagerTest, PublishesEveryDeviceAsEnumEntryOfTheNode) {
  auto node = PropertyNode::create()->getNode("devices/camera", true);
  DeviceListManager manager("camera", node);
  manager.addToBlacklist("b");
  log_.clear();
  manager.updateList(makeList({{"a", "Front camera"}, {"b", "Back camera"}}));

  auto names = [&node] {
    std::vector<std::string> result;
    for (auto const& v : getPropertyEnumValues(node))
      result.push_back(v.value.getString() + "=" + v.name + "/" + v.display_name);
    return result;
  };
  EXPECT_EQ(names(), (Entries{"a=a/Front camera", "b=b/Back camera"}));
  EXPECT_EQ((std::vector<std::string>{"Device list has changed.", "DeviceListManager::listUpdated",
                                      "Adding enum value for a / Front camera",
                                      "Adding enum value for b / Back camera"}),
            log_.messages("device_list_manager"));

  // The entries are replaced, not merged.
  manager.updateList(makeList({{"c", "USB camera"}}));
  EXPECT_EQ(names(), Entries{"c=c/USB camera"});
  manager.updateList(nullptr);
  EXPECT_TRUE(names().empty());
}

}  // namespace
}  // namespace dravo::media
