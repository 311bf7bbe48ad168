// The audio test source selector: "throb" while a selector lives, the
// previous source afterwards, for nested selectors and copies too.

#include "media_common/audio/audio_test_source_selector.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/property_node.h"
#include "tests/support/capture.h"

namespace dravo::media {
namespace {

TEST(AudioTestSourceSelectorTest, RestoresThePreviousSourceOnceUnlessOthersChangedIt) {
  auto node = getPropertyNode("media/devices/audio/test_source");
  auto value = [&] { return node->getValue().getString(); };
  auto set = [&](char const* source) { node->setValue(PropertyValue(source)); };
  dravo::testing::LogCapture log;
  { AudioTestSourceSelector selector; }  // an empty source is a failed check, and is restored
  EXPECT_EQ(std::vector<std::string>{"Check failed !p_test_source_.node()->getValue().empty() "
                                     "Source (i.e. webrtc) should be up before session start."},
            log.messages("check"));
  EXPECT_EQ("", value());
  set("webrtc");
  {
    AudioTestSourceSelector selector;
    EXPECT_EQ("throb", value());
    set("file");
  }
  EXPECT_EQ("file", value());
  set("webrtc");
  // The outer selector goes first; the inner one remembers "throb".
  std::optional<AudioTestSourceSelector> outer(std::in_place), inner(std::in_place);
  outer.reset();
  EXPECT_EQ("webrtc", value());
  inner.reset();
  EXPECT_EQ("webrtc", value());
  // A copy restores once, whichever goes first.
  std::optional<AudioTestSourceSelector> original(std::in_place), copy(*original);
  copy.reset();
  EXPECT_EQ("webrtc", value());
  set("changed meanwhile");
  original.reset();
  EXPECT_EQ("changed meanwhile", value());
  set("webrtc");
  // Assignment takes over the other's previous source without touching the
  // property.
  // first remembers "webrtc", second "throb".
  std::optional<AudioTestSourceSelector> first(std::in_place), second(std::in_place);
  *second = *first;
  EXPECT_EQ("throb", value());
  second.reset();
  EXPECT_EQ("webrtc", value());
  first.reset();
  node->setValue(PropertyValue());
}

}  // namespace
}  // namespace dravo::media
