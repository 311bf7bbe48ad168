#include "media_common/audio/wav_file_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/check.h"
#include "common/logging.h"
#include "media_common/audio/interleave_wave.h"
#include "media_common/riff.h"

DRAVO_LOGGER("wav_file_reader");

namespace dravo::media {

namespace {

// Frames per read in `readFromFile`, so that a large file never needs one
// buffer of its full size besides the result.
constexpr uint64_t kFramesPerBlock = 160;

}  // namespace

WAVFileReader::WAVFileReader() : header_(std::make_unique<WAVHeader>()) {}

WAVFileReader::~WAVFileReader() = default;

bool WAVFileReader::openFile(std::string const& name) {
  closeFile();
  *header_ = WAVHeader();
  data_start_ = data_end_ = 0;
  f_ = File::open(name, File::kRead);
  eof_ = false;
  if (!f_ || !parseHeader()) {
    LOGF(2, "Can't read WAV file %s", name.c_str());
    f_.reset();
    return false;
  }
  data_start_ = f_->tell();
  return true;
}

void WAVFileReader::closeFile() { f_.reset(); }

void WAVFileReader::restart() {
  if (!f_) return;
  f_->seek(data_start_);
  eof_ = false;
}

bool WAVFileReader::parseHeader() {
  unsigned int total_size = 0;
  char fourcc[5];
  if (!riff::readList(f_, "RIFF", &total_size, fourcc)) {
    LOGF(2, "riff::readList(f_, \"RIFF\", &total_size, fourcc)");
    return false;
  }
  if (0 != strcmp(fourcc, "WAVE")) {
    LOGF(2, "0 == strcmp(fourcc, \"WAVE\")");
    return false;
  }
  int64_t const file_size = f_->size();
  riff::ChunkHeader chunk;
  // Every pass consumes at least the 8 header bytes or seeks forward, and a
  // read past the end fails, so the scan ends on any input.
  while (true) {
    if (!riff::readChunkHeader(f_, &chunk)) {
      LOGF(2, "riff::readChunkHeader(f_, &chunk)");
      return false;
    }
    int64_t const pos = f_->tell();
    if (!chunk.list && chunk.fourcc == "fmt ") {
      if (f_->read(header_.get(), sizeof(WAVHeader)) != sizeof(WAVHeader)) {
        LOGF(2, "f_->read(header_.get(), sizeof(WAVHeader)) == sizeof(WAVHeader)");
        return false;
      }
    } else if (!chunk.list && chunk.fourcc == "data") {
      // A truncated file, or a header written before the recording ended,
      // claims more than is there: only what the file holds is data.
      data_end_ = std::min<int64_t>(pos + chunk.chunk_size, std::max<int64_t>(file_size, pos));
      if (!(header_->num_channels > 0)) {
        LOGF(2, "header_->num_channels > 0");
        return false;
      }
      if (!(header_->sampling_rate > 0)) {
        LOGF(2, "header_->sampling_rate > 0");
        return false;
      }
      // No real file has a rate that `getSamplingRate` could not return.
      if (header_->sampling_rate > uint32_t{INT32_MAX}) {
        LOGF(2, "Sampling rate %u not supported.", header_->sampling_rate);
        return false;
      }
      return true;
    }
    f_->seek(pos + chunk.chunk_size);
  }
}

bool WAVFileReader::checkFrameLayout() const {
  int const bits = header_->bits_per_sample;
  if (bits != 8 && bits != 16) {
    LOGF(2, "%d bits per sample not supported.", bits);
    return false;
  }
  if (header_->num_channels == 0 || header_->block_align < header_->num_channels * (bits / 8)) {
    LOGF(2, "A block alignment of %d bytes cannot hold %d channels of %d bits.",
         header_->block_align, header_->num_channels, bits);
    return false;
  }
  return true;
}

bool WAVFileReader::readFrames(int frames, short* out) {
  if (!f_) return false;
  int64_t const pos = f_->tell();
  if (pos < 0) return false;
  if (pos >= data_end_) {
    eof_ = true;
    return false;
  }
  if (frames < 0) return false;
  size_t const bytes = static_cast<size_t>(frames) * header_->block_align;
  int64_t const file_size = f_->size();
  if (file_size < pos || bytes > static_cast<uint64_t>(file_size - pos)) {
    // The read would come up short; end where it would have ended without
    // first allocating a buffer for bytes the file does not hold.
    f_->seek(std::max(file_size, pos));
    return false;
  }
  buffer_.resize(bytes);
  if (f_->read(buffer_.data(), bytes) != bytes) return false;
  if (!checkFrameLayout()) return false;

  int const channels = header_->num_channels;
  size_t const block_align = header_->block_align;
  uint8_t const* in = buffer_.data();
  if (header_->bits_per_sample == 16) {
    for (int i = 0; i < frames; ++i, in += block_align, out += channels)
      memcpy(out, in, channels * sizeof(short));
  } else {
    for (int i = 0; i < frames; ++i, in += block_align)
      for (int c = 0; c < channels; ++c) *out++ = static_cast<short>((in[c] - 128) * 256);
  }
  return true;
}

uint64_t WAVFileReader::getDataSize() const {
  return data_end_ > data_start_ ? static_cast<uint64_t>(data_end_ - data_start_) : 0;
}

uint64_t WAVFileReader::getDataSizeInSamples() const {
  // The block alignment is the frame size of 8- and 16-bit files alike.
  if (header_->block_align == 0) return 0;
  return getDataSize() / header_->block_align;
}

bool WAVFileReader::readFromFile(std::string const& name, std::vector<std::vector<short>>* samples,
                                 WAVHeader* header) {
  WAVFileReader reader;
  if (!reader.openFile(name) || reader.getNumChannels() == 0) return false;
  if (header) *header = *reader.header_;
  if (!reader.checkFrameLayout()) return false;

  int const channels = reader.getNumChannels();
  // Bounded by the file's real size, not by what its header claims.
  uint64_t const total_samples = reader.getDataSizeInSamples();
  samples->assign(channels, std::vector<short>());
  for (auto& channel : *samples) channel.reserve(total_samples);

  std::vector<short> block(std::min(total_samples, kFramesPerBlock) * channels);
  for (uint64_t done = 0; done < total_samples;) {
    int const frames = static_cast<int>(std::min(total_samples - done, kFramesPerBlock));
    if (!reader.readFrames(frames, block.data())) return false;
    short const* frame = block.data();
    for (int i = 0; i < frames; ++i)
      for (int c = 0; c < channels; ++c) (*samples)[c].push_back(*frame++);
    done += frames;
  }
  DRAVO_CHECK(total_samples == (*samples)[0].size());
  return true;
}

bool WAVFileReader::readFromFile(std::string const& name, std::vector<short>* samples,
                                 WAVHeader* header) {
  std::vector<std::vector<short>> channels;
  if (!readFromFile(name, &channels, header)) return false;
  interleaveWave(channels, samples);
  return true;
}

}  // namespace dravo::media
