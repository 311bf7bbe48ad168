#include "media_common/audio/audio_test_source_selector.h"

#include "common/logging.h"
#include "common/property_node.h"

namespace dravo::media {

namespace {

constexpr const char* kTestSourcePath = "media/devices/audio/test_source";
constexpr const char* kTestSource = "throb";

}  // namespace

std::string AudioTestSourceSelector::SharedStringProperty::get() const {
  return node_->getValue().getString();
}

void AudioTestSourceSelector::SharedStringProperty::set(std::string const& value) const {
  node_->setValue(PropertyValue(value));
}

AudioTestSourceSelector::AudioTestSourceSelector()
    : p_test_source_(getPropertyNode(kTestSourcePath)) {
  // A check, not an assertion: tests and tools may run without the audio
  // code, and restoring the empty value later is harmless.
  if (p_test_source_.node()->getValue().empty()) {
    logging::logToLogger("check", 1, __FILE__, __LINE__,
                         "Check failed !p_test_source_.node()->getValue().empty() "
                         "Source (i.e. webrtc) should be up before session start.");
  }
  previous_source_ = p_test_source_.get();
  p_test_source_.set(kTestSource);
}

AudioTestSourceSelector::~AudioTestSourceSelector() {
  if (getPropertyNode(kTestSourcePath)->getValue().getString() == kTestSource)
    p_test_source_.set(previous_source_);
}

}  // namespace dravo::media
