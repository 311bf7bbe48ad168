#pragma once
// The sources and sinks media-tool can put at the ends of a pipeline, each
// kind one row of a table: what the command line calls it, whether it is
// live (system clock) or a file-like source (fast-forward clock by default),
// and how its element is made.
//
// Sources: "synthetic", "screen[:ID]", "window:ID", "device[:NAME]" or a
// video file path. Outputs: a path ending in ".avi" or ".y4m", or "pnm:DIR".
//
// Functions only; called on the command's thread while the pipeline is
// built.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/sigslot.h"
#include "media_common/clock.h"
#include "media_common/element.h"
#include "media_common/element_args.h"
#include "media_common/pad.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::tool {

enum class SourceKind { SYNTHETIC, SCREEN, WINDOW, DEVICE, FILE };
enum class SinkKind { AVI, Y4M, PNM_DIR };

struct SourceSpec {
  SourceKind kind = SourceKind::SYNTHETIC;
  // The part after "kind:", or the file path.
  std::string argument;
  std::string text;
  bool live = false;
};

struct SinkSpec {
  SinkKind kind = SinkKind::AVI;
  std::string path;
};

// What the command line asks of a source; 0 leaves the source's default.
struct SourceOptions {
  int width = 0;
  int height = 0;
  double fps = 0;
};

// Turns a file source's end-of-file signal into one call of the end
// callback; kept alive with the source. The signal comes on the source's
// scheduler.
class EndWatcher : public sigslot::has_slots<sigslot::multi_threaded_local> {
 public:
  explicit EndWatcher(std::function<void()> on_end) : on_end_(std::move(on_end)) {}
  ~EndWatcher() override { disconnect_all(); }
  void onEnd() {
    if (on_end_) std::exchange(on_end_, nullptr)();
  }

 private:
  std::function<void()> on_end_;
};

struct BuiltSource {
  std::shared_ptr<media::Element> element;
  std::shared_ptr<media::OutputPad<media::ImageBuffer>> pad;
  // Frames per second the source produces (a file's own rate), 0 when
  // unknown.
  double fps = 0;
  std::shared_ptr<EndWatcher> end_watcher;
};

struct BuiltSink {
  std::shared_ptr<media::Element> element;
  std::shared_ptr<media::InputPad<media::ImageBuffer>> pad;
};

// Usage errors (status 2) for texts that name no known kind.
SourceSpec parseSourceSpec(std::string const& text);
SinkSpec parseSinkSpec(std::string const& text);

// The one-line descriptions of the source and output forms, for --help.
std::string sourceFormsHelp();
std::string outputFormsHelp();

// A reader for a video file, chosen by its extension and opened; run-time
// errors (status 1) name the file and the reason.
std::unique_ptr<media::VideoFileReader> openVideoFile(std::string const& path);

// What the first frame of a video file tells: its size and the file's rate
// (0 when the file holds no frame). Run-time errors as for openVideoFile.
struct VideoFileFacts {
  int width = 0;
  int height = 0;
  double fps = 0;
};
VideoFileFacts probeVideoFile(std::string const& path);

// Makes the source element. `on_end` runs (on the source's scheduler) when a
// file source has no more frames.
BuiltSource makeSource(SourceSpec const& spec, SourceOptions const& options,
                       media::ElementArgs const& args, std::shared_ptr<media::Clock> const& clock,
                       std::function<void()> on_end);
// Makes the file sink, ready to write to its path; a positive `fps` is the
// exact rate its headers state (the sink's "frame_rate").
BuiltSink makeFileSink(SinkSpec const& spec, media::ElementArgs const& args, double fps);

}  // namespace dravo::tool
