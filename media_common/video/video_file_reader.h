#pragma once
// VideoFileReader: the common interface of the video file readers.
//
// A concrete reader (AVI, Y4M) opens a file with `openFile` and produces the
// file's frames, in the file's own format, from `doReadFrame`. `readFrame`
// hands each one out converted to IMAGE_I420 (IMAGE_QV1 frames pass
// unchanged). The base keeps the file name, the index of the next frame and
// the end-of-file flag.
//
// Threads: frames are read by one thread at a time (the owner's). The frame
// index and the end-of-file flag are written by the concrete reader under
// `mutex_`, so `getFrameIndex` and `getEof` may be called from any thread.

#include <cstdint>
#include <memory>
#include <string>

#include "common/mutex.h"
#include "common/time.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

class VideoFileReader {
 public:
  VideoFileReader() = default;
  VideoFileReader(VideoFileReader const&) = delete;
  VideoFileReader& operator=(VideoFileReader const&) = delete;
  virtual ~VideoFileReader();

  // A reader chosen by the extension of `name` (in any case: "y4m" for
  // Y4MFileReader, "avi" for AVIFileReader) that has opened it; null when
  // the extension is unknown (logged on "video_file_reader") or the file
  // could not be opened. The caller owns the result.
  static VideoFileReader* open(std::string const& name);
  // The reader `open` would use for `name`, not opened yet; null (logged as
  // by `open`) when the extension is unknown.
  static std::unique_ptr<VideoFileReader> forExtension(std::string const& name);

  // Opens `name` (what a name may hold is the concrete reader's business);
  // true when the first frame can be read.
  virtual bool openFile(std::string const& name) = 0;
  // The next frame as IMAGE_I420 (IMAGE_QV1 unchanged); null at the end of
  // the file or on failure. `*duration` receives its display duration.
  virtual std::shared_ptr<ImageBuffer> readFrame(Duration* duration);
  // The frame the next `readFrame` returns, read now and kept until then:
  // a look at a file's size and rate before it is played. The frame index
  // and the end-of-file flag count it as read.
  std::shared_ptr<ImageBuffer> peekFrame(Duration* duration);
  // The pixel format the file stores.
  virtual ImageBuffer::PixelFormat format() = 0;
  // The frame rate the open file states, as exactly as it states it: about
  // 29.97 for a stream of 30000/1001 frames a second, even where a reader's
  // frame durations follow a whole-number rate. 0 when the reader knows no
  // rate of its own (the frames' durations then tell it), as this default
  // does.
  virtual double nominalFrameRate() const { return 0; }

  bool getEof() const;
  int getFrameIndex() const;
  std::string const& getFileName() const { return file_name_; }

 protected:
  // The next frame in the file's own format, and its display duration.
  virtual std::shared_ptr<ImageBuffer> doReadFrame(Duration* duration) = 0;

  void setFrameIndex(int index);
  void incrementFrameIndex();
  void setEof(bool eof);

  std::string file_name_;
  mutable Mutex mutex_;
  int32_t frame_index_ DRAVO_GUARDED_BY(mutex_) = 0;
  bool eof_ DRAVO_GUARDED_BY(mutex_) = false;

 private:
  // Set by `peekFrame` until the next `readFrame`; on the reading thread.
  bool peeked_ = false;
  std::shared_ptr<ImageBuffer> peeked_frame_;
  Duration peeked_duration_;
};

}  // namespace dravo::media
