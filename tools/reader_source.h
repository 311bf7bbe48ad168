#pragma once
// ReaderSource: plays the frames of a `VideoFileReader` into a pipeline.
//
// Frames leave in file order, as I420, each stamped with the clock reading
// at which it is sent: the first one period after the first property-change
// pass, every next one after the display duration of the frame before. When
// the reader has no more frames the end callback runs once. On a fast-forward
// clock the file plays at CPU speed and the same file gives the same frames
// and stamps every time.
//
// Owner: the pipeline runner, through `createReaderSource`. Threads: frames
// are read and sent in tasks on the element's scheduler; the end callback
// runs there too.

#include <functional>
#include <memory>

#include "media_common/clock.h"
#include "media_common/source_element.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::tool {

class ReaderSource : public media::Source<media::ImageBuffer> {
 public:
  ReaderSource(std::unique_ptr<media::VideoFileReader> reader, std::shared_ptr<media::Clock> clock,
               std::function<void()> on_end);
  ~ReaderSource() override;

 protected:
  void initialize() override;
  void onPropertyChange(bool first) override;

 private:
  void scheduleNext(Duration delay);
  void onTimer();

  std::unique_ptr<media::VideoFileReader> reader_;
  std::shared_ptr<media::Clock> clock_;
  std::function<void()> on_end_;
  media::ClockTimerHandle timer_;
  Time next_stamp_;
  bool ended_ = false;
};

// Default display duration when a file gives none: 1/30 s.
std::shared_ptr<ReaderSource> createReaderSource(media::ElementArgs const& args,
                                                 std::unique_ptr<media::VideoFileReader> reader,
                                                 std::shared_ptr<media::Clock> clock,
                                                 std::function<void()> on_end);

}  // namespace dravo::tool
