#include "media_common/buffer.h"

#include <gtest/gtest.h>

#include "media_common/hardware_timestamp_event.h"
#include "media_common/media_events.h"

namespace dravo::media {

// Reaches the merge count and creation time, which only merging changes.
class DataBaseTestPeer {
 public:
  static int minMerged(DataBase const& data) { return data.min_merged_; }
  static void set(DataBase* data, int min_merged, int64_t created_ns) {
    data->min_merged_ = static_cast<uint16_t>(min_merged);
    data->creation_time_ = Time::fromNSec(created_ns);
  }
};

namespace {

using Peer = DataBaseTestPeer;
using Events = std::vector<std::shared_ptr<Event const>>;

std::shared_ptr<Event const> stamp(int64_t ns) {
  return std::make_shared<HardwareTimestampEvent>(Time::fromNSec(ns));
}
std::shared_ptr<Event const> feedback(uint64_t tag) {
  return drivingFeedbackToEvent(DrivingFeedback{tag});
}

TEST(BufferTest, MetadataCombinesKeepingTheEarliestAndTokensGoWithTheLastCopy) {
  Buffer mine, other, later;
  auto a = feedback(1), first = stamp(1), b = feedback(2);
  for (auto const& event : {a, first, b, stamp(2)}) mine.appendEventToMetadata(event);
  EXPECT_EQ(mine.getMetadataByTypeId(typeid(HardwareTimestampEvent)), first);
  EXPECT_EQ(mine.getMetadataByTypeId(typeid(Event)), nullptr);  // no base-class matches
  mine.removeEventFromMetadata(typeid(HardwareTimestampEvent));
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b}));

  Peer::set(&mine, 100, 500);
  Peer::set(&other, 40, 300);
  Peer::set(&later, 100, 900);
  mine.setPriority(1);
  other.setPriority(2);
  other.appendEventToMetadata(first);
  other.addToken(TokenReference([] {}));
  mine.combineMetadata(other);
  mine.combineMetadata(later);
  EXPECT_EQ(mine.getCreationTime(), Time::fromNSec(300));
  EXPECT_EQ(Peer::minMerged(mine), 40);
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b, first}));
  EXPECT_EQ(mine.getTokens().size(), 1u);
  EXPECT_EQ(mine.getPriority(), 1);  // not merged
  // With itself: lists doubled, not looping forever.
  mine.combineMetadata(mine);
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b, first, a, b, first}));
  EXPECT_EQ(mine.getTokens().size(), 2u);
  mine.resetMetaData();
  EXPECT_TRUE(mine.getMetadataMap().empty());
  EXPECT_EQ(mine.getTokens().size(), 2u);  // tokens stay

  // A token is released once, with the last copy holding it.
  int releases = 0;
  auto buffer = std::make_shared<Buffer>();
  buffer->addToken(TokenReference([&releases] { ++releases; }));
  Buffer copy(*buffer), derived;
  derived.copyMetadata(*buffer);
  buffer.reset();
  copy = Buffer();
  EXPECT_EQ(releases, 0);
  derived = Buffer();
  EXPECT_EQ(releases, 1);
}

}  // namespace
}  // namespace dravo::media
