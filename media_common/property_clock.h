#pragma once
// A clock that follows whatever clock a property node holds.
//
// How a node holds a clock: its value is a `PropertyValue` whose object slot
// refers to a `Clock`, normally weakly (`PropertyValue(std::weak_ptr<Clock>)`,
// as `setPropertyClock` stores it), so the property tree never keeps a clock
// alive: whoever puts a clock into a node keeps its `std::shared_ptr<Clock>`
// for as long as the clock should be followed. A shared reference
// (`PropertyValue(std::shared_ptr<Clock>)`) is read the same way. A node that
// is empty, holds anything else, or refers to a clock that is gone means "no
// clock": the property clock falls back to its default clock.
//
// The property clock's generations keep increasing across parent switches:
// every switch moves it through a frozen generation into one that has the new
// parent's frozen state (a new property clock over a running clock reads
// generation 2), so timers set before a switch are delivered `Aborted`.
//
// Threads: the node may be changed from any thread; the switch happens on
// the thread that changes it (or, if the followed clock dies, on the next
// thread that reads the property clock).

#include <memory>

#include "common/property_node.h"
#include "media_common/clock.h"

namespace dravo::media {

// Stores `clock` (weakly) as the node's value; null clears it.
void setPropertyClock(PropertyNode& node, std::shared_ptr<Clock> const& clock);
// The clock a property value refers to, or null.
std::shared_ptr<Clock> getClockFromPropertyValue(PropertyValue const& value);

// A new clock that follows the clock held in `node`, and `default_clock`
// while the node holds none.
std::shared_ptr<Clock> getPropertyClock(std::shared_ptr<PropertyNode> node,
                                        std::shared_ptr<Clock> default_clock);

}  // namespace dravo::media
