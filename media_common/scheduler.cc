#include "media_common/scheduler.h"

namespace dravo::media {

Scheduler::~Scheduler() { client_signal_.disconnect_all(); }

void Scheduler::schedule(TaskFunction const& function, Priority const& priority,
                         std::shared_ptr<TaskInfo const> const& info) {
  scheduleWithDebug(function, priority, info);
}

}  // namespace dravo::media
