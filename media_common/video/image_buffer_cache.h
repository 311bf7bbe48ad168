#pragma once
// The conversions already made from one frame, shared by the frame and every
// image converted from it, so that consumers asking for the same format of
// the same frame trigger one conversion.
//
// Owner: the images that share it (ImageBuffer::cache_); the images stored in
// it do not point back to it. Any thread: lookups and appends happen under
// `mutex_`, conversions outside it, and a thread wanting a format that
// another thread is still producing waits on `condition_`.

#include <memory>
#include <vector>

#include "common/condition_variable.h"
#include "common/mutex.h"
#include "media_common/video/image_buffer.h"
#include "media_common/video/image_conversion_functions.h"

namespace dravo::media {

class ImageBufferCache {
 public:
  // Gives `image` a cache whose entry 0 is the image itself, unless it has one.
  static void createCacheIfNeeded(const ImageBuffer& image);

  // The image of `target` made from `image` (which must have a cache): from
  // the cache when an earlier call made it (or failed to), else made now by
  // `function` and remembered. The result is the caller's own image object
  // sharing the cached pixels and the cache; null for a failed conversion.
  static std::shared_ptr<ImageBuffer> convertIfNotInCache(
      const ImageBuffer::FormatType& target, const std::shared_ptr<ImageBuffer const>& image,
      image_conversion::ConversionFunction function);

  // A new image over the pixels of `image`: same format, data and size,
  // but no metadata, tokens or cache. What the cache stores, and what a
  // conversion that changes nothing hands on before the caller adds the
  // source's metadata.
  static std::shared_ptr<ImageBuffer> sharePixels(const ImageBuffer& image);

 private:
  static std::shared_ptr<ImageBufferCache> cacheOf(const ImageBuffer& image);

  struct Entry {
    ImageBuffer::FormatType format_;
    std::shared_ptr<ImageBuffer const> buffer_;  // null while converting and after a failure
    bool converting_ = false;
  };

  // The first entry equal to `format` (or, with `approximate`, of the same
  // size and pixel aspect and the same or another I420 pixel format); waits
  // while it is being converted. `found` tells whether there was one.
  std::shared_ptr<ImageBuffer const> getConvertedBuffer(const ImageBuffer::FormatType& format,
                                                        bool approximate, bool* found,
                                                        MutexLock& lock) DRAVO_REQUIRES(mutex_);

  Mutex mutex_;
  ConditionVariable condition_;
  std::vector<Entry> entries_ DRAVO_GUARDED_BY(mutex_);
};

}  // namespace dravo::media
