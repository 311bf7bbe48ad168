#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "media_common/event.h"
#include "media_common/hardware_timestamp_event.h"
#include "media_common/media_events.h"
#include "media_common/register_event_class.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

// An id far above the registered ones, to exercise the two-byte varint.
using WideIdEvent = MessageEvent<AttributeEventProto, 300>;
REGISTER_EVENT_CLASS(WideIdEvent);

std::string bytesOf(Event const& event) {
  std::string bytes;
  EXPECT_TRUE(event.serialize(&bytes));
  return bytes;
}

std::shared_ptr<Event> read(std::string const& bytes) {
  return Event::deserialize(bytes.data(), static_cast<unsigned int>(bytes.size()));
}

// The copy read back, or null unless it is a T again.
template <typename T>
std::shared_ptr<T> roundTrip(T const& event) {
  return std::dynamic_pointer_cast<T>(read(bytesOf(event)));
}

TEST(EventSerializationTest, RegisteredMessageEventsAloneRoundTripBehindAVarintTypeId) {
  auto feedback = roundTrip(*drivingFeedbackToEvent(DrivingFeedback{0xfedcba9876543210ull}));
  ASSERT_NE(feedback, nullptr);
  EXPECT_EQ(drivingFeedbackFromEvent(*feedback)->tag, 0xfedcba9876543210ull);

  ProcessorResultsEvent results;
  results.set_processor("faces");
  results.set_frame_timestamp_ns(-5);
  results.add_results()->set_value(2.5);
  EXPECT_EQ(bytesOf(results), "\x09" + results.SerializeAsString());
  EXPECT_NE(roundTrip(DeviceOpeningEvent()), nullptr);  // no fields at all

  WideIdEvent wide;
  wide.set_value("v");
  EXPECT_EQ(bytesOf(wide).substr(0, 2), "\xAC\x02");
  EXPECT_NE(roundTrip(wide), nullptr);

  // Unknown fields from a newer sender are skipped.
  std::string bytes = bytesOf(results) +
                      "\x9a\x06\x03"
                      "abc";            // field 99, length-delimited
  bytes += "\x93\x06\x08\x01\x94\x06";  // field 98, a group holding a varint
  auto newer = std::dynamic_pointer_cast<ProcessorResultsEvent>(read(bytes));
  ASSERT_NE(newer, nullptr);
  EXPECT_EQ(newer->frame_timestamp_ns(), -5);

  // Only message events serialize; unregistered ones do not read back.
  testing::LogCapture capture("event:3");
  bytes = "stale";
  ASSERT_TRUE(drivingFeedbackToEvent(DrivingFeedback{1})->serialize(&bytes));
  EXPECT_EQ(bytes, std::string("\x07\x08\x01", 3));  // replaced, not appended
  EXPECT_FALSE(HardwareTimestampEvent(Time::fromNSec(5)).serialize(&bytes));
  EXPECT_EQ(bytes, std::string("\x07\x08\x01", 3));

  AttributeEvent event;
  event.set_key("camera");
  EXPECT_TRUE(event.serialize(&bytes));
  EXPECT_EQ(bytes[0], 8);
  EXPECT_TRUE(capture.contains(
      "Type EVENT_TYPE_ATTRIBUTE(8) was not registered. Use REGISTER_EVENT_CLASS."));
  EXPECT_EQ(read(bytes), nullptr);
}

std::string const kNul(1, '\0');

// clang-format off
std::pair<char const*, std::string> const kHostileInputs[] = {
    {"empty", ""},
    {"unterminated one-byte id", "\x87"},
    {"five continuation bytes", "\xff\xff\xff\xff\xff\x01\x02"},
    {"id wider than 32 bits", "\xff\xff\xff\xff\x7f"},
    {"unregistered id", "\x05\x08\x01"},
    {"id zero", kNul},
    {"invalid wire type", "\x09\x0f"},
    {"field number zero", "\x0a" + kNul + "\x01"},
    {"tag without value", "\x07\x08"},
    {"truncated fixed64", "\x0a\x29\x01\x02"},
    {"string claims 4 GiB", "\x09\x0a\xff\xff\xff\xff\x0f" "abc"},
    {"nested message claims past end", "\x09\x1a\x05\x0a\x01"},
    {"string claims 16 MiB inside a message claiming 128 MiB",
     "\x09\x1a\x80\x80\x80\x40\x0a\xf0\xff\xff\x07" + std::string(50, 'y')},
    {"group never ended", "\x09\x9b\x06\x08\x01"},
    {"group ended with another number", "\x09\x9b\x06\x08\x01\x94\x06"},
    {"end-group without start", "\x07\x0c"},
    {"unterminated tag varint", "\x0a\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80"},
};
// clang-format on

TEST(EventDeserializationTest, HostileInputIsRefusedWithAWarning) {
  EXPECT_EQ(Event::deserialize(nullptr, 10), nullptr);
  for (auto const& [name, bytes] : kHostileInputs) {
    SCOPED_TRACE(name);
    // Refusals are throttled warnings: the first in an interval is logged at
    // level 3, the rest 4 levels finer.
    testing::LogCapture capture("event:7");
    // A heap copy of exactly the input's size lets AddressSanitizer see any
    // read past the end.
    std::unique_ptr<char[]> exact(new char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    EXPECT_EQ(Event::deserialize(exact.get(), static_cast<unsigned int>(bytes.size())), nullptr);
    auto const lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].message.rfind("Refused event", 0), 0u) << lines[0].message;
    EXPECT_TRUE(lines[0].level == 3 || lines[0].level == 7);
  }
}

}  // namespace
}  // namespace dravo::media
