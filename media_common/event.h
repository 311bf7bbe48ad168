#pragma once
// Control information that travels along links, downstream with buffers or
// upstream against them.
//
// Most events stay inside the process (type id 0). An event type that must
// cross a process or network boundary has a registered `EventTypeID` and
// serialises as that id (a base-128 varint) followed by its body; one byte
// string carries exactly one event:
//
//     std::string bytes;
//     event.serialize(&bytes);                         // false for local events
//     std::shared_ptr<Event> copy = Event::deserialize(bytes.data(), bytes.size());
//
// `deserialize` reads bytes from outside the process: anything malformed,
// truncated or of an unknown type gives null, never a crash.
//
// Serialisable classes register with the process-wide `Event::g_factory`
// through REGISTER_EVENT_CLASS (media_common/register_event_class.h); this
// library's own types are registered by `registerMediaEvents()`
// (media_common/media_events.h).
//
// Owner: whoever made the event; once sent it is shared as a pointer to const
// and read from any thread.

#include <iosfwd>
#include <memory>
#include <string>
#include <typeinfo>

#include "common/factory.h"
#include "media_common/data_base.h"
#include "proto/event_type_id.pb.h"

namespace dravo::media {

class Event;

// Traits of the event registry: ids are `EventTypeID`s, products `Event`s.
struct EventFactoryType {
  using IdType = EventTypeID;
  using ProductType = Event;

  template <typename C>
  static IdType typeIdOf() {
    if constexpr (requires { C::kTypeId; })
      return C::kTypeId;
    else
      return C().getTypeId();
  }
};

using EventFactory = Factory<EventFactoryType>;

class Event : public DataBase {
 public:
  ~Event() override;
  // 0 (EVENT_TYPE_NONE) for events that never leave the process.
  virtual EventTypeID getTypeId() const;
  // False for notifications that handlers must not consume.
  virtual bool shouldBeHandled() const;
  // Appends the body to `out`; false when the event has none.
  virtual bool doSerialize(std::string* out) const;
  // Reads the body from exactly `size` bytes; false on malformed input.
  virtual bool doDeserialize(const char* data, unsigned int size);

  // True exactly when the dynamic type is `type` (derived types do not count).
  bool isType(std::type_info const& type) const;

  // Replaces `out` with the varint type id and the body. Returns false, and
  // leaves `out` alone, for a type id of 0; otherwise what `doSerialize`
  // returns. An unregistered id is written anyway, with a warning.
  bool serialize(std::string* out) const;
  // The event encoded in `data[0, size)`, or null when the bytes are empty,
  // malformed, truncated or of an unregistered type.
  static std::shared_ptr<Event> deserialize(const char* data, unsigned int size);

  // Null until the first class registers.
  static EventFactory* g_factory;
};

// "EVENT_TYPE_PROCESSOR_RESULTS(9)"; unnamed values print as "(300)".
std::ostream& operator<<(std::ostream& os, EventTypeID id);

}  // namespace dravo::media
