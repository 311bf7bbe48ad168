#pragma once
// Writes 16-bit PCM WAV files, samples first and headers last.
//
// `openFile` creates the file with a provisional header (2 channels at 44000
// Hz, no data); `writeSamples` appends interleaved samples; `close` (or the
// destructor) seeks back and writes the final header. Until then the header on
// disk claims no data.
//
// Part files. Samples in a new channel count or rate, or arriving when the
// current file has grown past 2^30 bytes, start a new file. The first change
// on a file that holds no samples yet (the provisional format) reopens the
// same name in the real format. Every later file is a part file named by
// `partFileName` (common/part_file_name.h): for "rec.wav" the recording
// continues in "rec_part1.wav", "rec_part2.wav", ...; a name without ".wav"
// gets the suffix appended ("dump_part1"). A file that holds samples is never
// reopened under its own name, so nothing written is truncated.
//
// A file that cannot be created is logged on "wav_file_writer" at level 2;
// samples are then dropped until the next successful open. Results of the
// writes themselves are not checked. Sizes in the header are 32-bit: past
// 2^31 bytes a warning is logged, and sizes past 2^32 are stored as
// 0xFFFFFFFF.
//
// A writer is used by one thread at a time (its owner). Copies share the open
// file; use only one of them to write and close.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/file.h"

namespace dravo::media {

class WAVFileWriter {
 public:
  WAVFileWriter() = default;
  virtual ~WAVFileWriter();
  WAVFileWriter(WAVFileWriter const&) = default;
  WAVFileWriter& operator=(WAVFileWriter const&) = default;

  // Closes the current file and starts a new recording under `name` (the part
  // counter starts again). False when the file cannot be created.
  bool openFile(std::string const& name);
  // Appends `bytes` bytes of interleaved samples in `channels` channels at
  // `rate` frames per second, starting a new file first as described above.
  void writeSamples(short const* samples, int channels, int rate, unsigned int bytes);
  // Completes the current file (final header) and releases it.
  void close();

  // Writes `samples` (interleaved) as one file. False when it cannot be
  // created or `channels` is not positive.
  static bool writeToFile(std::string const& name, std::vector<short> const& samples, int channels,
                          int rate);
  // Writes one channel per vector; the vectors must be of equal length.
  static bool writeToFile(std::string const& name, std::vector<std::vector<short>> const& channels,
                          unsigned int rate);

 protected:
  // Closes the current file, then creates `name` with a header for no data.
  bool doOpenFile(std::string const& name, int channels, int rate);
  // Rewrites the header at the start of the file from the current counts.
  void writeWAVHeader();

  std::string file_name_;
  std::shared_ptr<File> f_;
  int32_t part_counter_ = 0;
  int sampling_rate_ = 0;
  int num_channels_ = 0;
  uint64_t data_bytes_ = 0;
  int64_t data_start_ = 0;

 private:
  void beginNextFile(int channels, int rate);

  // The name the recording was opened with; part files derive from it.
  std::string recording_name_;
};

}  // namespace dravo::media
