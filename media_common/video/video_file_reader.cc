#include "media_common/video/video_file_reader.h"

#include "common/file.h"
#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/video/avi_file_reader.h"
#include "media_common/video/image_buffer_converter.h"
#include "media_common/video/y4m_file_reader.h"

DRAVO_LOGGER("video_file_reader");

namespace dravo::media {

VideoFileReader::~VideoFileReader() = default;

VideoFileReader* VideoFileReader::open(std::string const& name) {
  std::unique_ptr<VideoFileReader> reader = forExtension(name);
  if (!reader || !reader->openFile(name)) return nullptr;
  return reader.release();
}

std::unique_ptr<VideoFileReader> VideoFileReader::forExtension(std::string const& name) {
  std::string const extension = toLower(File::extension(name));
  if (extension == "y4m") return std::make_unique<Y4MFileReader>();
  if (extension == "avi") return std::make_unique<AVIFileReader>();
  LOGF(2, "Unknown extension '%s'", extension.c_str());
  return nullptr;
}

std::shared_ptr<ImageBuffer> VideoFileReader::peekFrame(Duration* duration) {
  if (!peeked_) {
    peeked_frame_ = readFrame(&peeked_duration_);
    peeked_ = true;
  }
  if (duration) *duration = peeked_duration_;
  return peeked_frame_;
}

std::shared_ptr<ImageBuffer> VideoFileReader::readFrame(Duration* duration) {
  if (peeked_) {
    peeked_ = false;
    if (duration) *duration = peeked_duration_;
    return std::move(peeked_frame_);
  }
  std::shared_ptr<ImageBuffer> frame = doReadFrame(duration);
  if (!frame || frame->format().pixel_format_ == ImageBuffer::IMAGE_QV1) return frame;
  ImageBuffer::FormatType const target =
      image_format::defaultFormat(frame->width(), frame->height(), ImageBuffer::IMAGE_I420);
  std::vector<ImageBufferConverter::ImagePtr> converted =
      ImageBufferConverter::convert(target, frame);
  if (converted.empty() || !converted.front()) {
    LOGF(3, "Could not convert frame %d of %s to I420", getFrameIndex(), file_name_.c_str());
    return nullptr;
  }
  // The converted image is new (or the frame itself) and not shared yet.
  return std::const_pointer_cast<ImageBuffer>(converted.front());
}

bool VideoFileReader::getEof() const {
  MutexLock lock(mutex_);
  return eof_;
}

int VideoFileReader::getFrameIndex() const {
  MutexLock lock(mutex_);
  return frame_index_;
}

void VideoFileReader::setFrameIndex(int index) {
  MutexLock lock(mutex_);
  frame_index_ = index;
}

void VideoFileReader::incrementFrameIndex() {
  MutexLock lock(mutex_);
  ++frame_index_;
}

void VideoFileReader::setEof(bool eof) {
  MutexLock lock(mutex_);
  eof_ = eof;
}

}  // namespace dravo::media
