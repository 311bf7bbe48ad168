#pragma once
// PipelineRunner: builds and runs the pipeline of one media-tool command,
//
//   source -> [scale] -> limit -> [encode] -> sink
//
// on one trivial scheduler. File-like sources (files, the synthetic source)
// run on a fast-forward clock unless real time is asked for, so they go at
// CPU speed and the same command gives the same frames, stamps and files;
// live sources run on the system clock. The run ends when the frame limit or
// the time span is reached, the source ends, `requestStop` is called or
// Ctrl-C arrives; the sink then gets every frame that was passed before the
// elements are released (file sinks complete their files).
//
// Owner: the command, on its own thread: `build`, then `run` (blocks).
// `requestStop` may be called from any thread. A live source whose status
// turns to an error ends the run; the result's `error` then names the
// source and the status message.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/sigslot.h"
#include "media_common/clock.h"
#include "media_common/scheduler.h"
#include "tools/endpoints.h"
#include "tools/frame_limiter.h"
#include "tools/frame_scaler.h"
#include "tools/jpeg_encoder.h"
#include "tools/pipeline_graph.h"

namespace dravo::tool {

struct RunSettings {
  SourceSpec source;
  SourceOptions source_options;
  int64_t max_frames = -1;
  // 0: no limit. Converted to frames when the source's rate is known and
  // the clock is the fast-forward one.
  double max_seconds = 0;
  // Frames are shrunk to this size (0: unchanged) between source and sink.
  int scale_width = 0;
  int scale_height = 0;
  // Frames are compressed to Motion-JPEG at this quality (1-100) before the
  // sink; 0: they reach the sink as they are.
  int jpeg_quality = 0;
  bool realtime = false;
  // The sink follows the pipeline clock instead of taking frames at once.
  bool sink_follows_clock = false;
  bool progress = false;
};

// Makes the sink; `source_fps` is the source's frame rate, 0 when unknown.
using SinkFactory = std::function<BuiltSink(media::ElementArgs const&, double source_fps)>;

struct ElementStats {
  std::string name;
  std::string type;
  int64_t handled = 0;
  int64_t dropped = 0;
};

struct RunResult {
  bool interrupted = false;
  // The signal that interrupted the run (SIGINT, SIGTERM), 0 if none.
  int signal = 0;
  int64_t frames = 0;
  double wall_seconds = 0;
  std::vector<ElementStats> stats;
  // The pipeline as it stood at the end of the run.
  PipelineDescription graph;
  // "SOURCE: reason" when a live source failed; the run is then a failure.
  std::string error;
};

class PipelineRunner {
 public:
  PipelineRunner(RunSettings settings, SinkFactory make_sink);
  ~PipelineRunner();

  // Makes the elements and links them; ToolError on failure.
  void build();
  PipelineDescription describe() const;
  RunResult run();
  void requestStop();

  std::shared_ptr<media::Clock> const& clock() const { return clock_; }
  // Frames the sink will get: the limit, or -1 when unknown.
  int64_t expectedFrames() const { return expected_frames_; }

 private:
  struct Stage {
    std::string name;
    std::shared_ptr<media::Element> element;
  };

  RunSettings settings_;
  SinkFactory make_sink_;
  std::shared_ptr<media::Scheduler> scheduler_;
  std::shared_ptr<media::Clock> clock_;
  std::shared_ptr<PropertyNode> root_;
  BuiltSource source_;
  std::shared_ptr<FrameScaler> scaler_;
  std::shared_ptr<FrameLimiter> limiter_;
  std::shared_ptr<JpegEncoder> encoder_;
  BuiltSink sink_;
  std::vector<Stage> stages_;
  media::LinkHandles links_;
  int64_t expected_frames_ = -1;

  // Watches a live source's status; an error ends the run as a failure.
  struct StatusWatcher : sigslot::has_slots<sigslot::multi_threaded_local> {
    ~StatusWatcher() override { disconnect_all(); }
  };
  void onSourceStatus();

  std::mutex mutex_;
  std::condition_variable finished_changed_;
  bool finished_ = false;
  std::string source_error_;
  StatusWatcher status_watcher_;
};

}  // namespace dravo::tool
