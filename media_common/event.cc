#include "media_common/event.h"

#include <google/protobuf/generated_enum_reflection.h>

#include <limits>
#include <ostream>
#include <sstream>

#include "common/logging.h"
#include "media_common/media_events.h"
#include "media_common/varint.h"

DRAVO_LOGGER("event");

namespace dravo::media {

EventFactory* Event::g_factory = nullptr;

namespace {

std::string describe(EventTypeID id) {
  std::ostringstream text;
  text << id;
  return text.str();
}

// Refused input comes from outside and may arrive in floods; one warning per
// interval is enough.
logging::ThrottledLoggingFilter& refusalFilter() {
  static logging::ThrottledLoggingFilter filter(Duration::fromSec(5));
  return filter;
}

}  // namespace

Event::~Event() = default;

EventTypeID Event::getTypeId() const { return EVENT_TYPE_NONE; }

bool Event::shouldBeHandled() const { return true; }

bool Event::doSerialize(std::string*) const { return false; }

bool Event::doDeserialize(const char*, unsigned int) { return false; }

bool Event::isType(std::type_info const& type) const { return typeid(*this) == type; }

bool Event::serialize(std::string* out) const {
  EventTypeID const id = getTypeId();
  if (id == EVENT_TYPE_NONE) return false;
  // Also links in the registrations, however the program was linked.
  registerMediaEvents();
  if (!g_factory || !g_factory->contains(id)) {
    LOGS(3) << "Type " << id << " was not registered. Use REGISTER_EVENT_CLASS.";
  }
  out->clear();
  varint::append32(static_cast<uint32_t>(id), out);
  return doSerialize(out);
}

std::shared_ptr<Event> Event::deserialize(const char* data, unsigned int size) {
  registerMediaEvents();
  if (!g_factory) return nullptr;
  if (!data || size == 0) {
    LOGF_FILTERED(refusalFilter(), 3, "Refused event: no bytes.");
    return nullptr;
  }
  uint32_t raw_id = 0;
  size_t const header_size = varint::read32(data, size, &raw_id);
  if (header_size == 0) {
    LOGF_FILTERED(refusalFilter(), 3, "Refused event of %u bytes: no valid type id.", size);
    return nullptr;
  }
  if (raw_id > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    LOGF_FILTERED(refusalFilter(), 3, "Refused event: type id %u out of range.", raw_id);
    return nullptr;
  }
  auto const id = static_cast<EventTypeID>(raw_id);
  std::shared_ptr<Event> event = g_factory->create(id);
  if (!event) {
    LOGF_FILTERED(refusalFilter(), 3, "Refused event: type %s is not registered.",
                  describe(id).c_str());
    return nullptr;
  }
  auto const body_size = static_cast<unsigned int>(size - header_size);
  if (!event->doDeserialize(data + header_size, body_size)) {
    LOGF_FILTERED(refusalFilter(), 3, "Refused event of type %s: malformed body of %u bytes.",
                  describe(id).c_str(), body_size);
    return nullptr;
  }
  return event;
}

std::ostream& operator<<(std::ostream& os, EventTypeID id) {
  return os << google::protobuf::internal::NameOfEnum(EventTypeID_descriptor(), id) << "("
            << static_cast<int>(id) << ")";
}

}  // namespace dravo::media
