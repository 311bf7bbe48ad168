#include "media_common/media_events.h"

#include "common/factory.h"

namespace dravo::media {

void registerMediaEvents() {
  // Function-local statics: built exactly once, even when the first call
  // comes from another file's static initialisation or from several threads;
  // destroyed (unregistered) at exit.
  static FactoryClassInstantiator<EventFactoryType, DrivingFeedbackEvent> driving_feedback(
      &Event::g_factory);
  static FactoryClassInstantiator<EventFactoryType, ProcessorResultsEvent> processor_results(
      &Event::g_factory);
  static FactoryClassInstantiator<EventFactoryType, DeviceOpeningEvent> device_opening(
      &Event::g_factory);
}

namespace {
// Registration at load time, before any pipeline runs.
[[maybe_unused]] bool const g_media_events_registered = (registerMediaEvents(), true);
}  // namespace

std::shared_ptr<DrivingFeedbackEvent> drivingFeedbackToEvent(DrivingFeedback const& feedback) {
  auto event = std::make_shared<DrivingFeedbackEvent>();
  event->set_tag(feedback.tag);
  return event;
}

std::shared_ptr<DrivingFeedback> drivingFeedbackFromEvent(DrivingFeedbackEvent const& event) {
  auto feedback = std::make_shared<DrivingFeedback>();
  feedback->tag = event.tag();
  return feedback;
}

}  // namespace dravo::media
