#pragma once
// The payload of a WAV file's "fmt " chunk, read and written byte for byte.

#include <bit>
#include <cstdint>

namespace dravo::media {

struct WAVHeader {
  uint16_t format_tag = 0;  // 1 = PCM
  uint16_t num_channels = 0;
  uint32_t sampling_rate = 0;  // frames per second
  uint32_t byte_rate = 0;
  uint16_t block_align = 0;  // bytes per frame
  uint16_t bits_per_sample = 0;
};

static_assert(sizeof(WAVHeader) == 16, "the fmt chunk payload is 16 bytes without padding");
// The structure, like the samples, goes to disk as it lies in memory.
static_assert(std::endian::native == std::endian::little, "WAV files are little-endian");

}  // namespace dravo::media
