#pragma once
// How typed property wrappers read and write a node's value.
//
// `PropertyConversion<T>` serves bool, int32_t, uint32_t, int64_t, uint64_t,
// float, double, std::string and Duration through PropertyValue's
// conversions, and enums through the node's enum entries: an enum node holds
// an entry's name, which reads back as that entry's runtime value; without a
// matching entry the enum travels as its integer value.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "common/property_enum.h"
#include "common/property_node.h"
#include "common/property_value.h"

namespace dravo {

template <typename T>
struct PropertyConversion {
  static std::optional<T> fromValue(std::shared_ptr<PropertyNode> const&,
                                    PropertyValue const& value) {
    return value.convert<T>();
  }
  static PropertyValue toValue(std::shared_ptr<PropertyNode> const&, T const& value) {
    return PropertyValue(value);
  }
};

template <typename E>
requires std::is_enum_v<E>
struct PropertyConversion<E> {
  static std::optional<E> fromValue(std::shared_ptr<PropertyNode> const& node,
                                    PropertyValue const& value) {
    std::optional<int64_t> number;
    if (value.isString()) {
      if (auto entry = findEnumName(node, value.getString()))
        number = entry->value.convert<int64_t>();
    }
    if (!number) number = value.convert<int64_t>();
    if (!number) return std::nullopt;
    return static_cast<E>(*number);
  }
  static PropertyValue toValue(std::shared_ptr<PropertyNode> const& node, E const& value) {
    if (auto entry = findEnumValue(node, PropertyValue(value))) return PropertyValue(entry->name);
    return PropertyValue(value);
  }
};

}  // namespace dravo
