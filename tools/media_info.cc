#include "tools/media_info.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>

#include "common/string_util.h"
#include "media_common/audio/wav_file_reader.h"
#include "media_common/riff.h"
#include "media_common/video/avi_file_reader.h"
#include "tools/endpoints.h"
#include "tools/tool_error.h"

namespace dravo::tool {

namespace {

using json = nlohmann::ordered_json;

// Gives the frames as stored, without the I420 conversion of readFrame: only
// their format, size and duration are wanted.
class RawAVIReader : public media::AVIFileReader {
 public:
  using media::AVIFileReader::doReadFrame;
};

// Durations and rates as a reader would quote them, without the noise of
// nanosecond arithmetic.
double rounded(double value) { return std::round(value * 1e6) / 1e6; }

std::string fourcc(media::ImageBuffer::PixelFormat format) {
  if (media::ImageBuffer::isI420Variant(format)) return "I420";
  std::ostringstream out;
  out << format;
  return out.str();
}

std::string lowerExtension(std::string const& path) {
  size_t const dot = path.rfind('.');
  size_t const slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return toLower(path.substr(dot + 1));
}

void addFrame(json& frames, int64_t index, double pts, double duration) {
  frames.push_back({{"index", index}, {"pts", rounded(pts)}, {"duration", rounded(duration)}});
}

// Walks the frames `next_frame` hands out (null at the end) and adds their
// size, rate, count and total duration to `info`; returns the frame list. A
// frame's time is its recorded timestamp where `stamps` has one, else the sum
// of the durations before it.
template <typename NextFrame>
json describeFrames(json& info, NextFrame next_frame, std::vector<int64_t> const& stamps,
                    bool with_frames) {
  json frames = json::array();
  int64_t count = 0;
  double total = 0;
  double first_duration = 0;
  int width = 0;
  int height = 0;
  Duration duration;
  while (auto frame = next_frame(&duration)) {
    if (count == 0) {
      width = frame->width();
      height = frame->height();
      first_duration = duration.toSec();
    }
    double const pts = static_cast<size_t>(count) < stamps.size()
                           ? static_cast<double>(stamps[count] - stamps[0]) / 1e9
                           : total;
    if (with_frames) addFrame(frames, count, pts, duration.toSec());
    total += duration.toSec();
    ++count;
  }
  info["width"] = width;
  info["height"] = height;
  info["fps"] = first_duration > 0 ? std::round(1000.0 / first_duration) / 1000.0 : 0.0;
  info["frames"] = count;
  info["duration"] = rounded(total);
  return frames;
}

json describeAvi(std::string const& path, bool with_frames) {
  RawAVIReader reader;
  if (!reader.openFile(path)) {
    std::string const reason = reader.openErrorText();
    throw fileError(path, reason.empty() ? "not a readable AVI file" : reason);
  }
  json info = {{"file", path}, {"container", "avi"}, {"format", fourcc(reader.format())}};
  std::vector<int64_t> const stamps = reader.getTimestamps();
  json frames = describeFrames(
      info, [&](Duration* duration) { return reader.doReadFrame(duration); }, stamps, with_frames);
  if (reader.truncated()) info["truncated"] = true;
  // Files beyond 1 GiB continue in further RIFF lists.
  if (reader.riffSegments() > 1 || reader.declaredTotalFrames() >= 0) {
    info["opendml_segments"] = reader.riffSegments();
    info["opendml_frames"] = reader.declaredTotalFrames();
  }
  json metadata = json::object();
  for (auto const& [key, values] : reader.metadata()) {
    if (key == "tm64") continue;  // the per-frame timestamps, shown as frames
    metadata[key] = values.size() == 1 ? json(values.front()) : json(values);
  }
  info["metadata"] = metadata;
  if (!stamps.empty()) info["first_timestamp"] = rounded(static_cast<double>(stamps.front()) / 1e9);
  if (with_frames) info["frame_list"] = frames;
  return info;
}

json describeVideoFile(std::string const& path, bool with_frames) {
  std::unique_ptr<media::VideoFileReader> reader = openVideoFile(path);
  json info = {
      {"file", path}, {"container", lowerExtension(path)}, {"format", fourcc(reader->format())}};
  json frames = describeFrames(
      info, [&](Duration* duration) { return reader->readFrame(duration); }, {}, with_frames);
  info["metadata"] = json::object();
  if (with_frames) info["frame_list"] = frames;
  return info;
}

// The format tag of a WAV file's "fmt " chunk; for the extensible form the
// tag its sub-format starts with. 0 when there is no such chunk.
unsigned wavFormatTag(std::string const& path) {
  auto file = File::open(path, File::kRead);
  unsigned int size = 0;
  char type[5] = {};
  if (!file || !media::riff::readList(file, "RIFF", &size, type)) return 0;
  media::riff::ChunkHeader chunk;
  while (media::riff::readChunkHeader(file, &chunk)) {
    int64_t const next = file->tell() + chunk.chunk_size;
    if (chunk.fourcc == "fmt ") {
      unsigned char fmt[26] = {};
      size_t const got = file->read(fmt, std::min<size_t>(sizeof fmt, chunk.chunk_size));
      unsigned tag = got >= 2 ? fmt[0] | fmt[1] << 8 : 0;
      constexpr unsigned kExtensible = 0xFFFE;
      if (tag == kExtensible) tag = got >= 26 ? fmt[24] | fmt[25] << 8 : 0;
      return tag;
    }
    if (!file->seek(next)) break;
  }
  return 0;
}

// The sample format as ffmpeg names it.
std::string wavSampleFormat(unsigned tag, int bits) {
  constexpr unsigned kPcm = 1;
  constexpr unsigned kFloat = 3;
  constexpr unsigned kALaw = 6;
  constexpr unsigned kMuLaw = 7;
  switch (tag) {
    case kPcm:
      return bits == 8 ? "pcm_u8" : stringPrintf("pcm_s%dle", bits);
    case kFloat:
      return stringPrintf("pcm_f%dle", bits);
    case kALaw:
      return "pcm_alaw";
    case kMuLaw:
      return "pcm_mulaw";
    default:
      return stringPrintf("format 0x%04x", tag);
  }
}

json describeWav(std::string const& path) {
  media::WAVFileReader reader;
  if (!reader.openFile(path)) throw fileError(path, "not a readable WAV file");
  // Frames by the bytes each takes, whatever the sample size.
  int const frame_bytes =
      reader.getNumChannels() * std::max(1, (reader.getBitsPerSample() + 7) / 8);
  uint64_t const samples = reader.getDataSize() / static_cast<uint64_t>(frame_bytes);
  int const rate = reader.getSamplingRate();
  return {{"file", path},
          {"container", "wav"},
          {"format", wavSampleFormat(wavFormatTag(path), reader.getBitsPerSample())},
          {"channels", reader.getNumChannels()},
          {"sample_rate", rate},
          {"bits_per_sample", reader.getBitsPerSample()},
          {"samples", samples},
          {"duration", rate > 0 ? rounded(static_cast<double>(samples) / rate) : 0.0},
          {"metadata", json::object()}};
}

std::string valueText(json const& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_float()) return stringPrintf("%.6g", value.get<double>());
  return value.dump();
}

}  // namespace

json describeMediaFile(std::string const& path, bool with_frames) {
  struct stat status = {};
  if (stat(path.c_str(), &status) != 0) throw fileError(path, std::strerror(errno));
  if (!S_ISREG(status.st_mode)) throw fileError(path, "not a regular file");
  std::string const extension = lowerExtension(path);
  json info;
  if (extension == "avi") {
    info = describeAvi(path, with_frames);
  } else if (extension == "wav") {
    info = describeWav(path);
  } else if (extension == "y4m") {
    info = describeVideoFile(path, with_frames);
  } else {
    throw fileError(path, "unknown media file type (expected .avi, .y4m or .wav)");
  }
  info["size_bytes"] = static_cast<int64_t>(status.st_size);
  return info;
}

std::string formatMediaInfo(json const& info) {
  std::string text;
  for (auto const& [key, value] : info.items()) {
    if (key == "frame_list" || key == "metadata") continue;
    text += key + ": " + valueText(value) + "\n";
  }
  if (info.contains("metadata"))
    for (auto const& [key, value] : info["metadata"].items())
      text += "metadata." + key + ": " + valueText(value) + "\n";
  if (info.contains("frame_list"))
    for (json const& frame : info["frame_list"])
      text += stringPrintf("frame %lld pts=%.6f duration=%.6f\n",
                           static_cast<long long>(frame["index"].get<int64_t>()),
                           frame["pts"].get<double>(), frame["duration"].get<double>());
  return text;
}

}  // namespace dravo::tool
