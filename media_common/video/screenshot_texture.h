#pragma once
// The `Texture` view of a screen-capture frame: one plane of 32-bit BGR
// (format 4 for IMAGE_BGRX32, 5 for IMAGE_BGRA32). Other pixel formats are
// a caller error, reported, and give format 3.
//
// Immutable once made; any thread may read it. It keeps the frame's memory
// alive.

#include <memory>

#include "common/texture.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

class ScreenshotTexture : public Texture {
 public:
  ScreenshotTexture(const std::shared_ptr<ImageBuffer const>& img, const TextureId& id);
  ScreenshotTexture(ScreenshotTexture const&) = default;
  ScreenshotTexture& operator=(ScreenshotTexture const&) = default;
  ~ScreenshotTexture() override;

  uint8_t const* getBuffer(int) const override { return data_; }
  uint8_t const* getBuffer() const override { return data_; }
  int32_t getPlanes() const override { return 1; }
  size_t getSize() const override { return size_; }
  int32_t getStride(int) const override { return stride_; }
  int32_t getWidth() const override { return width_; }
  int32_t getHeight() const override { return height_; }
  float getPixelAspect() const override { return pixel_aspect_; }
  Format getFormat() override { return format_; }
  TextureId getId() override { return id_; }
  Time getTimestamp() override { return timestamp_; }

 private:
  uint8_t const* data_ = nullptr;
  std::shared_ptr<void> allocation_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  size_t size_ = 0;
  int32_t stride_ = 0;
  float pixel_aspect_ = 1.0f;
  Format format_ = FORMAT_BGR24;
  TextureId id_;
  Time timestamp_;
};

}  // namespace dravo::media
