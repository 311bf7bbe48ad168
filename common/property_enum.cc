#include "common/property_enum.h"

#include "common/property_node.h"

namespace dravo {
namespace {

constexpr char kUiTypeKey[] = "ui_type";
constexpr char kUiKey[] = "ui";
constexpr char kEnumUiType[] = "enum";

std::shared_ptr<MetaEnumValues> entriesOf(std::shared_ptr<PropertyNode> const& node) {
  if (!node) return nullptr;
  return node->getMeta(kUiKey).getObject<MetaEnumValues>();
}

}  // namespace

void setPropertyEnumValues(std::shared_ptr<PropertyNode> const& node, MetaEnumValues values) {
  // The list goes in before the type, so a reader that sees "enum" finds it.
  node->setMeta(kUiKey, std::make_shared<MetaEnumValues>(std::move(values)));
  node->setMeta(kUiTypeKey, kEnumUiType);
}

MetaEnumValues getPropertyEnumValues(std::shared_ptr<PropertyNode> const& node) {
  auto entries = entriesOf(node);
  return entries ? *entries : MetaEnumValues();
}

bool isEnumProperty(std::shared_ptr<PropertyNode> const& node) {
  return node && node->getMeta(kUiTypeKey) == PropertyValue(kEnumUiType);
}

std::optional<MetaEnumValue> findEnumValue(std::shared_ptr<PropertyNode> const& node,
                                           PropertyValue const& value) {
  if (auto entries = entriesOf(node))
    for (auto const& entry : *entries)
      if (entry.value.sameValue(value)) return entry;
  return std::nullopt;
}

std::optional<MetaEnumValue> findEnumName(std::shared_ptr<PropertyNode> const& node,
                                          std::string const& name) {
  if (auto entries = entriesOf(node))
    for (auto const& entry : *entries)
      if (entry.name == name) return entry;
  return std::nullopt;
}

bool setEnumPropertyByValue(std::shared_ptr<PropertyNode> const& node, PropertyValue const& value) {
  std::optional<MetaEnumValue> entry = findEnumValue(node, value);
  if (!entry) return false;
  node->setValue(entry->name);
  return true;
}

}  // namespace dravo
