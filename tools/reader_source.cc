#include "tools/reader_source.h"

#include "common/logging.h"
#include "media_common/task_info.h"

DRAVO_LOGGER("media_tool");

namespace dravo::tool {

namespace {
Duration const kDefaultFrameDuration = Duration::fromNSec(1000000000 / 30);
}  // namespace

ReaderSource::ReaderSource(std::unique_ptr<media::VideoFileReader> reader,
                           std::shared_ptr<media::Clock> clock, std::function<void()> on_end)
    : reader_(std::move(reader)), clock_(std::move(clock)), on_end_(std::move(on_end)) {}

ReaderSource::~ReaderSource() { disconnect_all(); }

void ReaderSource::initialize() { media::Source<media::ImageBuffer>::initialize(); }

void ReaderSource::onPropertyChange(bool first) {
  media::Source<media::ImageBuffer>::onPropertyChange(first);
  if (first) scheduleNext(kDefaultFrameDuration);
}

void ReaderSource::scheduleNext(Duration delay) {
  auto self = std::static_pointer_cast<ReaderSource>(shared_from_this());
  // The first frame's reading decides the base; later ones follow the file's
  // durations exactly, whatever the delivery delay.
  if (next_stamp_ == Time()) next_stamp_ = clock_->getTime() + delay;
  timer_ = clock_->scheduleAtNormalOnly(
      media::ClockTime(clock_->getNormalizedClockTime(), next_stamp_), getScheduler(),
      media::Priority(0, false), std::make_shared<media::SimpleTaskInfo>(getFullName() + " frame"),
      bindWeak(self, &ReaderSource::onTimer));
}

void ReaderSource::onTimer() {
  if (ended_) return;
  Duration duration;
  std::shared_ptr<media::ImageBuffer> frame = reader_->readFrame(&duration);
  if (!frame) {
    ended_ = true;
    LOGF(4, "%s: end of %s after %d frames", getFullName().c_str(), reader_->getFileName().c_str(),
         reader_->getFrameIndex());
    if (on_end_) on_end_();
    return;
  }
  if (duration <= Duration()) duration = kDefaultFrameDuration;
  frame->setStartTimestamp(next_stamp_);
  sendBuffer(frame);
  next_stamp_ = next_stamp_ + duration;
  scheduleNext(duration);
}

std::shared_ptr<ReaderSource> createReaderSource(media::ElementArgs const& args,
                                                 std::unique_ptr<media::VideoFileReader> reader,
                                                 std::shared_ptr<media::Clock> clock,
                                                 std::function<void()> on_end) {
  return media::createElement<ReaderSource>(args, std::move(reader), std::move(clock),
                                            std::move(on_end));
}

}  // namespace dravo::tool
