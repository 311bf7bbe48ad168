#include "media_common/audio/wav_file_writer.h"

#include <algorithm>
#include <limits>

#include "common/check.h"
#include "common/logging.h"
#include "common/part_file_name.h"
#include "media_common/audio/interleave_wave.h"
#include "media_common/audio/wav_header.h"
#include "media_common/riff.h"

DRAVO_LOGGER("wav_file_writer");

namespace dravo::media {

namespace {

constexpr int kProvisionalChannels = 2;
constexpr int kProvisionalRate = 44000;
constexpr int64_t kPartFileBytes = int64_t{1} << 30;
constexpr int64_t kLargeFileBytes = int64_t{1} << 31;
constexpr int kFramesPerBlock = 160;

uint32_t clampToHeaderField(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

WAVFileWriter::~WAVFileWriter() { close(); }

bool WAVFileWriter::openFile(std::string const& name) {
  part_counter_ = 0;
  recording_name_ = name;
  return doOpenFile(name, kProvisionalChannels, kProvisionalRate);
}

bool WAVFileWriter::doOpenFile(std::string const& name, int channels, int rate) {
  // The file being completed keeps the format it was written in.
  close();
  file_name_ = name;
  num_channels_ = channels;
  sampling_rate_ = rate;
  data_bytes_ = 0;
  if (name.empty()) return false;
  f_ = File::open(name, File::kWrite);
  if (!f_) {
    LOGF(2, "Could not create file %s", name.c_str());
    return false;
  }
  data_start_ = 44;
  writeWAVHeader();
  data_start_ = f_->tell();
  return true;
}

void WAVFileWriter::writeWAVHeader() {
  f_->seek(0);
  riff::writeList(f_, "RIFF", clampToHeaderField(data_bytes_ + data_start_ - 8), "WAVE");
  riff::writeChunkHeader(f_, "fmt ", sizeof(WAVHeader));
  WAVHeader header;
  header.format_tag = 1;
  header.num_channels = static_cast<uint16_t>(num_channels_);
  header.sampling_rate = static_cast<uint32_t>(sampling_rate_);
  header.byte_rate =
      static_cast<uint32_t>(num_channels_) * static_cast<uint32_t>(sampling_rate_) * 2u;
  header.block_align = static_cast<uint16_t>(num_channels_ * 2);
  header.bits_per_sample = 16;
  f_->write(&header, sizeof(header));
  riff::writeChunkHeader(f_, "data", clampToHeaderField(data_bytes_));
}

void WAVFileWriter::beginNextFile(int channels, int rate) {
  // Samples already written in the provisional format must not be truncated
  // by reopening the same name: they count as the first file.
  if (part_counter_ == 0 && data_bytes_ > 0) part_counter_ = 1;
  std::string const name = partFileName(recording_name_, ".wav", part_counter_);
  ++part_counter_;
  doOpenFile(name, channels, rate);
}

void WAVFileWriter::writeSamples(short const* samples, int channels, int rate, unsigned int bytes) {
  DRAVO_CHECK(channels > 0 && rate > 0);
  if (!(channels > 0 && rate > 0)) return;
  if (channels != num_channels_ || rate != sampling_rate_ ||
      (f_ && data_start_ + static_cast<int64_t>(data_bytes_) > kPartFileBytes))
    beginNextFile(channels, rate);
  if (!f_) return;
  f_->write(samples, bytes);
  data_bytes_ += bytes;
}

void WAVFileWriter::close() {
  if (!f_) return;
  if (data_start_ + static_cast<int64_t>(data_bytes_) > kLargeFileBytes)
    LOGF(3, "WAV file > 2GB will probably be invalid.");
  writeWAVHeader();
  f_.reset();
}

bool WAVFileWriter::writeToFile(std::string const& name, std::vector<short> const& samples,
                                int channels, int rate) {
  if (channels <= 0) return false;
  WAVFileWriter writer;
  writer.recording_name_ = name;
  if (!writer.doOpenFile(name, kProvisionalChannels, kProvisionalRate)) return false;
  size_t const block = static_cast<size_t>(kFramesPerBlock) * channels;
  // At least one call, so that even an empty recording gets its real format.
  size_t offset = 0;
  do {
    size_t const count = std::min(block, samples.size() - offset);
    writer.writeSamples(samples.data() + offset, channels, rate,
                        static_cast<unsigned int>(count * sizeof(short)));
    offset += count;
  } while (offset < samples.size());
  return true;
}

bool WAVFileWriter::writeToFile(std::string const& name,
                                std::vector<std::vector<short>> const& channels,
                                unsigned int rate) {
  if (channels.empty()) return false;
  std::vector<short> interleaved;
  interleaveWave(channels, &interleaved);
  // Ragged channels were refused by the interleaving (and reported there).
  if (interleaved.size() != channels.size() * channels[0].size()) return false;
  return writeToFile(name, interleaved, static_cast<int>(channels.size()), static_cast<int>(rate));
}

}  // namespace dravo::media
