#pragma once
// Selects the audio test source "throb" for as long as the selector lives.
//
// Construction remembers the value of the global property
// "media/devices/audio/test_source" and sets it to "throb"; destruction puts
// the remembered value back, but only while the property still reads
// "throb" (a value set by someone else in the meantime is left alone).
// The property must already name a source when a selector is made (the
// audio code publishes it); an empty property is a failed check, and the
// empty value is restored later.
//
// Copies remember the same previous value and share the property; copying
// changes nothing. With nested selectors the inner one remembers "throb",
// so destroying them in reverse order restores the value from before the
// outer one. Whichever copy or selector goes first while the property
// reads "throb" restores its remembered value.
//
// Any thread may create, copy and destroy selectors (the property tree is
// thread-safe); one object is used by one thread at a time.

#include <memory>
#include <string>

namespace dravo {
class PropertyNode;
}  // namespace dravo

namespace dravo::media {

class AudioTestSourceSelector {
 public:
  AudioTestSourceSelector();
  AudioTestSourceSelector(AudioTestSourceSelector const& other) = default;
  AudioTestSourceSelector& operator=(AudioTestSourceSelector const& other) = default;
  ~AudioTestSourceSelector();

 private:
  // A string property whose node copies share.
  class SharedStringProperty {
   public:
    explicit SharedStringProperty(std::shared_ptr<PropertyNode> node) : node_(std::move(node)) {}
    std::shared_ptr<PropertyNode> const& node() const { return node_; }
    std::string get() const;
    void set(std::string const& value) const;

   private:
    std::shared_ptr<PropertyNode> node_;
  };

  std::string previous_source_;
  SharedStringProperty p_test_source_;
};

}  // namespace dravo::media
