#include "media_common/device_list_manager.h"

#include "common/logging.h"
#include "common/property_enum.h"
#include "common/property_node.h"

DRAVO_LOGGER("device_list_manager");

namespace dravo::media {

DeviceListManager::DeviceListManager(std::string const& source_name,
                                     std::shared_ptr<PropertyNode> const& node)
    : DeviceListManagerBase(source_name), node_(node) {}

void DeviceListManager::listUpdated() {
  LOGF(5, "DeviceListManager::listUpdated");
  MetaEnumValues values;
  for (auto const& [id, name] : *currentListLocked()) {
    LOGF(5, "Adding enum value for %s / %s", id.c_str(), name.c_str());
    values.emplace_back(PropertyValue(id), id, name);
  }
  setPropertyEnumValues(node_, std::move(values));
}

}  // namespace dravo::media
