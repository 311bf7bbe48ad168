#include "common/weak_function.h"

#include <gtest/gtest.h>

namespace dravo {
namespace {

struct Target {
  void add(int a, int b) { sum += a + b; }
  int sum = 0;
};

TEST(WeakFunctionTest, CallsOnlyWhileTheOwnerLivesAndKeepsItAliveDuringTheCall) {
  auto target = std::make_shared<Target>();
  WeakFunction<void(int)> add_ten = bindWeak<void(int)>(target, &Target::add, 10);
  EXPECT_TRUE(add_ten(5) && target->sum == 15);
  std::weak_ptr<Target> watch = target;
  bool alive_inside = false;
  WeakFunction<void()> drop_owner(target, [&] {
    target.reset();  // the last outside reference
    alive_inside = !watch.expired();
  });
  EXPECT_TRUE(drop_owner() && alive_inside && watch.expired());
  EXPECT_FALSE(add_ten(1)) << "a dead owner means no call";
  EXPECT_FALSE(WeakFunction<void()>()()) << "an empty function is never called";
}

}  // namespace
}  // namespace dravo
