#include "common/factory.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"

namespace dravo {
namespace {

struct Shape {
  virtual ~Shape() = default;
  virtual int sides() const = 0;
};
struct Triangle : Shape {
  static constexpr int kTypeId = 3;
  int sides() const override { return 3; }
};
struct Square : Shape {
  static constexpr int kTypeId = 4;
  int sides() const override { return 4; }
};
struct OtherSquare : Square {};

struct ShapeFactoryType {
  using IdType = int;
  using ProductType = Shape;
  template <typename C>
  static IdType typeIdOf() {
    return C::kTypeId;
  }
};

using ShapeFactory = Factory<ShapeFactoryType>;

TEST(FactoryTest, FirstRegistrationCreatesTheRegistryAndLastDeletesIt) {
  ShapeFactory* registry = nullptr;
  {
    FactoryClassInstantiator<ShapeFactoryType, Triangle> triangle(&registry);
    ASSERT_NE(registry, nullptr);
    {
      FactoryClassInstantiator<ShapeFactoryType, Square> square(&registry);
      EXPECT_EQ(registry->create(4)->sides(), 4);
      EXPECT_EQ(registry->create(3)->sides(), 3);
    }
    EXPECT_EQ(registry->create(4), nullptr);
    EXPECT_EQ(registry->create(5), nullptr);
  }
  EXPECT_EQ(registry, nullptr);
}

TEST(FactoryTest, RegisteringAnIdTwiceAssertsAndKeepsTheFirstClass) {
  testing::AssertionCapture assertions;
  ShapeFactory* registry = nullptr;
  FactoryClassInstantiator<ShapeFactoryType, Square> square(&registry);
  {
    FactoryClassInstantiator<ShapeFactoryType, OtherSquare> duplicate(&registry);
    ASSERT_EQ(assertions.messages().size(), 1u);
    EXPECT_EQ(assertions.messages()[0],
              "Assertion failed: factories_.find(fb->type_identifier_) == factories_.end()");
    std::shared_ptr<Shape> made = registry->create(4);
    Shape const& shape = *made;
    EXPECT_EQ(typeid(shape), typeid(Square));
  }
  // Unregistering the refused duplicate leaves the first registration alone.
  std::shared_ptr<Shape> made = registry->create(4);
  Shape const& shape = *made;
  EXPECT_EQ(typeid(shape), typeid(Square));
}

TEST(FactoryTest, InstantiatorWithoutALocationLogsACheck) {
  testing::LogCapture capture("check:1");
  { FactoryClassInstantiator<ShapeFactoryType, Square> orphan(nullptr); }
  EXPECT_EQ(capture.messages("check"), std::vector<std::string>{"Check failed manager_ "});
}

TEST(FactoryTest, DestroyingANonEmptyRegistryAsserts) {
  testing::AssertionCapture assertions;
  ShapeFactory* registry = nullptr;
  FactoryClassInstantiator<ShapeFactoryType, Square> square(&registry);
  delete registry;
  registry = nullptr;  // the instantiator then has nothing to unregister from
  EXPECT_EQ(assertions.messages(),
            std::vector<std::string>{"Assertion failed: factories_.empty()"});
}

}  // namespace
}  // namespace dravo
