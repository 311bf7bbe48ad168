#include "media_common/video/screencast_session.h"

#include <libyuv/scale_argb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/logging.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/pipewire_stream.h"

DRAVO_LOGGER("screencast_session");

namespace dravo::media {

namespace {

// How long the loop sleeps at most between looks at its deadlines.
constexpr int kPollMilliseconds = 250;

}  // namespace

ScreenCastSession::ScreenCastSession(ScreenCastSourceType type,
                                     ScreenCastSessionOptions const& options)
    : type_(type), options_(options) {
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd_ < 0) {
    finish(std::string("Could not start screen capture: ") + std::strerror(errno));
    return;
  }
  thread_.setName("screencast");
  thread_.start([this] { run(); });
}

ScreenCastSession::~ScreenCastSession() {
  if (thread_.isStarted()) {
    uint64_t const one = 1;
    // The thread polls this descriptor in every wait.
    [[maybe_unused]] ssize_t written = write(stop_fd_, &one, sizeof(one));
    thread_.join();
  }
  if (stop_fd_ >= 0) close(stop_fd_);
}

bool ScreenCastSession::stopping() const {
  pollfd stop{stop_fd_, POLLIN, 0};
  return poll(&stop, 1, 0) == 1;
}

ScreenCastSession::State ScreenCastSession::state() const {
  MutexLock lock(mutex_);
  return state_;
}

ScreenCastSession::State ScreenCastSession::waitForFrame(uint64_t seen, Duration timeout) const {
  Time const deadline = Time::now() + timeout;
  MutexLock lock(mutex_);
  while (state_.frames <= seen && !state_.ended && Time::now() < deadline)
    changed_.timedWaitAbsolute(lock, deadline);
  return state_;
}

void ScreenCastSession::publish(std::shared_ptr<ImageBuffer const> const& frame) {
  MutexLock lock(mutex_);
  state_.frame = frame;
  ++state_.frames;
  changed_.notifyAll();
}

void ScreenCastSession::finish(std::string const& reason) {
  MutexLock lock(mutex_);
  if (state_.ended) return;
  state_.ended = true;
  state_.reason = reason;
  state_.frame.reset();
  changed_.notifyAll();
}

void ScreenCastSession::run() {
  ScreenCastPortal portal(stop_fd_, options_.portal);
  ScreenCastGrant grant;
  std::string reason;
  if (!portal.start(type_, &grant, &reason)) {
    if (!stopping()) LOGF(3, "Screen cast not started: %s", reason.c_str());
    return finish(reason);
  }
  auto stream = PipeWireStream::open(
      grant.pipewire_fd, grant.node_id,
      [this](std::shared_ptr<ImageBuffer const> const& frame) { publish(frame); }, &reason);
  if (!stream) {
    LOGF(3, "Screen cast stream not opened: %s", reason.c_str());
    return finish(reason);
  }
  Time const first_frame_deadline = Time::now() + options_.first_frame_timeout;
  for (;;) {
    portal.dispatch();
    stream->dispatch();
    if (stream->ended(&reason) || portal.closed(&reason)) break;
    bool const waiting = state().frames == 0;
    if (waiting && Time::now() >= first_frame_deadline) {
      reason = "No picture came from the shared screen stream";
      break;
    }
    pollfd fds[3] = {
        {stop_fd_, POLLIN, 0}, {portal.busFd(), POLLIN, 0}, {stream->pollFd(), POLLIN, 0}};
    int timeout = kPollMilliseconds;
    if (waiting)
      timeout = static_cast<int>(std::clamp<int64_t>(
          (first_frame_deadline - Time::now()).toNSec() / 1000000 + 1, 0, kPollMilliseconds));
    if (poll(fds, 3, timeout) < 0 && errno != EINTR) {
      reason = std::string("Screen capture failed: ") + std::strerror(errno);
      break;
    }
    if (fds[0].revents) {
      reason = "Screen capture stopped";
      break;
    }
  }
  LOGF(4, "Screen cast ended: %s", reason.c_str());
  // The stream goes before the portal session that granted it.
  stream.reset();
  finish(reason);
}

std::shared_ptr<ImageBuffer> getPortalScreenshot(std::string const& id, Size const& size,
                                                 std::shared_ptr<Status> status,
                                                 ScreenCastSessionOptions const& options) {
  auto const type = parsePortalId(id);
  if (!type) {
    LOGF(2, "Selected a window that can't be parsed: %s", id.c_str());
    return nullptr;
  }
  ScreenCastSession session(*type, options);
  // The session ends by itself when the portal or the stream fails; this
  // bound only guards against a wait that outlives all of its own.
  Duration const bound = options.portal.request_timeout * 4 + options.portal.start_timeout +
                         options.first_frame_timeout + Duration::fromSec(10.0);
  ScreenCastSession::State const state = session.waitForFrame(0, bound);
  if (!state.frame) {
    std::string const reason = state.ended ? state.reason : "No picture came in time";
    if (status) status->setStatus(status_codes::Error_ScreenCaptureAPI, reason);
    return nullptr;
  }
  ImageBuffer const& frame = *state.frame;
  Size const out = fitScreenshotSize({frame.width(), frame.height()}, size);
  std::shared_ptr<ImageBuffer> image;
  if (out == Size(frame.width(), frame.height())) {
    image = ImageBufferCache::sharePixels(frame);
  } else {
    image = std::make_shared<ImageBuffer>(out.width(), out.height(), ImageBuffer::IMAGE_BGRX32);
    // Point sampling, as for X11 pictures: every pixel is a screen pixel.
    libyuv::ARGBScale(frame.data(), frame.planes()[0].stride_, frame.width(), frame.height(),
                      image->data(), image->planes()[0].stride_, out.width(), out.height(),
                      libyuv::kFilterNone);
  }
  if (status) status->setStatus(status_codes::Ok, "Element Ok");
  return image;
}

}  // namespace dravo::media
