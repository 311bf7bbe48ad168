#include "common/diagnostics/buffer_trace.h"

#include <map>
#include <memory>
#include <utility>

#include "common/logging.h"
#include "common/mutex.h"
#include "common/never_destroyed.h"

DRAVO_LOGGER("buffer_trace");

namespace dravo::buffer_trace {

namespace {
// Interned instance infos; never destroyed, callers keep raw pointers.
struct Registry {
  Mutex mutex;
  std::map<std::pair<InstanceInfo const*, std::string>, std::unique_ptr<InstanceInfo>> infos
      DRAVO_GUARDED_BY(mutex);
};
Registry& registry() {
  static NeverDestroyed<Registry> instance;
  return instance.get();
}
}  // namespace

std::string InstanceInfo::fullName() const {
  return parent ? parent->fullName() + "/" + name : name;
}

InstanceInfo const* createInstanceInfo(InstanceInfo const* parent, std::string const& name) {
  Registry& r = registry();
  MutexLock lock(r.mutex);
  auto& slot = r.infos[{parent, name}];
  if (!slot) slot = std::make_unique<InstanceInfo>(InstanceInfo{parent, name});
  return slot.get();
}

bool isEnabled() {
  static const logging::LogPoint point{"buffer_trace", 5, __FILE__, __LINE__};
  return point.enabled();
}

void track(void const* object, InstanceInfo const* where) {
  if (!isEnabled()) return;
  LOGF(5, "%p at %s", object, where ? where->fullName().c_str() : "<unknown>");
}

void untrack(void const* object) { LOGF(5, "%p destroyed", object); }

}  // namespace dravo::buffer_trace
