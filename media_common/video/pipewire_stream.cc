#include "media_common/video/pipewire_stream.h"

#include <linux/dma-buf.h>
#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "common/logging.h"
#include "common/string_util.h"
#include "common/time.h"

DRAVO_LOGGER("pipewire_stream");

namespace dravo::media {

namespace {

constexpr int32_t kMaxSide = 16384;

constexpr size_t cursorMetaSize(size_t width, size_t height) {
  return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + width * height * 4;
}

// A DMA-BUF picture mapped for reading, kept with its buffer.
struct DmaBufMapping {
  void* address = nullptr;
  size_t length = 0;
};

std::optional<StreamPixelLayout> layoutOf(uint32_t format) {
  switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
      return StreamPixelLayout::BGRX;
    case SPA_VIDEO_FORMAT_RGBx:
      return StreamPixelLayout::RGBX;
    case SPA_VIDEO_FORMAT_BGRA:
      return StreamPixelLayout::BGRA;
    case SPA_VIDEO_FORMAT_RGBA:
      return StreamPixelLayout::RGBA;
    default:
      return std::nullopt;
  }
}

logging::ThrottledLoggingFilter& pictureWarnings() {
  static logging::ThrottledLoggingFilter filter(Duration::fromSec(10.0));
  return filter;
}

}  // namespace

struct PipeWireStream::Listeners {
  pw_stream_events stream_events{};
  pw_registry_events registry_events{};
  pw_core_events core_events{};
  spa_hook stream{};
  spa_hook registry{};
  spa_hook core{};
};

PipeWireStream::PipeWireStream(uint32_t node_id, FrameCallback on_frame)
    : node_id_(node_id),
      on_frame_(std::move(on_frame)),
      listeners_(std::make_unique<Listeners>()) {}

std::unique_ptr<PipeWireStream> PipeWireStream::open(int fd, uint32_t node_id,
                                                     FrameCallback on_frame, std::string* reason) {
  static std::once_flag initialized;
  std::call_once(initialized, [] { pw_init(nullptr, nullptr); });
  std::unique_ptr<PipeWireStream> stream(new PipeWireStream(node_id, std::move(on_frame)));
  if (!stream->connect(fd, reason)) return nullptr;
  return stream;
}

bool PipeWireStream::connect(int fd, std::string* reason) {
  loop_ = pw_loop_new(nullptr);
  if (!loop_) {
    close(fd);
    *reason = "Could not create a PipeWire loop";
    return false;
  }
  pw_loop_enter(loop_);
  context_ = pw_context_new(loop_, nullptr, 0);
  if (!context_) {
    close(fd);
    *reason = stringPrintf("Could not create a PipeWire context: %s", std::strerror(errno));
    return false;
  }
  // The core owns the descriptor from here on, also when connecting fails.
  core_ = pw_context_connect_fd(context_, fd, nullptr, 0);
  if (!core_) {
    *reason = stringPrintf("Could not connect to PipeWire: %s", std::strerror(errno));
    return false;
  }
  listeners_->core_events.version = PW_VERSION_CORE_EVENTS;
  listeners_->core_events.error = [](void* self, uint32_t id, int, int result,
                                     char const* message) {
    static_cast<PipeWireStream*>(self)->onCoreError(id, result, message);
  };
  pw_core_add_listener(core_, &listeners_->core, &listeners_->core_events, this);

  registry_ = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
  listeners_->registry_events.version = PW_VERSION_REGISTRY_EVENTS;
  listeners_->registry_events.global_remove = [](void* self, uint32_t id) {
    static_cast<PipeWireStream*>(self)->onGlobalRemoved(id);
  };
  pw_registry_add_listener(registry_, &listeners_->registry, &listeners_->registry_events, this);

  stream_ = pw_stream_new(
      core_, "media_common screen capture",
      pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                        PW_KEY_MEDIA_ROLE, "Screen", PW_KEY_NODE_DONT_RECONNECT, "true", nullptr));
  if (!stream_) {
    *reason = stringPrintf("Could not create a PipeWire stream: %s", std::strerror(errno));
    return false;
  }
  auto& events = listeners_->stream_events;
  events.version = PW_VERSION_STREAM_EVENTS;
  events.state_changed = [](void* self, pw_stream_state, pw_stream_state state, char const* error) {
    static_cast<PipeWireStream*>(self)->onStateChanged(state, error);
  };
  events.param_changed = [](void* self, uint32_t id, spa_pod const* param) {
    static_cast<PipeWireStream*>(self)->onParamChanged(id, param);
  };
  events.add_buffer = [](void* self, pw_buffer* buffer) {
    static_cast<PipeWireStream*>(self)->onAddBuffer(buffer);
  };
  events.remove_buffer = [](void* self, pw_buffer* buffer) {
    static_cast<PipeWireStream*>(self)->onRemoveBuffer(buffer);
  };
  events.process = [](void* self) { static_cast<PipeWireStream*>(self)->onProcess(); };
  pw_stream_add_listener(stream_, &listeners_->stream, &events, this);

  uint8_t storage[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
  spa_rectangle size_default = SPA_RECTANGLE(1920, 1080);
  spa_rectangle size_min = SPA_RECTANGLE(1, 1);
  spa_rectangle size_max = SPA_RECTANGLE(kMaxSide, kMaxSide);
  spa_fraction rate_default = SPA_FRACTION(0, 1);
  spa_fraction rate_min = SPA_FRACTION(0, 1);
  spa_fraction rate_max = SPA_FRACTION(1000, 1);
  // No modifiers are offered: a DMA-BUF producer then sends plain linear
  // buffers or memory.
  auto const* format = static_cast<spa_pod const*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
      SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw),
      SPA_FORMAT_VIDEO_format,
      SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_RGBx,
                             SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBA),
      SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size_default, &size_min, &size_max),
      SPA_FORMAT_VIDEO_framerate,
      SPA_POD_CHOICE_RANGE_Fraction(&rate_default, &rate_min, &rate_max)));
  int const result = pw_stream_connect(
      stream_, PW_DIRECTION_INPUT, node_id_,
      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
      &format, 1);
  if (result < 0) {
    *reason =
        stringPrintf("Could not connect to PipeWire node %u: %s", node_id_, std::strerror(-result));
    return false;
  }
  return true;
}

PipeWireStream::~PipeWireStream() {
  if (stream_) pw_stream_destroy(stream_);
  if (registry_) {
    spa_hook_remove(&listeners_->registry);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry_));
  }
  if (core_) {
    spa_hook_remove(&listeners_->core);
    pw_core_disconnect(core_);
  }
  if (context_) pw_context_destroy(context_);
  if (loop_) {
    pw_loop_leave(loop_);
    pw_loop_destroy(loop_);
  }
}

int PipeWireStream::pollFd() const { return pw_loop_get_fd(loop_); }

void PipeWireStream::dispatch() { pw_loop_iterate(loop_, 0); }

bool PipeWireStream::ended(std::string* reason) const {
  if (ended_) *reason = end_reason_;
  return ended_;
}

void PipeWireStream::end(std::string const& reason) {
  if (ended_) return;
  ended_ = true;
  end_reason_ = reason;
  LOGF(4, "Stream of node %u ended: %s", node_id_, reason.c_str());
}

void PipeWireStream::onCoreError(uint32_t id, int result, char const* message) {
  LOGF(3, "PipeWire error on object %u: %s (%s)", id, message ? message : "",
       std::strerror(-result));
  if (id != PW_ID_CORE) return;
  end(result == -EPIPE ? std::string("Lost the connection to PipeWire")
                       : stringPrintf("PipeWire failed: %s", message ? message : ""));
}

void PipeWireStream::onGlobalRemoved(uint32_t id) {
  if (id == node_id_) end("The shared screen stream ended");
}

void PipeWireStream::onStateChanged(int state, char const* error) {
  LOGF(5, "Stream state %s", pw_stream_state_as_string(static_cast<pw_stream_state>(state)));
  switch (state) {
    case PW_STREAM_STATE_ERROR:
      end(stringPrintf("The PipeWire stream failed: %s", error ? error : "unknown error"));
      break;
    case PW_STREAM_STATE_UNCONNECTED:
      // The session manager takes our node away once its target is gone.
      if (connected_) end("The shared screen stream ended");
      break;
    case PW_STREAM_STATE_PAUSED:
    case PW_STREAM_STATE_STREAMING:
      connected_ = true;
      break;
    default:
      break;
  }
}

void PipeWireStream::onParamChanged(uint32_t id, spa_pod const* param) {
  if (id != SPA_PARAM_Format || !param) return;
  uint32_t media_type = 0;
  uint32_t media_subtype = 0;
  spa_video_info_raw info{};
  if (spa_format_parse(param, &media_type, &media_subtype) < 0 ||
      media_type != SPA_MEDIA_TYPE_video || media_subtype != SPA_MEDIA_SUBTYPE_raw ||
      spa_format_video_raw_parse(param, &info) < 0) {
    end("The PipeWire stream offered no usable video format");
    return;
  }
  auto const layout = layoutOf(info.format);
  if (!layout || info.size.width == 0 || info.size.height == 0 || info.size.width > kMaxSide ||
      info.size.height > kMaxSide) {
    end(stringPrintf("The PipeWire stream offered an unusable format (%u, %ux%u)", info.format,
                     info.size.width, info.size.height));
    return;
  }
  layout_ = *layout;
  width_ = static_cast<int32_t>(info.size.width);
  height_ = static_cast<int32_t>(info.size.height);
  negotiated_ = true;
  LOGF(4, "Stream of node %u: %dx%d, format %u", node_id_, width_, height_, info.format);

  uint8_t storage[1024];
  spa_pod_builder builder = SPA_POD_BUILDER_INIT(storage, sizeof(storage));
  spa_pod const* params[3];
  params[0] = static_cast<spa_pod const*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
      SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr) |
                               (1 << SPA_DATA_DmaBuf))));
  params[1] = static_cast<spa_pod const*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size, SPA_POD_Int(sizeof(spa_meta_region))));
  params[2] = static_cast<spa_pod const*>(spa_pod_builder_add_object(
      &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
      SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
      SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(64, 64), cursorMetaSize(1, 1),
                               cursorMetaSize(256, 256))));
  pw_stream_update_params(stream_, params, 3);
}

void PipeWireStream::onAddBuffer(pw_buffer* buffer) {
  spa_buffer* spa = buffer->buffer;
  if (spa->n_datas < 1) return;
  spa_data& data = spa->datas[0];
  if (data.type != SPA_DATA_DmaBuf || data.data || data.fd < 0) return;
  size_t const length = size_t{data.mapoffset} + data.maxsize;
  void* address = mmap(nullptr, length, PROT_READ, MAP_SHARED, static_cast<int>(data.fd), 0);
  if (address == MAP_FAILED) {
    LOGF(3, "Could not map a DMA-BUF picture: %s", std::strerror(errno));
    return;
  }
  buffer->user_data = new DmaBufMapping{address, length};
}

void PipeWireStream::onRemoveBuffer(pw_buffer* buffer) {
  auto* mapping = static_cast<DmaBufMapping*>(buffer->user_data);
  if (!mapping) return;
  munmap(mapping->address, mapping->length);
  delete mapping;
  buffer->user_data = nullptr;
}

void PipeWireStream::onProcess() {
  // Only the newest picture counts; every buffer's pointer news does.
  pw_buffer* newest = nullptr;
  bool cursor_news = false;
  while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream_)) {
    spa_buffer* spa = buffer->buffer;
    if (spa_meta const* meta = spa_buffer_find_meta(spa, SPA_META_Cursor))
      cursor_news |= cursor_.update(meta->data, meta->size);
    bool const picture = spa->n_datas > 0 && spa->datas[0].chunk && spa->datas[0].chunk->size > 0 &&
                         !(spa->datas[0].chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
    if (!picture) {
      pw_stream_queue_buffer(stream_, buffer);
      continue;
    }
    if (newest) pw_stream_queue_buffer(stream_, newest);
    newest = buffer;
  }
  std::shared_ptr<ImageBuffer const> frame;
  if (newest) {
    frame = convert(newest);
    pw_stream_queue_buffer(stream_, newest);
  } else if (cursor_news) {
    frame = builder_.redrawCursor(cursor_);
  }
  if (frame) on_frame_(frame);
}

std::shared_ptr<ImageBuffer const> PipeWireStream::convert(pw_buffer* buffer) {
  if (!negotiated_) return nullptr;
  spa_buffer* spa = buffer->buffer;
  spa_data const& data = spa->datas[0];
  auto const* mapping = static_cast<DmaBufMapping const*>(buffer->user_data);
  uint8_t const* base = static_cast<uint8_t const*>(data.data);
  if (!base && mapping) base = static_cast<uint8_t const*>(mapping->address) + data.mapoffset;
  if (!base || data.maxsize == 0) {
    LOGF_FILTERED(pictureWarnings(), 3, "Skipping a picture that is not mapped (type %u)",
                  data.type);
    return nullptr;
  }
  uint32_t const offset = data.chunk->offset % data.maxsize;
  uint32_t const size = std::min(data.chunk->size, data.maxsize - offset);
  StreamPicture picture;
  picture.data = base + offset;
  picture.size = size;
  picture.width = width_;
  picture.height = height_;
  picture.stride = data.chunk->stride;
  picture.layout = layout_;
  if (auto const* crop = static_cast<spa_meta_region const*>(
          spa_buffer_find_meta_data(spa, SPA_META_VideoCrop, sizeof(spa_meta_region)))) {
    if (spa_meta_region_is_valid(crop))
      picture.crop =
          StreamRect{crop->region.position.x, crop->region.position.y,
                     static_cast<int32_t>(std::min<uint32_t>(crop->region.size.width, kMaxSide)),
                     static_cast<int32_t>(std::min<uint32_t>(crop->region.size.height, kMaxSide))};
  }
  bool const dma_buf = mapping && !data.data;
  if (dma_buf) {
    dma_buf_sync sync{DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ};
    ioctl(static_cast<int>(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
  }
  char const* why = nullptr;
  auto frame = builder_.build(picture, cursor_, &why);
  if (dma_buf) {
    dma_buf_sync sync{DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ};
    ioctl(static_cast<int>(data.fd), DMA_BUF_IOCTL_SYNC, &sync);
  }
  if (!frame) LOGF_FILTERED(pictureWarnings(), 3, "Skipping a malformed picture: %s", why);
  return frame;
}

}  // namespace dravo::media
