#pragma once
// Construction arguments of an element: its scheduler, its property node,
// initial property values and objects kept alive for its lifetime.
//
// A value type built by the caller on any thread and read by the element's
// creation function.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "common/property_node.h"
#include "media_common/scheduler.h"

namespace dravo::media {

class ElementArgs {
 public:
  // The element gets a fresh detached property node.
  explicit ElementArgs(std::shared_ptr<Scheduler> scheduler);
  ElementArgs(std::shared_ptr<Scheduler> scheduler, std::shared_ptr<PropertyNode> node);

  // Initial value of a property, applied after the element's initialize().
  // Naming a property twice is an assertion.
  ElementArgs& property(std::string const& name, PropertyValue const& value);
  // The node at `path` in the process-wide tree.
  ElementArgs& setPropertyNode(std::string const& path);
  ElementArgs& setPropertyNode(std::shared_ptr<PropertyNode> const& node);
  ElementArgs& tracking(std::shared_ptr<void> const& object);

  std::shared_ptr<Scheduler> const& getScheduler() const { return scheduler_; }
  std::shared_ptr<PropertyNode> const& getPropertyNode() const { return node_; }
  std::map<std::string, PropertyValue> const& getProperties() const { return properties_; }
  std::vector<std::shared_ptr<void>> const& getTrackingObjects() const { return tracking_; }

 private:
  std::shared_ptr<Scheduler> scheduler_;
  std::shared_ptr<PropertyNode> node_;
  std::map<std::string, PropertyValue> properties_;
  std::vector<std::shared_ptr<void>> tracking_;
};

}  // namespace dravo::media
