#pragma once
// An event that is a protocol-buffer message.
//
// `MessageEvent<Proto, N>` derives from both `Event` and `Proto`, so the
// message's accessors are the event's; it serialises as type id N followed by
// the message's wire encoding:
//
//     auto event = std::make_shared<MessageEvent<AttributeEventProto, 8>>();
//     event->set_key("camera");
//     event->set_value("front");
//
// N must be registered (REGISTER_EVENT_CLASS) for the event to be read back.
// Same ownership and threading as every `Event`.

#include <climits>
#include <string>

#include "media_common/event.h"
#include "media_common/wire_lengths_check.h"

namespace dravo::media {

template <typename Proto, int N>
class MessageEvent : public Event, public Proto {
 public:
  static constexpr EventTypeID kTypeId = static_cast<EventTypeID>(N);

  MessageEvent() = default;
  explicit MessageEvent(Proto const& message) : Proto(message) {}
  MessageEvent(MessageEvent const&) = default;
  MessageEvent& operator=(MessageEvent const&) = default;

  Proto const& message() const { return *this; }
  Proto* mutableMessage() { return this; }

  EventTypeID getTypeId() const override { return kTypeId; }

  bool doSerialize(std::string* out) const override { return Proto::AppendToString(out); }

  bool doDeserialize(const char* data, unsigned int size) override {
    if (size > static_cast<unsigned int>(INT_MAX)) return false;
    // The bytes come from outside: refuse lengths that overrun their
    // enclosing message before the parser allocates against them.
    if (!protoLengthsFit(data, size, Proto::descriptor())) return false;
    return Proto::ParseFromArray(data, static_cast<int>(size));
  }
};

}  // namespace dravo::media
