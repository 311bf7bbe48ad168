#pragma once
// Reads PCM WAV files (8- or 16-bit samples) as signed 16-bit samples.
//
// `openFile` parses the RIFF header up to the "data" chunk and leaves the
// reader positioned at the first sample; `readFrames` then hands out whole
// frames, channels interleaved. 8-bit samples b become (b - 128) * 256; other
// sample sizes open but fail at `readFrames`. Failures log on
// "wav_file_reader" at level 2.
//
// Rates that do not fit an `int` are refused at `openFile`.
//
// Files are outside data: the data size is bounded by the real file size
// whatever the "data" chunk claims, and no buffer is sized by a header before
// the file is known to hold that many bytes.
//
// A reader is used by one thread at a time (its owner).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file.h"
#include "media_common/audio/wav_header.h"

namespace dravo::media {

class WAVFileReader {
 public:
  WAVFileReader();
  ~WAVFileReader();
  WAVFileReader(WAVFileReader const&) = delete;
  WAVFileReader& operator=(WAVFileReader const&) = delete;

  // Closes any open file first. False (and no file open) when the file is
  // missing or its header is refused.
  bool openFile(std::string const& name);
  void closeFile();
  // True after `readFrames` found the position at the end of the data.
  bool eof() const { return eof_; }
  // Back to the first sample; clears the end of file.
  void restart();

  // Reads `frames` whole frames into `out` (frames * channels samples). False,
  // with nothing converted, without a file, at the end of the data (which also
  // sets `eof`), on a short read, or for an unsupported sample layout. A read
  // that begins inside the data may run into the bytes that follow it.
  bool readFrames(int frames, short* out);

  int getNumChannels() const { return header_->num_channels; }
  int getSamplingRate() const { return static_cast<int>(header_->sampling_rate); }
  int getBitsPerSample() const { return header_->bits_per_sample; }
  int getBytesPerSample() const { return header_->bits_per_sample / 8; }
  // Bytes of sample data, as far as the file really holds them.
  uint64_t getDataSize() const;
  // Whole frames in the data: data bytes / block alignment (for 16-bit files
  // the same as data bytes / (2 * channels)).
  uint64_t getDataSizeInSamples() const;

  // Reads a whole file, one vector per channel. `header` may be null.
  static bool readFromFile(std::string const& name, std::vector<std::vector<short>>* channels,
                           WAVHeader* header);
  // Reads a whole file, channels interleaved; appends to `samples`.
  static bool readFromFile(std::string const& name, std::vector<short>* samples, WAVHeader* header);

 private:
  bool parseHeader();
  // Whether block alignment, channels and sample size describe frames that
  // the conversion can walk without leaving a frame.
  bool checkFrameLayout() const;

  std::shared_ptr<File> f_;
  bool eof_ = false;
  std::unique_ptr<WAVHeader> header_;
  int64_t data_end_ = 0;
  int64_t data_start_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace dravo::media
