#include "media_common/element_args.h"

#include "common/check.h"

namespace dravo::media {

ElementArgs::ElementArgs(std::shared_ptr<Scheduler> scheduler)
    : ElementArgs(std::move(scheduler), PropertyNode::create()) {}

ElementArgs::ElementArgs(std::shared_ptr<Scheduler> scheduler, std::shared_ptr<PropertyNode> node)
    : scheduler_(std::move(scheduler)), node_(std::move(node)) {}

ElementArgs& ElementArgs::property(std::string const& name, PropertyValue const& value) {
  bool inserted = properties_.emplace(name, value).second;
  DRAVO_ASSERT_MSG(inserted, "Property set multiple times on ElementArgs.");
  return *this;
}

ElementArgs& ElementArgs::setPropertyNode(std::string const& path) {
  node_ = dravo::getPropertyNode(path);
  return *this;
}

ElementArgs& ElementArgs::setPropertyNode(std::shared_ptr<PropertyNode> const& node) {
  node_ = node;
  return *this;
}

ElementArgs& ElementArgs::tracking(std::shared_ptr<void> const& object) {
  tracking_.push_back(object);
  return *this;
}

}  // namespace dravo::media
