#pragma once
// The end of a display pipeline: frames become textures for a renderer.
//
// `TextureVideoSink` is a clock-synchronised sink (its "clock" property;
// frozen, i.e. immediate, by default). When a frame comes due it wraps the
// frame in a `VideoSinkTexture` and emits `texture_signal_`, then emits
// `processor_results_signal_` with the frame's processor results (null when
// it has none). A device-opening event reaching its input emits
// `device_opening_signal_` with the event's start timestamp.
//
// The enumerated property "format" ("APPL" = 0, "RGB" = 1, "I420" = 2, the
// default) chooses the pixel format the input pad accepts; upstream frames
// are converted to it before they are queued.
//
// Owner: whoever created the sink with `createElement<TextureVideoSink>`.
// Threads: frames, events and property changes are handled on the element's
// scheduler, and the signals call their slots there. Textures are immutable
// and may be read on any thread; each keeps its frame's pixels alive.

#include <memory>
#include <vector>

#include "common/cached_property.h"
#include "common/sigslot.h"
#include "common/texture.h"
#include "media_common/media_events.h"
#include "media_common/pad_format_filter.h"
#include "media_common/sink_element.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_buffer_converter.h"

namespace dravo::media {

// The `Texture` view of one frame. I420 variants give format 2 with three
// planes, RGB24 format 1, BGRX32 format 4, a platform buffer format 0 (one
// plane: the buffer itself); other pixel formats are logged and still
// described plane by plane.
class VideoSinkTexture : public Texture {
 public:
  VideoSinkTexture(const std::shared_ptr<ImageBuffer const>& img, const TextureId& id);
  VideoSinkTexture(VideoSinkTexture const&) = default;
  VideoSinkTexture& operator=(VideoSinkTexture const&) = default;
  ~VideoSinkTexture() override;

  uint8_t const* getBuffer(int plane) const override;
  uint8_t const* getBuffer() const override { return getBuffer(0); }
  int32_t getPlanes() const override { return planes_; }
  size_t getSize() const override { return size_; }
  int32_t getStride(int plane) const override;
  int32_t getWidth() const override { return width_; }
  int32_t getHeight() const override { return height_; }
  float getPixelAspect() const override { return pixel_aspect_; }
  Format getFormat() override { return format_; }
  TextureId getId() override { return id_; }
  Time getTimestamp() override { return timestamp_; }

 private:
  std::shared_ptr<ImageBuffer const> image_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  size_t size_ = 0;
  float pixel_aspect_ = 1.0f;
  Format format_ = FORMAT_BGR24;
  TextureId id_;
  std::vector<int32_t> strides_;
  Time timestamp_;
  int32_t planes_ = 0;
  std::vector<int32_t> offsets_;
};

// The format the sink's input accepts for `format`, at the offered size and
// pixel aspect: a platform buffer, RGB24 or constrained I420; the BGR
// formats are not implemented (logged) and, like unknown values, give
// IMAGE_UNKNOWN.
ImageBuffer::FormatType videoSinkFormatConstraintFunction(const ImageBuffer::FormatType& offered,
                                                          Texture::Format format);

class TextureVideoSink : public Sink<ImageBuffer> {
 public:
  TextureVideoSink() = default;
  ~TextureVideoSink() override;

  sigslot::signal1<const std::shared_ptr<Texture>&, sigslot::multi_threaded_local> texture_signal_;
  sigslot::signal1<const std::shared_ptr<ProcessorResultsProto const>&,
                   sigslot::multi_threaded_local>
      processor_results_signal_;
  sigslot::signal1<const Time, sigslot::multi_threaded_local> device_opening_signal_;

 protected:
  void initialize() override;
  void onPropertyChange(bool first) override;
  // The texture for one frame; subclasses may make their own kind.
  virtual std::shared_ptr<Texture> newTexture(const std::shared_ptr<ImageBuffer const>& img,
                                              const TextureId& id) const;
  void onBuffer(const std::shared_ptr<ImageBuffer const>& img) override;
  bool onDownstreamEvent(const std::shared_ptr<Event const>& event) override;

 private:
  PadFormatFilter<ImageBuffer, ImageBufferConverter> input_filter_;
  CachedProperty<Texture::Format> format_;
};

}  // namespace dravo::media
