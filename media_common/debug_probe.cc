#include "media_common/debug_probe.h"

#include <utility>

#include "common/logging.h"
#include "common/status.h"
#include "common/string_util.h"

DRAVO_LOGGER("debug_probe");

namespace dravo::media {

DebugProbe::DebugProbe() : DebugProbe(getSystemClock()) {}

DebugProbe::DebugProbe(std::shared_ptr<Clock> check_clock) : check_clock_(std::move(check_clock)) {}

DebugProbe::~DebugProbe() {
  disconnect_all();
  check_timer_.reset();
  check_clock_.reset();
}

void DebugProbe::initialize() {
  Sink<Buffer>::initialize();
  auto info = std::make_shared<SimpleTaskInfo>(getFullName() + " repeating timer");
  WeakFunction<void()> check(weak_from_this(), [this] {
    ScopedSequence scope(sequenceToken());
    checkActivity();
  });
  check_timer_.reset();
  check_timer_ = std::make_unique<RepeatingTimer>(
      check_clock_, scheduledWeakFunction(getScheduler(), Priority(0, false), info, check),
      Duration::fromSec(1));
}

void DebugProbe::onBuffer(std::shared_ptr<Buffer const> const& buffer) {
  LOGS(5) << "Got buffer on probe " << getFullName() << ". Timestamp "
          << buffer->getStartTimestamp() << ". Creation " << buffer->getCreationTime()
          << ". Priority " << buffer->getPriority();
  DRAVO_DCHECK_RUN_ON(sequence_checker_);
  had_activity_ = true;
}

void DebugProbe::checkActivity() {
  DRAVO_DCHECK_RUN_ON(sequence_checker_);
  bool had_activity = std::exchange(had_activity_, false);
  if (had_activity) {
    setStatus(status_codes::Ok, "Element Ok");
    return;
  }
  setStatus(status_codes::Error_PipelineProbeIdle,
            GetShortSourceName(__FILE__) + stringPrintf(":%d: ", 32) +
                "Element check [!had_activity] failed: No activity for over one second.");
}

std::shared_ptr<Sink<Buffer>> getDebugProbe(ElementArgs const& args) {
  return createElement<DebugProbe>(args);
}

}  // namespace dravo::media
