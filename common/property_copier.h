#pragma once
// Copies one property's value to another, one way, for as long as it lives.
//
// `UnidirectionalPropertyCopier(from, to, copy_now, skip_empty)`:
// - copy_now: copy `from`'s current value to `to` at construction; otherwise
//   only later changes are copied;
// - skip_empty: never copy an empty value (so an unset source does not wipe
//   the target's value).
// Every later change of `from`'s own value (not of its children) is copied to
// `to` on the thread that made it. Changes of `to` never go back.
//
// Owner: whoever sets up the copy (a bin keeps its copiers). The copier holds
// both nodes weakly; destroying it stops the copying (waiting for a copy in
// progress on another thread). Any thread.

#include <memory>

#include "common/non_copyable.h"
#include "common/property_node.h"
#include "common/sigslot.h"

namespace dravo {

class UnidirectionalPropertyCopier : public sigslot::has_slots<sigslot::multi_threaded_local>,
                                     NonCopyable {
 public:
  UnidirectionalPropertyCopier(std::shared_ptr<PropertyNode> const& from,
                               std::shared_ptr<PropertyNode> const& to, bool copy_now,
                               bool skip_empty);
  ~UnidirectionalPropertyCopier() override;

 private:
  void onFromChanged(PropertyChangedArgs const& args);
  void copy();

  std::weak_ptr<PropertyNode> const from_;
  std::weak_ptr<PropertyNode> const to_;
  bool const copy_now_;
  bool const skip_empty_;
};

}  // namespace dravo
