#include "media_common/video/image_buffer_cache.h"

#include "common/check.h"
#include "common/logging.h"

DRAVO_LOGGER("image_converter");

namespace dravo::media {
namespace {

bool matchesApproximately(const ImageBuffer::FormatType& a, const ImageBuffer::FormatType& b) {
  if (a.width_ != b.width_ || a.height_ != b.height_ || a.pixel_aspect_ != b.pixel_aspect_)
    return false;
  return a.pixel_format_ == b.pixel_format_ || (a.isI420Variant() && b.isI420Variant());
}

}  // namespace

std::shared_ptr<ImageBufferCache> ImageBufferCache::cacheOf(const ImageBuffer& image) {
  MutexLock lock(image.cache_mutex_);
  return image.cache_;
}

std::shared_ptr<ImageBuffer> ImageBufferCache::sharePixels(const ImageBuffer& image) {
  auto copy = std::make_shared<ImageBuffer>(image.format_, image.data_, image.allocation_);
  copy->size_ = image.size_;
  return copy;
}

void ImageBufferCache::createCacheIfNeeded(const ImageBuffer& image) {
  MutexLock lock(image.cache_mutex_);
  if (image.cache_) return;
  auto cache = std::make_shared<ImageBufferCache>();
  Entry source;
  source.format_ = image.format();
  source.buffer_ = sharePixels(image);
  MutexLock cache_lock(cache->mutex_);
  std::vector<Entry>& buffers = cache->entries_;
  buffers.push_back(std::move(source));
  DRAVO_CHECK_EQ(buffers.size(), 1u);
  cache_lock.unlock();
  image.cache_ = std::move(cache);
}

std::shared_ptr<ImageBuffer const> ImageBufferCache::getConvertedBuffer(
    const ImageBuffer::FormatType& format, bool approximate, bool* found, MutexLock& lock) {
  size_t index = 0;
  *found = false;
  for (size_t i = 0; i < entries_.size(); ++i) {
    LOGS(8) << "Cache entry #" << i << "=" << entries_[i].format_;
    if (entries_[i].format_ == format ||
        (approximate && matchesApproximately(entries_[i].format_, format))) {
      index = i;
      *found = true;
      break;
    }
  }
  if (!*found) return nullptr;
  while (entries_[index].converting_) condition_.wait(lock);
  return entries_[index].buffer_;
}

std::shared_ptr<ImageBuffer> ImageBufferCache::convertIfNotInCache(
    const ImageBuffer::FormatType& target, const std::shared_ptr<ImageBuffer const>& image,
    image_conversion::ConversionFunction function) {
  std::shared_ptr<ImageBufferCache> cache = cacheOf(*image);
  DRAVO_ASSERT(cache);
  if (!cache) return nullptr;
  LOGS(7) << "Looking for " << target << " in the cache.";
  MutexLock lock(cache->mutex_);

  bool found = false;
  std::shared_ptr<ImageBuffer const> cached =
      cache->getConvertedBuffer(target, false, &found, lock);
  if (found) {
    lock.unlock();
    LOGS(6) << "Got entry from the cache for " << static_cast<const void*>(image.get()) << " to "
            << target;
    if (!cached) return nullptr;
    auto copy = std::make_shared<ImageBuffer>(*cached);
    MutexLock copy_lock(copy->cache_mutex_);
    copy->cache_ = cache;
    return copy;
  }

  std::shared_ptr<ImageBuffer const> source = image;
  if (image->format().pixel_aspect_ == 1.0f) {
    cached = cache->getConvertedBuffer(target, true, &found, lock);
    if (found && target.isI420Variant()) {
      LOGS(6) << "Got approximate entry from the cache for "
              << static_cast<const void*>(image.get()) << " to " << target;
      if (!cached) return nullptr;
      source = cached;
      function = image_conversion::from_I420_to_I420;
    }
  }

  size_t const index = cache->entries_.size();
  cache->entries_.push_back(Entry{target, nullptr, true});
  lock.unlock();

  LOGS(8) << "Running conversion function from " << source->format() << " to " << target;
  std::shared_ptr<ImageBuffer> result = function(target, source);
  std::shared_ptr<ImageBuffer const> stored;
  if (result) {
    stored = sharePixels(*result);
    // The result is still ours alone; no image lock is ever taken while the
    // cache's mutex is held.
    MutexLock result_lock(result->cache_mutex_);
    result->cache_ = cache;
  }

  lock.relock();
  cache->entries_[index].buffer_ = std::move(stored);
  cache->entries_[index].converting_ = false;
  cache->condition_.notifyAll();
  return result;
}

}  // namespace dravo::media
