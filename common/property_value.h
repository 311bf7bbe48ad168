#pragma once
// The value of a property node: empty or one of a fixed set of types.
//
// Types: empty, bool, signed/unsigned 32-bit, signed/unsigned 64-bit, float,
// double, string, `Duration`, and an object slot that holds either a weak or
// a shared reference to any object (a clock is kept weakly, a status shared).
// Construction picks the type from the argument: integers by width and
// signedness, enums as their underlying integer, C strings as strings.
//
// Equality (`==`) is strict: same type and same value (objects: the same
// object). `sameValue` compares numbers across numeric types.
//
// Conversions (`convert<T>()`, `getInt()`, ...):
// - numbers (bool and the integer and floating types) convert into each
//   other; integers saturate at the target's range, floating values round to
//   the nearest integer; bool is `!= 0`;
// - strings parse as the target type ("true"/"false"/"1"/"0" for bool,
//   seconds with an optional "s" for `Duration`); the whole text must parse;
// - `Duration` converts to numbers as seconds and numbers to `Duration` as
//   seconds;
// - every non-empty value converts to a string (`toString()`).
// `convert<T>()` gives nullopt when no conversion applies; the `get...()`
// shorthands give the type's zero (empty string, zero duration) instead.
//
// Objects are stored and read with the same non-const type T:
// `getObject<T>()` gives null when the stored type is a different one.
//
// A plain value: copy it freely between threads; one object is not
// synchronised.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <variant>

#include "common/time.h"

namespace dravo {

class PropertyValue {
 public:
  enum Type {
    TYPE_EMPTY,
    TYPE_BOOL,
    TYPE_INT32,
    TYPE_UINT32,
    TYPE_INT64,
    TYPE_UINT64,
    TYPE_FLOAT,
    TYPE_DOUBLE,
    TYPE_STRING,
    TYPE_DURATION,
    TYPE_WEAK_OBJECT,
    TYPE_SHARED_OBJECT,
  };

  PropertyValue() = default;
  PropertyValue(bool value) : data_(value) {}
  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool>) PropertyValue(T value)
      : data_(widen(value)) {}
  template <typename E>
  requires std::is_enum_v<E> PropertyValue(E value)
      : PropertyValue(static_cast<std::underlying_type_t<E>>(value)) {}
  PropertyValue(float value) : data_(value) {}
  PropertyValue(double value) : data_(value) {}
  PropertyValue(std::string value) : data_(std::move(value)) {}
  PropertyValue(std::string_view value) : data_(std::string(value)) {}
  PropertyValue(const char* value) : data_(std::string(value ? value : "")) {}
  PropertyValue(char* value) : PropertyValue(static_cast<const char*>(value)) {}
  PropertyValue(Duration value) : data_(value) {}
  template <typename T>
  PropertyValue(std::weak_ptr<T> const& object) : data_(WeakObject{object, &typeid(T)}) {}
  template <typename T>
  PropertyValue(std::shared_ptr<T> const& object) : data_(SharedObject{object, &typeid(T)}) {}
  // Any other pointer would silently turn into a bool.
  template <typename T>
  PropertyValue(T*) = delete;

  Type getType() const { return static_cast<Type>(data_.index()); }
  static const char* typeName(Type type);

  bool empty() const { return getType() == TYPE_EMPTY; }
  bool isBool() const { return getType() == TYPE_BOOL; }
  bool isInt() const { return getType() == TYPE_INT32; }
  bool isUInt() const { return getType() == TYPE_UINT32; }
  bool isInt64() const { return getType() == TYPE_INT64; }
  bool isUInt64() const { return getType() == TYPE_UINT64; }
  bool isFloat() const { return getType() == TYPE_FLOAT; }
  bool isDouble() const { return getType() == TYPE_DOUBLE; }
  bool isString() const { return getType() == TYPE_STRING; }
  bool isDuration() const { return getType() == TYPE_DURATION; }
  bool isWeakObject() const { return getType() == TYPE_WEAK_OBJECT; }
  bool isSharedObject() const { return getType() == TYPE_SHARED_OBJECT; }
  bool isObject() const { return isWeakObject() || isSharedObject(); }
  // bool, the integers and the floating types.
  bool isNumber() const { return getType() >= TYPE_BOOL && getType() <= TYPE_DOUBLE; }

  // T: bool, int32_t, uint32_t, int64_t, uint64_t, float, double,
  // std::string or Duration.
  template <typename T>
  std::optional<T> convert() const;

  bool getBool() const { return convert<bool>().value_or(false); }
  int32_t getInt() const { return convert<int32_t>().value_or(0); }
  uint32_t getUInt() const { return convert<uint32_t>().value_or(0); }
  int64_t getInt64() const { return convert<int64_t>().value_or(0); }
  uint64_t getUInt64() const { return convert<uint64_t>().value_or(0); }
  float getFloat() const { return convert<float>().value_or(0.0f); }
  double getDouble() const { return convert<double>().value_or(0.0); }
  std::string getString() const { return convert<std::string>().value_or(std::string()); }
  Duration getDuration() const { return convert<Duration>().value_or(Duration()); }

  // The stored object if it was stored as a T (a weak one is locked), else
  // null.
  template <typename T>
  std::shared_ptr<T> getObject() const {
    std::type_info const* stored = objectType();
    if (!stored || *stored != typeid(T)) return nullptr;
    return std::static_pointer_cast<T>(getObjectPointer());
  }
  template <typename T>
  std::weak_ptr<T> getWeakObject() const {
    return getObject<T>();
  }
  // The stored object, untyped (a weak one is locked); null if none.
  std::shared_ptr<void> getObjectPointer() const;

  // The text form: "" for empty, "true"/"false", decimal numbers (shortest
  // form that reads back the same), the string itself, a Duration as
  // "1.500000000s", objects as "<object>" / "<weak object>".
  std::string toString() const;

  friend bool operator==(PropertyValue const& a, PropertyValue const& b);
  // Equal, or both numbers with the same numeric value (1 == 1u == 1.0).
  bool sameValue(PropertyValue const& other) const;

 private:
  struct WeakObject {
    std::weak_ptr<void> object;
    std::type_info const* type;
  };
  struct SharedObject {
    std::shared_ptr<void> object;
    std::type_info const* type;
  };
  using Data = std::variant<std::monostate, bool, int32_t, uint32_t, int64_t, uint64_t, float,
                            double, std::string, Duration, WeakObject, SharedObject>;

  template <typename T>
  static auto widen(T value) {
    if constexpr (std::is_signed_v<T>) {
      if constexpr (sizeof(T) <= 4)
        return static_cast<int32_t>(value);
      else
        return static_cast<int64_t>(value);
    } else {
      if constexpr (sizeof(T) <= 4)
        return static_cast<uint32_t>(value);
      else
        return static_cast<uint64_t>(value);
    }
  }
  std::type_info const* objectType() const;

  Data data_;
};

std::ostream& operator<<(std::ostream& os, PropertyValue const& value);

}  // namespace dravo
