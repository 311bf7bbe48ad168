#pragma once
// The common base of the capture sources (devices and screens).
//
// `VideoSource` is a `Source<ImageBuffer>` that publishes the requested and
// the actual video mode as properties of its node and owns the element's
// clock ("clock", the system clock until the property names another).
// Properties, created by `initialize()` in this order:
//
//   "req_width" (640), "req_height" (480), "req_fps" (30.0)   settable
//   "width" (640), "height" (480), "fps" (30.0)               read-only
//   "actual_fps" (30.0), "do_crop" (true)                      read-only
//   "enabled" (false), "req_pixel_format" (CONSTRAINED_I420)   settable
//   "clock"                                                    settable
//
// Read-only properties carry the meta "read_only"; subclasses publish them
// with `publishMode`, `publishActualFps` and `publishDoCrop`. Every value of
// "actual_fps" is also recorded in a `HistoryPropertyUpdater` for
// diagnostics.
//
// Owner: whoever created the concrete source through its factory. Threads:
// `initialize` and the property-change passes run on the element's
// scheduler, and the cached wrappers are read there only; the publish calls
// write property nodes and may be made from any thread (a capture thread
// included).

#include <memory>

#include "common/cached_property.h"
#include "common/diagnostics/history_property_updater.h"
#include "media_common/clock.h"
#include "media_common/source_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

class VideoSource : public Source<ImageBuffer> {
 public:
  ~VideoSource() override;

  // The element's clock (follows the "clock" property). Set by initialize().
  std::shared_ptr<Clock> const& getClock() const { return clock_; }
  // The diagnostics history of "actual_fps".
  std::shared_ptr<HistoryPropertyUpdater> const& getActualFpsHistory() const {
    return actual_fps_history_;
  }

 protected:
  VideoSource();

  // Runs Source<ImageBuffer>::initialize, then creates the properties above.
  void initialize() override;

  // Sets "width", "height" and "fps" to the mode the device delivers.
  void publishMode(int width, int height, float fps);
  // Sets "actual_fps" and records the value in its history.
  void publishActualFps(float fps);
  void publishDoCrop(bool do_crop);

  CachedProperty<int32_t> req_width_;
  CachedProperty<int32_t> req_height_;
  CachedProperty<float> req_fps_;
  CachedProperty<int32_t> width_;
  CachedProperty<int32_t> height_;
  CachedProperty<float> fps_;
  CachedProperty<float> actual_fps_;
  CachedProperty<bool> do_crop_;
  CachedProperty<bool> enabled_;
  CachedProperty<ImageBuffer::PixelFormat> req_pixel_format_;

 private:
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<HistoryPropertyUpdater> actual_fps_history_;
};

}  // namespace dravo::media
