#include "media_common/clock.h"
#include "media_common/element.h"
#include "media_common/property_clock.h"

namespace dravo::media {

std::shared_ptr<Clock> Element::initializeClockProperty(const char* name,
                                                        std::shared_ptr<Clock> default_clock) {
  return getPropertyClock(getPropertyNode(name), std::move(default_clock));
}

}  // namespace dravo::media
