#include "media_common/buffer.h"

#include <algorithm>

#include "common/check.h"

namespace dravo::media {

namespace {

// Appends `source[0, count)` to `target`; index-based so that `source` may be
// `target` itself (an iterator range would dangle on reallocation).
template <typename T>
void appendFirst(std::vector<T> const& source, size_t count, std::vector<T>* target) {
  target->reserve(target->size() + count);
  for (size_t i = 0; i < count; ++i) target->push_back(source[i]);
}

}  // namespace

Buffer::~Buffer() = default;

void Buffer::appendEventToMetadata(std::shared_ptr<Event const> const& event) {
  DRAVO_CHECK(event);
  if (event) metadata_.push_back(event);
}

std::shared_ptr<Event const> Buffer::getMetadataByTypeId(std::type_info const& type) const {
  for (auto const& event : metadata_)
    if (event->isType(type)) return event;
  return nullptr;
}

void Buffer::removeEventFromMetadata(std::type_info const& type) {
  std::erase_if(metadata_, [&type](auto const& event) { return event->isType(type); });
}

void Buffer::resetMetaData() { metadata_.clear(); }

void Buffer::combineMetadata(Buffer const& other) {
  if (creation_time_ > other.creation_time_) creation_time_ = other.creation_time_;
  if (min_merged_ > other.min_merged_) min_merged_ = other.min_merged_;
  appendFirst(other.metadata_, other.metadata_.size(), &metadata_);
  appendFirst(other.tokens_, other.tokens_.size(), &tokens_);
}

void Buffer::copyMetadata(Buffer const& other) {
  combineMetadata(other);
  setStartTimestamp(other.getStartTimestamp());
  setPriority(other.getPriority());
}

void Buffer::addToken(TokenReference const& token) const { tokens_.push_back(token); }

}  // namespace dravo::media
