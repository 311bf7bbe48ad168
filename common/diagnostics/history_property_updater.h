#pragma once
// Records the recent values of one property (for example a source's
// "actual_fps") for diagnostics.
//
// Bound to the property's node for identification only: it keeps the node
// alive but never writes to it. `add` records a sample in a `SampleHistory`.
// Thread-safe.

#include <memory>

#include "common/diagnostics/sample_history.h"

namespace dravo {

class PropertyNode;

class HistoryPropertyUpdater : NonCopyable {
 public:
  explicit HistoryPropertyUpdater(std::shared_ptr<PropertyNode> node, size_t capacity = 100,
                                  Duration resolution = Duration::fromMSec(1000))
      : node_(std::move(node)), history_(capacity, resolution) {}

  void add(double value) { history_.add(value); }

  std::shared_ptr<PropertyNode> const& node() const { return node_; }
  SampleHistory const& history() const { return history_; }

 private:
  const std::shared_ptr<PropertyNode> node_;
  SampleHistory history_;
};

}  // namespace dravo
