#pragma once
// A scripted stand-in for the kernel's Video4Linux2 devices.
//
// `FakeV4L2System` holds cameras by node path; each `FakeCamera` describes
// what its driver answers (capabilities, formats, sizes, intervals) and, once
// a capture device streams from it, lets the test fill buffers
// (`pushFrame`) or pull the plug (`unplug`: every later call fails with
// ENODEV). Buffers are plain memory "mapped" by handing out their address.
//
// Threads: the test thread scripts and pushes; the capture code calls the
// device from its own threads. One mutex per camera guards its state.

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "media_common/video/v4l2_device.h"

namespace dravo::media::v4l2_testing {

struct FakeFormat {
  uint32_t fourcc = V4L2_PIX_FMT_YUYV;
  // Discrete sizes, or one stepwise range when `stepwise` is set.
  std::vector<std::pair<uint32_t, uint32_t>> sizes;
  bool stepwise = false;
  v4l2_frmsize_stepwise range{};
  // Discrete intervals (seconds per frame: numerator, denominator).
  std::vector<std::pair<uint32_t, uint32_t>> intervals{{1, 30}};
};

class FakeCamera {
 public:
  // Driver description; set before the camera is used.
  std::string card = "Fake camera";
  std::string bus_info = "usb-fake-1";
  uint32_t device_caps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
  std::vector<FakeFormat> formats;
  bool openable = true;
  uint32_t row_padding = 0;      // extra bytes at the end of every row
  bool endless_formats = false;  // answers every ENUM_FMT index

  // Fills the next queued buffer with `bytes` and reports `bytes_used`
  // (default: bytes.size()). False when not streaming or none is queued.
  bool pushFrame(std::vector<uint8_t> const& bytes, int64_t bytes_used = -1) {
    std::lock_guard lock(mutex_);
    if (!streaming_ || queued_.empty() || unplugged_) return false;
    uint32_t const index = queued_.front();
    queued_.pop_front();
    std::vector<uint8_t>& buffer = buffers_[index];
    std::memcpy(buffer.data(), bytes.data(), std::min(buffer.size(), bytes.size()));
    done_.push_back({index, static_cast<uint32_t>(bytes_used < 0 ? bytes.size() : bytes_used)});
    changed_.notify_all();
    return true;
  }
  void unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    changed_.notify_all();
  }
  // Waits (up to 30 s) until the camera streams with a buffer queued.
  bool waitUntilStreaming() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30),
                             [&] { return streaming_ && !queued_.empty(); });
  }
  // One piece of the driver's state, read under its lock.
  template <typename T>
  T get(T FakeCamera::*field) {
    std::lock_guard lock(mutex_);
    return this->*field;
  }

  // The driver's state, guarded by `mutex_`.
  bool open_ = false;
  bool streaming_ = false;
  size_t mapped_ = 0;
  v4l2_pix_format format_{};
  v4l2_fract interval_{1, 30};

 private:
  friend class FakeV4L2Device;

  std::mutex mutex_;
  std::condition_variable changed_;
  bool unplugged_ = false;
  bool interrupted_ = false;
  std::vector<std::vector<uint8_t>> buffers_;
  std::deque<uint32_t> queued_;
  std::deque<std::pair<uint32_t, uint32_t>> done_;  // index, bytes used
};

class FakeV4L2Device : public V4L2Device {
 public:
  explicit FakeV4L2Device(std::map<std::string, std::shared_ptr<FakeCamera>> cameras)
      : cameras_(std::move(cameras)) {}
  ~FakeV4L2Device() override { close(); }

  int open(std::string const& path) override {
    auto it = cameras_.find(path);
    if (it == cameras_.end()) return -ENOENT;
    std::lock_guard lock(it->second->mutex_);
    if (!it->second->openable || it->second->unplugged_) return -EACCES;
    camera_ = it->second;
    camera_->open_ = true;
    return 0;
  }
  void close() override {
    if (!camera_) return;
    std::lock_guard lock(camera_->mutex_);
    camera_->open_ = camera_->streaming_ = false;
    camera_.reset();
  }
  int ioctl(unsigned long request, void* arg) override {
    if (!camera_) return -EBADF;
    std::lock_guard lock(camera_->mutex_);
    FakeCamera& c = *camera_;
    if (c.unplugged_) return -ENODEV;
    switch (request) {
      case VIDIOC_QUERYCAP: {
        auto* caps = static_cast<v4l2_capability*>(arg);
        *caps = {};
        // Full-length names stay unterminated, as drivers may leave them.
        std::memcpy(caps->card, c.card.data(), std::min(c.card.size(), sizeof(caps->card)));
        std::memcpy(caps->bus_info, c.bus_info.data(),
                    std::min(c.bus_info.size(), sizeof(caps->bus_info)));
        caps->capabilities = c.device_caps | V4L2_CAP_DEVICE_CAPS;
        caps->device_caps = c.device_caps;
        return 0;
      }
      case VIDIOC_ENUM_FMT: {
        auto* f = static_cast<v4l2_fmtdesc*>(arg);
        uint32_t const index = c.endless_formats ? 0 : f->index;
        if (index >= c.formats.size()) return -EINVAL;
        f->pixelformat = c.formats[index].fourcc;
        return 0;
      }
      case VIDIOC_ENUM_FRAMESIZES: {
        auto* s = static_cast<v4l2_frmsizeenum*>(arg);
        FakeFormat const* format = find(c, s->pixel_format);
        if (!format || s->index >= (format->stepwise ? 1 : format->sizes.size())) return -EINVAL;
        s->type = format->stepwise ? V4L2_FRMSIZE_TYPE_STEPWISE : V4L2_FRMSIZE_TYPE_DISCRETE;
        if (format->stepwise)
          s->stepwise = format->range;
        else
          s->discrete = {format->sizes[s->index].first, format->sizes[s->index].second};
        return 0;
      }
      case VIDIOC_ENUM_FRAMEINTERVALS: {
        auto* i = static_cast<v4l2_frmivalenum*>(arg);
        FakeFormat const* format = find(c, i->pixel_format);
        if (!format || i->index >= format->intervals.size()) return -EINVAL;
        i->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        i->discrete = {format->intervals[i->index].first, format->intervals[i->index].second};
        return 0;
      }
      case VIDIOC_S_FMT: {
        auto& pix = static_cast<v4l2_format*>(arg)->fmt.pix;
        pix.bytesperline =
            pix.width * (pix.pixelformat == V4L2_PIX_FMT_YUYV ? 2 : 1) + c.row_padding;
        pix.sizeimage = pix.bytesperline * pix.height * 2;
        c.format_ = pix;
        return 0;
      }
      case VIDIOC_S_PARM:
        c.interval_ = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
        return 0;
      case VIDIOC_REQBUFS: {
        uint32_t const count = static_cast<v4l2_requestbuffers*>(arg)->count;
        c.buffers_.clear();
        c.queued_.clear();
        c.done_.clear();
        if (count > 0 && count <= 64)
          c.buffers_.assign(count, std::vector<uint8_t>(std::max(c.format_.sizeimage, 16u)));
        return 0;
      }
      case VIDIOC_QUERYBUF:
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= c.buffers_.size()) return -EINVAL;
        if (request == VIDIOC_QBUF) {
          c.queued_.push_back(b->index);
          c.changed_.notify_all();
        }
        b->length = static_cast<uint32_t>(c.buffers_[b->index].size());
        b->m.offset = b->index * 4096;
        return 0;
      }
      case VIDIOC_DQBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (c.done_.empty()) return -EAGAIN;
        std::tie(b->index, b->bytesused) = c.done_.front();
        c.done_.pop_front();
        return 0;
      }
      case VIDIOC_STREAMON:
      case VIDIOC_STREAMOFF:
        c.streaming_ = request == VIDIOC_STREAMON;
        if (!c.streaming_) c.queued_.clear(), c.done_.clear();
        c.changed_.notify_all();
        return 0;
      default:
        return -ENOTTY;
    }
  }
  void* mmap(size_t length, int64_t offset) override {
    if (!camera_) return nullptr;
    std::lock_guard lock(camera_->mutex_);
    size_t const index = static_cast<size_t>(offset / 4096);
    if (index >= camera_->buffers_.size() || camera_->buffers_[index].size() != length)
      return nullptr;
    ++camera_->mapped_;
    return camera_->buffers_[index].data();
  }
  void munmap(void* address, size_t) override {
    if (!camera_ || !address) return;
    std::lock_guard lock(camera_->mutex_);
    --camera_->mapped_;
  }
  int poll(Duration timeout) override {
    if (!camera_) return -EBADF;
    std::unique_lock lock(camera_->mutex_);
    FakeCamera& c = *camera_;
    c.changed_.wait_for(lock, std::chrono::nanoseconds(timeout.toNSec()),
                        [&] { return c.unplugged_ || c.interrupted_ || !c.done_.empty(); });
    if (c.unplugged_) return -ENODEV;
    if (std::exchange(c.interrupted_, false)) return 0;
    return c.done_.empty() ? 0 : 1;
  }
  void interrupt() override {
    if (!camera_) return;
    std::lock_guard lock(camera_->mutex_);
    camera_->interrupted_ = true;
    camera_->changed_.notify_all();
  }

 private:
  static FakeFormat const* find(FakeCamera const& c, uint32_t fourcc) {
    for (FakeFormat const& f : c.formats)
      if (f.fourcc == fourcc) return &f;
    return nullptr;
  }

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

}  // namespace dravo::media::v4l2_testing
