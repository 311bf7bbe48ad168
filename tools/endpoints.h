#pragma once
// Builds the elements at the ends of a media-tool pipeline from what the
// command line asked for (endpoint_specs.h): the source on the pipeline's
// clock, and the file sink. A video file is opened once, here: the same
// reader tells the command the file's facts and then plays in the source.
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
#include "tools/endpoint_specs.h"

namespace dravo::tool {

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

// A reader for a video file, chosen by its extension and opened; run-time
// errors (status 1) name the file and the reason.
std::unique_ptr<media::VideoFileReader> openVideoFile(std::string const& path);

// What the first frame of a video file tells: its size and the file's rate
// (0 when the file holds no frame).
struct VideoFileFacts {
  int width = 0;
  int height = 0;
  double fps = 0;
};
// Looks without consuming: the reader's next frame is still the first.
VideoFileFacts peekVideoFileFacts(media::VideoFileReader& reader);

// Makes the source on the pipeline's clock; `on_end` is for a source that
// can run out (a file) to call, on its scheduler, when it has.
using SourceFactory = std::function<BuiltSource(
    media::ElementArgs const&, std::shared_ptr<media::Clock> const&, std::function<void()> on_end)>;
// A file source's file is opened now (run-time errors as for openVideoFile)
// and its facts go to `*file_facts` when that is given; the source made later
// plays the same reader.
SourceFactory sourceFactory(SourceSpec const& spec, SourceOptions const& options,
                            VideoFileFacts* file_facts = nullptr);
// Makes the file sink, ready to write to its path; a positive `fps` is the
// exact rate its headers state (the sink's "frame_rate").
BuiltSink makeFileSink(SinkSpec const& spec, media::ElementArgs const& args, double fps);

}  // namespace dravo::tool
