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
// Recordings of any length (the OpenDML extension): a file below 1 GiB has
// the layout above. When the next frame would take the first RIFF list past
// 1 GiB, its "movi" list gets a standard index ("ix00") and is closed with
// the "idx1" of its frames, and the recording continues in "RIFF" "AVIX"
// lists of up to 1 GiB, each with a "movi" list and its standard index. The
// super index ("indx", in the stream's "strl") and the "odml" list with the
// total frame count take their room from the "JUNK" filler, so frame data
// still starts at 4108; the "info" list goes into the last RIFF list. The
// headers are written at the first switch already, so that a recording cut
// short later (power loss) keeps what came before. When the super index is
// full (about 200 GiB), the recording goes on in a part file.
//
// A file that cannot be created is logged on
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
#include "media_common/video/avi_chunks.h"
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
  // The size a RIFF list may reach before the recording continues in the
  // next: 1 GiB unless changed (tests lower it to cross it with small files).
  // Takes effect from the next frame.
  void setRiffSizeLimit(int64_t bytes) { riff_size_limit_ = bytes; }

  static constexpr int64_t kDefaultRiffSizeLimit = int64_t{1} << 30;

 protected:
  // Completes the current file, then creates `name` ready for frame data.
  bool doOpenFile(std::string const& name);

 private:
  void beginFile(ImageBuffer const& frame);
  std::string nextPartName() const;
  // The payload size of `frame`; 0 when its format is not recorded.
  uint32_t payloadSize(ImageBuffer const& frame) const;
  // Writes the frame's payload of `size` bytes as a "00dc" chunk.
  void writePayload(ImageBuffer const& frame, uint32_t size);
  // Whether a frame of `size` bytes would take the RIFF list being written
  // past the limit, counting the indexes that must close it.
  bool wouldOverflowRiff(uint32_t size) const;
  // Closes the RIFF list being written and opens an "AVIX" list.
  void startExtension();
  // Writes the standard index of the current "movi" list and its size.
  void finishSegment();
  // Rewrites the list header at `position` for a list ending at `end`.
  void patchList(int64_t position, char const* id, int64_t end, char const* type);
  // Writes "idx1" for the first `count` frames.
  void writeLegacyIndex(size_t count);
  uint32_t headerUsecPerFrame() const;
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
  std::vector<avi_chunks::FrameEntry> index_;
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
  int64_t riff_size_limit_ = kDefaultRiffSizeLimit;
  // The RIFF list and "movi" list being written, and the first frame of
  // that list in `index_`.
  int64_t riff_start_ = 0;
  int64_t movi_start_ = 0;
  size_t segment_first_frame_ = 0;
  // The standard index of every RIFF list completed in this file; empty
  // while the file has the plain layout.
  std::vector<avi_chunks::SegmentIndex> segments_;
  // The first RIFF list once it is complete: its frames, the end of its
  // "movi" list and its own end.
  uint32_t first_riff_frames_ = 0;
  int64_t first_movi_end_ = 0;
  int64_t first_riff_end_ = 0;
};

}  // namespace dravo::media
