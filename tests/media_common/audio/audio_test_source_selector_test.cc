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

class AudioTestSourceSelectorTest : public ::testing::Test {
 protected:
  ~AudioTestSourceSelectorTest() override { node_->setValue(PropertyValue()); }
  std::string value() const { return node_->getValue().getString(); }

  std::shared_ptr<PropertyNode> node_ = getPropertyNode("media/devices/audio/test_source");
};

TEST_F(AudioTestSourceSelectorTest, SelectsThrobForItsLifetimeAndRestoresTheSource) {
  node_->setValue(PropertyValue("webrtc"));
  int changes = 0;
  sigslot::has_slots<> listener;
  node_->connectChanged(&listener, [&changes](PropertyChangedArgs const& args) {
    if (args.type == PROPERTY_VALUE_CHANGED) ++changes;
  });
  {
    AudioTestSourceSelector selector;
    EXPECT_EQ("throb", value());
    EXPECT_EQ(1, changes);
  }
  EXPECT_EQ("webrtc", value());
  EXPECT_EQ(2, changes);
  node_->disconnectChanged(&listener);
}

TEST_F(AudioTestSourceSelectorTest, LeavesAValueSetByOthersWhileItLived) {
  node_->setValue(PropertyValue("webrtc"));
  {
    AudioTestSourceSelector selector;
    node_->setValue(PropertyValue("file"));
  }
  EXPECT_EQ("file", value());
}

TEST_F(AudioTestSourceSelectorTest, NestedSelectorsRestoreTheOuterPreviousSource) {
  node_->setValue(PropertyValue("webrtc"));
  {
    AudioTestSourceSelector outer;
    {
      AudioTestSourceSelector inner;
      EXPECT_EQ("throb", value());
    }
    // The inner one remembered "throb".
    EXPECT_EQ("throb", value());
  }
  EXPECT_EQ("webrtc", value());

  // Out of order: the outer one restores first, the inner one then finds a
  // value that is no longer "throb" and leaves it.
  std::optional<AudioTestSourceSelector> outer(std::in_place);
  std::optional<AudioTestSourceSelector> inner(std::in_place);
  outer.reset();
  EXPECT_EQ("webrtc", value());
  inner.reset();
  EXPECT_EQ("webrtc", value());
}

TEST_F(AudioTestSourceSelectorTest, CopiesRestoreOnceInEitherOrder) {
  node_->setValue(PropertyValue("webrtc"));
  for (bool copy_goes_first : {true, false}) {
    SCOPED_TRACE(copy_goes_first ? "copy first" : "original first");
    std::optional<AudioTestSourceSelector> original(std::in_place);
    std::optional<AudioTestSourceSelector> copy(*original);
    EXPECT_EQ("throb", value());
    (copy_goes_first ? copy : original).reset();
    EXPECT_EQ("webrtc", value());
    node_->setValue(PropertyValue("changed meanwhile"));
    (copy_goes_first ? original : copy).reset();
    EXPECT_EQ("changed meanwhile", value());
    node_->setValue(PropertyValue("webrtc"));
  }

  // Assignment takes over the other's previous source without touching the
  // property.
  AudioTestSourceSelector first;                                 // remembers "webrtc"
  std::optional<AudioTestSourceSelector> second(std::in_place);  // remembers "throb"
  *second = first;
  EXPECT_EQ("throb", value());
  second.reset();
  EXPECT_EQ("webrtc", value());
}

TEST_F(AudioTestSourceSelectorTest, AnEmptySourceIsAFailedCheckAndIsRestored) {
  dravo::testing::LogCapture log;
  ASSERT_TRUE(node_->getValue().empty());
  {
    AudioTestSourceSelector selector;
    EXPECT_EQ("throb", value());
  }
  EXPECT_EQ(std::vector<std::string>{"Check failed !p_test_source_.node()->getValue().empty() "
                                     "Source (i.e. webrtc) should be up before session start."},
            log.messages("check"));
  EXPECT_EQ("", value());

  log.clear();
  node_->setValue(PropertyValue("webrtc"));
  AudioTestSourceSelector selector;
  EXPECT_TRUE(log.messages("check").empty());
}

}  // namespace
}  // namespace dravo::media
