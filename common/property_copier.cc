#include "common/property_copier.h"

#include "common/logging.h"

DRAVO_LOGGER("property_copier");

namespace dravo {

UnidirectionalPropertyCopier::UnidirectionalPropertyCopier(
    std::shared_ptr<PropertyNode> const& from, std::shared_ptr<PropertyNode> const& to,
    bool copy_now, bool skip_empty)
    : from_(from), to_(to), copy_now_(copy_now), skip_empty_(skip_empty) {
  from->connectChanged(this, &UnidirectionalPropertyCopier::onFromChanged);
}

UnidirectionalPropertyCopier::~UnidirectionalPropertyCopier() { disconnect_all(); }

void UnidirectionalPropertyCopier::onFromChanged(PropertyChangedArgs const& args) {
  if (args.type == PROPERTY_CONNECTED) {
    if (copy_now_) copy();
    return;
  }
  // Changes below `from` reach this listener too; only its own value counts.
  if (args.type == PROPERTY_VALUE_CHANGED && args.node == from_.lock()) copy();
}

void UnidirectionalPropertyCopier::copy() {
  std::shared_ptr<PropertyNode> from = from_.lock();
  std::shared_ptr<PropertyNode> to = to_.lock();
  if (!from || !to) return;
  PropertyValue value = from->getValue();
  if (skip_empty_ && value.empty()) return;
  LOGF(6, "Copying %s to %s", from->getFullName().c_str(), to->getFullName().c_str());
  to->setValue(value);
}

}  // namespace dravo
