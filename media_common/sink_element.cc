#include "media_common/sink_element.h"

#include <atomic>

namespace dravo::media {

int sink_internal::nextSyncCount() {
  static std::atomic<int> count{0};
  return ++count;
}

}  // namespace dravo::media
