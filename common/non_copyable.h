#pragma once

namespace dravo {

// Base for classes whose objects have identity: no copies, no moves.
class NonCopyable {
 protected:
  NonCopyable() = default;
  ~NonCopyable() = default;

 public:
  NonCopyable(NonCopyable const&) = delete;
  NonCopyable& operator=(NonCopyable const&) = delete;
};

}  // namespace dravo
