#include "media_common/video/avi_file_writer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/logging.h"
#include "common/part_file_name.h"
#include "common/string_util.h"
#include "media_common/riff.h"
#include "media_common/video/avi_chunks.h"

DRAVO_LOGGER("avi_file_writer");

namespace dravo::media {

namespace {

using avi_chunks::HeaderBytes;

// Bytes before the "movi" list; the headers written at close must fit.
constexpr int64_t kHeaderAreaSize = 4096;
// Where the first frame chunk goes: after the "movi" list header.
constexpr int64_t kFrameDataStart = kHeaderAreaSize + 12;
// Index offsets count from the "movi" list type.
constexpr int64_t kIndexOrigin = kHeaderAreaSize + 8;
constexpr int64_t kLargeFileBytes = int64_t{1} << 31;
constexpr uint32_t kIndexKeyFrame = 0x10;
constexpr uint32_t kMainHeaderFlags = 0x910;  // has index, interleaved, trust chunk type
// The header lists of the fixed layout: "hdrl" with "avih" and one "strl"
// holding "strh", "strf" and "vprp".
constexpr uint32_t kHdrlListSize = 268;
constexpr uint32_t kStrlListSize = 192;
// Standard indexes the super index can list while the header area keeps its
// size: the "indx" chunk and the "odml" list take their room from the
// "JUNK" filler, which must keep at least its own header.
constexpr size_t kMaxSegments =
    (kHeaderAreaSize - 288 - 8 - avi_chunks::superIndexSize(0) - avi_chunks::kOdmlListSize) / 16;

bool isCompressed(ImageBuffer::PixelFormat format) {
  return format == ImageBuffer::IMAGE_JPEG || format == ImageBuffer::IMAGE_MJPEG ||
         format == ImageBuffer::IMAGE_QV1;
}

// Whether the planes follow each other in memory without stride padding,
// so that the payload is the bytes from the first plane on.
bool planesArePacked(ImageBuffer const& frame) {
  int64_t next_offset = frame.planes().empty() ? -1 : frame.planes()[0].offset_;
  for (ImageBuffer::Plane const& plane : frame.planes()) {
    if (plane.width_ <= 0 || plane.height_ <= 0 || plane.stride_ != plane.width_ ||
        plane.offset_ != next_offset)
      return false;
    next_offset += int64_t{plane.stride_} * plane.height_;
  }
  return true;
}

char const* handlerCode(ImageBuffer::PixelFormat format) {
  if (ImageBuffer::isI420Variant(format)) return "I420";
  switch (format) {
    case ImageBuffer::IMAGE_QV1:
      return "QV1 ";
    case ImageBuffer::IMAGE_JPEG:
      return "JPEG";
    case ImageBuffer::IMAGE_MJPEG:
      return "MJPG";
    default:
      return "----";
  }
}

uint32_t clampToU32(double value) {
  if (!(value > 0)) return 0;
  if (value >= 4294967295.0) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(value);
}

}  // namespace

FrameRate exactFrameRate(double fps) {
  double const whole = std::round(fps);
  if (whole >= 1 && std::fabs(fps - whole) < 1e-6) return {clampToU32(whole), 1};
  double const ntsc = std::round(fps * 1.001);
  if (ntsc >= 1 && std::fabs(fps - ntsc / 1.001) < 5e-4) return {clampToU32(ntsc * 1000), 1001};
  uint64_t rate = static_cast<uint64_t>(std::llround(std::min(fps, 4e6) * 1000));
  uint64_t scale = 1000;
  if (rate == 0) return {1, clampToU32(std::round(1 / fps))};  // slower than one a 1000 s
  uint64_t const divisor = std::gcd(rate, scale);
  return {static_cast<uint32_t>(rate / divisor), static_cast<uint32_t>(scale / divisor)};
}

AVIFileWriter::~AVIFileWriter() { close(); }

bool AVIFileWriter::openFile(std::string const& name) {
  // The file being completed keeps its format in its headers; only then is
  // the format forgotten, so that the next frame begins a file.
  close();
  part_counter_ = 0;
  width_ = -1;
  height_ = -1;
  pixel_format_ = ImageBuffer::IMAGE_UNKNOWN;
  metadata_.clear();
  frame_stamps_.clear();
  recording_name_ = name;
  // A recording closed before its first frame must not inherit the frames
  // of the previous one.
  index_.clear();
  largest_frame_ = 0;
  first_timestamp_ = Time();
  last_timestamp_ = Time();
  return doOpenFile(name);
}

bool AVIFileWriter::doOpenFile(std::string const& name) {
  file_name_ = name;
  close();
  if (name.empty()) return false;
  f_ = File::open(name, File::kWrite);
  if (!f_) {
    LOGF(2, "Could not create file %s", name.c_str());
    return false;
  }
  f_->seek(kFrameDataStart);
  write_failed_ = false;
  riff_start_ = 0;
  movi_start_ = kHeaderAreaSize;
  segment_first_frame_ = 0;
  segments_.clear();
  return true;
}

void AVIFileWriter::beginFile(ImageBuffer const& frame) {
  std::string const name = partFileName(recording_name_, ".avi", part_counter_++);
  // The file `openFile` made becomes the first part as it is. Completing it
  // would write headers only for the reopening to truncate them, and the
  // truncation waits for the disk to take them.
  bool const untouched = f_ && name == file_name_ && f_->tell() == kFrameDataStart;
  if (!untouched) doOpenFile(name);
  width_ = frame.width();
  height_ = frame.height();
  pixel_format_ = frame.format().pixel_format_;
  first_timestamp_ = frame.getStartTimestamp();
  largest_frame_ = 0;
  index_.clear();
}

void AVIFileWriter::writeFrame(std::shared_ptr<ImageBuffer const> const& frame) {
  if (!frame) return;
  ImageBuffer::PixelFormat const format = frame->format().pixel_format_;
  if (format != pixel_format_ ||
      (!isCompressed(format) && (frame->width() != width_ || frame->height() != height_)))
    beginFile(*frame);
  if (!f_ || write_failed_) return;
  uint32_t const size = payloadSize(*frame);
  if (size > 0 && wouldOverflowRiff(size)) {
    if (segments_.size() + 1 < kMaxSegments) {
      startExtension();
    } else {
      // The super index is full: the recording goes on in a part file.
      beginFile(*frame);
      if (!f_) return;
    }
  }
  int64_t const position = f_->tell();
  if (!writePayload(*frame, size)) {
    // The disk is full or the file too large: what came before stays
    // readable, and the headers count only the frames written whole.
    LOGF(2, "Could not write frame %zu of %s; dropping frames until the next file", index_.size(),
         file_name_.c_str());
    write_failed_ = true;
    return;
  }
  frame_stamps_.push_back(static_cast<uint64_t>(frame->getStartTimestamp().toNSec()));
  if (size == 0) return;
  if (size & 1) {
    unsigned char const pad = 0;
    f_->write(&pad, 1);
  }
  largest_frame_ = std::max(largest_frame_, size);
  index_.push_back({position, size});
  last_timestamp_ = frame->getStartTimestamp();
}

uint32_t AVIFileWriter::payloadSize(ImageBuffer const& frame) const {
  ImageBuffer::PixelFormat const format = frame.format().pixel_format_;
  if (ImageBuffer::isI420Variant(format)) {
    uint32_t size = 0;
    for (ImageBuffer::Plane const& plane : frame.planes())
      size += static_cast<uint32_t>(std::max(plane.width_, 0) * std::max(plane.height_, 0));
    return size;
  }
  if (isCompressed(format)) return static_cast<uint32_t>(std::max(frame.size(), 0));
  return 0;
}

bool AVIFileWriter::writePayload(ImageBuffer const& frame, uint32_t size) {
  ImageBuffer::PixelFormat const format = frame.format().pixel_format_;
  if (ImageBuffer::isI420Variant(format)) {
    riff::writeChunkHeader(f_, "00dc", size);
    // The usual layout: the payload is one run of memory, one write.
    if (planesArePacked(frame)) return f_->write(frame.getPixelAddress(0, 0, 0), size);
    bool written = true;
    for (int p = 0; p < static_cast<int>(frame.planes().size()); ++p) {
      ImageBuffer::Plane const& plane = frame.planes()[p];
      if (plane.width_ <= 0 || plane.height_ <= 0) continue;
      if (plane.stride_ == plane.width_) {
        written &=
            f_->write(frame.getPixelAddress(0, 0, p), size_t(plane.width_) * size_t(plane.height_));
        continue;
      }
      for (int y = 0; y < plane.height_; ++y)
        written &= f_->write(frame.getPixelAddress(0, y, p), plane.width_);
    }
    return written;
  }
  if (!isCompressed(format)) return true;
  riff::writeChunkHeader(f_, "00dc", size);
  return f_->write(frame.data(), size);
}

bool AVIFileWriter::wouldOverflowRiff(uint32_t size) const {
  size_t const frames = index_.size() - segment_first_frame_ + 1;
  if (frames == 1) return false;  // every RIFF list holds at least one frame
  // What the RIFF list needs after this frame: its standard index, and in
  // the first one the "idx1" as well.
  int64_t closing = avi_chunks::standardIndexSize(frames);
  if (segments_.empty()) closing += 8 + 16 * static_cast<int64_t>(frames);
  int64_t const end = f_->tell() + 8 + size + (size & 1) + closing;
  return end - riff_start_ > riff_size_limit_;
}

void AVIFileWriter::finishSegment() {
  int64_t const position = f_->tell();
  size_t const count = index_.size() - segment_first_frame_;
  f_->write(
      avi_chunks::standardIndex(movi_start_ + 8, index_.data() + segment_first_frame_, count));
  segments_.push_back(
      {position, avi_chunks::standardIndexSize(count), static_cast<uint32_t>(count)});
  patchList(movi_start_, "LIST", f_->tell(), "movi");
}

void AVIFileWriter::patchList(int64_t position, char const* id, int64_t end, char const* type) {
  int64_t const back = f_->tell();
  f_->seek(position);
  riff::writeList(f_, id, static_cast<uint32_t>(end - position - 8), type);
  f_->seek(back);
}

void AVIFileWriter::startExtension() {
  finishSegment();
  if (segments_.size() == 1) {
    first_movi_end_ = f_->tell();
    writeLegacyIndex(index_.size());
    first_riff_frames_ = static_cast<uint32_t>(index_.size());
    first_riff_end_ = f_->tell();
    // Headers that already describe everything before this point, so that
    // a recording cut short from here on (power loss) stays readable.
    int64_t const back = f_->tell();
    writeHeaders(first_riff_end_, first_movi_end_, headerFrameRate(), headerUsecPerFrame());
    f_->seek(back);
  } else {
    patchList(riff_start_, "RIFF", f_->tell(), "AVIX");
  }
  // Sizes that say "up to the end of the file" until they are known.
  riff_start_ = f_->tell();
  riff::writeList(f_, "RIFF", 0xFFFFFFFFu, "AVIX");
  movi_start_ = f_->tell();
  riff::writeList(f_, "LIST", 0xFFFFFFFFu, "movi");
  segment_first_frame_ = index_.size();
}

void AVIFileWriter::writeLegacyIndex(size_t count) {
  riff::writeChunkHeader(f_, "idx1", static_cast<uint32_t>(16 * count));
  HeaderBytes entries;
  for (size_t i = 0; i < count; ++i)
    entries.code("00dc")
        .u32(kIndexKeyFrame)
        .u32(static_cast<uint32_t>(index_[i].position - kIndexOrigin))
        .u32(index_[i].size);
  entries.writeTo(*f_);
}

void AVIFileWriter::appendMetadata(std::string const& key, std::string const& value) {
  std::string code = key.substr(0, 4);
  code.resize(4, ' ');
  metadata_.push_back({std::move(code), value, frame_stamps_.size()});
}

void AVIFileWriter::close() {
  if (!f_) return;
  int64_t const movi_end = f_->tell();
  if (segments_.empty()) {
    if (movi_end > kLargeFileBytes) LOGF(3, "AVI file > 2GB will probably be invalid.");
    writeLegacyIndex(index_.size());
  } else {
    finishSegment();
  }

  if (!metadata_.empty() || !frame_stamps_.empty()) {
    uint64_t list_size = 4 + 16 * uint64_t{frame_stamps_.size()};
    for (MetadataEntry const& entry : metadata_) list_size += 8 + entry.value.size();
    riff::writeList(f_, "LIST", static_cast<uint32_t>(list_size), "info");
    size_t stamps_written = 0;
    auto write_stamps_until = [&](size_t end) {
      HeaderBytes stamps;
      for (; stamps_written < end; ++stamps_written) {
        uint64_t const stamp = frame_stamps_[stamps_written];
        stamps.code("tm64")
            .u32(8)
            .u32(static_cast<uint32_t>(stamp))
            .u32(static_cast<uint32_t>(stamp >> 32));
      }
      stamps.writeTo(*f_);
    };
    for (MetadataEntry const& entry : metadata_) {
      write_stamps_until(entry.frames_before);
      riff::writeChunkHeader(f_, entry.code.c_str(), static_cast<uint32_t>(entry.value.size()));
      f_->write(entry.value);
    }
    write_stamps_until(frame_stamps_.size());
  }
  int64_t const file_length = f_->tell();
  if (!segments_.empty()) patchList(riff_start_, "RIFF", file_length, "AVIX");
  writeHeaders(file_length, movi_end, headerFrameRate(), headerUsecPerFrame());
  f_.reset();
}

uint32_t AVIFileWriter::headerUsecPerFrame() const {
  FrameRate const rate = headerFrameRate();
  double const fps = static_cast<double>(rate.rate) / rate.scale;
  // An estimated rate keeps the truncating division it always had; a rate
  // set by the caller is carried to the nearest microsecond.
  return frame_rate_ > 0 ? clampToU32(std::round(1000000.0 / fps))
                         : static_cast<uint32_t>(1000000.0 / fps);
}

FrameRate AVIFileWriter::headerFrameRate() const {
  if (frame_rate_ > 0) return exactFrameRate(frame_rate_);
  double fps = 30.0;
  double const span = (last_timestamp_ - first_timestamp_).toSec();
  if (index_.size() > 1 && span > 0) {
    fps = std::floor((index_.size() - 1) / span / 5 + 0.5) * 5;
    if (fps < 5 || fps > 30) fps = 30.0;
  }
  return {static_cast<uint32_t>(fps), 1};
}

void AVIFileWriter::writeHeaders(int64_t file_length, int64_t movi_end, FrameRate const& rate,
                                 uint32_t usec_per_frame) {
  uint32_t const frames = static_cast<uint32_t>(index_.size());
  // Past the first RIFF list the main header and the sizes describe that
  // list alone; the stream header, the super index and "dmlh" the whole.
  bool const extended = !segments_.empty();
  uint32_t const riff_size = static_cast<uint32_t>((extended ? first_riff_end_ : file_length) - 8);
  uint32_t const movi_size =
      static_cast<uint32_t>((extended ? first_movi_end_ : movi_end) - kIndexOrigin);
  uint32_t const main_frames = extended ? first_riff_frames_ : frames;
  uint32_t const extension_bytes = extended ? avi_chunks::superIndexSize(segments_.size()) : 0;
  uint32_t const width = static_cast<uint32_t>(width_);
  uint32_t const height = static_cast<uint32_t>(height_);
  uint32_t const refresh_rate = clampToU32(std::round(static_cast<double>(rate.rate) / rate.scale));
  char const* const handler = handlerCode(pixel_format_);

  f_->seek(0);
  riff::writeList(f_, "RIFF", riff_size, "AVI ");
  riff::writeList(f_, "LIST",
                  kHdrlListSize + extension_bytes + (extended ? avi_chunks::kOdmlListSize : 0),
                  "hdrl");
  riff::writeChunkHeader(f_, "avih", 56);
  HeaderBytes()
      .u32(usec_per_frame)
      .u32(0)
      .u32(0)
      .u32(kMainHeaderFlags)
      .u32(main_frames)
      .u32(0)
      .u32(1)
      .u32(0)
      .u32(width)
      .u32(height)
      .u32(0)
      .u32(0)
      .u32(0)
      .u32(0)
      .writeTo(*f_);
  riff::writeList(f_, "LIST", kStrlListSize + extension_bytes, "strl");
  riff::writeChunkHeader(f_, "strh", 56);
  HeaderBytes()
      .code("vids")
      .code(handler)
      .u32(0)
      .u16(0)
      .u16(0)
      .u32(0)
      .u32(rate.scale)
      .u32(rate.rate)
      .u32(0)
      .u32(frames)
      .u32(largest_frame_)
      .u32(0)
      .u32(0)
      .u16(0)
      .u16(0)
      .u16(width & 0xFFFF)
      .u16(height & 0xFFFF)
      .writeTo(*f_);
  riff::writeChunkHeader(f_, "strf", 40);
  HeaderBytes()
      .u32(40)
      .u32(width)
      .u32(height)
      .u16(1)
      .u16(24)
      .code(handler)
      .u32(width * height * 3)
      .u32(0)
      .u32(0)
      .u32(0)
      .u32(0)
      .writeTo(*f_);
  riff::writeChunkHeader(f_, "vprp", 68);
  HeaderBytes()
      .u32(0)
      .u32(0)
      .u32(refresh_rate)
      .u32(width)
      .u32(height)
      .u32(width * 65536 + height)
      .u32(width)
      .u32(height)
      .u32(1)
      .u32(height)
      .u32(width)
      .u32(height)
      .u32(width)
      .u32(0)
      .u32(0)
      .u32(0)
      .u32(0)
      .writeTo(*f_);
  if (extended) {
    f_->write(avi_chunks::superIndex(segments_));
    f_->write(avi_chunks::odmlList(frames));
  }
  int64_t const junk_size = kHeaderAreaSize - 8 - f_->tell();
  if (junk_size < 0 || junk_size > kHeaderAreaSize) {
    // Only when the file refused the header writes (disk full): whatever
    // reached the disk stays as it is.
    LOGF(2, "Could not write the headers of %s", file_name_.c_str());
    return;
  }
  riff::writeChunkHeader(f_, "JUNK", static_cast<uint32_t>(junk_size));
  f_->write(std::string(static_cast<size_t>(junk_size), '#'));
  riff::writeList(f_, "LIST", movi_size, "movi");
}

}  // namespace dravo::media
