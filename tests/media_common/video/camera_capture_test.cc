// Camera capture: the device source's reopen watchdog, and Video4Linux2
// capture against a scripted fake driver (the mode chosen from what the
// driver lists, the device probe, and the capture source streaming, failing
// and reopening).

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <tuple>

#include "media_common/video/v4l2_device_probe.h"
#include "media_common/video/v4l2_frame.h"
#include "media_common/video/v4l2_modes.h"
#include "media_common/video/v4l2_video_source.h"
#include "tests/media_common/video/capture_source_test_fixture.h"

namespace dravo::media {
namespace {

// A scripted stand-in for the kernel's Video4Linux2 devices.
//
// `FakeV4L2System` holds cameras by node path; each `FakeCamera` describes
// what its driver answers (capabilities, formats, sizes, intervals) and, once
// a capture device streams from it, lets the test fill buffers
// (`pushFrame`) or pull the plug (`unplug`: every later call fails with
// ENODEV). Buffers are plain memory "mapped" by handing out their address.
// Rows carry 16 bytes of padding.
//
// Threads: the test thread scripts and pushes; the capture code calls the
// device from its own threads. One mutex per camera guards its state.

struct FakeFormat {
  uint32_t fourcc = V4L2_PIX_FMT_YUYV;
  std::vector<v4l2_frmsize_discrete> sizes;  // none: `range` is enumerated
  v4l2_frmsize_stepwise range{};
  std::vector<v4l2_fract> intervals{{1, 30}};  // seconds per frame
};

class FakeCamera {
 public:
  // Driver description; set before the camera is used.
  std::string card = "Fake camera", bus_info = "usb-fake-1";
  uint32_t device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  std::vector<FakeFormat> formats;
  bool openable = true;

  // Fills the next queued buffer with `bytes` and reports `bytes_used`
  // (default: bytes.size()). False when not streaming or none is queued.
  bool pushFrame(std::vector<uint8_t> const& bytes, int64_t bytes_used = -1) {
    std::lock_guard lock(mutex_);
    if (!streaming_ || queued_.empty()) return false;
    std::vector<uint8_t>& buffer = buffers_[queued_.front()];
    std::memcpy(buffer.data(), bytes.data(), std::min(buffer.size(), bytes.size()));
    done_.push_back({queued_.front(), uint32_t(bytes_used < 0 ? bytes.size() : bytes_used)});
    queued_.pop_front();
    changed_.notify_all();
    return true;
  }
  void unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
  }

  // The driver's state, guarded by `mutex_`; the test reads it once the
  // capture code is done with it (streaming, or closed on the test thread).
  bool open_ = false;
  size_t mapped_ = 0;
  v4l2_pix_format format_{};

 private:
  friend class FakeV4L2Device;

  // The driver's answer to `request`; -ENOTTY for requests it does not know.
  int answer(unsigned long request, void* arg) {
    auto find = [&](uint32_t fourcc) {
      auto it =
          std::find_if(formats.begin(), formats.end(), [&](auto& f) { return f.fourcc == fourcc; });
      return it == formats.end() ? nullptr : &*it;
    };
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = {};  // full-length names stay unterminated, as drivers may leave them
        std::memcpy(caps->card, card.data(), std::min(card.size(), sizeof(caps->card)));
        std::memcpy(caps->bus_info, bus_info.data(), std::min<size_t>(bus_info.size(), 32));
        caps->capabilities = (caps->device_caps = device_caps) | V4L2_CAP_DEVICE_CAPS;
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto* f = static_cast<v4l2_fmtdesc*>(arg);
        if (f->index >= formats.size()) return -EINVAL;
        f->pixelformat = formats[f->index].fourcc;
        return 0;
      }
      case VIDIOC_ENUM_FRAMESIZES: {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        FakeFormat const* f = find(s->pixel_format);
        if (!f || s->index >= std::max<size_t>(f->sizes.size(), 1)) return -EINVAL;
        if (f->sizes.empty())
          s->type = V4L2_FRMSIZE_TYPE_STEPWISE, s->stepwise = f->range;
        else
          s->type = V4L2_FRMSIZE_TYPE_DISCRETE, s->discrete = f->sizes[s->index];
        return 0;
      }
      case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* i = static_cast<v4l2_frmivalenum*>(arg);
        FakeFormat const* f = find(i->pixel_format);
        if (!f || i->index >= f->intervals.size()) return -EINVAL;
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = f->intervals[i->index];
        return 0;
      }
      case VIDIOC_S_FMT: {
        auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
        pix.bytesperline = pix.width * (pix.pixelformat == V4L2_PIX_FMT_YUYV ? 2 : 1) + 16;
        pix.sizeimage = pix.bytesperline * pix.height * 2;
        format_ = pix;
        return 0;
      }
      case VIDIOC_REQBUFS: {
        uint32_t const count = static_cast<v4l2_requestbuffers*>(arg)->count;
        buffers_.assign(count <= 64 ? count : 0, std::vector<uint8_t>(format_.sizeimage));
        queued_.clear(), done_.clear();
        return 0;
      }
      case VIDIOC_QUERYBUF:
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (request == VIDIOC_QBUF) queued_.push_back(b->index);
        b->length = static_cast<uint32_t>(buffers_.at(b->index).size());
        b->m.offset = b->index * 4096;
        return 0;
      }
      case VIDIOC_DQBUF: {
        if (done_.empty()) return -EAGAIN;
        auto* b = static_cast<v4l2_buffer*>(arg);
        std::tie(b->index, b->bytesused) = done_.front();
        done_.pop_front();
        return 0;
      }
      case VIDIOC_STREAMON:
        streaming_ = true;
        return 0;
    }
    return -ENOTTY;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool streaming_ = false, unplugged_ = false, interrupted_ = false;
  std::vector<std::vector<uint8_t>> buffers_;
  std::deque<uint32_t> queued_;
  std::deque<std::pair<uint32_t, uint32_t>> done_;  // index, bytes used
};

// One open of a camera; every call takes the camera's lock.
class FakeV4L2Device : public V4L2Device {
 public:
  explicit FakeV4L2Device(std::map<std::string, std::shared_ptr<FakeCamera>> cameras)
      : cameras_(std::move(cameras)) {}
  ~FakeV4L2Device() override { close(); }

  int open(std::string const& path) override {
    auto it = cameras_.find(path);
    if (it == cameras_.end()) return -ENOENT;
    std::lock_guard lock(it->second->mutex_);
    if (!it->second->openable) return -EACCES;
    (camera_ = it->second)->open_ = true;
    return 0;
  }
  void close() override {
    if (!camera_) return;
    std::lock_guard lock(camera_->mutex_);
    camera_->open_ = camera_->streaming_ = false;
    camera_.reset();
  }
  int ioctl(unsigned long request, void* arg) override {
    std::lock_guard lock(camera_->mutex_);
    if (camera_->unplugged_) return -ENODEV;
    camera_->changed_.notify_all();
    return camera_->answer(request, arg);
  }
  void* mmap(size_t, int64_t offset) override {
    std::lock_guard lock(camera_->mutex_);
    ++camera_->mapped_;
    return camera_->buffers_.at(size_t(offset / 4096)).data();
  }
  void munmap(void*, size_t) override {
    std::lock_guard lock(camera_->mutex_);
    --camera_->mapped_;
  }
  int poll(Duration timeout) override {
    std::unique_lock lock(camera_->mutex_);
    FakeCamera& c = *camera_;
    c.changed_.wait_for(lock, std::chrono::nanoseconds(timeout.toNSec()),
                        [&] { return c.unplugged_ || c.interrupted_ || !c.done_.empty(); });
    if (c.unplugged_) return -ENODEV;
    return !std::exchange(c.interrupted_, false) && !c.done_.empty();
  }
  void interrupt() override {
    std::lock_guard lock(camera_->mutex_);
    camera_->interrupted_ = true;
    camera_->changed_.notify_all();
  }

 private:
  std::map<std::string, std::shared_ptr<FakeCamera>> cameras_;
  std::shared_ptr<FakeCamera> camera_;
};

// The cameras by node path. Cameras are added before devices are created.
class FakeV4L2System : public V4L2System {
 public:
  std::shared_ptr<FakeCamera> addCamera(std::string const& path) {
    return cameras_[path] = std::make_shared<FakeCamera>();
  }
  std::vector<std::string> listDeviceNodes() override {
    std::vector<std::string> nodes;
    for (auto const& [path, camera] : cameras_) nodes.push_back(path);
    return nodes;
  }
  std::unique_ptr<V4L2Device> createDevice() override {
    return std::make_unique<FakeV4L2Device>(cameras_);
  }

 private:
  std::map<std::string, std::shared_ptr<FakeCamera>> cameras_;
};

constexpr Time kStart = Time::fromNSec(11000000000000);  // 11000 s

// Records every reopen with the clock time it came at; frames and openings
// are reported by the test.
class ScriptedDeviceSource : public DeviceVideoSource {
 public:
  using DeviceVideoSource::frameArrived;
  using DeviceVideoSource::takeReopenRequest;

  std::vector<Time> reopens;

 protected:
  void reopenDevice() override { reopens.push_back(getClock()->getTime()); }
};

// A scripted device source on the capture fixture's synthetic clock.
class DeviceVideoSourceTest : public CaptureSourceTest<ScriptedDeviceSource> {
 protected:
  DeviceVideoSourceTest() : CaptureSourceTest(kStart) {}
};

// A named device is reopened after 10 s without frames, twice, and then
// given up; a frame between reopens allows two more.
TEST_F(DeviceVideoSourceTest, NamedDeviceIsReopenedTwiceThenGivesUp) {
  source_ = createElement<ScriptedDeviceSource>(cameraArgs("cam0", 640, 480));
  settle();
  EXPECT_TRUE(source_->takeReopenRequest());  // the first opening
  runFor(Duration::fromSec(22));
  ASSERT_EQ(2u, source_->reopens.size());
  EXPECT_NEAR(10.0, (source_->reopens[0] - kStart).toSec(), 1.01);
  EXPECT_NEAR(20.0, (source_->reopens[1] - kStart).toSec(), 2.01);
  source_->frameArrived();
  runFor(Duration::fromSec(25));
  EXPECT_EQ(4u, source_->reopens.size());
  EXPECT_EQ(status_codes::Ok, statusCode());
  runFor(Duration::fromSec(12));
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  EXPECT_EQ("Max retry count of 2 reached", source_->getStatus()->getStatusMessage());
  // The failed watchdog idles: no more reopens.
  runFor(Duration::fromSec(30));
  EXPECT_EQ(4u, source_->reopens.size());
}

// The modes a fake camera with `formats` lists for `request`.
std::vector<V4L2Mode> modesOf(std::vector<FakeFormat> formats, V4L2Request const& request = {}) {
  FakeV4L2System system;
  system.addCamera("/dev/video0")->formats = std::move(formats);
  auto device = system.createDevice();
  EXPECT_EQ(0, device->open("/dev/video0"));
  return enumerateV4L2Modes(*device, request);
}

// Size first, then rate, then the asked-for format; stepwise sizes snap
// onto their steps within the range.
TEST(V4L2ModesTest, NearestModeWinsAndFormatBreaksTies) {
  std::vector<FakeFormat> const formats = {
      FakeFormat{V4L2_PIX_FMT_YUYV, {{640, 480}}, {}, {{1, 30}, {1, 10}}},
      FakeFormat{V4L2_PIX_FMT_H264, {{1280, 720}}, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_NV12, {{1280, 720}, {640, 480}}, {}, {{1, 10}}},
      FakeFormat{V4L2_PIX_FMT_MJPEG, {{1280, 720}}, {}, {{1, 30}}},
      FakeFormat{V4L2_PIX_FMT_YUV420, {}, {160, 320, 16, 120, 240, 8}, {{1, 5}}},
  };
  for (V4L2Mode const& mode : modesOf(formats)) EXPECT_NE(uint32_t{V4L2_PIX_FMT_H264}, mode.fourcc);
  struct Case {
    int width, height;
    float fps;
    ImageBuffer::PixelFormat preferred;
    uint32_t fourcc;
    int got_width, got_height;
  } const cases[] = {
      {1280, 720, 30, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_MJPEG, 1280, 720},
      {640, 480, 10, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_NV12, 640, 480},
      {640, 480, 10, ImageBuffer::IMAGE_MJPEG, V4L2_PIX_FMT_YUYV, 640, 480},
      {200, 150, 5, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_YUV420, 208, 152},
      {10, 10, 5, ImageBuffer::IMAGE_CONSTRAINED_I420, V4L2_PIX_FMT_YUV420, 160, 120},
  };
  for (auto const& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << "@" << c.fps);
    V4L2Request const request{c.width, c.height, c.fps, c.preferred};
    auto mode = chooseV4L2Mode(modesOf(formats, request), request);
    ASSERT_TRUE(mode);
    EXPECT_EQ(std::tuple(c.fourcc, c.got_width, c.got_height, c.fps),
              std::tuple(mode->fourcc, mode->width, mode->height, mode->fps()));
  }
}

TEST(V4L2ModesTest, HostileDriverAnswersAreBoundedOrSkipped) {
  FakeFormat const hostile{V4L2_PIX_FMT_YUYV, {{0, 480}, {99999, 10}, {320, 240}}, {}, {{0, 0}}};
  auto sane = modesOf({hostile});
  ASSERT_EQ(1u, sane.size());
  EXPECT_EQ(320, sane[0].width);
  EXPECT_FLOAT_EQ(30, sane[0].fps());  // no usable interval: assume 30 fps
  EXPECT_LE(modesOf(std::vector<FakeFormat>(10000, hostile)).size(), 64u);
  EXPECT_FALSE(chooseV4L2Mode({}, V4L2Request{}));
}

// A V4L2 source on one fake YUYV camera with padded rows.
class V4L2VideoSourceTest : public CaptureSourceTest<V4L2VideoSource> {
 protected:
  V4L2VideoSourceTest() : CaptureSourceTest(kStart) {
    camera_->bus_info = "usb-0000:00:14.0-2";
    camera_->formats = {
        FakeFormat{V4L2_PIX_FMT_YUYV, {{320, 240}, {640, 480}}, {}, {{1, 30}, {1, 15}}}};
  }

  std::shared_ptr<FakeV4L2System> system_ = std::make_shared<FakeV4L2System>();
  std::shared_ptr<FakeCamera> camera_ = system_->addCamera("/dev/video3");
};

// A missing or locked camera sets the open status until a reopen finds
// it. A frame too short for the mode is dropped, and one claiming more than
// its buffer holds is read no further than the buffer; streaming goes on.
// An unplugged camera ends in a status the watchdog leaves alone; disabling
// closes the device and unmaps its buffers.
TEST_F(V4L2VideoSourceTest, OpensStreamsTheChosenModeAndFailsWhenUnplugged) {
  attach(createV4L2VideoSource(cameraArgs("usb-elsewhere", 320, 240), system_));
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  EXPECT_EQ("Camera usb-elsewhere not found", source_->getStatus()->getStatusMessage());
  camera_->openable = false;
  source_->getPropertyNode("device")->setValue(PropertyValue("usb-0000:00:14.0-2"));
  settle();
  EXPECT_EQ(status_codes::Error_FileCantOpen, statusCode());
  camera_->openable = true;
  source_->getPropertyNode("reopen")->setValue(PropertyValue(true));
  settle();
  std::vector<uint8_t> bytes((640 + 16) * 240);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i % 7);
  ASSERT_TRUE(eventually([&] { return camera_->pushFrame(bytes, 100); }));
  EXPECT_EQ(320u, camera_->format_.width);
  ASSERT_TRUE(camera_->pushFrame(bytes, 1 << 30));
  generator_.advanceClock(Duration::fromMSec(70));
  ASSERT_TRUE(camera_->pushFrame(bytes));
  ASSERT_TRUE(eventually([&] { return sink_->count() >= 2; }));
  ASSERT_EQ(2u, sink_->count());  // the short frame is gone
  auto frame = sink_->frames()[1];
  EXPECT_EQ(kStart + Duration::fromMSec(70), frame->getStartTimestamp());
  for (int y : {1, 239})
    EXPECT_EQ(0, std::memcmp(frame->getPixelAddress(0, y, 0), bytes.data() + y * (640 + 16), 640))
        << y;

  camera_->unplug();
  ASSERT_TRUE(eventually([&] { return statusCode() < 0; }));
  EXPECT_NE(std::string::npos,
            source_->getStatus()->getStatusMessage().find("Camera usb-0000:00:14.0-2 stopped"));
  generator_.advanceClock(Duration::fromSec(30));
  settle();
  EXPECT_EQ(status_codes::Error_VideoCaptureNoFrames, statusCode());
  source_->getPropertyNode("enabled")->setValue(PropertyValue(false));
  settle();
  EXPECT_FALSE(camera_->open_);
  EXPECT_EQ(0u, camera_->mapped_);
}

// Driver buffers of each format become images (YUYV: see the source's test
// above); a buffer too short for the mode or a format we cannot deliver
// gives none.
TEST(V4L2FrameTest, BuffersBecomeImagesUnlessTooShort) {
  // 4x2 NV12 and planar YUV: luma 0..7, one chroma row.
  std::vector<uint8_t> const nv12 = {0, 1, 2, 3, 4, 5, 6, 7, 100, 200, 101, 201};
  std::vector<uint8_t> const planar = {0, 1, 2, 3, 4, 5, 6, 7, 100, 101, 200, 201};
  for (auto [fourcc, bytes] :
       {std::pair{V4L2_PIX_FMT_NV12, &nv12}, {V4L2_PIX_FMT_YUV420, &planar}}) {
    auto i420 = imageFromV4L2Buffer(fourcc, 4, 2, 4, bytes->data(), bytes->size());
    ASSERT_TRUE(i420);
    EXPECT_EQ(ImageBuffer::IMAGE_I420, i420->format().pixel_format_);
    EXPECT_EQ(std::tuple(7, 101, 200),
              std::tuple(*i420->getPixelAddress(3, 1, 0), *i420->getPixelAddress(1, 0, 1),
                         *i420->getPixelAddress(0, 0, 2)));
    EXPECT_FALSE(imageFromV4L2Buffer(fourcc, 4, 2, 4, bytes->data(), 11));
  }
  // JPEG bytes are copied, with the mode's size.
  std::vector<uint8_t> const jpeg = {0xFF, 0xD8, 1, 2, 3, 0xFF, 0xD9};
  auto mjpeg = imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), jpeg.size());
  ASSERT_TRUE(mjpeg);
  EXPECT_EQ(ImageBuffer::IMAGE_MJPEG, mjpeg->format().pixel_format_);
  EXPECT_EQ(320, mjpeg->width());
  EXPECT_EQ(jpeg, std::vector<uint8_t>(mjpeg->data(), mjpeg->data() + mjpeg->size()));
  EXPECT_NE(jpeg.data(), mjpeg->data());
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 320, 240, 0, jpeg.data(), 0));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_MJPEG, 0, 240, 0, jpeg.data(), jpeg.size()));
  EXPECT_FALSE(imageFromV4L2Buffer(V4L2_PIX_FMT_H264, 320, 240, 0, jpeg.data(), jpeg.size()));
}

// Nodes sharing a bus position (metadata nodes, twins) are one device; the
// card name is read no further than its field.
TEST(V4L2ProbeTest, ListsCaptureDevicesOnceByBusPosition) {
  FakeV4L2System system;
  auto first = system.addCamera("/dev/video0");
  first->card = "Front";
  first->bus_info = "usb-a";
  system.addCamera("/dev/video1")->device_caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
  system.addCamera("/dev/video2")->bus_info = "usb-a";
  auto second = system.addCamera("/dev/video4");
  second->card = std::string(40, 'N');
  second->bus_info = "";
  system.addCamera("/dev/video5")->openable = false;

  auto list = probeV4L2Devices(system);
  ASSERT_EQ(2u, list->numDevices());
  EXPECT_EQ(DeviceList::Entry("usb-a", "Front"), *list->begin());
  EXPECT_EQ(DeviceList::Entry("/dev/video4", std::string(32, 'N')), *++list->begin());
}

}  // namespace
}  // namespace dravo::media
