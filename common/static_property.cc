#include "common/static_property.h"

namespace dravo {

std::shared_ptr<PropertyNode> registerStaticProperty(std::string_view path,
                                                     PropertyValue const& default_value,
                                                     std::string const& help) {
  std::shared_ptr<PropertyNode> node = getPropertyNode(path);
  if (!help.empty()) node->setMeta("help", help);
  node->setDefaultValue(default_value);
  return node;
}

}  // namespace dravo
