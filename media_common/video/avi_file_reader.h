#pragma once
// AVIFileReader: plays the video stream of AVI files, first of all those
// that AVIFileWriter records.
//
// The headers give the size ("avih") and the frame rate ("avih", else the
// rate / scale of the video stream's "strh"). The frames are those of the
// first video ("vids") stream: with its stream number NN, the "NNdc" and
// "NNdb" chunks of the first "movi" list (also inside "rec " lists), found by
// scanning it; chunks of other streams, index chunks and anything else are
// skipped, and "idx1" is not read. How frames are stored (AVIVideoLayout)
// follows from the stream's handler code and "strf": compressed "MJPG",
// "JPEG", "QV1 " frames, raw "I420"/"IYUV", "YV12", "YUY2" and uncompressed
// 24- and 32-bit bitmaps; other codecs are refused. The entries of every
// "info" list are kept in `metadata()`; `getTimestamps()` decodes the
// per-frame "tm64" entries, since frames themselves carry no timestamp.
//
// Files beyond 1 GiB (OpenDML): after the first "movi" list the frames of
// every "RIFF" "AVIX" list that follows are played in file order, each from
// its own "movi" list. Every size is bounded by the real file size, so a
// file cut short anywhere plays up to its last complete frame. A file
// without "AVIX" lists whose first "movi" list is larger than a 32-bit size
// can say (written by writers that let the size wrap) is followed to the
// "idx1" chunk that ends it.
//
// `openFile` takes a list of files, "a.avi:10,b.avi", each optionally
// limited to a number of frames by a final ":<digits>" (a drive letter such
// as "C:" stays part of the name); the files play one after the other.
//
// Untrusted input: every size read from the file is checked against the real
// file size before anything is allocated or read, so damaged or hostile
// files are refused (level 2 on "avi_file_reader", ending with "Can't read
// AVI file <name>") or end early; a frame cut short by the end of the file
// gives null without setting end of file. `openError()` tells why the last
// open failed.
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
#include "media_common/video/avi_video_layout.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::media {

class AVIFileReader : public VideoFileReader {
 public:
  AVIFileReader();
  ~AVIFileReader() override;

  bool openFile(std::string const& spec) override;
  ImageBuffer::PixelFormat format() override { return format_; }

  // Why the last `openFile` (or the switch to the next file of a list)
  // failed; OPEN_OK while the current file is readable.
  enum OpenError {
    OPEN_OK,
    OPEN_CANNOT_OPEN,        // no such file, or not readable
    OPEN_NOT_AVI,            // no "RIFF" "AVI " header
    OPEN_TRUNCATED_HEADER,   // the file ends inside its headers
    OPEN_NO_VIDEO_STREAM,    // no "vids" stream header before the frames
    OPEN_UNSUPPORTED_CODEC,  // a video stream in a format not read here
    OPEN_INVALID_HEADER,     // a stream without header, size or frame rate
    OPEN_NO_FRAME_DATA,      // no "movi" list
    OPEN_DAMAGED_METADATA,   // an "info" entry larger than the file
  };
  OpenError openError() const { return open_error_; }
  // The reason as a short phrase for messages: "truncated header", "no video
  // stream", "unsupported video codec 'XVID'", ...; empty for OPEN_OK.
  std::string openErrorText() const;

  // How many RIFF lists with frames the current file has: 1, plus one for
  // each "AVIX" extension of an OpenDML file.
  int riffSegments() const { return static_cast<int>(movi_lists_.size()); }
  // The total frame count of an OpenDML file's "dmlh" header; -1 without one.
  int64_t declaredTotalFrames() const { return declared_total_frames_; }
  // True when a RIFF or "movi" list or the "idx1" index of the current file
  // claims more bytes than the file holds: the file was cut short.
  bool truncated() const { return truncated_; }

  // The "tm64" entries as little-endian signed 64-bit numbers, in file order.
  std::vector<int64_t> getTimestamps() const;
  // Every entry of the current file's "info" lists, by chunk identifier.
  std::map<std::string, std::vector<std::string>> const& metadata() const { return metadata_; }

 protected:
  std::shared_ptr<ImageBuffer> doReadFrame(Duration* duration) override;

  bool doOpenFile();
  bool parseHeader();
  bool parseHdrl(int64_t end);
  bool parseStrl(int64_t end);
  bool parseInfo(int64_t end);

 private:
  // A "movi" list: where its chunks start and end (bounded by the file).
  struct MoviList {
    int64_t start;
    int64_t end;
  };

  // Bytes of the file from the current position to its end.
  int64_t bytesLeft() const;
  // Logs `condition` and refuses the file for `reason` (the first reason
  // given while opening a file is kept).
  bool refuse(char const* condition, OpenError reason);
  // The checks a stream must pass before its first "movi" list.
  bool checkVideoStream();
  // The end of the first "movi" list starting at `start` with the declared
  // size `size`: beyond 4 GiB the size may have wrapped, and the "idx1"
  // chunk behind the real end tells.
  int64_t firstMoviEnd(int64_t start, uint32_t size);
  // Moves to the next "movi" list of the file; false when none is left.
  bool nextMoviList();

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
  // The video stream: its number, chunk identifiers, header fields and
  // layout. -1 until a "vids" stream header was found.
  int video_stream_ = -1;
  std::string frame_chunk_ids_[2];
  std::string handler_;
  bool have_bitmap_header_ = false;
  AVIBitmapHeader bitmap_header_;
  AVIVideoLayout layout_;
  // Stream headers seen in "hdrl" so far.
  int streams_ = 0;
  // Every "movi" list to play, in order, and the index of the one playing.
  std::vector<MoviList> movi_lists_;
  size_t current_movi_ = 0;
  int64_t declared_total_frames_ = -1;
  bool truncated_ = false;
  OpenError open_error_ = OPEN_OK;
  std::string unsupported_codec_;
};

}  // namespace dravo::media
