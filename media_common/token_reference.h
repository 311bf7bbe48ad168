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

namespace dravo::media {

// Holds the release function and runs it when destroyed.
class Token {
 public:
  explicit Token(std::function<void()> release) : release_(std::move(release)) {}
  ~Token();
  Token(Token const&) = delete;
  Token& operator=(Token const&) = delete;

 private:
  std::function<void()> release_;
};

class TokenReference {
 public:
  TokenReference() = default;
  // A new token that runs `release` when its last reference goes.
  explicit TokenReference(std::function<void()> const& release);

  bool empty() const { return !token_; }
  // Drops this reference (releasing the token if it was the last one).
  void reset() { token_.reset(); }

 private:
  std::shared_ptr<Token> token_;
};

}  // namespace dravo::media
