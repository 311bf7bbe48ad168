#include "media_common/device_list.h"

#include <algorithm>

#include "common/logging.h"

DRAVO_LOGGER("device_list_manager");

namespace dravo::media {

void DeviceList::appendDevice(std::string const& id, std::string const& name) {
  LOGF(6, "appendDevice '%s' '%s'", id.c_str(), name.c_str());
  if (haveDevice(id)) {
    LOGF(3, "Device %s added to device list more than once.", id.c_str());
    return;
  }
  devices_.emplace_back(id, name);
}

void DeviceList::prependDevice(std::string const& id, std::string const& name) {
  if (haveDevice(id)) {
    LOGF(3, "Device %s added to device list more than once.", id.c_str());
    return;
  }
  devices_.emplace_front(id, name);
}

void DeviceList::removeDevice(std::string const& id) {
  auto found = std::find_if(devices_.begin(), devices_.end(),
                            [&id](Entry const& entry) { return entry.first == id; });
  if (found != devices_.end()) devices_.erase(found);
}

bool DeviceList::haveDevice(std::string const& id) const {
  return std::any_of(devices_.begin(), devices_.end(),
                     [&id](Entry const& entry) { return entry.first == id; });
}

}  // namespace dravo::media
