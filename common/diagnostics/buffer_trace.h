#pragma once
// Buffer tracing: which pads, channels and elements a buffer passed.
//
// Every traced place has an `InstanceInfo`, made once with
// `createInstanceInfo(parent, name)` and kept for the life of the process
// (the same parent and name give the same object, so re-created pads do not
// grow the registry). Code that traces first asks `isEnabled()` — true when
// the logger "buffer_trace" is enabled at level 5 — and then reports with
// `track` (an object seen at a place) and `untrack` (an object destroyed);
// both log to "buffer_trace" at level 5. All functions are thread-safe.

#include <string>

namespace dravo::buffer_trace {

struct InstanceInfo {
  InstanceInfo const* parent;  // null for a root
  std::string name;
  // Names from the root down, joined by '/'.
  std::string fullName() const;
};

InstanceInfo const* createInstanceInfo(InstanceInfo const* parent, std::string const& name);
bool isEnabled();
void track(void const* object, InstanceInfo const* where);
void untrack(void const* object);

}  // namespace dravo::buffer_trace
