#pragma once
// A source of test video that needs no device.
//
// `SyntheticVideoSource` draws a moving colour plasma into a new I420 frame
// at the rate of its "req_fps" property, writes a caption ("Frame 000042.
// 640x480 12.34": frame number, size, clock time in seconds) and a strip of
// eight colour bars on it, stamps it with its clock (property "clock",
// the system clock by default) and sends it on its output pad "out". The
// picture depends only on the frame number and the requested size, so two
// sources driven alike give identical frames.
//
// Properties: "req_width" (640), "req_height" (480), "req_fps" (30.0; 0 or
// less stops the frames), "easy_to_compress" (false), "device" (unused) and
// the published "width", "height", "fps". A requested size below 0 or above
// 16384 on a side sets an error status and stops the frames until a
// drawable size is requested.
//
// Owner: whoever created it through `createSyntheticVideoSource`. Threads:
// frames are produced in tasks on the element's scheduler (the clock's timer
// thread only posts them); property changes come through the element's
// property-change passes on that scheduler.

#include <array>
#include <cstdint>
#include <memory>

#include "common/cached_property.h"
#include "media_common/repeating_timer.h"
#include "media_common/source_element.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

class SyntheticVideoSource : public Source<ImageBuffer> {
 public:
  // The pattern generator: integer table look-ups only. Each `draw` paints
  // the current phases and then moves them on. Owned by the source; used on
  // one thread at a time.
  class Plasma {
   public:
    struct Colour {
      uint8_t y;
      uint8_t u;
      uint8_t v;
    };

    Plasma();

    // Paints `frame` (IMAGE_I420; anything else is a failed check and is left
    // alone). Chroma is written from the bottom-right pixel of every whole
    // 2x2 block only.
    void draw(ImageBuffer* frame);
    // When set, every row is the same and only phase A moves the picture.
    void setEasy(bool easy) { easy_ = easy; }
    bool easy() const { return easy_; }

    int32_t sine(int index) const { return sine_[index & 511]; }
    Colour const& palette(int index) const { return palette_[index & 255]; }

   private:
    std::array<int32_t, 512> sine_{};
    std::array<Colour, 256> palette_{};
    int32_t phase_a_ = 0;
    int32_t phase_b_ = 0;
    int32_t phase_c_ = 0;
    int32_t phase_d_ = 0;
    bool easy_ = true;
  };

  ~SyntheticVideoSource() override;

 protected:
  void initialize() override;
  void onPropertyChange(bool first) override;
  // Makes and sends one frame.
  void onTimer();

 private:
  // Refuses a requested size that cannot be drawn (negative, or above 16384
  // on a side) through the status, and clears the refusal once it can.
  void checkRequestedSize();

  int32_t frame_counter_ = 0;
  CachedProperty<int32_t> req_width_;
  CachedProperty<int32_t> req_height_;
  CachedProperty<double> req_fps_;
  // Published: always the requested values.
  std::shared_ptr<PropertyNode> width_;
  std::shared_ptr<PropertyNode> height_;
  std::shared_ptr<PropertyNode> fps_;
  CachedProperty<bool> easy_to_compress_;
  CachedProperty<std::string> device_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<RepeatingTimer> frame_timer_;
  std::shared_ptr<Plasma> plasma_;
  // False while the requested size is refused: no frames are made.
  bool size_drawable_ = true;
};

// A new synthetic source, initialised; its first frame comes one frame
// period after its first property-change pass.
std::shared_ptr<Source<ImageBuffer>> createSyntheticVideoSource(ElementArgs const& args);

}  // namespace dravo::media
