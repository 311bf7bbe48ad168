#include "media_common/video/video_file_source.h"

#include "common/logging.h"
#include "common/status.h"

DRAVO_LOGGER("video");

namespace dravo::media {
namespace {

// How often a source without a playable file looks again.
constexpr Duration kIdleInterval = Duration::fromMSec(200);

}  // namespace

VideoFileSource::VideoFileSource() = default;

VideoFileSource::~VideoFileSource() { disconnect_all(); }

void VideoFileSource::initialize() {
  Source<ImageBuffer>::initialize();
  filename_.bind(getPropertyChangeSignal(), getPropertyNode("filename"), std::string(),
                 "Video file to play (.avi or .y4m).");
  loop_.bind(getPropertyChangeSignal(), getPropertyNode("loop"), false,
             "Start the file again after its last frame.");
  clock_ = initializeClockProperty("clock", getSystemClock());
}

void VideoFileSource::onPropertyChange(bool first) {
  Source<ImageBuffer>::onPropertyChange(first);
  if (first) callPlayLoop(playIteration());
}

void VideoFileSource::finalize() {
  {
    MutexLock lock(reader_mutex_);
    reader_.reset();
  }
  Element::finalize();
}

bool VideoFileSource::getEof() const {
  MutexLock lock(reader_mutex_);
  return reader_ ? reader_->getEof() : false;
}

int VideoFileSource::getFrameIndex() const {
  MutexLock lock(reader_mutex_);
  return reader_ ? reader_->getFrameIndex() : 0;
}

Duration VideoFileSource::playIteration() {
  Duration delay = kIdleInterval;
  std::string const filename = *filename_;
  if (!filename.empty() && (!reader_ || current_file_name_ != filename)) {
    // Opening reads headers: done before taking the lock, as is deleting the
    // old reader, so that others asking for the frame index never wait on
    // file work. Only this thread replaces the reader.
    std::unique_ptr<VideoFileReader> swapped(VideoFileReader::open(filename));
    {
      MutexLock lock(reader_mutex_);
      reader_.swap(swapped);
    }
    swapped.reset();  // the old reader
    frames_sent_ = 0;
    // Status listeners may ask for the frame index: no lock held here.
    if (!reader_) {
      setStatus(status_codes::Error_FileCantOpen, "Could not open file " + filename);
    } else {
      current_file_name_ = filename;
      setStatus(status_codes::Ok, "Reading from " + filename);
    }
  }
  if (!reader_) return delay;
  Duration duration;
  std::shared_ptr<ImageBuffer> frame = reader_->readFrame(&duration);
  if (frame) {
    ++frames_sent_;
    frame->setStartTimestamp(clock_->getTime());
    sendBuffer(frame);
    return duration;
  }
  if (*loop_) {
    current_file_name_.clear();
    // A file that gave nothing to send since it was opened (empty, or every
    // frame failed to convert) would otherwise be reopened at once, forever,
    // without the clock moving on.
    return frames_sent_ > 0 ? Duration() : delay;
  }
  end_of_file_signal_();
  return delay;
}

void VideoFileSource::playLoop() { callPlayLoop(playIteration()); }

void VideoFileSource::callPlayLoop(Duration const& delay) {
  // The timer's handle is dropped: steps are never cancelled, and the weak
  // binding makes a step after the element's end do nothing.
  clock_->scheduleIn(
      delay, getScheduler(), Priority(*priority_, Time::now()), nullptr,
      WeakFunction<void(Clock::Event)>(weak_from_this(), [this](Clock::Event) { playLoop(); }),
      Clock::WaitUntilUnfrozen);
}

std::shared_ptr<VideoFileSource> createVideoFileSource(ElementArgs const& args,
                                                       std::string const& filename) {
  ElementArgs named = args;
  named.property("filename", PropertyValue(filename));
  return createElement<VideoFileSource>(named);
}

}  // namespace dravo::media
