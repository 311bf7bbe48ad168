#pragma once
// Turns per-channel sample vectors into one interleaved vector.

#include <vector>

namespace dravo::media {

// Appends to `out`, for each sample index in order, that sample of every
// channel in channel order. `channels` must be non-empty and its vectors of
// equal length; otherwise a failed check is logged (on "check") and nothing
// is appended.
void interleaveWave(std::vector<std::vector<short>> const& channels, std::vector<short>* out);

}  // namespace dravo::media
