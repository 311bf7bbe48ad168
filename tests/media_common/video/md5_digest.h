#pragma once
// MD5 of byte ranges, for comparing pictures between runs in tests.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace dravo::media::video_testing {

class Md5 {
 public:
  void update(uint8_t const* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      block_[fill_++] = data[i];
      if (fill_ == 64) {
        transform();
        fill_ = 0;
      }
    }
    length_ += size;
  }

  // The digest as 32 lower-case hex digits; the object is spent afterwards.
  std::string hexDigest() {
    uint64_t const bits = length_ * 8;
    uint8_t const pad = 0x80;
    update(&pad, 1);
    uint8_t const zero = 0;
    while (fill_ != 56) update(&zero, 1);
    uint8_t size_bytes[8];
    for (int i = 0; i < 8; ++i) size_bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    update(size_bytes, 8);
    std::string hex;
    char digits[3];
    for (uint32_t word : state_)
      for (int i = 0; i < 4; ++i) {
        std::snprintf(digits, sizeof(digits), "%02x", (word >> (8 * i)) & 0xff);
        hex += digits;
      }
    return hex;
  }

 private:
  static uint32_t rotate(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

  void transform() {
    static constexpr int kShift[4][4] = {
        {7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};
    static uint32_t const* const kTable = [] {
      static uint32_t table[64];
      for (int i = 0; i < 64; ++i)
        table[i] = static_cast<uint32_t>(
            static_cast<uint64_t>(std::fabs(std::sin(static_cast<double>(i + 1))) * 4294967296.0));
      return table;
    }();
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
      m[i] = block_[i * 4] | (block_[i * 4 + 1] << 8) | (block_[i * 4 + 2] << 16) |
             (static_cast<uint32_t>(block_[i * 4 + 3]) << 24);
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
      int const round = i / 16;
      uint32_t const f = round == 0   ? (b & c) | (~b & d)
                         : round == 1 ? (d & b) | (~d & c)
                         : round == 2 ? b ^ c ^ d
                                      : c ^ (b | ~d);
      int const g = round == 0   ? i
                    : round == 1 ? (5 * i + 1) % 16
                    : round == 2 ? (3 * i + 5) % 16
                                 : (7 * i) % 16;
      uint32_t const next = d;
      d = c;
      c = b;
      b = b + rotate(a + f + kTable[i] + m[g], kShift[round][i % 4]);
      a = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
  }

  uint32_t state_[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  uint8_t block_[64] = {};
  size_t fill_ = 0;
  uint64_t length_ = 0;
};

inline std::string md5Hex(std::string const& text) {
  Md5 md5;
  md5.update(reinterpret_cast<uint8_t const*>(text.data()), text.size());
  return md5.hexDigest();
}

}  // namespace dravo::media::video_testing
