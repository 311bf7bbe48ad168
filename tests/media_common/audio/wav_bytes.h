#pragma once
// Builds WAV file bytes by hand, for tests that need exact or broken files.

#include <cstdint>
#include <string>
#include <vector>

namespace dravo::media::wav_bytes {

inline std::string le16(uint32_t v) { return {char(v & 0xFF), char((v >> 8) & 0xFF)}; }
inline std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// A chunk whose size field is `declared` (by default the payload's size).
inline std::string chunk(std::string const& id, std::string const& payload, int64_t declared = -1) {
  return id + le32(declared < 0 ? uint32_t(payload.size()) : uint32_t(declared)) + payload;
}

inline std::string fmtChunk(uint32_t channels, uint32_t rate, uint32_t bits,
                            int64_t block_align = -1) {
  if (block_align < 0) block_align = channels * bits / 8;
  return chunk("fmt ", le16(1) + le16(channels) + le32(rate) + le32(uint32_t(rate * block_align)) +
                           le16(uint32_t(block_align)) + le16(bits));
}

inline std::string riff(std::string const& body) { return chunk("RIFF", "WAVE" + body); }

inline std::string samples16(std::vector<short> const& samples) {
  std::string bytes;
  for (short s : samples) bytes += le16(uint16_t(s));
  return bytes;
}

}  // namespace dravo::media::wav_bytes
