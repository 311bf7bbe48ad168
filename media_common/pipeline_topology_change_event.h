#pragma once
// Told to both sides of a link when it is made or released. Not serialisable
// and not meant for element handlers' business logic (`shouldBeHandled` is
// false), but delivered like any event.

#include "media_common/event.h"

namespace dravo::media {

class PipelineTopologyChangeEvent : public Event {
 public:
  enum TopologyChangeType { Linked = 0, Unlinked = 1 };

  explicit PipelineTopologyChangeEvent(TopologyChangeType type) : type(type) { setPriority(10000); }
  TopologyChangeType getType() const { return type; }
  bool shouldBeHandled() const override { return false; }

  TopologyChangeType type;
};

}  // namespace dravo::media
