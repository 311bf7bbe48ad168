#include "media_common/video/v4l2_capture.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <cstring>

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/video/v4l2_frame.h"

DRAVO_LOGGER("video_source");

// An ioctl request and its name, for `control`.
#define V4L2_REQUEST(request) request, #request

namespace dravo::media {

namespace {

constexpr uint32_t kBufferCount = 4;
// The most buffers a driver may hand us, whatever it claims.
constexpr uint32_t kMaxBuffers = 32;
Duration const kPollInterval = Duration::fromMSec(250);

std::string describe(char const* what, int error) {
  return stringPrintf("%s failed: %s", what, std::strerror(-error));
}

// Issues the ioctl `request` on `device`; a failure is described, under the
// request's name, in `*error`.
bool control(V4L2Device& device, unsigned long request, char const* name, void* arg,
             std::string* error) {
  int const result = device.ioctl(request, arg);
  if (result < 0) *error = describe(name, result);
  return result >= 0;
}

v4l2_buffer mappedBuffer(uint32_t index) {
  v4l2_buffer buffer{};
  buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  buffer.memory = V4L2_MEMORY_MMAP;
  buffer.index = index;
  return buffer;
}

v4l2_requestbuffers mappedBuffersRequest(uint32_t count) {
  v4l2_requestbuffers request{};
  request.count = count;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  return request;
}

}  // namespace

V4L2Capture::V4L2Capture(std::unique_ptr<V4L2Device> device) : device_(std::move(device)) {}

V4L2Capture::~V4L2Capture() { stop(); }

bool V4L2Capture::open(std::string const& path, V4L2Request const& request, std::string* error) {
  stop();
  if (int const result = device_->open(path); result < 0) {
    *error = describe(("Opening " + path).c_str(), result);
    return false;
  }
  opened_ = true;

  v4l2_capability caps;
  if (int const result = queryStreamingCapture(*device_, &caps); result <= 0) {
    *error = result == 0 ? path + " is no streaming capture device"
                         : describe("VIDIOC_QUERYCAP", result);
    stop();
    return false;
  }

  std::optional<V4L2Mode> chosen = chooseV4L2Mode(enumerateV4L2Modes(*device_, request), request);
  if (!chosen) {
    *error = path + " offers no usable capture format";
    stop();
    return false;
  }

  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = static_cast<uint32_t>(chosen->width);
  format.fmt.pix.height = static_cast<uint32_t>(chosen->height);
  format.fmt.pix.pixelformat = chosen->fourcc;
  format.fmt.pix.field = V4L2_FIELD_NONE;
  if (!control(*device_, V4L2_REQUEST(VIDIOC_S_FMT), &format, error)) {
    stop();
    return false;
  }
  // The driver may adjust the size; it must keep a format we can deliver.
  if (pixelFormatForFourcc(format.fmt.pix.pixelformat) == ImageBuffer::IMAGE_UNKNOWN ||
      format.fmt.pix.width == 0 || format.fmt.pix.height == 0 || format.fmt.pix.width > 16384 ||
      format.fmt.pix.height > 16384) {
    *error = "Driver set an unusable format " + fourccName(format.fmt.pix.pixelformat);
    stop();
    return false;
  }
  mode_ = *chosen;
  mode_.fourcc = format.fmt.pix.pixelformat;
  mode_.width = static_cast<int>(format.fmt.pix.width);
  mode_.height = static_cast<int>(format.fmt.pix.height);
  stride_ = format.fmt.pix.bytesperline;

  v4l2_streamparm parm{};
  parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  parm.parm.capture.timeperframe.numerator = chosen->interval_num;
  parm.parm.capture.timeperframe.denominator = chosen->interval_den;
  // Not every driver lets the rate be set; it then streams at its own.
  if (device_->ioctl(VIDIOC_S_PARM, &parm) == 0 && parm.parm.capture.timeperframe.numerator &&
      parm.parm.capture.timeperframe.denominator) {
    mode_.interval_num = parm.parm.capture.timeperframe.numerator;
    mode_.interval_den = parm.parm.capture.timeperframe.denominator;
  }

  if (!mapBuffers(error)) {
    stop();
    return false;
  }
  LOGF(4, "Opened %s: %s %dx%d at %.2f fps", path.c_str(), fourccName(mode_.fourcc).c_str(),
       mode_.width, mode_.height, static_cast<double>(mode_.fps()));
  return true;
}

bool V4L2Capture::mapBuffers(std::string* error) {
  v4l2_requestbuffers request = mappedBuffersRequest(kBufferCount);
  if (!control(*device_, V4L2_REQUEST(VIDIOC_REQBUFS), &request, error)) return false;
  if (request.count == 0 || request.count > kMaxBuffers) {
    *error = stringPrintf("Driver offered %u buffers", request.count);
    return false;
  }
  for (uint32_t index = 0; index < request.count; ++index) {
    v4l2_buffer buffer = mappedBuffer(index);
    if (!control(*device_, V4L2_REQUEST(VIDIOC_QUERYBUF), &buffer, error)) return false;
    void* address = buffer.length ? device_->mmap(buffer.length, buffer.m.offset) : nullptr;
    if (!address) {
      *error = stringPrintf("Mapping buffer %u failed", index);
      return false;
    }
    buffers_.push_back({address, buffer.length});
  }
  return true;
}

void V4L2Capture::unmapBuffers() {
  for (MappedBuffer const& buffer : buffers_) device_->munmap(buffer.address, buffer.length);
  buffers_.clear();
  if (opened_) {
    // Frees the driver's buffers; harmless when none were requested.
    v4l2_requestbuffers request = mappedBuffersRequest(0);
    device_->ioctl(VIDIOC_REQBUFS, &request);
  }
}

bool V4L2Capture::start(FrameCallback on_frame, FailureCallback on_failure, std::string* error) {
  if (!opened_ || thread_) {
    *error = "Capture device not opened";
    return false;
  }
  for (uint32_t index = 0; index < buffers_.size(); ++index) {
    v4l2_buffer buffer = mappedBuffer(index);
    if (!control(*device_, V4L2_REQUEST(VIDIOC_QBUF), &buffer, error)) return false;
  }
  int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (!control(*device_, V4L2_REQUEST(VIDIOC_STREAMON), &type, error)) return false;
  streaming_ = true;
  on_frame_ = std::move(on_frame);
  on_failure_ = std::move(on_failure);
  stopping_.store(false);
  thread_ = std::make_unique<Thread>();
  thread_->setName("V4L2 capture");
  thread_->setPriority(thread_priorities::kHigh);
  thread_->start([this] { captureLoop(); });
  return true;
}

void V4L2Capture::stop() {
  if (thread_) {
    stopping_.store(true);
    device_->interrupt();
    thread_->join();
    thread_.reset();
  }
  if (streaming_) {
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    device_->ioctl(VIDIOC_STREAMOFF, &type);
    streaming_ = false;
  }
  unmapBuffers();
  if (opened_) device_->close();
  opened_ = false;
}

void V4L2Capture::captureLoop() {
  while (!stopping_.load()) {
    int const ready = device_->poll(kPollInterval);
    if (ready < 0) {
      fail(describe("Waiting for a frame", ready));
      return;
    }
    if (ready == 0) continue;
    if (!takeFrame()) return;
  }
}

bool V4L2Capture::takeFrame() {
  v4l2_buffer buffer = mappedBuffer(0);
  if (int const result = device_->ioctl(VIDIOC_DQBUF, &buffer); result < 0) {
    if (result == -EAGAIN) return true;
    fail(describe("VIDIOC_DQBUF", result));
    return false;
  }
  if (buffer.index >= buffers_.size()) {
    fail(stringPrintf("Driver returned buffer %u of %zu", buffer.index, buffers_.size()));
    return false;
  }
  MappedBuffer const& mapped = buffers_[buffer.index];
  std::shared_ptr<ImageBuffer> image;
  if (!(buffer.flags & V4L2_BUF_FLAG_ERROR)) {
    size_t const bytes = std::min<size_t>(buffer.bytesused, mapped.length);
    image = imageFromV4L2Buffer(mode_.fourcc, mode_.width, mode_.height, stride_,
                                static_cast<uint8_t const*>(mapped.address), bytes);
    if (!image) LOGF(3, "Dropping a short or broken %s frame", fourccName(mode_.fourcc).c_str());
  }
  if (std::string error; !control(*device_, V4L2_REQUEST(VIDIOC_QBUF), &buffer, &error)) {
    fail(error);
    return false;
  }
  if (image && on_frame_) on_frame_(image);
  return true;
}

void V4L2Capture::fail(std::string const& message) {
  LOGF(2, "Capture stopped: %s", message.c_str());
  if (on_failure_) on_failure_(message);
}

}  // namespace dravo::media

#undef V4L2_REQUEST
