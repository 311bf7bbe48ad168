#pragma once
// Process-wide settings: a node of the global property tree declared with a
// path, a default and a help text.
//
//     static StaticProperty<bool> expect_timeout(
//         "media/video/expect_video_timeout", false, "...");
//     if (expect_timeout.get()) ...
//
// Construction registers the node at once (the global tree exists from the
// first use on, also during static initialisation), so
// `getPropertyNode(path)` finds it with its default and "help" meta from
// then on. `get()` reads the node's current value each time.
//
// Using a StaticProperty whose constructor has not run yet (from another
// file's static initialiser) is the assertion "Tried to use a static
// property (%s) before the property system is initialized."; `get()` then
// gives T's zero value.
//
// Declare them at namespace scope; they are never destroyed before the
// process ends (the nodes stay in the global tree). Any thread may call
// get() and set().

#include <memory>
#include <string>
#include <string_view>

#include "common/check.h"
#include "common/non_copyable.h"
#include "common/property_conversion.h"
#include "common/property_node.h"

namespace dravo {

// Creates (or finds) the global node at `path`, gives it `default_value` as
// default and `help` as "help" meta, and returns it.
std::shared_ptr<PropertyNode> registerStaticProperty(std::string_view path,
                                                     PropertyValue const& default_value,
                                                     std::string const& help);

template <typename T>
class StaticProperty : NonCopyable {
 public:
  StaticProperty(const char* path, T default_value, const char* help = "")
      : path_(path),
        default_(std::move(default_value)),
        node_(registerStaticProperty(path, PropertyValue(default_), help)) {}

  T get() const {
    if (!node_) {
      DRAVO_ASSERT_MSG(false,
                       "Tried to use a static property (%s) before the property system is "
                       "initialized.",
                       path_ ? path_ : "unknown");
      return T{};
    }
    return PropertyConversion<T>::fromValue(node_, node_->getValue()).value_or(default_);
  }
  void set(T const& value) {
    if (!node_) {
      DRAVO_ASSERT_MSG(false,
                       "Tried to use a static property (%s) before the property system is "
                       "initialized.",
                       path_ ? path_ : "unknown");
      return;
    }
    node_->setValue(PropertyConversion<T>::toValue(node_, value));
  }

  std::shared_ptr<PropertyNode> const& node() const { return node_; }
  const char* path() const { return path_; }

 private:
  const char* path_;
  T default_;
  std::shared_ptr<PropertyNode> node_;
};

}  // namespace dravo
