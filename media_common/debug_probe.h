#pragma once
// A diagnostic sink for buffers of any kind.
//
// Linked to an output pad, the probe logs every buffer it receives (logger
// "debug_probe", level 5) and reports through its element status whether
// buffers keep arriving: once a second it sets "Element Ok" when at least
// one buffer arrived since the previous check, and the error
// `status_codes::Error_PipelineProbeIdle` otherwise. The check runs on the
// system clock, independent of the sink's "clock" property.
//
// Threads: buffers and the checks are tasks on the element's scheduler; the
// check timer only posts the check there from the clock's timer thread.

#include <memory>

#include "media_common/buffer.h"
#include "media_common/clock.h"
#include "media_common/element_args.h"
#include "media_common/repeating_timer.h"
#include "media_common/sink_element.h"

namespace dravo::media {

class DebugProbe : public Sink<Buffer> {
 public:
  // Checks on the system clock.
  DebugProbe();
  // Checks on `check_clock` (a synthetic clock in tests).
  explicit DebugProbe(std::shared_ptr<Clock> check_clock);
  ~DebugProbe() override;

 protected:
  void initialize() override;
  void onBuffer(std::shared_ptr<Buffer const> const& buffer) override;

 private:
  void checkActivity();

  bool had_activity_ DRAVO_GUARDED_BY(sequence_checker_) = false;
  std::shared_ptr<Clock> check_clock_;
  std::unique_ptr<RepeatingTimer> check_timer_;
};

std::shared_ptr<Sink<Buffer>> getDebugProbe(ElementArgs const& args);

}  // namespace dravo::media
