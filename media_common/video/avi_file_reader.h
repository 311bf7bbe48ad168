#pragma once
// AVIFileReader: plays the video stream of AVI files, first of all those
// that AVIFileWriter records.
//
// The headers give the size ("avih"), the pixel format (the handler code of
// the first "strh": "I420", "MJPG", "JPEG" or "QV1 "; anything else is
// refused) and the nominal frame rate ("avih", else the "strh" rate). Frames
// are the "00dc" chunks of the first "movi" list, found by scanning it;
// other chunks are skipped and "idx1" is not read. The entries of every
// "info" list are kept in `metadata()`; `getTimestamps()` decodes the
// per-frame "tm64" entries, since frames themselves carry no timestamp.
//
// `openFile` takes a list of files, "a.avi:10,b.avi", each optionally
// limited to a number of frames by a final ":<digits>" (a drive letter such
// as "C:" stays part of the name); the files play one after the other.
//
// Untrusted input: every size read from the file is checked against the real
// file size before anything is allocated or read, so damaged or hostile
// files are refused (level 2 on "avi_file_reader", ending with "Can't read
// AVI file <name>") or end early; a frame cut short by the end of the file
// gives null without setting end of file.
//
// Owner: whoever opened it (the video file source). Frames are read by one
// thread at a time; frame index and end of file may be read from any thread.

#include <cstdint>
#include <map>
#include <memory>
#include <queue>
#include <string>
#include <utility>
#include <vector>

#include "common/file.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::media {

class AVIFileReader : public VideoFileReader {
 public:
  AVIFileReader();
  ~AVIFileReader() override;

  bool openFile(std::string const& spec) override;
  ImageBuffer::PixelFormat format() override { return format_; }

  // The "tm64" entries as little-endian signed 64-bit numbers, in file order.
  std::vector<int64_t> getTimestamps() const;
  // Every entry of the current file's "info" lists, by chunk identifier.
  std::map<std::string, std::vector<std::string>> const& metadata() const { return metadata_; }

 protected:
  std::shared_ptr<ImageBuffer> doReadFrame(Duration* duration) override;

  bool doOpenFile();
  bool parseHeader();
  bool parseHdrl(int64_t end);
  bool parseStrl();
  bool parseInfo(int64_t end);

 private:
  // Bytes of the file from the current position to its end.
  int64_t bytesLeft() const;

  std::queue<std::pair<std::string, int32_t>> segments_;
  std::string current_file_name_;
  int32_t frame_limit_ = 0;
  std::shared_ptr<File> f_;
  int32_t width_ = 0;
  int32_t height_ = 0;
  float fps_ = 0;
  ImageBuffer::PixelFormat format_ = ImageBuffer::IMAGE_UNKNOWN;
  int64_t movi_end_ = 0;
  std::map<std::string, std::vector<std::string>> metadata_;
  int64_t file_size_ = 0;
};

}  // namespace dravo::media
