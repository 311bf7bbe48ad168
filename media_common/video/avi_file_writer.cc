#include "media_common/video/avi_file_writer.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/riff.h"

DRAVO_LOGGER("avi_file_writer");

namespace dravo::media {

namespace {

// Bytes before the "movi" list; the headers written at close must fit.
constexpr int64_t kHeaderAreaSize = 4096;
// Where the first frame chunk goes: after the "movi" list header.
constexpr int64_t kFrameDataStart = kHeaderAreaSize + 12;
// Index offsets count from the "movi" list type.
constexpr int64_t kIndexOrigin = kHeaderAreaSize + 8;
constexpr int64_t kLargeFileBytes = int64_t{1} << 31;
constexpr uint32_t kIndexKeyFrame = 0x10;
constexpr uint32_t kMainHeaderFlags = 0x910;  // has index, interleaved, trust chunk type

// Little-endian fields of a header payload.
class HeaderBytes {
 public:
  HeaderBytes& u32(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<char>(value >> (8 * i)));
    return *this;
  }
  HeaderBytes& u16(uint32_t value) {
    bytes_.push_back(static_cast<char>(value));
    bytes_.push_back(static_cast<char>(value >> 8));
    return *this;
  }
  HeaderBytes& code(char const* fourcc) {
    bytes_.append(fourcc, 4);
    return *this;
  }
  void writeTo(File& f) const { f.write(bytes_); }
  size_t size() const { return bytes_.size(); }

 private:
  std::string bytes_;
};

bool isCompressed(ImageBuffer::PixelFormat format) {
  return format == ImageBuffer::IMAGE_JPEG || format == ImageBuffer::IMAGE_MJPEG ||
         format == ImageBuffer::IMAGE_QV1;
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
  names_written_.clear();
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
  if (std::find(names_written_.begin(), names_written_.end(), name) == names_written_.end())
    names_written_.push_back(name);
  f_->seek(kFrameDataStart);
  return true;
}

std::string AVIFileWriter::nextPartName() const {
  std::string const& name = file_name_;
  std::string const suffix = stringPrintf("_part%d", part_counter_);
  std::string const previous =
      part_counter_ > 1 ? stringPrintf("_part%d.avi", part_counter_ - 1) : std::string(".avi");
  std::string next;
  size_t found = name.find(previous);
  if (found != std::string::npos) {
    next = name.substr(0, found) + suffix + ".avi";
  } else {
    // No ".avi" to build on: the suffix goes at the end, replacing the one
    // appended for the previous part.
    std::string const appended = stringPrintf("_part%d", part_counter_ - 1);
    if (part_counter_ > 1 && name.size() >= appended.size() &&
        name.compare(name.size() - appended.size(), appended.size(), appended) == 0)
      next = name.substr(0, name.size() - appended.size()) + suffix;
    else
      next = name + suffix;
  }
  // Odd names can lead back to a file of this recording; never reopen one.
  while (std::find(names_written_.begin(), names_written_.end(), next) != names_written_.end())
    next += suffix;
  return next;
}

void AVIFileWriter::beginFile(ImageBuffer const& frame) {
  std::string name = file_name_;
  if (part_counter_ != 0 && !name.empty()) name = nextPartName();
  ++part_counter_;
  doOpenFile(name);
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
  if (!f_) return;
  int64_t const position = f_->tell();
  uint32_t const size = writePayload(*frame);
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

uint32_t AVIFileWriter::writePayload(ImageBuffer const& frame) {
  ImageBuffer::PixelFormat const format = frame.format().pixel_format_;
  if (ImageBuffer::isI420Variant(format)) {
    uint32_t size = 0;
    for (ImageBuffer::Plane const& plane : frame.planes())
      size += static_cast<uint32_t>(std::max(plane.width_, 0) * std::max(plane.height_, 0));
    riff::writeChunkHeader(f_, "00dc", size);
    for (int p = 0; p < static_cast<int>(frame.planes().size()); ++p) {
      ImageBuffer::Plane const& plane = frame.planes()[p];
      if (plane.width_ <= 0 || plane.height_ <= 0) continue;
      if (plane.stride_ == plane.width_) {
        f_->write(frame.getPixelAddress(0, 0, p), size_t(plane.width_) * size_t(plane.height_));
        continue;
      }
      for (int y = 0; y < plane.height_; ++y)
        f_->write(frame.getPixelAddress(0, y, p), plane.width_);
    }
    return size;
  }
  if (isCompressed(format)) {
    uint32_t const size = static_cast<uint32_t>(std::max(frame.size(), 0));
    riff::writeChunkHeader(f_, "00dc", size);
    f_->write(frame.data(), size);
    return size;
  }
  return 0;
}

void AVIFileWriter::appendMetadata(std::string const& key, std::string const& value) {
  std::string code = key.substr(0, 4);
  code.resize(4, ' ');
  metadata_.push_back({std::move(code), value, frame_stamps_.size()});
}

void AVIFileWriter::close() {
  if (!f_) return;
  int64_t const movi_end = f_->tell();
  if (movi_end > kLargeFileBytes) LOGF(3, "AVI file > 2GB will probably be invalid.");

  riff::writeChunkHeader(f_, "idx1", static_cast<uint32_t>(16 * index_.size()));
  HeaderBytes entries;
  for (IndexEntry const& entry : index_)
    entries.code("00dc")
        .u32(kIndexKeyFrame)
        .u32(static_cast<uint32_t>(entry.position - kIndexOrigin))
        .u32(entry.size);
  entries.writeTo(*f_);

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
  FrameRate const rate = headerFrameRate();
  double const fps = static_cast<double>(rate.rate) / rate.scale;
  // An estimated rate keeps the truncating division it always had; a rate
  // set by the caller is carried to the nearest microsecond.
  uint32_t const usec_per_frame = frame_rate_ > 0 ? clampToU32(std::round(1000000.0 / fps))
                                                  : static_cast<uint32_t>(1000000.0 / fps);
  writeHeaders(file_length, movi_end, rate, usec_per_frame);
  f_.reset();
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
  uint32_t const width = static_cast<uint32_t>(width_);
  uint32_t const height = static_cast<uint32_t>(height_);
  uint32_t const refresh_rate = clampToU32(std::round(static_cast<double>(rate.rate) / rate.scale));
  char const* const handler = handlerCode(pixel_format_);

  f_->seek(0);
  riff::writeList(f_, "RIFF", static_cast<uint32_t>(file_length - 8), "AVI ");
  riff::writeList(f_, "LIST", 268, "hdrl");
  riff::writeChunkHeader(f_, "avih", 56);
  HeaderBytes()
      .u32(usec_per_frame)
      .u32(0)
      .u32(0)
      .u32(kMainHeaderFlags)
      .u32(frames)
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
  riff::writeList(f_, "LIST", 192, "strl");
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
  int64_t const junk_size = kHeaderAreaSize - 8 - f_->tell();
  if (junk_size < 0 || junk_size > kHeaderAreaSize) {
    // Only when the file refused the header writes (disk full): whatever
    // reached the disk stays as it is.
    LOGF(2, "Could not write the headers of %s", file_name_.c_str());
    return;
  }
  riff::writeChunkHeader(f_, "JUNK", static_cast<uint32_t>(junk_size));
  f_->write(std::string(static_cast<size_t>(junk_size), '#'));
  riff::writeList(f_, "LIST", static_cast<uint32_t>(movi_end - kIndexOrigin), "movi");
}

}  // namespace dravo::media
