#include "media_common/buffer.h"

#include <gtest/gtest.h>

#include "media_common/hardware_timestamp_event.h"
#include "media_common/media_events.h"

namespace dravo::media {

class DataBaseTestPeer {
 public:
  static int minMerged(DataBase const& data) { return data.min_merged_; }
  static void setMinMerged(DataBase* data, int value) {
    data->min_merged_ = static_cast<uint16_t>(value);
  }
  static void setCreationTime(DataBase* data, Time time) { data->creation_time_ = time; }
};

namespace {

using Peer = DataBaseTestPeer;

std::shared_ptr<Event const> timestampEvent(int64_t ns) {
  return std::make_shared<HardwareTimestampEvent>(Time::fromNSec(ns));
}

std::shared_ptr<Event const> feedbackEvent(uint64_t tag) {
  return drivingFeedbackToEvent(DrivingFeedback{tag});
}

TEST(DataBaseTest, DefaultsAreZeroPriorityZeroTimestampAndCreatedNow) {
  Time const before = Time::now();
  DataBase data;
  Time const after = Time::now();
  EXPECT_EQ(data.getPriority(), 0);
  EXPECT_EQ(data.getStartTimestamp(), Time());
  EXPECT_EQ(Peer::minMerged(data), 100);
  EXPECT_GE(data.getCreationTime(), before);
  EXPECT_LE(data.getCreationTime(), after);
}

TEST(DataBaseTest, CopiesCarryEveryField) {
  DataBase data;
  data.setPriority(-3);
  data.setStartTimestamp(Time::fromNSec(77));
  Peer::setMinMerged(&data, 12);
  DataBase copy(data);
  EXPECT_EQ(copy.getPriority(), -3);
  EXPECT_EQ(copy.getStartTimestamp(), Time::fromNSec(77));
  EXPECT_EQ(copy.getCreationTime(), data.getCreationTime());
  EXPECT_EQ(Peer::minMerged(copy), 12);
}

TEST(EventTest, IsTypeMatchesOnlyTheExactDynamicType) {
  HardwareTimestampEvent event;
  Event const& as_base = event;
  EXPECT_TRUE(as_base.isType(typeid(HardwareTimestampEvent)));
  EXPECT_FALSE(as_base.isType(typeid(Event)));
  EXPECT_TRUE(Event().isType(typeid(Event)));
}

TEST(BufferMetadataTest, LookupFindsTheFirstEventOfTheExactType) {
  Buffer buffer;
  auto first = timestampEvent(1);
  buffer.appendEventToMetadata(feedbackEvent(5));
  buffer.appendEventToMetadata(first);
  buffer.appendEventToMetadata(timestampEvent(2));
  EXPECT_EQ(buffer.getMetadataByTypeId(typeid(HardwareTimestampEvent)), first);
  EXPECT_EQ(buffer.getMetadata<HardwareTimestampEvent>()->getTimestamp(), Time::fromNSec(1));
  EXPECT_EQ(buffer.getMetadataByTypeId(typeid(Event)), nullptr);
  EXPECT_EQ(buffer.getMetadataByTypeId(typeid(ProcessorResultsEvent)), nullptr);
}

TEST(BufferMetadataTest, RemoveTakesEveryEventOfTheTypeAndKeepsTheOrder) {
  Buffer buffer;
  auto a = feedbackEvent(1);
  auto b = feedbackEvent(2);
  buffer.appendEventToMetadata(a);
  buffer.appendEventToMetadata(timestampEvent(1));
  buffer.appendEventToMetadata(b);
  buffer.appendEventToMetadata(timestampEvent(2));

  buffer.removeEventFromMetadata(typeid(ProcessorResultsEvent));
  EXPECT_EQ(buffer.getMetadataMap().size(), 4u);

  buffer.removeEventFromMetadata(typeid(HardwareTimestampEvent));
  ASSERT_EQ(buffer.getMetadataMap().size(), 2u);
  EXPECT_EQ(buffer.getMetadataMap()[0], a);
  EXPECT_EQ(buffer.getMetadataMap()[1], b);
}

TEST(BufferMetadataTest, ResetRemovesEventsButKeepsTokens) {
  Buffer buffer;
  buffer.appendEventToMetadata(timestampEvent(1));
  buffer.addToken(TokenReference([] {}));
  buffer.resetMetaData();
  EXPECT_TRUE(buffer.getMetadataMap().empty());
  EXPECT_EQ(buffer.getTokens().size(), 1u);
}

TEST(BufferMetadataTest, CombineKeepsEarlierCreationSmallerMergeCountAndAppendsInOrder) {
  Buffer mine;
  Buffer other;
  Peer::setCreationTime(&mine, Time::fromNSec(500));
  Peer::setCreationTime(&other, Time::fromNSec(300));
  Peer::setMinMerged(&other, 40);
  mine.setPriority(1);
  mine.setStartTimestamp(Time::fromNSec(9));
  other.setPriority(2);
  other.setStartTimestamp(Time::fromNSec(8));
  auto mine_event = timestampEvent(1);
  auto other_event = feedbackEvent(1);
  mine.appendEventToMetadata(mine_event);
  other.appendEventToMetadata(other_event);
  other.addToken(TokenReference([] {}));

  mine.combineMetadata(other);

  EXPECT_EQ(mine.getCreationTime(), Time::fromNSec(300));
  EXPECT_EQ(Peer::minMerged(mine), 40);
  ASSERT_EQ(mine.getMetadataMap().size(), 2u);
  EXPECT_EQ(mine.getMetadataMap()[0], mine_event);
  EXPECT_EQ(mine.getMetadataMap()[1], other_event);
  EXPECT_EQ(mine.getTokens().size(), 1u);
  EXPECT_EQ(mine.getPriority(), 1);
  EXPECT_EQ(mine.getStartTimestamp(), Time::fromNSec(9));

  // The later creation time and larger count of `other` do not win.
  Buffer later;
  Peer::setCreationTime(&later, Time::fromNSec(900));
  mine.combineMetadata(later);
  EXPECT_EQ(mine.getCreationTime(), Time::fromNSec(300));
  EXPECT_EQ(Peer::minMerged(mine), 40);
}

TEST(BufferMetadataTest, CombiningWithItselfDoublesListsAndKeepsTimes) {
  Buffer buffer;
  auto a = timestampEvent(1);
  auto b = feedbackEvent(2);
  buffer.appendEventToMetadata(a);
  buffer.appendEventToMetadata(b);
  buffer.addToken(TokenReference([] {}));
  Time const created = buffer.getCreationTime();

  buffer.combineMetadata(buffer);

  std::vector<std::shared_ptr<Event const>> const expected = {a, b, a, b};
  EXPECT_EQ(buffer.getMetadataMap(), expected);
  EXPECT_EQ(buffer.getTokens().size(), 2u);
  EXPECT_EQ(buffer.getCreationTime(), created);
}

TEST(BufferMetadataTest, CopyMetadataAlsoTakesTimestampAndPriority) {
  Buffer input;
  input.setPriority(7);
  input.setStartTimestamp(Time::fromNSec(40));
  input.appendEventToMetadata(timestampEvent(1));
  Buffer output;
  output.setPriority(3);

  output.copyMetadata(input);

  EXPECT_EQ(output.getPriority(), 7);
  EXPECT_EQ(output.getStartTimestamp(), Time::fromNSec(40));
  EXPECT_EQ(output.getMetadataMap().size(), 1u);
}

TEST(BufferTokenTest, TokenIsReleasedWithTheLastCopyOfTheBuffer) {
  int releases = 0;
  auto buffer = std::make_shared<Buffer>();
  buffer->addToken(TokenReference([&releases] { ++releases; }));
  auto copy = std::make_shared<Buffer>(*buffer);
  Buffer derived;
  derived.copyMetadata(*buffer);

  buffer.reset();
  copy.reset();
  EXPECT_EQ(releases, 0);
  derived.resetMetaData();  // metadata only: the token stays
  EXPECT_EQ(releases, 0);
  derived = Buffer();
  EXPECT_EQ(releases, 1);
}

TEST(TokenReferenceTest, EmptyUntilMadeAndReleasedOnceByTheLastCopy) {
  EXPECT_TRUE(TokenReference().empty());
  int releases = 0;
  TokenReference token([&releases] { ++releases; });
  TokenReference copy = token;
  EXPECT_FALSE(token.empty());
  token.reset();
  EXPECT_TRUE(token.empty());
  EXPECT_EQ(releases, 0);
  copy.reset();
  EXPECT_EQ(releases, 1);
}

}  // namespace
}  // namespace dravo::media
