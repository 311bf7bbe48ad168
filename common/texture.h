#pragma once
// Textures: CPU images handed to a renderer.
//
// `Texture` is the interface a renderer reads: format, size, planes with their
// strides, the frame's timestamp and an id. Implementations keep their pixels
// alive for as long as the texture lives and never change them, so a texture
// may be read on any thread. `PixelTexture` is a self-contained texture that
// owns its bytes (for generated pictures and tests); video sinks wrap their
// frames in textures of their own.
//
// `TextureId` identifies one texture (a process-wide serial number given at
// construction; copies keep it) and carries the driving feedback that came
// with the frame, if any.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

#include "common/driving_feedback.h"
#include "common/size.h"
#include "common/time.h"

namespace dravo {

class TextureId {
 public:
  TextureId();

  uint64_t serial() const { return serial_; }
  std::shared_ptr<DrivingFeedback const> const& feedback() const { return feedback_; }
  void setFeedback(std::shared_ptr<DrivingFeedback const> feedback) {
    feedback_ = std::move(feedback);
  }

  bool operator==(TextureId const& other) const { return serial_ == other.serial_; }

 private:
  uint64_t serial_;
  std::shared_ptr<DrivingFeedback const> feedback_;
};

// Prints the serial number.
std::ostream& operator<<(std::ostream& os, TextureId const& id);

class Texture {
 public:
  // A fixed underlying type, so that a value from elsewhere that names no
  // format is still a valid Format (and is refused), not undefined.
  enum Format : int32_t {
    FORMAT_APPL = 0,    // a platform image buffer; one plane, the buffer itself
    FORMAT_RGB = 1,     // packed 24-bit R, G, B
    FORMAT_I420 = 2,    // planar Y, U, V; chroma halved in both directions
    FORMAT_BGR24 = 3,   // packed 24-bit B, G, R
    FORMAT_BGRX32 = 4,  // packed 32-bit B, G, R, ignored byte
    FORMAT_BGRA32 = 5,  // packed 32-bit B, G, R, alpha
  };
  // The part of the picture to show, in pixels.
  struct Viewport {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(Viewport const&) const = default;
  };

  Texture() = default;
  Texture(Texture const&) = default;
  Texture& operator=(Texture const&) = default;

  // First byte of `plane`.
  virtual uint8_t const* getBuffer(int plane) const = 0;
  virtual uint8_t const* getBuffer() const = 0;
  virtual int32_t getPlanes() const = 0;
  // Bytes of pixel data behind the buffer pointer, all planes.
  virtual size_t getSize() const = 0;
  virtual int32_t getStride(int plane) const = 0;
  virtual int32_t getWidth() const = 0;
  virtual int32_t getHeight() const = 0;
  // Width of a pixel relative to its height.
  virtual float getPixelAspect() const = 0;
  virtual Format getFormat() = 0;
  virtual TextureId getId() = 0;
  virtual Time getTimestamp() = 0;
  // The whole picture unless an implementation crops.
  virtual Viewport getViewport() { return Viewport{0, 0, getWidth(), getHeight()}; }
  virtual ~Texture() = default;
};

// A texture that owns its pixels, laid out with tight strides (I420 chroma
// planes are (width + 1) / 2 by (height + 1) / 2). Filled through
// `mutableBuffer` before it is handed out.
class PixelTexture : public Texture {
 public:
  // Formats other than RGB, I420, BGR24, BGRX32 and BGRA32, and sizes that
  // are not positive or exceed 16384 in either direction, give no pixels
  // (zero planes).
  PixelTexture(Format format, Size size, Time timestamp = Time(), TextureId id = TextureId());

  uint8_t* mutableBuffer(int plane);

  uint8_t const* getBuffer(int plane) const override;
  uint8_t const* getBuffer() const override { return getBuffer(0); }
  int32_t getPlanes() const override { return static_cast<int32_t>(offsets_.size()); }
  size_t getSize() const override { return pixels_.size(); }
  int32_t getStride(int plane) const override;
  int32_t getWidth() const override { return size_.width_; }
  int32_t getHeight() const override { return size_.height_; }
  float getPixelAspect() const override { return 1.0f; }
  Format getFormat() override { return format_; }
  TextureId getId() override { return id_; }
  Time getTimestamp() override { return timestamp_; }

 private:
  Format format_;
  Size size_;
  Time timestamp_;
  TextureId id_;
  std::vector<uint8_t> pixels_;
  std::vector<size_t> offsets_;
  std::vector<int32_t> strides_;
};

}  // namespace dravo
