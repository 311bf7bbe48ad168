#pragma once
// Records named audio streams into WAV files while enabled, for debugging.
//
// Each enable period writes a fresh set of files "<directory>/<name><n>.wav",
// where n counts the periods (1 for the first). Disabling completes and
// closes every file of the period. Streams change format or grow into part
// files as `WAVFileWriter` describes.
//
// Thread-safe: every call is serialised by one mutex, so several audio
// threads may write their streams concurrently. The owner destroys it once no
// thread writes any more.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "common/mutex.h"
#include "media_common/audio/wav_file_writer.h"

namespace dravo::media {

class DebugAudioWriter {
 public:
  // Creates `directory` (and its parents) if missing.
  explicit DebugAudioWriter(std::string const& directory);
  ~DebugAudioWriter();
  DebugAudioWriter(DebugAudioWriter const&) = delete;
  DebugAudioWriter& operator=(DebugAudioWriter const&) = delete;

  bool isEnabled() const;
  // A change starts a new period (on enabling) or ends one (on disabling);
  // either way the files of the current period are completed.
  void setEnabled(bool enabled);
  // Appends interleaved samples to stream `name`; does nothing while disabled.
  void write(std::string const& name, short const* samples, int channels, int rate,
             unsigned int bytes);

 private:
  mutable Mutex mutex_;
  std::map<std::string, std::unique_ptr<WAVFileWriter>> writers_ DRAVO_GUARDED_BY(mutex_);
  std::string const directory_;
  uint32_t enable_counter_ DRAVO_GUARDED_BY(mutex_) = 0;
  bool enabled_ DRAVO_GUARDED_BY(mutex_) = false;
};

}  // namespace dravo::media
