#pragma once
// The serialisable event types of this library and their registration.
//
// Registered here: driving feedback (7), processor results (9) and device
// opening (10). Attribute events (8) are only consumed by this library; a
// process that reads them from bytes registers them itself.

#include <memory>

#include "common/driving_feedback.h"
#include "media_common/message_event.h"
#include "proto/attribute_event.pb.h"
#include "proto/device_opening_event.pb.h"
#include "proto/driving_feedback.pb.h"
#include "proto/processor_results.pb.h"

namespace dravo::media {

using DrivingFeedbackEvent = MessageEvent<DrivingFeedbackProto, EVENT_TYPE_DRIVING_FEEDBACK>;
using AttributeEvent = MessageEvent<AttributeEventProto, EVENT_TYPE_ATTRIBUTE>;
using ProcessorResultsEvent = MessageEvent<ProcessorResultsProto, EVENT_TYPE_PROCESSOR_RESULTS>;
using DeviceOpeningEvent = MessageEvent<DeviceOpeningEventProto, EVENT_TYPE_DEVICE_OPENING>;

// Registers ids 7, 9 and 10 once; later calls do nothing. It runs by itself
// while the library loads, and `Event::serialize` / `Event::deserialize` call
// it too, which both keeps the registration from being dropped by the static
// linker and makes it independent of static initialisation order.
// Thread-safe.
void registerMediaEvents();

// A new event whose tag field is set (and present) to `feedback.tag`.
std::shared_ptr<DrivingFeedbackEvent> drivingFeedbackToEvent(DrivingFeedback const& feedback);
// A new `DrivingFeedback` holding the event's tag.
std::shared_ptr<DrivingFeedback> drivingFeedbackFromEvent(DrivingFeedbackEvent const& event);

}  // namespace dravo::media
