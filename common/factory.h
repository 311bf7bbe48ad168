#pragma once
// A process-wide registry that makes objects of registered classes from a
// type identifier.
//
// `FactoryType` is a traits class naming the identifier, the product base and
// how a class's identifier is found:
//
//     struct ShapeFactoryType {
//       using IdType = int;
//       using ProductType = Shape;
//       template <typename C> static IdType typeIdOf() { return C::kTypeId; }
//     };
//
// A registry is reached through a plain pointer (the "factory location",
// usually a static member) that stays null until the first class registers.
// Classes register through static `FactoryClassInstantiator` objects, one per
// class:
//
//     static FactoryClassInstantiator<ShapeFactoryType, Circle> g_circle(&Shape::g_factory);
//
// The instantiators own the registry together: the first one creates it and
// points the location at it, each one removes its class when destroyed, and
// the registry dies with the last of them, nulling the location again. The
// location itself owns nothing.
//
// Threads: registration and unregistration happen while the program loads
// and unloads (static construction and destruction), before and after any
// other thread uses the registry; in between it is only read, without a lock.

#include <map>
#include <memory>

#include "common/check.h"
#include "common/non_copyable.h"

namespace dravo {

template <typename FactoryType>
class Factory;

// One registered class: knows its identifier and makes new instances.
template <typename FactoryType>
class FactoryClassInstantiatorBase : NonCopyable {
 public:
  using IdType = typename FactoryType::IdType;
  using ProductType = typename FactoryType::ProductType;

  virtual ~FactoryClassInstantiatorBase() = default;
  virtual std::shared_ptr<ProductType> create() const = 0;
  IdType typeIdentifier() const { return type_identifier_; }

 protected:
  explicit FactoryClassInstantiatorBase(IdType type_identifier)
      : type_identifier_(type_identifier) {}

 private:
  friend class Factory<FactoryType>;
  IdType const type_identifier_;
};

template <typename FactoryType>
class Factory : NonCopyable, public std::enable_shared_from_this<Factory<FactoryType>> {
 public:
  using IdType = typename FactoryType::IdType;
  using ProductType = typename FactoryType::ProductType;
  using Instantiator = FactoryClassInstantiatorBase<FactoryType>;

  // A registry of its own, not published at any location.
  Factory() = default;
  // Every class must have unregistered first.
  ~Factory() {
    DRAVO_ASSERT(factories_.empty());
    if (location_ && *location_ == this) *location_ = nullptr;
  }

  // A new registry published at `*location` until it is destroyed.
  static std::shared_ptr<Factory> createAt(Factory** location) {
    auto factory = std::make_shared<Factory>();
    factory->location_ = location;
    *location = factory.get();
    return factory;
  }

  // Registers `fb` under its identifier; an identifier registered twice is an
  // assertion and the first registration stays.
  void add(Instantiator* fb) {
    DRAVO_ASSERT(factories_.find(fb->type_identifier_) == factories_.end());
    factories_.emplace(fb->type_identifier_, fb);
  }

  // Unregisters `fb`; does nothing when its identifier belongs to another.
  void remove(Instantiator const* fb) {
    auto it = factories_.find(fb->type_identifier_);
    if (it != factories_.end() && it->second == fb) factories_.erase(it);
  }

  // A new instance of the class registered under `id`, or null.
  std::shared_ptr<ProductType> create(IdType id) const {
    auto it = factories_.find(id);
    if (it == factories_.end()) return nullptr;
    return it->second->create();
  }

  bool contains(IdType id) const { return factories_.count(id) != 0; }
  bool empty() const { return factories_.empty(); }

 private:
  std::map<IdType, Instantiator*> factories_;
  Factory** location_ = nullptr;
};

// Registers class `C` (default-constructible, derived from the product type)
// with the registry at `*manager` for as long as this object lives.
template <typename FactoryType, typename C>
class FactoryClassInstantiator : public FactoryClassInstantiatorBase<FactoryType> {
 public:
  using ProductType = typename FactoryType::ProductType;

  explicit FactoryClassInstantiator(Factory<FactoryType>** manager)
      : FactoryClassInstantiatorBase<FactoryType>(FactoryType::template typeIdOf<C>()),
        manager_(manager) {
    DRAVO_CHECK(manager_);
    if (!manager_) return;
    registry_ =
        *manager_ ? (*manager_)->shared_from_this() : Factory<FactoryType>::createAt(manager_);
    registry_->add(this);
  }

  // Dropping `registry_` afterwards destroys the registry if this was the
  // last registration.
  ~FactoryClassInstantiator() override {
    if (registry_) registry_->remove(this);
  }

  std::shared_ptr<ProductType> create() const override { return std::make_shared<C>(); }

 private:
  Factory<FactoryType>** const manager_;
  std::shared_ptr<Factory<FactoryType>> registry_;
};

}  // namespace dravo
