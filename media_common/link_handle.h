#pragma once
// Links between pads and the handles that keep them.
//
// A link lives while an AutoHandle made from its initializer (or a
// LinkHandles holding it) lives; it holds both pads and every channel it
// wired. Releasing it unlinks each channel connection in the order they were
// made, which tells both sides with `Unlinked` topology events.

#include <list>
#include <memory>
#include <utility>
#include <vector>

#include "common/handle.h"
#include "media_common/pad_channel.h"

namespace dravo::media {

class PadBase;

struct LinkHandlePrivate {
  LinkHandlePrivate(std::shared_ptr<PadBase const> from, std::shared_ptr<PadBase const> to)
      : from(std::move(from)), to(std::move(to)) {}
  ~LinkHandlePrivate() { release(); }
  // Undoes every connection in order, then forgets them. Idempotent.
  void release();

  std::shared_ptr<PadBase const> from;
  std::shared_ptr<PadBase const> to;
  std::vector<std::pair<std::shared_ptr<PadChannel>, PadChannel::PeerList::iterator>> links;
};

using LinkHandle = AutoHandle<LinkHandlePrivate>;
using LinkHandleInitializer = AutoHandleInitializer<LinkHandlePrivate>;

LinkHandleInitializer createLinkHandle(PadBase const& from, PadBase const& to);
LinkHandleInitializer createLinkHandle(std::shared_ptr<PadBase const> const& from,
                                       std::shared_ptr<PadBase const> const& to);

// A collection of links, released together. Not thread-safe: one owner.
class LinkHandles {
 public:
  LinkHandles& operator+=(LinkHandle const& handle);
  LinkHandles& operator+=(LinkHandles const& other);
  // Releases every held link in order, then empties the collection.
  void reset();
  size_t size() const { return handles_.size(); }

 private:
  std::vector<LinkHandle> handles_;
};

}  // namespace dravo::media
