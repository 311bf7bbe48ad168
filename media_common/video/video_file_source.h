#pragma once
// VideoFileSource: plays a video file (AVI or Y4M, chosen by extension) into
// a pipeline at the file's own frame rate, optionally in a loop.
//
// Each step reads one frame, stamps it with the element's clock and sends it
// on "out"; the next step comes one frame duration later on that clock, so a
// fast-forward or synthetic clock plays a file without waiting. Frames leave
// as IMAGE_I420 (IMAGE_QV1 unchanged).
//
// Properties (under the element's node): "filename" (empty: nothing plays,
// and the source looks again every 200 ms), "loop" (false), "clock" (the
// system clock unless set), and "priority" of the sent frames. A file that
// cannot be opened sets the status to `status_codes::Error_FileCantOpen`
// with "Could not open file <name>" and is retried every 200 ms; an opened
// file sets `status_codes::Ok` with "Reading from <name>". A changed
// "filename" is picked up at the next step. At the end of a file the source
// starts it again when "loop" is set (at once, or after 200 ms when it sent no
// frame since it was opened, so that an empty file, or one whose every frame
// fails to convert, is not reopened in a tight loop); otherwise it emits
// `end_of_file_signal_` and polls every 200 ms, emitting it at each poll.
//
// Threads: the steps run as tasks on the element's scheduler (the clock only
// posts them) and hold no reference to the element: a step due after the
// element is gone does nothing. `getEof` and `getFrameIndex` may be called
// from any thread. `end_of_file_signal_` is emitted on the element's
// scheduler.

#include <memory>
#include <string>

#include "common/cached_property.h"
#include "common/mutex.h"
#include "common/sigslot.h"
#include "common/time.h"
#include "media_common/clock.h"
#include "media_common/source_element.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::media {

class VideoFileSource : public Source<ImageBuffer> {
 public:
  VideoFileSource();
  ~VideoFileSource() override;

  // The reader's end-of-file flag and frame index; false and 0 while no file
  // is open.
  bool getEof() const;
  int getFrameIndex() const;

  sigslot::signal0<sigslot::multi_threaded_local> end_of_file_signal_;

 protected:
  void initialize() override;
  void onPropertyChange(bool first) override;
  void finalize() override;

  // One step: (re)opens the file if needed and sends the next frame; returns
  // the delay until the next step.
  Duration playIteration();
  void playLoop();
  // Schedules `playLoop` after `delay` on the element's clock.
  void callPlayLoop(Duration const& delay);

 private:
  // The name the reader was opened with; emptied to force a reopen.
  std::string current_file_name_;
  CachedProperty<std::string> filename_;
  CachedProperty<bool> loop_;
  std::shared_ptr<Clock> clock_;
  mutable Mutex reader_mutex_;
  // Replaced only on the element's scheduler (or in finalize, when no step
  // runs), under the mutex; read there without it, and elsewhere under it.
  // Frames are read without the mutex: the reader guards its own end-of-file
  // flag and frame index.
  std::unique_ptr<VideoFileReader> reader_;
  // Frames sent since the reader was opened; on the element's scheduler.
  int frames_sent_ = 0;
};

// A new source playing `filename`, initialised; the first frame is sent at
// its first property-change pass.
std::shared_ptr<VideoFileSource> createVideoFileSource(ElementArgs const& args,
                                                       std::string const& filename);

}  // namespace dravo::media
