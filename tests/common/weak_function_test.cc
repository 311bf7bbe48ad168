#include "common/weak_function.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

struct Target {
  explicit Target(bool* destroyed) : destroyed_(destroyed) {}
  ~Target() { *destroyed_ = true; }
  void add(int a, int b) { sum += a + b; }
  int sum = 0;
  bool* destroyed_;
};

TEST(WeakFunctionTest, CallsOnlyWhileTheOwnerLives) {
  bool destroyed = false;
  auto target = std::make_shared<Target>(&destroyed);
  WeakFunction<void(int)> add_ten = bindWeak<void(int)>(target, &Target::add, 10);
  EXPECT_TRUE(add_ten(5));
  EXPECT_EQ(target->sum, 15);

  WeakFunction<void(int)> copy = add_ten;
  target.reset();
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(copy.expired());
  EXPECT_FALSE(copy(1)) << "a dead owner means no call";
  EXPECT_FALSE(WeakFunction<void()>()()) << "an empty function is never called";
}

TEST(WeakFunctionTest, OwnerStaysAliveDuringTheCall) {
  bool destroyed = false;
  auto target = std::make_shared<Target>(&destroyed);
  bool alive_inside = false;
  WeakFunction<void()> drop_owner(target, [&] {
    target.reset();  // the last outside reference
    alive_inside = !destroyed;
  });
  EXPECT_TRUE(drop_owner());
  EXPECT_TRUE(alive_inside);
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace dravo
