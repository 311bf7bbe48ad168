#include "media_common/token_reference.h"

namespace dravo::media {

Token::~Token() {
  if (release_) release_();
}

TokenReference::TokenReference(std::function<void()> const& release)
    : token_(std::make_shared<Token>(release)) {}

}  // namespace dravo::media
