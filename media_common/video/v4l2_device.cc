#include "media_common/video/v4l2_device.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace dravo::media {

namespace {

// Repeats a system call that a signal interrupted; its result, or -errno.
template <typename Call>
int retryInterrupted(Call call) {
  int result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result < 0 ? -errno : result;
}

class KernelV4L2Device : public V4L2Device {
 public:
  KernelV4L2Device() : wake_fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
  ~KernelV4L2Device() override {
    close();
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }

  int open(std::string const& path) override {
    if (fd_ >= 0) return -EBUSY;
    int const fd =
        retryInterrupted([&] { return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC); });
    if (fd < 0) return fd;
    fd_ = fd;
    return 0;
  }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int ioctl(unsigned long request, void* arg) override {
    if (fd_ < 0) return -EBADF;
    int const result = retryInterrupted([&] { return ::ioctl(fd_, request, arg); });
    return result < 0 ? result : 0;
  }

  void* mmap(size_t length, int64_t offset) override {
    if (fd_ < 0) return nullptr;
    void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                           static_cast<off_t>(offset));
    return address == MAP_FAILED ? nullptr : address;
  }

  void munmap(void* address, size_t length) override {
    if (address) ::munmap(address, length);
  }

  int poll(Duration timeout) override {
    if (fd_ < 0) return -EBADF;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    int const nfds = wake_fd_ >= 0 ? 2 : 1;
    int const ms = static_cast<int>(std::clamp<int64_t>(timeout.toMSec(), 0, 60000));
    int result = ::poll(fds, nfds, ms);
    if (result < 0) return errno == EINTR ? 0 : -errno;
    if (nfds == 2 && (fds[1].revents & POLLIN)) {
      uint64_t count;
      [[maybe_unused]] ssize_t ignored = ::read(wake_fd_, &count, sizeof(count));
      return 0;
    }
    if (result == 0) return 0;
    // A removed device reports POLLERR (or POLLHUP) without data.
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      return (fds[0].revents & POLLIN) ? 1 : -ENODEV;
    }
    return (fds[0].revents & POLLIN) ? 1 : 0;
  }

  void interrupt() override {
    if (wake_fd_ < 0) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wake_fd_, &one, sizeof(one));
  }

 private:
  int fd_ = -1;
  int const wake_fd_;
};

class KernelV4L2System : public V4L2System {
 public:
  std::vector<std::string> listDeviceNodes() override {
    std::vector<std::string> nodes;
    DIR* dir = ::opendir("/dev");
    if (!dir) return nodes;
    while (dirent* entry = ::readdir(dir)) {
      if (std::strncmp(entry->d_name, "video", 5) == 0)
        nodes.push_back(std::string("/dev/") + entry->d_name);
    }
    ::closedir(dir);
    // video2 before video10.
    std::sort(nodes.begin(), nodes.end(), [](std::string const& a, std::string const& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return nodes;
  }

  std::unique_ptr<V4L2Device> createDevice() override {
    return std::make_unique<KernelV4L2Device>();
  }
};

}  // namespace

int queryStreamingCapture(V4L2Device& device, v4l2_capability* caps) {
  *caps = v4l2_capability{};
  if (int const result = device.ioctl(VIDIOC_QUERYCAP, caps); result < 0) return result;
  uint32_t const device_caps =
      (caps->capabilities & V4L2_CAP_DEVICE_CAPS) ? caps->device_caps : caps->capabilities;
  bool const streaming_capture =
      (device_caps & V4L2_CAP_VIDEO_CAPTURE) && (device_caps & V4L2_CAP_STREAMING);
  return streaming_capture ? 1 : 0;
}

std::shared_ptr<V4L2System> getV4L2System() {
  static std::shared_ptr<V4L2System> const system = std::make_shared<KernelV4L2System>();
  return system;
}

}  // namespace dravo::media
