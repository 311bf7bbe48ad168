#include "common/property_value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <ostream>
#include <sstream>
#include <utility>

#include "common/string_util.h"

namespace dravo {
namespace {

// Saturating conversion between the numeric alternatives.
template <typename To, typename From>
To convertNumber(From value) {
  if constexpr (std::is_same_v<To, bool>) {
    return value != From(0);
  } else if constexpr (std::is_floating_point_v<To>) {
    return static_cast<To>(value);
  } else if constexpr (std::is_floating_point_v<From>) {
    if (std::isnan(value)) return 0;
    double rounded = std::nearbyint(static_cast<double>(value));
    // The bounds as doubles: max() of a 64-bit type rounds up to 2^63 / 2^64.
    if (rounded <= static_cast<double>(std::numeric_limits<To>::min()))
      return std::numeric_limits<To>::min();
    if (rounded >= static_cast<double>(std::numeric_limits<To>::max()))
      return std::numeric_limits<To>::max();
    return static_cast<To>(rounded);
  } else if constexpr (std::is_same_v<From, bool>) {
    return value ? 1 : 0;
  } else {
    if (std::cmp_less(value, std::numeric_limits<To>::min())) return std::numeric_limits<To>::min();
    if (std::cmp_greater(value, std::numeric_limits<To>::max()))
      return std::numeric_limits<To>::max();
    return static_cast<To>(value);
  }
}

template <typename T>
std::optional<T> parseNumber(std::string const& text) {
  if constexpr (std::is_same_v<T, bool>) {
    std::string lower = toLower(text);
    if (lower == "true" || lower == "1") return true;
    if (lower == "false" || lower == "0") return false;
    return std::nullopt;
  } else {
    T result{};
    char const* begin = text.data();
    char const* end = begin + text.size();
    auto [ptr, error] = std::from_chars(begin, end, result);
    if (error != std::errc() || ptr != end) return std::nullopt;
    return result;
  }
}

std::optional<Duration> parseDuration(std::string const& text) {
  std::string seconds = text;
  if (!seconds.empty() && seconds.back() == 's') seconds.pop_back();
  std::optional<double> value = parseNumber<double>(seconds);
  if (!value || !std::isfinite(*value)) return std::nullopt;
  return Duration::fromSec(*value);
}

template <typename T>
std::string formatNumber(T value) {
  char buffer[64];
  auto [ptr, error] = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return error == std::errc() ? std::string(buffer, ptr) : std::string();
}

}  // namespace

const char* PropertyValue::typeName(Type type) {
  switch (type) {
    case TYPE_EMPTY:
      return "empty";
    case TYPE_BOOL:
      return "bool";
    case TYPE_INT32:
      return "int32";
    case TYPE_UINT32:
      return "uint32";
    case TYPE_INT64:
      return "int64";
    case TYPE_UINT64:
      return "uint64";
    case TYPE_FLOAT:
      return "float";
    case TYPE_DOUBLE:
      return "double";
    case TYPE_STRING:
      return "string";
    case TYPE_DURATION:
      return "duration";
    case TYPE_WEAK_OBJECT:
      return "weak object";
    case TYPE_SHARED_OBJECT:
      return "shared object";
  }
  return "unknown";
}

template <typename T>
std::optional<T> PropertyValue::convert() const {
  if constexpr (std::is_same_v<T, std::string>) {
    if (empty()) return std::nullopt;
    if (auto const* text = std::get_if<std::string>(&data_)) return *text;
    return toString();
  } else {
    return std::visit(
        [](auto const& value) -> std::optional<T> {
          using V = std::decay_t<decltype(value)>;
          if constexpr (std::is_same_v<V, std::monostate> || std::is_same_v<V, WeakObject> ||
                        std::is_same_v<V, SharedObject>) {
            return std::nullopt;
          } else if constexpr (std::is_same_v<V, std::string>) {
            if constexpr (std::is_same_v<T, Duration>)
              return parseDuration(value);
            else
              return parseNumber<T>(value);
          } else if constexpr (std::is_same_v<T, Duration>) {
            if constexpr (std::is_same_v<V, Duration>)
              return value;
            else
              return Duration::fromSec(convertNumber<double>(value));
          } else if constexpr (std::is_same_v<V, Duration>) {
            return convertNumber<T>(value.toSec());
          } else {
            return convertNumber<T>(value);
          }
        },
        data_);
  }
}

template std::optional<bool> PropertyValue::convert<bool>() const;
template std::optional<int32_t> PropertyValue::convert<int32_t>() const;
template std::optional<uint32_t> PropertyValue::convert<uint32_t>() const;
template std::optional<int64_t> PropertyValue::convert<int64_t>() const;
template std::optional<uint64_t> PropertyValue::convert<uint64_t>() const;
template std::optional<float> PropertyValue::convert<float>() const;
template std::optional<double> PropertyValue::convert<double>() const;
template std::optional<std::string> PropertyValue::convert<std::string>() const;
template std::optional<Duration> PropertyValue::convert<Duration>() const;

std::shared_ptr<void> PropertyValue::getObjectPointer() const {
  if (auto const* weak = std::get_if<WeakObject>(&data_)) return weak->object.lock();
  if (auto const* shared = std::get_if<SharedObject>(&data_)) return shared->object;
  return nullptr;
}

std::type_info const* PropertyValue::objectType() const {
  if (auto const* weak = std::get_if<WeakObject>(&data_)) return weak->type;
  if (auto const* shared = std::get_if<SharedObject>(&data_)) return shared->type;
  return nullptr;
}

std::string PropertyValue::toString() const {
  return std::visit(
      [](auto const& value) -> std::string {
        using V = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<V, std::monostate>) {
          return std::string();
        } else if constexpr (std::is_same_v<V, bool>) {
          return value ? "true" : "false";
        } else if constexpr (std::is_same_v<V, std::string>) {
          return value;
        } else if constexpr (std::is_same_v<V, Duration>) {
          std::ostringstream text;
          text << value;
          return text.str();
        } else if constexpr (std::is_same_v<V, WeakObject>) {
          return "<weak object>";
        } else if constexpr (std::is_same_v<V, SharedObject>) {
          return "<object>";
        } else {
          return formatNumber(value);
        }
      },
      data_);
}

bool operator==(PropertyValue const& a, PropertyValue const& b) {
  if (a.data_.index() != b.data_.index()) return false;
  if (auto const* weak = std::get_if<PropertyValue::WeakObject>(&a.data_)) {
    auto const& other = std::get<PropertyValue::WeakObject>(b.data_);
    return *weak->type == *other.type && !weak->object.owner_before(other.object) &&
           !other.object.owner_before(weak->object);
  }
  if (auto const* shared = std::get_if<PropertyValue::SharedObject>(&a.data_)) {
    auto const& other = std::get<PropertyValue::SharedObject>(b.data_);
    return *shared->type == *other.type && shared->object == other.object;
  }
  return std::visit(
      [&b](auto const& value) -> bool {
        using V = std::decay_t<decltype(value)>;
        if constexpr (std::is_same_v<V, PropertyValue::WeakObject> ||
                      std::is_same_v<V, PropertyValue::SharedObject>) {
          return false;  // handled above
        } else {
          return value == std::get<V>(b.data_);
        }
      },
      a.data_);
}

bool PropertyValue::sameValue(PropertyValue const& other) const {
  if (*this == other) return true;
  if (!isNumber() || !other.isNumber()) return false;
  bool a_integral = getType() <= TYPE_UINT64;
  bool b_integral = other.getType() <= TYPE_UINT64;
  if (a_integral && b_integral) {
    // Compare exactly, also where one side is negative and the other unsigned.
    auto sign = [](PropertyValue const& v) {
      return v.getType() == TYPE_UINT64 ? 1 : (v.getInt64() < 0 ? -1 : 1);
    };
    if (sign(*this) != sign(other)) return false;
    if (sign(*this) < 0) return getInt64() == other.getInt64();
    return getUInt64() == other.getUInt64();
  }
  return getDouble() == other.getDouble();
}

std::ostream& operator<<(std::ostream& os, PropertyValue const& value) {
  return os << value.toString();
}

}  // namespace dravo
