#include "media_common/link_handle.h"

#include "media_common/pad.h"

namespace dravo::media {

void LinkHandlePrivate::release() {
  auto connections = std::move(links);
  links.clear();
  for (auto& [channel, position] : connections) channel->unlink(position);
}

LinkHandleInitializer createLinkHandle(std::shared_ptr<PadBase const> const& from,
                                       std::shared_ptr<PadBase const> const& to) {
  return LinkHandleInitializer(std::make_shared<LinkHandlePrivate>(from, to),
                               [](LinkHandlePrivate& link) { link.release(); });
}

LinkHandleInitializer createLinkHandle(PadBase const& from, PadBase const& to) {
  return createLinkHandle(from.shared_from_this(), to.shared_from_this());
}

LinkHandles& LinkHandles::operator+=(LinkHandle const& handle) {
  handles_.push_back(handle);
  return *this;
}

LinkHandles& LinkHandles::operator+=(LinkHandles const& other) {
  handles_.insert(handles_.end(), other.handles_.begin(), other.handles_.end());
  return *this;
}

void LinkHandles::reset() {
  for (LinkHandle& handle : handles_) handle.reset();
  handles_.clear();
}

}  // namespace dravo::media
