#pragma once
// Y4MFileReader: plays YUV4MPEG2 ("Y4M") files of raw 8-bit frames as I420.
//
// The stream header is one text line: "YUV4MPEG2" followed by space-separated
// tokens; "W<n>" and "H<n>" give the size (both required), "F<num>:<den>"
// the frame rate (30 when absent or unusable), "C<space>" the colour space;
// interlacing, aspect and extension tokens are ignored. Each frame is a line
// beginning with "FRAME" (parameters after it are ignored) and the planes
// packed one after the other.
//
// Colour spaces: without a "C" token, and for "C420", "C420jpeg",
// "C420mpeg2" and "C420paldv", frames are I420 as stored. "C422" and "C444"
// frames are converted to I420 (chroma averaged down), "Cmono" frames get
// neutral chroma. Any other colour space (more than 8 bits per sample, an
// alpha plane, 4:1:1) refuses the file with "Unsupported Y4M colour space
// <token> in <name>" on "y4m_file_reader" at level 2 before the usual
// "Can't read Y4M file" line; `openError` then names the token.
//
// Untrusted input: header and frame lines longer than 128 bytes are refused;
// a file whose header fails is refused with "Can't read Y4M file <name>" on
// "y4m_file_reader" at level 2. A frame line that is not "FRAME", or a frame
// with no data, ends the file with "Frame <n> invalid at <name>:<position>"
// (end of file is then not set). A last frame cut short is returned with its
// missing bytes zero. No frame is allocated larger than the file itself, so
// a header claiming a huge size cannot make the reader allocate it.
//
// Owner: whoever opened it (the video file source). Frames are read by one
// thread at a time; frame index and end of file may be read from any thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file.h"
#include "media_common/video/video_file_reader.h"

namespace dravo::media {

class Y4MFileReader : public VideoFileReader {
 public:
  // Longest header or frame line accepted, without its '\n'.
  static constexpr size_t kMaxLineLength = 128;

  Y4MFileReader();
  ~Y4MFileReader() override;

  bool openFile(std::string const& name) override;
  ImageBuffer::PixelFormat format() override { return ImageBuffer::IMAGE_I420; }

  int width() const { return width_; }
  int height() const { return height_; }
  float frameRate() const { return frame_rate_; }
  // Why the last `openFile` failed, for people: empty after a success, the
  // unsupported colour-space token, or a generic reason.
  std::string const& openError() const { return open_error_; }

 protected:
  std::shared_ptr<ImageBuffer> doReadFrame(Duration* duration) override;

 private:
  // How a frame's chroma is stored.
  enum Chroma { CHROMA_420, CHROMA_422, CHROMA_444, CHROMA_MONO };

  bool parseHeader(std::string const& name);
  // Bytes of one frame as stored; -1 before a size is known.
  int64_t storedFrameBytes() const;
  // The stored frame in `raw_` as a new I420 frame.
  std::shared_ptr<ImageBuffer> convertToI420() const;
  // Reads one line of at most kMaxLineLength bytes; false at the end of the
  // file or when the line is longer.
  bool readBoundedLine(std::string* line);
  // Logs the invalid frame and releases the file.
  void failFrame();

  std::shared_ptr<File> f_;
  int32_t width_ = -1;
  int32_t height_ = -1;
  float frame_rate_ = 30.0f;
  int64_t file_size_ = 0;
  Chroma chroma_ = CHROMA_420;
  std::string open_error_;
  // One stored frame of a colour space that needs converting.
  std::vector<unsigned char> raw_;
};

// Bytes of one packed I420 frame of `width` x `height`; -1 for a negative
// size. 64-bit, so any pair of 32-bit sizes fits.
int64_t y4mFrameBytes(int64_t width, int64_t height);

}  // namespace dravo::media
