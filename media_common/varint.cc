#include "media_common/varint.h"

namespace dravo::media::varint {

void append32(uint32_t value, std::string* out) {
  while (value >= 0x80) {
    out->push_back(static_cast<char>((value & 0x7f) | 0x80));
    value >>= 7;
  }
  out->push_back(static_cast<char>(value));
}

size_t read32(const char* data, size_t size, uint32_t* value) {
  uint64_t result = 0;
  size_t const limit = size < kMaxBytes32 ? size : kMaxBytes32;
  for (size_t i = 0; i < limit; ++i) {
    uint8_t const byte = static_cast<uint8_t>(data[i]);
    result |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if ((byte & 0x80) == 0) {
      // The fifth byte carries 4 meaningful bits; more would not fit.
      if (result > UINT32_MAX) return 0;
      *value = static_cast<uint32_t>(result);
      return i + 1;
    }
  }
  return 0;
}

}  // namespace dravo::media::varint
