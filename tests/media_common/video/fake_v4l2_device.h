#pragma once
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
  v4l2_fract interval_{1, 30};

 private:
  friend class FakeV4L2Device;

  // The driver's answer to `request`; -ENOTTY for requests it does not know.
  int answer(unsigned long request, void* arg) {
    auto find = [&](uint32_t fourcc) -> FakeFormat const* {
      for (FakeFormat const& f : formats)
        if (f.fourcc == fourcc) return &f;
      return nullptr;
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
        s->type = f->sizes.empty() ? V4L2_FRMSIZE_TYPE_STEPWISE : V4L2_FRMSIZE_TYPE_DISCRETE;
        if (f->sizes.empty())
          s->stepwise = f->range;
        else
          s->discrete = f->sizes[s->index];
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
      case VIDIOC_S_PARM:
        interval_ = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe;
        return 0;
      case VIDIOC_REQBUFS: {
        uint32_t const count = static_cast<v4l2_requestbuffers*>(arg)->count;
        buffers_.assign(count <= 64 ? count : 0, std::vector<uint8_t>(format_.sizeimage));
        queued_.clear(), done_.clear();
        return 0;
      }
      case VIDIOC_QUERYBUF:
      case VIDIOC_QBUF: {
        auto* b = static_cast<v4l2_buffer*>(arg);
        if (b->index >= buffers_.size()) return -EINVAL;
        if (request == VIDIOC_QBUF) queued_.push_back(b->index);
        b->length = static_cast<uint32_t>(buffers_[b->index].size());
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
      case VIDIOC_STREAMOFF:
        if (!(streaming_ = request == VIDIOC_STREAMON)) queued_.clear(), done_.clear();
        return 0;
    }
    return -ENOTTY;
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool streaming_ = false;
  bool unplugged_ = false;
  bool interrupted_ = false;
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
  void* mmap(size_t length, int64_t offset) override {
    std::lock_guard lock(camera_->mutex_);
    size_t const index = static_cast<size_t>(offset / 4096);
    if (index >= camera_->buffers_.size() || camera_->buffers_[index].size() != length)
      return nullptr;
    ++camera_->mapped_;
    return camera_->buffers_[index].data();
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

}  // namespace dravo::media::v4l2_testing
