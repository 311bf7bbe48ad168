#pragma once
// Enumerated properties: a node whose value is one of a list of names.
//
// Each entry pairs a runtime value (what code works with, e.g. an enum
// constant or a device identifier) with the name the node holds and a name
// for display. `setPropertyEnumValues` stores the list as the node's meta
// entries "ui_type" = "enum" and "ui" (an immutable list object);
// `getPropertyEnumValues` reads it back.
//
// Thread-safe like the node itself; the list is replaced, never changed.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/property_value.h"

namespace dravo {

class PropertyNode;

struct MetaEnumValue {
  MetaEnumValue(PropertyValue value, std::string name, std::string display_name)
      : value(std::move(value)), name(std::move(name)), display_name(std::move(display_name)) {}

  PropertyValue value;       // the runtime value
  std::string name;          // the identifier the node holds
  std::string display_name;  // for user interfaces
};

using MetaEnumValues = std::vector<MetaEnumValue>;

// Replaces the node's entries (and marks it as an enum).
void setPropertyEnumValues(std::shared_ptr<PropertyNode> const& node, MetaEnumValues values);
// The node's entries; empty when it is no enum.
MetaEnumValues getPropertyEnumValues(std::shared_ptr<PropertyNode> const& node);
bool isEnumProperty(std::shared_ptr<PropertyNode> const& node);

// The entry whose runtime value equals `value` (numbers compare across types,
// see PropertyValue::sameValue).
std::optional<MetaEnumValue> findEnumValue(std::shared_ptr<PropertyNode> const& node,
                                           PropertyValue const& value);
std::optional<MetaEnumValue> findEnumName(std::shared_ptr<PropertyNode> const& node,
                                          std::string const& name);
// Sets the node to the name of the entry whose runtime value is `value`;
// false, with the node unchanged, when no entry matches.
bool setEnumPropertyByValue(std::shared_ptr<PropertyNode> const& node, PropertyValue const& value);

}  // namespace dravo
