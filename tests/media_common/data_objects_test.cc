// The pipeline's data objects: buffer metadata and tokens, event
// serialisation and its refusals, and token pools.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "media_common/buffer.h"
#include "media_common/event.h"
#include "media_common/hardware_timestamp_event.h"
#include "media_common/media_events.h"
#include "media_common/register_event_class.h"
#include "media_common/token_pool.h"
#include "tests/support/capture.h"

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

TEST(BufferTest, MetadataCombinesKeepingTheEarliestAndTokensGoWithTheLastCopy) {
  Buffer mine, other, later;
  auto a = drivingFeedbackToEvent(DrivingFeedback{1}),
       b = drivingFeedbackToEvent(DrivingFeedback{2});
  auto first = std::make_shared<HardwareTimestampEvent>(Time::fromNSec(1));
  for (auto const& event : Events{a, first, b, std::make_shared<HardwareTimestampEvent>(Time())})
    mine.appendEventToMetadata(event);
  EXPECT_EQ(mine.getMetadataByTypeId(typeid(HardwareTimestampEvent)), first);
  mine.removeEventFromMetadata(typeid(HardwareTimestampEvent));
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b}));

  Peer::set(&mine, 100, 500);
  Peer::set(&other, 40, 300);
  Peer::set(&later, 100, 900);
  other.appendEventToMetadata(first);
  other.addToken(TokenReference([] {}));
  mine.combineMetadata(other);
  mine.combineMetadata(later);
  EXPECT_EQ(mine.getCreationTime(), Time::fromNSec(300));
  EXPECT_EQ(Peer::minMerged(mine), 40);
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b, first}));
  EXPECT_EQ(mine.getTokens().size(), 1u);
  // With itself: lists doubled, not looping forever.
  mine.combineMetadata(mine);
  EXPECT_EQ(mine.getMetadataMap(), (Events{a, b, first, a, b, first}));
  EXPECT_EQ(mine.getTokens().size(), 2u);

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

// An id far above the registered ones, to exercise the two-byte varint.
using WideIdEvent = MessageEvent<AttributeEventProto, 300>;
REGISTER_EVENT_CLASS(WideIdEvent);

TEST(EventSerializationTest, MessageEventsAloneSerializeBehindAVarintTypeIdAndReadBack) {
  std::string bytes = "stale";
  EXPECT_FALSE(HardwareTimestampEvent(Time()).serialize(&bytes));  // not a message event
  WideIdEvent wide;
  wide.set_value("v");
  EXPECT_TRUE(wide.serialize(&bytes));
  EXPECT_EQ(bytes, "\xAC\x02" + wide.SerializeAsString());  // replaced, not appended
  // Unknown fields from a newer sender are skipped: field 99, length-delimited,
  // and field 98, a group holding a varint.
  bytes += std::string("\x9a\x06\x03") + "abc" + "\x93\x06\x08\x01\x94\x06";
  auto back = std::dynamic_pointer_cast<WideIdEvent>(
      Event::deserialize(bytes.data(), static_cast<unsigned int>(bytes.size())));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->value(), "v");
  // A 64-bit tag, and an event with no fields at all.
  ASSERT_TRUE(drivingFeedbackToEvent(DrivingFeedback{0xfedcba9876543210ull})->serialize(&bytes));
  auto feedback = std::dynamic_pointer_cast<DrivingFeedbackEvent>(
      Event::deserialize(bytes.data(), static_cast<unsigned int>(bytes.size())));
  ASSERT_NE(feedback, nullptr);
  EXPECT_EQ(drivingFeedbackFromEvent(*feedback)->tag, 0xfedcba9876543210ull);
  ASSERT_TRUE(DeviceOpeningEvent().serialize(&bytes));
  EXPECT_NE(std::dynamic_pointer_cast<DeviceOpeningEvent>(
                Event::deserialize(bytes.data(), static_cast<unsigned int>(bytes.size()))),
            nullptr);
}

// One row per refusal path, of the type id and of the body's wire format.
// clang-format off
std::pair<char const*, std::string> const kHostileInputs[] = {
    {"empty", ""},
    {"unterminated one-byte id", "\x87"},
    {"five continuation bytes", "\xff\xff\xff\xff\xff\x01\x02"},
    {"id wider than 32 bits", "\xff\xff\xff\xff\x7f"},
    {"unregistered id", "\x05\x08\x01"},
    {"invalid wire type", "\x09\x0f"},
    {"field number zero", std::string("\x0a\0\x01", 3)},
    {"tag without value", "\x07\x08"},
    {"truncated fixed64", "\x0a\x29\x01\x02"},
    {"string claims 4 GiB", "\x09\x0a\xff\xff\xff\xff\x0f" "abc"},
    {"nested message overruns its enclosing one", "\x09\x1a\x02\x0a\x05" "abcde"},
    {"group never ended", "\x09\x9b\x06\x08\x01"},
    {"group ended with another number", "\x09\x9b\x06\x08\x01\x94\x06"},
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

// Records answers in order as "A+ B-" (granted, refused), with the thread of
// the last one; keeps granted tokens until released by name. Read only while
// no answer can be running.
struct Requester {
  TokenRequest request(std::string const& name) {
    return TokenRequest(owner, [this, name](TokenReference const& token) {
      summary += (summary.empty() ? "" : " ") + name + (token.empty() ? "-" : "+");
      last_thread = std::this_thread::get_id();
      if (!token.empty()) tokens[name] = token;
    });
  }
  // The token goes after the map has let go of it: its answer may add another.
  void release(std::string const& name) { tokens.extract(name); }

  std::shared_ptr<int> owner = std::make_shared<int>();  // reset to kill the requests
  std::string summary;
  std::thread::id last_thread;
  std::map<std::string, TokenReference> tokens;
};

TEST(TokenPoolTest, QueuedRequestsAreGrantedOnTheReleasingThreadOrByResizing) {
  TokenPool pool(1, 4294967295u, true);
  Requester requester;
  pool.getToken(requester.request("A"));
  pool.getToken(requester.request("B"));
  EXPECT_TRUE(pool.tryGetToken().empty());  // never queues
  EXPECT_EQ(requester.summary, "A+");
  std::thread::id releasing_thread;
  std::thread([&] {
    releasing_thread = std::this_thread::get_id();
    requester.release("A");
  }).join();
  EXPECT_EQ(requester.summary, "A+ B+");
  EXPECT_EQ(requester.last_thread, releasing_thread);

  for (char const* name : {"C", "D", "E", "F"}) pool.getToken(requester.request(name));
  pool.setQueueLength(2);  // drops the oldest
  EXPECT_EQ(requester.summary, "A+ B+ C- D-");
  pool.setNumTokens(3);
  EXPECT_EQ(requester.summary, "A+ B+ C- D- E+ F+");
  EXPECT_EQ(pool.getNumTokensOutstanding(), 3u);
  // Full, a pool that keeps the oldest refuses the newcomer.
  pool.setNumTokens(1).setQueueLength(1).setDropPolicy(false);
  pool.getToken(requester.request("G"));
  pool.getToken(requester.request("H"));
  for (char const* name : {"B", "E", "F"}) requester.release(name);
  EXPECT_EQ(requester.summary, "A+ B+ C- D- E+ F+ H- G+");
}

TEST(TokenPoolTest, AnAnswerMayRequestAgain) {
  TokenPool pool(1, 4, true);
  auto owner = std::make_shared<int>();
  std::vector<std::string> log;
  // Like a pad whose send triggers the next send: the answer drops its token
  // at once and requests another one.
  std::function<void(int)> request_next = [&](int n) {
    pool.getToken(TokenRequest(owner, [&, n](TokenReference const& token) {
      log.push_back(std::to_string(n) + (token.empty() ? "-" : "+"));
      if (n < 3) request_next(n + 1);
    }));
  };
  request_next(1);
  EXPECT_EQ(log, (std::vector<std::string>{"1+", "2+", "3+"}));
}

TEST(TokenPoolTest, ALongRunOfDeadRequestsIsServicedInOneLoopAndADeadPoolIsHarmless) {
  // A pad's pool queues without limit; each dead request's token comes back
  // while the pool is servicing.
  TokenReference survivor;
  {
    TokenPool pool(1, 4294967295u, true);
    TokenReference held = pool.tryGetToken();
    Requester dead, alive;
    TokenRequest dead_request = dead.request("dead");
    for (int i = 0; i < 100000; ++i) pool.getToken(dead_request);
    pool.getToken(alive.request("alive"));
    dead.owner.reset();
    held.reset();
    EXPECT_EQ(dead.summary, "");
    EXPECT_EQ(alive.summary, "alive+");
    EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
    alive.release("alive");
    survivor = pool.tryGetToken();
    TokenPool copy = pool;  // copies share the pool; it dies with the last
  }
  survivor.reset();  // released after the pool is gone
}

TEST(TokenPoolTest, EveryRequestIsAnsweredOnceUnderConcurrentUse) {
  TokenPool pool(2, 3, true);
  auto owner = std::make_shared<int>();
  constexpr int kThreads = 4, kRequestsPerThread = 500;
  std::vector<std::atomic<int>> answers(kThreads * kRequestsPerThread);
  std::mutex mutex;
  std::vector<TokenReference> kept;
  // Releases the kept tokens outside the lock (a release may answer a queued
  // request, which keeps its token); false when there were none.
  auto releaseKept = [&] {
    std::vector<TokenReference> to_release;
    std::lock_guard lock(mutex);
    to_release.swap(kept);
    return !to_release.empty();
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequestsPerThread; ++i) {
        int id = t * kRequestsPerThread + i;
        pool.getToken(TokenRequest(owner, [&, id](TokenReference const& token) {
          answers[id].fetch_add(1);
          std::lock_guard lock(mutex);
          if (!token.empty()) kept.push_back(token);  // returned later, often by another thread
        }));
        releaseKept();
      }
    });
  for (auto& thread : threads) thread.join();
  // Each round grants only requests still queued, so this ends.
  while (releaseKept()) {
  }
  EXPECT_EQ(std::count_if(answers.begin(), answers.end(),
                          [](std::atomic<int> const& count) { return count == 1; }),
            kThreads * kRequestsPerThread);
  EXPECT_EQ(pool.getNumTokensOutstanding(), 0u);
  EXPECT_EQ(pool.getNumQueuedRequests(), 0u);
}

}  // namespace
}  // namespace dravo::media
