#pragma once
// A shared claim on one flow-control token.
//
// The token runs its release function when the last `TokenReference` to it
// goes, on whichever thread drops that last copy. A default reference is
// empty (holds no token); a token pool answers a refused request with one.
//
// Copies may be made and dropped on any thread; a single reference object is
// not itself synchronised.

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "common/weak_function.h"

namespace dravo::media {

// Holds the release function and runs it when destroyed.
class Token {
 public:
  explicit Token(InlineFunction<void()> release) : release_(std::move(release)) {}
  ~Token();
  Token(Token const&) = delete;
  Token& operator=(Token const&) = delete;

 private:
  InlineFunction<void()> release_;
};

class TokenReference {
 public:
  TokenReference() = default;
  // A new token that runs `release` when its last reference goes.
  explicit TokenReference(std::function<void()> const& release);
  // The same for any callable; a small one is kept inside the token, so
  // making the token takes one allocation.
  template <typename F,
            typename = std::enable_if_t<std::is_invocable_v<F&> &&
                                        !std::is_same_v<std::decay_t<F>, TokenReference>>>
  explicit TokenReference(F release)
      : token_(std::make_shared<Token>(InlineFunction<void()>(std::move(release)))) {}

  bool empty() const { return !token_; }
  // Drops this reference (releasing the token if it was the last one).
  void reset() { token_.reset(); }

 private:
  std::shared_ptr<Token> token_;
};

}  // namespace dravo::media
