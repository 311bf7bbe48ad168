#pragma once
// Reads one PipeWire video node (a screen cast) and turns its pictures into
// IMAGE_BGRX32 frames.
//
// Connects to the remote behind a file descriptor (the one the screen-cast
// portal opens), asks for the node in BGRx, RGBx, BGRA or RGBA with buffers
// in memory (or DMA-BUF that maps linearly), and for each newest picture
// builds a frame with the stream's crop region, row stride and pointer
// metadata applied. The stream ends when its node goes away (sharing
// stopped, compositor gone), when PipeWire fails or goes away, or when the
// stream errs; the reason is kept.
//
// Owner and threads: one thread creates the object, polls `pollFd()` for
// POLLIN, calls `dispatch()` and destroys it; the frame callback is called
// from `dispatch()`. PipeWire's own data thread lives inside and is joined
// by the destructor.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "media_common/video/image_buffer.h"
#include "media_common/video/screencast_frame.h"

struct pw_loop;
struct pw_context;
struct pw_core;
struct pw_stream;
struct pw_registry;
struct pw_buffer;
struct spa_pod;

namespace dravo::media {

class PipeWireStream {
 public:
  using FrameCallback = std::function<void(std::shared_ptr<ImageBuffer const> const&)>;

  // Takes over `fd`. Null (and a reason) when nothing could be set up.
  static std::unique_ptr<PipeWireStream> open(int fd, uint32_t node_id, FrameCallback on_frame,
                                              std::string* reason);
  ~PipeWireStream();
  PipeWireStream(PipeWireStream const&) = delete;
  PipeWireStream& operator=(PipeWireStream const&) = delete;

  int pollFd() const;
  // Runs whatever PipeWire has ready, without blocking.
  void dispatch();
  // True once the stream has ended, with the reason.
  bool ended(std::string* reason) const;

 private:
  struct Listeners;
  PipeWireStream(uint32_t node_id, FrameCallback on_frame);
  bool connect(int fd, std::string* reason);
  void end(std::string const& reason);

  void onStateChanged(int state, char const* error);
  void onParamChanged(uint32_t id, spa_pod const* param);
  void onAddBuffer(pw_buffer* buffer);
  void onRemoveBuffer(pw_buffer* buffer);
  void onProcess();
  void onGlobalRemoved(uint32_t id);
  void onCoreError(uint32_t id, int result, char const* message);
  std::shared_ptr<ImageBuffer const> convert(pw_buffer* buffer);

  uint32_t const node_id_;
  FrameCallback const on_frame_;
  pw_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_registry* registry_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::unique_ptr<Listeners> listeners_;

  bool negotiated_ = false;
  bool connected_ = false;
  int32_t width_ = 0;
  int32_t height_ = 0;
  StreamPixelLayout layout_ = StreamPixelLayout::BGRX;
  StreamCursor cursor_;
  ScreenCastFrameBuilder builder_;
  std::string end_reason_;
  bool ended_ = false;
};

}  // namespace dravo::media
