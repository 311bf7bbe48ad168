#pragma once
// AVIFileWriter: records video frames into AVI files.
//
// One video stream, one "00dc" chunk per frame, an "idx1" index, and the
// per-frame start timestamps as "tm64" entries of an "info" list (read back
// by AVIFileReader::getTimestamps). Frame data is written as it arrives,
// straight from the frame; the headers go into a 4096-byte area reserved at
// the start of the file (padded with a "JUNK" chunk) when the file is
// closed. The frame rate in the headers is estimated at close from the
// timestamps: a multiple of 5 between 5 and 30, 30 when unknown. A caller
// that knows the rate sets it with `setFrameRate`; the headers then carry it
// exactly (29.97 as 30000/1001).
//
// Payloads: I420 variants are stored as their three planes without stride
// padding ("I420"); "JPEG", "MJPG" and "QV1 " frames as their bytes. Other
// formats write no frame.
//
// Part files. A frame in another pixel format, or an I420 frame of another
// size, completes the file and continues the recording in a part file: for
// "rec.avi" the parts are "rec_part1.avi", "rec_part2.avi", ... (the first
// ".avi" and everything after it are replaced). Compressed frames may change
// size within a file.
//
// Names without ".avi": the part suffix is appended to the whole name
// ("clip" continues in "clip_part1", "clip_part2", ...), so the recording
// goes on and the completed file keeps its name and contents. Whatever the
// name, a part never reuses a name already written in this recording (a
// further "_part<n>" is appended until it is new), so nothing recorded is
// ever reopened and truncated.
//
// Files beyond 2 GiB are warned about at close; their index offsets keep
// only the low 32 bits. A file that cannot be created is logged on
// "avi_file_writer" and frames are dropped until the next successful open.
// Results of the writes themselves are not checked.
//
// A writer is used by one thread at a time (its owner). Copies share the
// open file; use only one of them to write and close. The destructor closes,
// so a writer that goes away leaves a complete file.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/file.h"
#include "common/time.h"
#include "media_common/video/image_buffer.h"

namespace dravo::media {

// A frame rate as the AVI stream header stores it: `rate` / `scale` frames
// a second.
struct FrameRate {
  uint32_t rate = 0;
  uint32_t scale = 1;
  bool operator==(FrameRate const&) const = default;
};

// `fps` as an exact fraction: whole rates over 1 (25 -> 25/1), the NTSC
// rates over 1001 (29.97 -> 30000/1001, 23.976 -> 24000/1001), anything else
// to a thousandth of a frame (12.5 -> 25/2). `fps` must be positive.
FrameRate exactFrameRate(double fps);

class AVIFileWriter {
 public:
  AVIFileWriter() = default;
  AVIFileWriter(AVIFileWriter const&) = default;
  AVIFileWriter& operator=(AVIFileWriter const&) = default;
  virtual ~AVIFileWriter();

  // Completes the current file and starts a new recording under `name` (part
  // counter, format and metadata start again). True when the file is open.
  bool openFile(std::string const& name);
  // Appends one frame, beginning a new file first as described above.
  void writeFrame(std::shared_ptr<ImageBuffer const> const& frame);
  // Queues an entry of the "info" list; `key` is cut or space-padded to four
  // characters.
  void appendMetadata(std::string const& key, std::string const& value);
  // Writes index, metadata and headers and releases the file; nothing
  // happens when no file is open.
  void close();
  // The current file's name, including any part suffix.
  std::string const& filename() const { return file_name_; }
  // The frame rate the headers of files completed from now on carry, exactly
  // (see `exactFrameRate`); 0 or less estimates it from the timestamps.
  void setFrameRate(double fps) { frame_rate_ = fps; }

 protected:
  // Completes the current file, then creates `name` ready for frame data.
  bool doOpenFile(std::string const& name);

 private:
  struct IndexEntry {
    int64_t position;  // of the chunk header
    uint32_t size;     // of the payload
  };

  void beginFile(ImageBuffer const& frame);
  std::string nextPartName() const;
  // Writes the frame's payload as a "00dc" chunk; returns its size, 0 when
  // the format is not recorded.
  uint32_t writePayload(ImageBuffer const& frame);
  void writeHeaders(int64_t file_length, int64_t movi_end, FrameRate const& rate,
                    uint32_t usec_per_frame);
  // The rate of the file being completed: the one set, else the estimate.
  FrameRate headerFrameRate() const;

  int32_t width_ = -1;
  int32_t height_ = -1;
  ImageBuffer::PixelFormat pixel_format_ = ImageBuffer::IMAGE_UNKNOWN;
  uint32_t largest_frame_ = 0;
  std::shared_ptr<File> f_;
  Time first_timestamp_;
  Time last_timestamp_;
  std::vector<IndexEntry> index_;
  std::string file_name_;
  // Metadata in the order appended, each entry with the number of frame
  // timestamps recorded before it, so that `close` writes both in the order
  // they came.
  struct MetadataEntry {
    std::string code;
    std::string value;
    size_t frames_before;
  };
  std::vector<MetadataEntry> metadata_;
  // The start timestamp of every frame, written as "tm64" entries at close:
  // 8 bytes a frame rather than a metadata entry each.
  std::vector<uint64_t> frame_stamps_;
  int32_t part_counter_ = 0;
  // Every name opened since `openFile`, so that a part never reuses one.
  std::vector<std::string> names_written_;
  double frame_rate_ = 0;
};

}  // namespace dravo::media
