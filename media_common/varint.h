#pragma once
// The unsigned base-128 varint that frames serialised events: 7 bits per
// byte, least significant group first, high bit set on every byte but the
// last.

#include <cstddef>
#include <cstdint>
#include <string>

namespace dravo::media::varint {

// A 32-bit value takes at most this many bytes.
inline constexpr size_t kMaxBytes32 = 5;

void append32(uint32_t value, std::string* out);

// Reads a varint of at most `kMaxBytes32` bytes from `data[0, size)`. Returns
// the number of bytes it took, or 0 when no terminating byte lies within the
// limit or the value does not fit 32 bits.
size_t read32(const char* data, size_t size, uint32_t* value);

}  // namespace dravo::media::varint
