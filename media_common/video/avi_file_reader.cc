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
// The fields of "strf" up to the compression code.
constexpr size_t kBitmapHeaderPrefix = 20;
constexpr int64_t k4GiB = int64_t{1} << 32;

uint32_t le32(unsigned char const* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
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
  if (pieces.empty()) {
    open_error_ = OPEN_CANNOT_OPEN;
    return false;
  }
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
  open_error_ = OPEN_OK;
  file_size_ = f_ ? f_->size() : -1;
  if (!f_ || file_size_ < 0) open_error_ = OPEN_CANNOT_OPEN;
  if (!f_ || file_size_ < 0 || !parseHeader()) {
    LOGF(2, "Can't read AVI file %s", current_file_name_.c_str());
    f_.reset();
    return false;
  }
  return true;
}

double AVIFileReader::nominalFrameRate() const {
  if (stream_rate_ != 0 && stream_scale_ != 0) return double(stream_rate_) / stream_scale_;
  if (usec_per_frame_ != 0) return 1000000.0 / usec_per_frame_;
  return fps_;
}

std::string AVIFileReader::openErrorText() const {
  switch (open_error_) {
    case OPEN_OK:
      return {};
    case OPEN_CANNOT_OPEN:
      return "cannot open the file";
    case OPEN_NOT_AVI:
      return "not an AVI file";
    case OPEN_TRUNCATED_HEADER:
      return "truncated header";
    case OPEN_NO_VIDEO_STREAM:
      return "no video stream";
    case OPEN_UNSUPPORTED_CODEC:
      return "unsupported video codec '" + unsupported_codec_ + "'";
    case OPEN_INVALID_HEADER:
      return "invalid header";
    case OPEN_NO_FRAME_DATA:
      return "no frame data";
    case OPEN_DAMAGED_METADATA:
      return "damaged metadata";
  }
  return {};
}

int64_t AVIFileReader::bytesLeft() const { return file_size_ - f_->tell(); }

bool AVIFileReader::refuse(char const* condition, OpenError reason) {
  LOGF(2, "%s", condition);
  if (open_error_ == OPEN_OK) open_error_ = reason;
  return false;
}

bool AVIFileReader::parseHeader() {
  unsigned int total_size = 0;
  char fourcc[5] = {};
  if (!riff::readList(f_, "RIFF", &total_size, fourcc))
    return refuse("riff::readList(f_, \"RIFF\", &total_size, fourcc)",
                  file_size_ < 12 ? OPEN_TRUNCATED_HEADER : OPEN_NOT_AVI);
  if (0 != strcmp(fourcc, "AVI ")) return refuse("0 == strcmp(fourcc, \"AVI \")", OPEN_NOT_AVI);
  int64_t const first_riff_end = 8 + int64_t{total_size};

  width_ = 0;
  height_ = 0;
  fps_ = 0;
  stream_rate_ = 0;
  stream_scale_ = 0;
  usec_per_frame_ = 0;
  format_ = ImageBuffer::IMAGE_UNKNOWN;
  video_stream_ = -1;
  streams_ = 0;
  handler_.clear();
  have_bitmap_header_ = false;
  movi_lists_.clear();
  current_movi_ = 0;
  declared_total_frames_ = -1;
  truncated_ = false;
  unsupported_codec_.clear();
  // The end of the "AVIX" list being scanned; -1 before the first.
  int64_t extension_end = -1;
  // Runs to the end of the file, not of the RIFF list: lists written after
  // the RIFF end are found too, and so are the "AVIX" lists of files beyond
  // 1 GiB.
  while (f_->tell() < file_size_) {
    int64_t const header_at = f_->tell();
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) {
      // A file cut short after its first RIFF list still plays what it has.
      if (!movi_lists_.empty() && header_at >= first_riff_end) {
        truncated_ = true;
        break;
      }
      return refuse("riff::readChunkHeader(f_, &chunk)", OPEN_TRUNCATED_HEADER);
    }
    int64_t const pos = f_->tell();
    int64_t skip_to = pos + chunk.chunk_size;
    bool const in_extension = extension_end >= 0 && header_at < extension_end;
    // Nothing inside an "AVIX" list reaches beyond it.
    if (in_extension && skip_to > extension_end) {
      truncated_ = truncated_ || skip_to > file_size_;
      skip_to = extension_end;
    }
    if (!chunk.list && chunk.fourcc == "RIFF" && !movi_lists_.empty()) {
      char type[4];
      if (f_->read(type, sizeof(type)) == sizeof(type) && std::string(type, 4) == "AVIX") {
        // Its lists are scanned like those of the first RIFF list.
        extension_end = std::min(skip_to, file_size_);
        if (skip_to > file_size_) truncated_ = true;
        continue;
      }
    } else if (chunk.list) {
      if (chunk.fourcc == "hdrl") {
        if (!parseHdrl(pos + chunk.chunk_size))
          return refuse("parseHdrl(pos + chunk.chunk_size)", OPEN_TRUNCATED_HEADER);
      } else if (chunk.fourcc == "movi" && movi_lists_.empty()) {
        if (!checkVideoStream()) return false;
        skip_to = firstMoviEnd(pos, chunk.chunk_size);
        if (skip_to > file_size_) truncated_ = true;
        movi_lists_.push_back({pos, std::min(skip_to, file_size_)});
      } else if (chunk.fourcc == "movi" && in_extension) {
        movi_lists_.push_back({pos, std::min(skip_to, file_size_)});
      } else if (chunk.fourcc == "info") {
        if (!parseInfo(pos + chunk.chunk_size)) {
          // Metadata cut short with an extension's frames: those play.
          if (!in_extension)
            return refuse("parseInfo(pos + chunk.chunk_size)", OPEN_DAMAGED_METADATA);
          truncated_ = true;
          break;
        }
      }
    } else if (chunk.fourcc == "idx1" && skip_to > file_size_) {
      truncated_ = true;
    }
    f_->seek(skip_to);
  }
  // The first RIFF list ends where it says unless the file was cut short.
  if (first_riff_end > file_size_) truncated_ = true;
  if (movi_lists_.empty()) {
    if (open_error_ == OPEN_OK)
      open_error_ = truncated_ ? OPEN_TRUNCATED_HEADER : OPEN_NO_FRAME_DATA;
    return false;
  }
  f_->seek(movi_lists_[0].start);
  movi_end_ = movi_lists_[0].end;
  return true;
}

bool AVIFileReader::checkVideoStream() {
  layout_ = AVIVideoLayout::decide(handler_, have_bitmap_header_ ? &bitmap_header_ : nullptr,
                                   width_, height_);
  if (video_stream_ >= 0) format_ = layout_.pixelFormat();
  OpenError reason = OPEN_INVALID_HEADER;
  if (video_stream_ < 0) {
    reason = OPEN_NO_VIDEO_STREAM;
  } else if (format_ == ImageBuffer::IMAGE_UNKNOWN) {
    reason = OPEN_UNSUPPORTED_CODEC;
    unsupported_codec_ = layout_.codec();
  }
  if (!(width_ > 0)) return refuse("width_ > 0", reason);
  if (!(height_ > 0)) return refuse("height_ > 0", reason);
  if (!(fps_ > 0)) return refuse("fps_ > 0", reason);
  if (!(format_ != ImageBuffer::IMAGE_UNKNOWN))
    return refuse("format_ != ImageBuffer::IMAGE_UNKNOWN", reason);
  std::string const number = stringPrintf("%02d", video_stream_ % 100);
  frame_chunk_ids_[0] = number + "dc";
  frame_chunk_ids_[1] = number + "db";
  return true;
}

int64_t AVIFileReader::firstMoviEnd(int64_t start, uint32_t size) {
  int64_t const declared = start + size;
  if (file_size_ - start < k4GiB) return declared;
  // More data follows than a 32-bit size can count: a writer without the
  // OpenDML extension let the size wrap. Its index follows the real end.
  for (int64_t end = declared; end + 8 <= file_size_; end += k4GiB) {
    riff::ChunkHeader chunk;
    if (f_->seek(end) && riff::readChunkHeader(f_, &chunk) && !chunk.list && chunk.fourcc == "idx1")
      return end;
  }
  return declared;
}

bool AVIFileReader::parseHdrl(int64_t end) {
  while (f_->tell() < end) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk))
      return refuse("riff::readChunkHeader(f_, &chunk)", OPEN_TRUNCATED_HEADER);
    int64_t const pos = f_->tell();
    if (!chunk.list && chunk.fourcc == "avih") {
      unsigned char main_header[kMainHeaderSize];
      if (f_->read(&main_header, sizeof(main_header)) != sizeof(main_header))
        return refuse("f_->read(&main_header, sizeof(main_header)) == sizeof(main_header)",
                      OPEN_TRUNCATED_HEADER);
      usec_per_frame_ = le32(main_header);
      width_ = static_cast<int32_t>(le32(main_header + 32));
      height_ = static_cast<int32_t>(le32(main_header + 36));
      if (usec_per_frame_ != 0)
        fps_ = static_cast<float>(static_cast<unsigned>(1000000.0 / usec_per_frame_));
    } else if (chunk.list && chunk.fourcc == "strl") {
      if (!parseStrl(pos + chunk.chunk_size)) return refuse("parseStrl()", OPEN_INVALID_HEADER);
      ++streams_;
    } else if (chunk.list && chunk.fourcc == "odml") {
      continue;  // its "dmlh" is read below
    } else if (!chunk.list && chunk.fourcc == "dmlh" && chunk.chunk_size >= 4) {
      unsigned char total[4];
      if (f_->read(total, sizeof(total)) != sizeof(total))
        return refuse("f_->read(total, sizeof(total)) == sizeof(total)", OPEN_TRUNCATED_HEADER);
      declared_total_frames_ = le32(total);
    }
    f_->seek(pos + chunk.chunk_size);
  }
  return true;
}

bool AVIFileReader::parseStrl(int64_t end) {
  // Only the first "strh" of a stream counts; the first "vids" stream is the
  // one played.
  int const number = streams_;
  bool have_strh = false;
  while (f_->tell() < end) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk))
      return refuse("riff::readChunkHeader(f_, &chunk)", OPEN_TRUNCATED_HEADER);
    int64_t const pos = f_->tell();
    if (!chunk.list && chunk.fourcc == "strh" && !have_strh) {
      unsigned char strh_header[kStreamHeaderSize];
      if (f_->read(&strh_header, sizeof(strh_header)) != sizeof(strh_header))
        return refuse("f_->read(&strh_header, sizeof(strh_header)) == sizeof(strh_header)",
                      OPEN_TRUNCATED_HEADER);
      have_strh = true;
      if (video_stream_ < 0 && std::memcmp(strh_header, "vids", 4) == 0) {
        video_stream_ = number;
        handler_.assign(reinterpret_cast<char const*>(strh_header) + 4, 4);
        stream_scale_ = le32(strh_header + 20);
        stream_rate_ = le32(strh_header + 24);
        if (stream_rate_ != 0 && fps_ == 0)
          fps_ = static_cast<float>(double(stream_rate_) / (stream_scale_ ? stream_scale_ : 1));
      }
    } else if (!chunk.list && chunk.fourcc == "strf" && video_stream_ == number &&
               !have_bitmap_header_ && chunk.chunk_size >= kBitmapHeaderPrefix) {
      unsigned char bitmap[kBitmapHeaderPrefix];
      if (f_->read(bitmap, sizeof(bitmap)) != sizeof(bitmap))
        return refuse("f_->read(bitmap, sizeof(bitmap)) == sizeof(bitmap)", OPEN_TRUNCATED_HEADER);
      bitmap_header_.height = static_cast<int32_t>(le32(bitmap + 8));
      bitmap_header_.bit_count = static_cast<uint16_t>(bitmap[14] | bitmap[15] << 8);
      bitmap_header_.compression.assign(reinterpret_cast<char const*>(bitmap) + 16, 4);
      have_bitmap_header_ = true;
    }
    f_->seek(pos + chunk.chunk_size);
  }
  if (!have_strh && open_error_ == OPEN_OK) open_error_ = OPEN_INVALID_HEADER;
  return have_strh;
}

bool AVIFileReader::parseInfo(int64_t end) {
  while (f_->tell() < end) {
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk))
      return refuse("riff::readChunkHeader(f_, &chunk)", OPEN_DAMAGED_METADATA);
    // Only what the file really holds is allocated.
    if (static_cast<int64_t>(chunk.chunk_size) > bytesLeft())
      return refuse("f_->read(temp.get(), chunk.chunk_size) == (ssize_t)chunk.chunk_size",
                    OPEN_DAMAGED_METADATA);
    std::string value(chunk.chunk_size, '\0');
    if (f_->read(value.data(), value.size()) != value.size())
      return refuse("f_->read(temp.get(), chunk.chunk_size) == (ssize_t)chunk.chunk_size",
                    OPEN_DAMAGED_METADATA);
    // The writer puts no pad byte after odd values in this list, so the next
    // entry follows; a seek here would drop the stream's buffer once an
    // entry, thousands of times in a long recording.
    metadata_[chunk.fourcc].push_back(std::move(value));
  }
  return true;
}

bool AVIFileReader::nextMoviList() {
  if (current_movi_ + 1 >= movi_lists_.size()) return false;
  ++current_movi_;
  f_->seek(movi_lists_[current_movi_].start);
  movi_end_ = movi_lists_[current_movi_].end;
  return true;
}

std::shared_ptr<ImageBuffer> AVIFileReader::doReadFrame(Duration* duration) {
  if (!f_) return nullptr;
  for (;;) {
    if (getFrameIndex() >= frame_limit_ || (f_->tell() >= movi_end_ && !nextMoviList())) {
      if (!doOpenFile()) {
        setEof(true);
        if (duration) *duration = Duration();
        return nullptr;
      }
      continue;
    }
    riff::ChunkHeader chunk;
    if (!riff::readChunkHeader(f_, &chunk)) return nullptr;
    int64_t const data_start = f_->tell();
    int64_t const next = data_start + chunk.chunk_size + (chunk.chunk_size & 1);
    // Interleaved files group the chunks of one moment in "rec " lists.
    if (chunk.list && chunk.fourcc == "rec ") continue;
    if (chunk.list ||
        (chunk.fourcc != frame_chunk_ids_[0] && chunk.fourcc != frame_chunk_ids_[1])) {
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
    int64_t const needed = layout_.frameBytes();
    if (needed > static_cast<int64_t>(chunk.chunk_size)) {
      LOGF(3, "Skipping frame chunk of %u bytes in %s: a %dx%d frame needs %lld", chunk.chunk_size,
           current_file_name_.c_str(), width_, height_, static_cast<long long>(needed));
      f_->seek(next);
      continue;
    }
    if (duration) *duration = Duration::fromSec(1.0 / fps_);
    auto payload =
        std::make_shared_for_overwrite<unsigned char[]>(chunk.chunk_size ? chunk.chunk_size : 1);
    if (f_->read(payload.get(), chunk.chunk_size) != chunk.chunk_size) return nullptr;
    std::shared_ptr<ImageBuffer> frame = layout_.wrap(payload, chunk.chunk_size);
    incrementFrameIndex();
    // A seek drops what the file has buffered beyond the frame; only a pad
    // byte needs one.
    if (chunk.chunk_size & 1) f_->seek(next);
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
