#pragma once
// The thin layer between the Video4Linux2 capture code and the kernel.
//
// `V4L2Device` is one opened device node: open/close, ioctl, mmap and a poll
// that a second thread can interrupt. `V4L2System` lists the device nodes
// and makes devices. The capture code is written against these interfaces
// only, so that tests can stand a scripted device in for the kernel;
// `getV4L2System()` is the real one.
//
// Errors are returned as negative errno values, never thrown.
//
// Threads: a device is used by one thread at a time, except `interrupt()`,
// which any thread may call while another waits in `poll()`. A system may be
// used from any thread.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/time.h"

struct v4l2_capability;

namespace dravo::media {

class V4L2Device {
 public:
  virtual ~V4L2Device() = default;

  // 0 or -errno. Opens non-blocking; a device is opened at most once.
  virtual int open(std::string const& path) = 0;
  // Closes if open; mappings must be undone first.
  virtual void close() = 0;
  // 0 or -errno; EINTR is retried inside.
  virtual int ioctl(unsigned long request, void* arg) = 0;
  // The mapping of `length` bytes at `offset` of the device, or null.
  virtual void* mmap(size_t length, int64_t offset) = 0;
  virtual void munmap(void* address, size_t length) = 0;
  // Waits up to `timeout` for a filled buffer: 1 when one is ready, 0 on
  // time-out or interrupt, -errno on failure (-ENODEV when the device is
  // gone).
  virtual int poll(Duration timeout) = 0;
  // Makes the current or the next `poll` return 0 at once.
  virtual void interrupt() = 0;
};

class V4L2System {
 public:
  virtual ~V4L2System() = default;
  // The video device nodes present now ("/dev/video0", ...), sorted.
  virtual std::vector<std::string> listDeviceNodes() = 0;
  virtual std::unique_ptr<V4L2Device> createDevice() = 0;
};

// Asks an opened `device` what it is (VIDIOC_QUERYCAP, into `*caps`): 1
// when it captures video with streaming I/O, 0 when it answers but does
// not, the query's -errno when it fails.
int queryStreamingCapture(V4L2Device& device, v4l2_capability* caps);

// The kernel's devices. Shared, never null.
std::shared_ptr<V4L2System> getV4L2System();

}  // namespace dravo::media
