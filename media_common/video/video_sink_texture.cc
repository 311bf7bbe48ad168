// Textures over image buffers: the texture sink's frames and screen
// captures. Both share the frame's memory instead of copying it.

#include "common/check.h"
#include "common/logging.h"
#include "media_common/video/screenshot_texture.h"
#include "media_common/video/video_sink.h"

DRAVO_LOGGER("video");

namespace dravo::media {

VideoSinkTexture::VideoSinkTexture(const std::shared_ptr<ImageBuffer const>& img,
                                   const TextureId& id)
    : image_(img),
      width_(img->width()),
      height_(img->height()),
      size_(static_cast<size_t>(std::max(0, img->format().min_allocation_))),
      pixel_aspect_(img->format().pixel_aspect_),
      id_(id),
      timestamp_(img->getStartTimestamp()) {
  switch (img->format().pixel_format_) {
    case ImageBuffer::IMAGE_I420:
    case ImageBuffer::IMAGE_CONSTRAINED_I420:
      format_ = FORMAT_I420;
      DRAVO_CHECK_EQ(img->planes().size(), 3ULL);
      if (img->planes().size() == 3) {
        DRAVO_CHECK_EQ(img->planes()[1].width_, (img->planes()[0].width_ + 1) / 2);
        DRAVO_CHECK_EQ(img->planes()[2].width_, (img->planes()[0].width_ + 1) / 2);
      }
      break;
    case ImageBuffer::IMAGE_RGB24:
      format_ = FORMAT_RGB;
      DRAVO_CHECK_EQ(img->planes().size(), 1ULL);
      break;
    case ImageBuffer::IMAGE_BGRX32:
      format_ = FORMAT_BGRX32;
      DRAVO_CHECK_EQ(img->planes().size(), 1ULL);
      break;
    case ImageBuffer::IMAGE_PLATFORM_BUFFER:
      // The data pointer is the platform's own buffer; there is nothing to
      // describe beyond it.
      format_ = FORMAT_APPL;
      planes_ = 1;
      offsets_.push_back(0);
      return;
    default:
      LOGS(1) << "VideoSink doesn't accept textures that aren't of type I420 or RGB24, type was "
              << img->format().pixel_format_;
      break;
  }
  planes_ = static_cast<int32_t>(img->planes().size());
  for (ImageBuffer::Plane const& plane : img->planes()) {
    offsets_.push_back(plane.offset_);
    strides_.push_back(plane.stride_);
  }
}

VideoSinkTexture::~VideoSinkTexture() = default;

uint8_t const* VideoSinkTexture::getBuffer(int plane) const {
  if (plane < 0 || plane >= static_cast<int>(offsets_.size()) || !image_->data()) return nullptr;
  return image_->data() + offsets_[plane];
}

int32_t VideoSinkTexture::getStride(int plane) const {
  if (plane < 0 || plane >= static_cast<int>(strides_.size())) return 0;
  return strides_[plane];
}

ScreenshotTexture::ScreenshotTexture(const std::shared_ptr<ImageBuffer const>& img,
                                     const TextureId& id)
    : data_(img->data()),
      allocation_(img->allocation()),
      width_(img->width()),
      height_(img->height()),
      size_(static_cast<size_t>(std::max(0, img->format().min_allocation_))),
      pixel_aspect_(img->format().pixel_aspect_),
      id_(id),
      timestamp_(img->getStartTimestamp()) {
  if (!img->planes().empty()) {
    if (data_) data_ += img->planes()[0].offset_;
    stride_ = img->planes()[0].stride_;
  }
  switch (img->format().pixel_format_) {
    case ImageBuffer::IMAGE_BGRX32:
      format_ = FORMAT_BGRX32;
      break;
    case ImageBuffer::IMAGE_BGRA32:
      format_ = FORMAT_BGRA32;
      break;
    default:
      DRAVO_FAIL("ScreenshotTexture cannot handle type [%d]",
                 static_cast<int>(img->format().pixel_format_));
      format_ = FORMAT_BGR24;
      break;
  }
}

ScreenshotTexture::~ScreenshotTexture() = default;

}  // namespace dravo::media
