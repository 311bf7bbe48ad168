#pragma once
// Frames from the pictures of a screen-cast stream: the picture's bytes as
// the stream hands them (any stride, RGB or BGR order, with or without
// alpha, a crop region) become a tightly packed IMAGE_BGRX32 frame with the
// mouse pointer blended in where the stream's cursor metadata puts it.
//
// Everything the stream says (sizes, strides, offsets, regions) is checked
// against the bytes it actually handed over; a picture whose claims do not
// fit is refused, never read beyond its end.
//
// Owner: the stream consumer (one `ScreenCastFrameBuilder` per stream),
// used on the consumer's thread. The frames it returns are finished: nobody
// writes them afterwards, and their memory goes back to the builder's pool
// (from any thread) when the last image using it is released.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "common/mutex.h"
#include "media_common/video/cursor_overlay.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

// Byte order of a stream pixel in memory ("BGRX": blue first).
enum class StreamPixelLayout { BGRX, RGBX, BGRA, RGBA };

struct StreamRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// One picture of the stream, untrusted: `size` bytes are valid from `data`.
struct StreamPicture {
  uint8_t const* data = nullptr;
  size_t size = 0;
  int32_t width = 0;  // the negotiated size
  int32_t height = 0;
  int64_t stride = 0;  // bytes from row to row; 0 means width * 4
  StreamPixelLayout layout = StreamPixelLayout::BGRX;
  std::optional<StreamRect> crop;  // the part that shows the shared area
};

// The mouse pointer of a stream, kept across buffers: its position comes
// with most buffers, its picture only when it changes. Positions are those
// of the pointer's hot spot in the (cropped) picture.
class StreamCursor {
 public:
  // Takes one buffer's cursor metadata (a `spa_meta_cursor` followed by
  // its bitmap, `size` bytes in all). Parts that do not fit are ignored.
  // True when the pointer changed.
  bool update(void const* meta, size_t size);

  // Whether there is a pointer to draw.
  bool visible() const { return visible_ && !image_.argb_.empty(); }
  // The picture placed at the hot spot's position less the hot spot.
  CursorImage placed() const;

 private:
  bool visible_ = false;
  int32_t x_ = 0;
  int32_t y_ = 0;
  int32_t hot_x_ = 0;
  int32_t hot_y_ = 0;
  CursorImage image_;  // premultiplied ARGB, position unused
};

// Memory for frames of one size, reused once the frames are gone: a fresh
// allocation per frame would page-fault its way through every picture.
// Thread-safe.
class FrameMemoryPool {
 public:
  FrameMemoryPool() : state_(std::make_shared<State>()) {}
  std::shared_ptr<uint8_t> get(size_t bytes);

 private:
  struct State {
    Mutex mutex;
    size_t bytes DRAVO_GUARDED_BY(mutex) = 0;
    std::vector<uint8_t*> free DRAVO_GUARDED_BY(mutex);
    ~State();
  };
  std::shared_ptr<State> state_;
};

class ScreenCastFrameBuilder {
 public:
  // The frame of `picture` with `cursor` drawn; null (and a reason in
  // `why`) when the picture is malformed.
  std::shared_ptr<ImageBuffer const> build(StreamPicture const& picture, StreamCursor const& cursor,
                                           char const** why);
  // The last frame again with the pointer where `cursor` now has it; null
  // before the first frame. For buffers that carry only cursor news.
  std::shared_ptr<ImageBuffer const> redrawCursor(StreamCursor const& cursor);

 private:
  std::shared_ptr<ImageBuffer const> finish(std::shared_ptr<uint8_t> memory, int32_t width,
                                            int32_t height, StreamCursor const& cursor);

  FrameMemoryPool pool_;
  std::shared_ptr<ImageBuffer const> last_;
  // The pixels of `last_` that the pointer covers, rows packed.
  StreamRect under_rect_;
  std::vector<uint8_t> under_pixels_;
};

}  // namespace dravo::media
