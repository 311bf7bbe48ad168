#include "media_common/video/y4m_file_reader.h"

#include <libyuv/convert.h>
#include <re2/re2.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/check.h"
#include "common/logging.h"
#include "common/string_util.h"

DRAVO_LOGGER("y4m_file_reader");

namespace dravo::media {
namespace {

// Frame durations must stay far inside Duration's range; slower rates are
// taken as unusable.
constexpr double kSlowestFrameRate = 1.0 / 1000.0;

// Chroma samples are neutral grey in a monochrome picture.
constexpr unsigned char kNeutralChroma = 128;

// The number at the start of `text` as atoi reads it, but -1 when it does
// not fit in 32 bits.
int32_t parseDimension(std::string const& text) {
  errno = 0;
  long long const value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value > INT32_MAX || value < INT32_MIN) return -1;
  return static_cast<int32_t>(value);
}

// The rate of an "F<num>:<den>" token, or 0 when the token is something else
// or its rate is unusable.
float parseFrameRate(std::string const& token) {
  static RE2 const kRate("F([0-9]*):([0-9]*)");
  std::string numerator;
  std::string denominator;
  if (!RE2::FullMatch(token, kRate, &numerator, &denominator)) return 0;
  if (numerator.empty() || denominator.empty()) return 0;
  // Through double, so that long digit strings cannot overflow.
  double const rate =
      std::strtod(numerator.c_str(), nullptr) / std::strtod(denominator.c_str(), nullptr);
  if (!std::isfinite(rate) || rate < kSlowestFrameRate) return 0;
  return static_cast<float>(rate);
}

}  // namespace

int64_t y4mFrameBytes(int64_t width, int64_t height) {
  if (width < 0 || height < 0) return -1;
  return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
}

Y4MFileReader::Y4MFileReader() = default;

Y4MFileReader::~Y4MFileReader() = default;

int64_t Y4MFileReader::storedFrameBytes() const {
  if (width_ < 0 || height_ < 0) return -1;
  int64_t const luma = int64_t{width_} * height_;
  switch (chroma_) {
    case CHROMA_422:
      return luma + 2 * ((int64_t{width_} + 1) / 2) * height_;
    case CHROMA_444:
      return 3 * luma;
    case CHROMA_MONO:
      return luma;
    case CHROMA_420:
      break;
  }
  return y4mFrameBytes(width_, height_);
}

bool Y4MFileReader::openFile(std::string const& name) {
  DRAVO_CHECK(!f_.get());
  f_ = File::open(name, File::kRead);
  setFrameIndex(0);
  setEof(false);
  open_error_.clear();
  if (!f_ || !parseHeader(name)) {
    if (open_error_.empty()) open_error_ = f_ ? "no Y4M stream header" : "cannot be opened";
    LOGF(2, "Can't read Y4M file %s", name.c_str());
    f_.reset();
    return false;
  }
  file_name_ = name;
  file_size_ = f_->size();
  return true;
}

bool Y4MFileReader::readBoundedLine(std::string* line) {
  // One byte more than allowed tells an over-long line from one that fits.
  if (!f_->readLine(line, kMaxLineLength + 1)) return false;
  return line->size() <= kMaxLineLength;
}

bool Y4MFileReader::parseHeader(std::string const& name) {
  struct ColourSpace {
    char const* token;
    Chroma chroma;
  };
  static ColourSpace const kColourSpaces[] = {
      {"C420", CHROMA_420},      {"C420jpeg", CHROMA_420}, {"C420mpeg2", CHROMA_420},
      {"C420paldv", CHROMA_420}, {"C422", CHROMA_422},     {"C444", CHROMA_444},
      {"Cmono", CHROMA_MONO},
  };
  std::string line;
  if (!readBoundedLine(&line)) return false;
  std::vector<std::string> const tokens = SplitString(line, " ", kSplitKeepEmpty);
  if (tokens.empty() || tokens[0] != "YUV4MPEG2") return false;
  width_ = -1;
  height_ = -1;
  frame_rate_ = 30.0f;
  chroma_ = CHROMA_420;
  for (size_t i = 1; i < tokens.size(); ++i) {
    std::string const& token = tokens[i];
    if (token.empty()) continue;
    if (token[0] == 'W') {
      width_ = parseDimension(token.substr(1));
    } else if (token[0] == 'H') {
      height_ = parseDimension(token.substr(1));
    } else if (token[0] == 'C') {
      auto const known =
          std::find_if(std::begin(kColourSpaces), std::end(kColourSpaces),
                       [&token](ColourSpace const& space) { return token == space.token; });
      if (known == std::end(kColourSpaces)) {
        LOGF(2, "Unsupported Y4M colour space %s in %s", token.c_str(), name.c_str());
        open_error_ = "unsupported Y4M colour space '" + token + "'";
        return false;
      }
      chroma_ = known->chroma;
    } else if (float const rate = parseFrameRate(token); rate > 0) {
      frame_rate_ = rate;
    }
  }
  return width_ >= 0 && height_ >= 0;
}

std::shared_ptr<ImageBuffer> Y4MFileReader::doReadFrame(Duration* duration) {
  if (!f_) return nullptr;
  if (f_->tell() == file_size_) {
    setEof(true);
    *duration = Duration();
    return nullptr;
  }
  std::string line;
  if (!readBoundedLine(&line) || line.compare(0, 5, "FRAME") != 0) {
    failFrame();
    return nullptr;
  }
  // A frame larger than the whole file cannot be in it; refusing it here
  // keeps a lying header from sizing an allocation.
  int64_t const frame_bytes = storedFrameBytes();
  if (frame_bytes > file_size_ || frame_bytes > INT32_MAX ||
      y4mFrameBytes(width_, height_) > INT32_MAX) {
    failFrame();
    return nullptr;
  }
  size_t const wanted = static_cast<size_t>(frame_bytes);
  std::shared_ptr<ImageBuffer> frame;
  unsigned char* stored = nullptr;
  if (chroma_ == CHROMA_420) {
    frame = std::make_shared<ImageBuffer>(width_, height_, ImageBuffer::IMAGE_I420);
    stored = frame->data();
  } else {
    raw_.resize(wanted);
    stored = raw_.data();
  }
  size_t const got = wanted > 0 ? f_->read(stored, wanted) : 0;
  if (got == 0) {
    failFrame();
    return nullptr;
  }
  // A last frame cut short: the missing samples become zero, not leftovers.
  if (got < wanted) std::memset(stored + got, 0, wanted - got);
  if (!frame) frame = convertToI420();
  LOGF(5, "Read frame %d", getFrameIndex());
  incrementFrameIndex();
  *duration = Duration::fromSec(1.0 / frame_rate_);
  return frame;
}

std::shared_ptr<ImageBuffer> Y4MFileReader::convertToI420() const {
  auto frame = std::make_shared<ImageBuffer>(width_, height_, ImageBuffer::IMAGE_I420);
  auto const& planes = frame->planes();
  unsigned char* y = frame->getPixelAddress(0, 0, 0);
  unsigned char* u = frame->getPixelAddress(0, 0, 1);
  unsigned char* v = frame->getPixelAddress(0, 0, 2);
  unsigned char const* stored_y = raw_.data();
  size_t const luma = static_cast<size_t>(width_) * height_;
  if (chroma_ == CHROMA_MONO) {
    if (luma > 0) std::memcpy(y, stored_y, luma);
    std::fill(u, u + static_cast<size_t>(planes[1].stride_) * planes[1].height_, kNeutralChroma);
    std::fill(v, v + static_cast<size_t>(planes[2].stride_) * planes[2].height_, kNeutralChroma);
    return frame;
  }
  int const chroma_width = chroma_ == CHROMA_444 ? width_ : (width_ + 1) / 2;
  size_t const chroma_bytes = static_cast<size_t>(chroma_width) * height_;
  unsigned char const* stored_u = stored_y + luma;
  unsigned char const* stored_v = stored_u + chroma_bytes;
  auto const convert = chroma_ == CHROMA_444 ? &libyuv::I444ToI420 : &libyuv::I422ToI420;
  convert(stored_y, width_, stored_u, chroma_width, stored_v, chroma_width, y, planes[0].stride_, u,
          planes[1].stride_, v, planes[2].stride_, width_, height_);
  return frame;
}

void Y4MFileReader::failFrame() {
  LOGF(2, "Frame %d invalid at %s:%lld", getFrameIndex(), file_name_.c_str(),
       static_cast<long long>(f_->tell()));
  f_.reset();
}

}  // namespace dravo::media
