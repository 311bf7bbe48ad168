#include "media_common/video/avi_file_reader.h"

#include <re2/re2.h>

#include <charconv>
#include <cstring>
#include <limits>

#include "common/check.h"
#include "common/logging.h"
#include "common/string_util.h"
#include "media_common/riff.h"

DRAVO_LOGGER("avi_file_reader");

namespace dravo::media {

namespace {

constexpr size_t kMainHeaderSize = 56;
constexpr size_t kStreamHeaderSize = 56;

uint32_t le32(unsigned char const* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

ImageBuffer::PixelFormat formatFromHandler(std::string const& code) {
  if (code == "JPEG") return ImageBuffer::IMAGE_JPEG;
  if (code == "MJPG") return ImageBuffer::IMAGE_MJPEG;
  if (code == "I420") return ImageBuffer::IMAGE_I420;
  if (code == "QV1 ") return ImageBuffer::IMAGE_QV1;
  return ImageBuffer::IMAGE_UNKNOWN;
}

// Logs the failed condition and refuses.
bool refuse(char const* what) {
  LOGF(2, "%s", what);
  return false;
}

// "name:<digits>" with a number that fits 32 bits gives (name, number);
// anything else is the whole piece without a limit.
std::pair<std::string, int32_t> parseSegment(std::string const& piece) {
  static RE2 const kSegment("(.*):([0-9]*)");
  std::string name;
  std::string digits;
  int32_t limit = 0;
  if (RE2::FullMatch(piece, kSegment, &name, &digits) && !digits.empty()) {
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), limit);
    if (error == std::errc() && end == digits.data() + digits.size()) return {name, limit};
  }
  return {piece, std::numeric_limits<int32_t>::max()};
}

}  // namespace

AVIFileReader::AVIFileReader() = default;
AVIFileReader::~AVIFileReader() = default;

bool AVIFileReader::openFile(std::string const& spec) {
  DRAVO_CHECK(!f_.get());
  std::vector<std::string> const pieces = SplitString(spec, ",", kSplitSkipEmpty);
  if (pieces.empty()) return false;
  for (std::string const& piece : pieces) segments_.push(parseSegment(piece));
  file_name_ = spec;
  return doOpenFile();
}

bool AVIFileReader::doOpenFile() {
  f_.reset();
  if (segments_.empty()) return false;
  current_file_name_ = std::move(segments_.front().first);
  frame_limit_ = segments_.front().second;
  segments_.pop();
  f_ = File::open(current_file_name_, File::kRead);
  {
    MutexLock lock(mutex_);
    frame_index_ = 0;
    eof_ = false;
  }
  metadata_.clear();
  file_size_ = f_ ? f_->size() : -1;
  if (!f_ || file_size_ < 0 || !parseHeader()) {
    LOGF(2, "Can't read AVI file %s", current_file_name_.c_str());
    f_.reset();
    return false;
  }
  return true;
}

int64_t AVIFileReader::bytesLeft() const { return file_size_ - f_->tell(); }

bool AVIFileReader::parseHeader() {
  unsigned int total_size = 0;
  char fourcc[5] = {};
  if (!riff::readList(f_, "RIFF", &total_size, fourcc))
    return refuse("riff::readList(f_, \"RIFF\", &total_size, fourcc)");
  if (0 != strcmp(fourcc, "AVI ")) return refuse("0 == strcmp(fourcc, \"AVI \")");

  width_ = 0;
  height_ = 0;
  fps_ = 0;
  format_ = ImageBuffer::IMAGE_UNKNOWN;
  bool movi_seen = false;
  int64_t movi_start = 0;
  // Runs to the end of the file, not of the RIFF list: lists written after
  // the RIFF end are found too.
  while (f_->tell() < file_size_) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) return refuse("riff::readChunkHeader(f_, &chunk)");
    int64_t const pos = f_->tell();
    if (chunk.list) {
      if (chunk.fourcc == "hdrl") {
        if (!parseHdrl(pos + chunk.chunk_size)) return refuse("parseHdrl(pos + chunk.chunk_size)");
      } else if (chunk.fourcc == "movi" && !movi_seen) {
        movi_end_ = std::min<int64_t>(pos + chunk.chunk_size, file_size_);
        if (!(width_ > 0)) return refuse("width_ > 0");
        if (!(height_ > 0)) return refuse("height_ > 0");
        if (!(fps_ > 0)) return refuse("fps_ > 0");
        if (!(format_ != ImageBuffer::IMAGE_UNKNOWN))
          return refuse("format_ != ImageBuffer::IMAGE_UNKNOWN");
        movi_seen = true;
        movi_start = pos;
      } else if (chunk.fourcc == "info") {
        if (!parseInfo(pos + chunk.chunk_size)) return refuse("parseInfo(pos + chunk.chunk_size)");
      }
    }
    f_->seek(pos + chunk.chunk_size);
  }
  if (!movi_seen) return false;
  f_->seek(movi_start);
  return true;
}

bool AVIFileReader::parseHdrl(int64_t end) {
  while (f_->tell() < end) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) return refuse("riff::readChunkHeader(f_, &chunk)");
    int64_t const pos = f_->tell();
    if (!chunk.list && chunk.fourcc == "avih") {
      unsigned char main_header[kMainHeaderSize];
      if (f_->read(&main_header, sizeof(main_header)) != sizeof(main_header))
        return refuse("f_->read(&main_header, sizeof(main_header)) == sizeof(main_header)");
      uint32_t const usec_per_frame = le32(main_header);
      width_ = static_cast<int32_t>(le32(main_header + 32));
      height_ = static_cast<int32_t>(le32(main_header + 36));
      if (usec_per_frame != 0)
        fps_ = static_cast<float>(static_cast<unsigned>(1000000.0 / usec_per_frame));
    } else if (chunk.list && chunk.fourcc == "strl") {
      if (!parseStrl()) return refuse("parseStrl()");
    }
    f_->seek(pos + chunk.chunk_size);
  }
  return true;
}

bool AVIFileReader::parseStrl() {
  // Only the first "strh" counts; the search may run past the "strl" list.
  riff::ChunkHeader chunk;
  for (;;) {
    if (!riff::readChunkHeader(f_, &chunk)) return refuse("riff::readChunkHeader(f_, &chunk)");
    if (!chunk.list && chunk.fourcc == "strh") break;
    f_->seek(f_->tell() + chunk.chunk_size);
  }
  unsigned char strh_header[kStreamHeaderSize];
  if (f_->read(&strh_header, sizeof(strh_header)) != sizeof(strh_header))
    return refuse("f_->read(&strh_header, sizeof(strh_header)) == sizeof(strh_header)");
  format_ = formatFromHandler(std::string(reinterpret_cast<char const*>(strh_header) + 4, 4));
  uint32_t const rate = le32(strh_header + 24);
  if (rate != 0 && fps_ == 0) fps_ = static_cast<float>(rate);
  return true;
}

bool AVIFileReader::parseInfo(int64_t end) {
  while (f_->tell() < end) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) return refuse("riff::readChunkHeader(f_, &chunk)");
    int64_t const pos = f_->tell();
    // Only what the file really holds is allocated.
    if (static_cast<int64_t>(chunk.chunk_size) > bytesLeft())
      return refuse("f_->read(temp.get(), chunk.chunk_size) == (ssize_t)chunk.chunk_size");
    std::string value(chunk.chunk_size, '\0');
    if (f_->read(value.data(), value.size()) != value.size())
      return refuse("f_->read(temp.get(), chunk.chunk_size) == (ssize_t)chunk.chunk_size");
    // The writer puts no pad byte after odd values in this list.
    f_->seek(pos + chunk.chunk_size);
    metadata_[chunk.fourcc].push_back(std::move(value));
  }
  return true;
}

std::shared_ptr<ImageBuffer> AVIFileReader::doReadFrame(Duration* duration) {
  if (!f_) return nullptr;
  for (;;) {
    if (f_->tell() >= movi_end_ || getFrameIndex() >= frame_limit_) {
      if (!doOpenFile()) {
        setEof(true);
        if (duration) *duration = Duration();
        return nullptr;
      }
    }
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) return nullptr;
    int64_t const data_start = f_->tell();
    int64_t const next = data_start + chunk.chunk_size + (chunk.chunk_size & 1);
    if (chunk.list || chunk.fourcc != "00dc") {
      f_->seek(next);
      continue;
    }
    if (static_cast<int64_t>(chunk.chunk_size) > bytesLeft() ||
        chunk.chunk_size > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
      LOGF(3, "Frame %d of %s is cut short by the end of the file", getFrameIndex(),
           current_file_name_.c_str());
      f_->seek(movi_end_);
      return nullptr;
    }
    if (ImageBuffer::isI420Variant(format_)) {
      int64_t const w = width_, h = height_;
      int64_t const needed = w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
      if (needed > static_cast<int64_t>(chunk.chunk_size)) {
        LOGF(3, "Skipping frame chunk of %u bytes in %s: a %dx%d I420 frame needs %lld",
             chunk.chunk_size, current_file_name_.c_str(), width_, height_,
             static_cast<long long>(needed));
        f_->seek(next);
        continue;
      }
    }
    if (duration) *duration = Duration::fromSec(1.0 / fps_);
    std::shared_ptr<unsigned char[]> payload(
        new unsigned char[chunk.chunk_size ? chunk.chunk_size : 1]);
    if (f_->read(payload.get(), chunk.chunk_size) != chunk.chunk_size) return nullptr;
    auto frame = std::make_shared<ImageBuffer>(width_, height_, format_, payload.get(), payload,
                                               static_cast<int>(chunk.chunk_size));
    frame->autoDetectWidthAndHeight();
    incrementFrameIndex();
    f_->seek(next);
    return frame;
  }
}

std::vector<int64_t> AVIFileReader::getTimestamps() const {
  std::vector<int64_t> result;
  auto found = metadata_.find("tm64");
  if (found == metadata_.end()) return result;
  for (auto i = found->second.begin(); i != found->second.end(); ++i) {
    int64_t temp = 0;
    DRAVO_CHECK(i->size() == sizeof(temp));
    if (i->size() != sizeof(temp)) continue;
    uint64_t value = 0;
    for (int b = 7; b >= 0; --b) value = value << 8 | static_cast<unsigned char>((*i)[b]);
    temp = static_cast<int64_t>(value);
    result.push_back(temp);
  }
  return result;
}

}  // namespace dravo::media
