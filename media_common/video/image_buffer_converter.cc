#include "media_common/video/image_buffer_converter.h"

#include "common/check.h"
#include "common/logging.h"
#include "media_common/video/image_buffer_cache.h"
#include "media_common/video/image_conversion_table.h"
#include "media_common/video/image_resize.h"
#include "qvideo/low_level.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media {
namespace {

using FormatType = ImageBuffer::FormatType;

void takeMetadata(ImageBuffer& result, const ImageBuffer& source) {
  result.combineMetadata(source);
  result.setStartTimestamp(source.getStartTimestamp());
  result.setPriority(source.getPriority());
}

}  // namespace

std::vector<ImageBufferConverter::ImagePtr> ImageBufferConverter::convert(const FormatType& target,
                                                                          ImagePtr img) {
  ImagePtr buff = doConvert(target, img);
  LOGS(6) << "Finished conversion of " << static_cast<const void*>(img.get()) << " to " << target;
  if (!buff) return {};
  if (buff->getPriority() != img->getPriority())
    LOGS_TO("check", 1) << "Check failed: buff->getPriority() == img->getPriority() ("
                        << buff->getPriority() << " vs. " << img->getPriority()
                        << ") ImageBuffer priority was not copied from the source.";
  return {std::move(buff)};
}

ImageBufferConverter::ImagePtr ImageBufferConverter::easyConvert(const FormatType& target,
                                                                 ImagePtr img) {
  if (!img) return nullptr;
  std::vector<ImagePtr> result = convert(target, std::move(img));
  return result.empty() ? nullptr : result[0];
}

ImageBufferConverter::ImagePtr ImageBufferConverter::easyConvert(
    const ImageBuffer::PixelFormat& format, ImagePtr img) {
  if (!img) return nullptr;
  FormatType const target = image_format::defaultFormat(img->width(), img->height(), format);
  return easyConvert(target, std::move(img));
}

ImageBufferConverter::ImagePtr ImageBufferConverter::downsample(const FormatType& target,
                                                                ImagePtr img) {
  if (!img) return nullptr;
  std::shared_ptr<ImageBuffer> result = image_conversion::downsampleImageBuffer(target, img);
  if (result) takeMetadata(*result, *img);
  return result;
}

ImageBufferConverter::ImagePtr ImageBufferConverter::doConvert(const FormatType& target,
                                                               const ImagePtr& img) {
  qvideo::LowLevel::initIfNeeded();
  if (!img) return nullptr;
  FormatType const& source = img->format();
  bool const change = !(source.pixel_format_ == target.pixel_format_ ||
                        ((source.pixel_format_ == ImageBuffer::IMAGE_ALIGNED_I420 ||
                          source.pixel_format_ == ImageBuffer::IMAGE_CONSTRAINED_I420) &&
                         target.pixel_format_ == ImageBuffer::IMAGE_I420));
  // Pixel aspect only matters for aligned targets, the only ones cropped to it.
  bool const resize = !(source.width_ == target.width_ && source.height_ == target.height_ &&
                        (source.pixel_aspect_ == target.pixel_aspect_ ||
                         target.pixel_format_ != ImageBuffer::IMAGE_ALIGNED_I420));
  if (source == target || (!change && !resize)) return img;

  ImageBufferCache::createCacheIfNeeded(*img);

  ImagePtr intermediate = img;
  if (change || !resize) {
    FormatType step = target;
    if (resize) {
      step = image_format::defaultFormat(source.width_, source.height_, target.pixel_format_);
      step.pixel_aspect_ = source.pixel_aspect_;
    }
    image_conversion::ConversionFunction function =
        image_conversion::findConversion(source.pixel_format_, step.pixel_format_);
    if (!function) {
      LOGS(2) << "Can't convert from " << source.pixel_format_ << " to " << target.pixel_format_;
      return nullptr;
    }
    std::shared_ptr<ImageBuffer> converted =
        ImageBufferCache::convertIfNotInCache(step, img, function);
    if (!converted) {
      LOGS(2) << "Error converting from " << source.pixel_format_ << " to " << target.pixel_format_;
      return nullptr;
    }
    takeMetadata(*converted, *img);
    intermediate = std::move(converted);
  }
  if (!resize) return intermediate;

  std::shared_ptr<ImageBuffer> resized = ImageBufferCache::convertIfNotInCache(
      target, intermediate, image_conversion::downsampleImageBuffer);
  if (resized) takeMetadata(*resized, *img);
  return resized;
}

}  // namespace dravo::media
