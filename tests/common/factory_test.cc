#include "common/factory.h"

#include <gtest/gtest.h>

#include "tests/support/capture.h"

namespace dravo {
namespace {

// Products identified by their number of sides.
struct Shape {
  virtual ~Shape() = default;
  virtual int sides() const = 0;
};
template <int kSides>
struct Polygon : Shape {
  static constexpr int kTypeId = kSides > 0 ? kSides : -kSides;
  int sides() const override { return kSides; }
};

struct ShapeFactoryType {
  using IdType = int;
  using ProductType = Shape;
  template <typename C>
  static IdType typeIdOf() {
    return C::kTypeId;
  }
};

TEST(FactoryTest, RegistryLivesFromTheFirstToTheLastRegistrationAndMisuseIsReported) {
  Factory<ShapeFactoryType>* registry = nullptr;
  {
    FactoryClassInstantiator<ShapeFactoryType, Polygon<3>> triangle(&registry);
    {
      FactoryClassInstantiator<ShapeFactoryType, Polygon<4>> square(&registry);
      EXPECT_EQ(registry->create(4)->sides(), 4);
      EXPECT_EQ(registry->create(3)->sides(), 3);
    }
    EXPECT_EQ(registry->create(4), nullptr);
  }
  EXPECT_EQ(registry, nullptr);

  // Misuse is reported and leaves the registrations alone.
  testing::AssertionCapture assertions;
  testing::LogCapture capture("check:1");
  FactoryClassInstantiator<ShapeFactoryType, Polygon<4>> square(&registry);
  { FactoryClassInstantiator<ShapeFactoryType, Polygon<-4>> duplicate(&registry); }
  EXPECT_EQ(registry->create(4)->sides(), 4) << "the first registration stays";
  { FactoryClassInstantiator<ShapeFactoryType, Polygon<4>> orphan(nullptr); }
  EXPECT_EQ(capture.messages("check"), std::vector<std::string>{"Check failed manager_ "});
  {
    Factory<ShapeFactoryType> standalone;
    standalone.add(&square);
  }
  EXPECT_EQ(assertions.messages(),
            (std::vector<std::string>{
                "Assertion failed: factories_.find(fb->type_identifier_) == factories_.end()",
                "Assertion failed: factories_.empty()"}));
}

}  // namespace
}  // namespace dravo
