#include "media_common/audio/interleave_wave.h"

#include "common/check.h"

namespace dravo::media {

void interleaveWave(std::vector<std::vector<short>> const& samples, std::vector<short>* out) {
  DRAVO_CHECK(!samples.empty());
  if (samples.empty()) return;
  bool equal_lengths = true;
  for (size_t i = 1; i < samples.size(); ++i) {
    DRAVO_CHECK(samples[0].size() == samples[i].size());
    equal_lengths = equal_lengths && samples[0].size() == samples[i].size();
  }
  // Interleaving ragged channels would read past the shorter ones.
  if (!equal_lengths) return;
  size_t const length = samples[0].size();
  out->reserve(out->size() + length * samples.size());
  for (size_t i = 0; i < length; ++i)
    for (auto const& channel : samples) out->push_back(channel[i]);
}

}  // namespace dravo::media
