#include "media_common/audio/debug_audio_writer.h"

#include "common/file.h"
#include "common/string_util.h"

namespace dravo::media {

DebugAudioWriter::DebugAudioWriter(std::string const& directory) : directory_(directory) {
  File::recursivelyCreateDir(directory_, 0x1ED);
}

DebugAudioWriter::~DebugAudioWriter() = default;

bool DebugAudioWriter::isEnabled() const {
  MutexLock lock(mutex_);
  return enabled_;
}

void DebugAudioWriter::setEnabled(bool enabled) {
  MutexLock lock(mutex_);
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (enabled) ++enable_counter_;
  // Destroying the writers completes their headers.
  writers_.clear();
}

void DebugAudioWriter::write(std::string const& name, short const* samples, int channels, int rate,
                             unsigned int bytes) {
  MutexLock lock(mutex_);
  if (!enabled_) return;
  auto& writer = writers_[name];
  if (!writer) {
    writer = std::make_unique<WAVFileWriter>();
    writer->openFile(
        stringPrintf("%s/%s%u.wav", directory_.c_str(), name.c_str(), enable_counter_));
  }
  writer->writeSamples(samples, channels, rate, bytes);
}

}  // namespace dravo::media
