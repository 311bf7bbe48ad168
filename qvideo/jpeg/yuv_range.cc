#include "qvideo/jpeg/yuv_range.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace dravo::jpeg {
namespace {

using Table = std::array<uint8_t, 256>;

// Limited range: luma 16..235 (219 steps), chroma 16..240 around 128 (224 steps).
Table makeLimitedToFullTable(SampleKind kind) {
  Table table{};
  for (int value = 0; value < 256; ++value) {
    double const full = kind == SampleKind::kLuma ? (value - 16.0) * 255.0 / 219.0
                                                  : 128.0 + (value - 128.0) * 255.0 / 224.0;
    table[value] = static_cast<uint8_t>(std::clamp(std::lround(full), 0L, 255L));
  }
  return table;
}

void mapWithTable(const Table& table, const uint8_t* source, int source_stride,
                  uint8_t* destination, int destination_stride, int width, int height) {
  for (int y = 0; y < height; ++y) {
    const uint8_t* in = source + static_cast<ptrdiff_t>(y) * source_stride;
    uint8_t* out = destination + static_cast<ptrdiff_t>(y) * destination_stride;
    for (int x = 0; x < width; ++x) out[x] = table[in[x]];
  }
}

// Every decoded frame takes this way, so it is 16-bit arithmetic that fits
// SSE2: with w = v * 257 (the byte repeated), out = ((w * scale) >> 16 +
// bias) >> shift. The constants give lround(16 + v * 219 / 255) for luma and
// lround(128 + (v - 128) * 224 / 255) for chroma, exactly, for all 256
// inputs; 16-bit products keep eight samples per multiply where 32-bit ones
// would need four and SSE2 has no 32-bit multiply.
struct FullToLimited {
  uint16_t scale;
  uint16_t bias;
  int shift;
};
constexpr FullToLimited kLumaToLimited{1752, 132, 3};
constexpr FullToLimited kChromaToLimited{3584, 257, 4};

inline uint8_t toLimited(const FullToLimited& k, uint8_t v) {
  uint32_t const high = (uint32_t{v} * 257u * k.scale) >> 16;
  return static_cast<uint8_t>((high + k.bias) >> k.shift);
}

#if defined(__x86_64__)
// The same 32 samples at a time where the processor has AVX2; the unpacks
// and the pack work within 128-bit lanes, so the order comes out right.
// Returns how many samples it mapped.
__attribute__((target("avx2"))) int mapRowToLimitedAvx2(const FullToLimited& k, const uint8_t* in,
                                                        uint8_t* out, int width) {
  __m256i const scale = _mm256_set1_epi16(static_cast<int16_t>(k.scale));
  __m256i const bias = _mm256_set1_epi16(static_cast<int16_t>(k.bias));
  __m128i const shift = _mm_cvtsi32_si128(k.shift);
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    __m256i const v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
    __m256i low = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(v, v), scale);
    __m256i high = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(v, v), scale);
    low = _mm256_srl_epi16(_mm256_add_epi16(low, bias), shift);
    high = _mm256_srl_epi16(_mm256_add_epi16(high, bias), shift);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), _mm256_packus_epi16(low, high));
  }
  return x;
}

bool hasAvx2() {
  static bool const has = __builtin_cpu_supports("avx2");
  return has;
}
#endif

void mapRowToLimited(const FullToLimited& k, const uint8_t* in, uint8_t* out, int width) {
  int x = 0;
#if defined(__x86_64__)
  if (hasAvx2()) x = mapRowToLimitedAvx2(k, in, out, width);
#endif
#if defined(__SSE2__)
  __m128i const scale = _mm_set1_epi16(static_cast<int16_t>(k.scale));
  __m128i const bias = _mm_set1_epi16(static_cast<int16_t>(k.bias));
  __m128i const shift = _mm_cvtsi32_si128(k.shift);
  for (; x + 16 <= width; x += 16) {
    __m128i const v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + x));
    __m128i low = _mm_mulhi_epu16(_mm_unpacklo_epi8(v, v), scale);
    __m128i high = _mm_mulhi_epu16(_mm_unpackhi_epi8(v, v), scale);
    low = _mm_srl_epi16(_mm_add_epi16(low, bias), shift);
    high = _mm_srl_epi16(_mm_add_epi16(high, bias), shift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(low, high));
  }
#endif
  for (; x < width; ++x) out[x] = toLimited(k, in[x]);
}

void mapFullToLimited(SampleKind kind, const uint8_t* source, int source_stride,
                      uint8_t* destination, int destination_stride, int width, int height) {
  FullToLimited const& k = kind == SampleKind::kLuma ? kLumaToLimited : kChromaToLimited;
  for (int y = 0; y < height; ++y) {
    mapRowToLimited(k, source + static_cast<ptrdiff_t>(y) * source_stride,
                    destination + static_cast<ptrdiff_t>(y) * destination_stride, width);
  }
}

}  // namespace

void mapPlaneRange(RangeMapping mapping, SampleKind kind, const uint8_t* source, int source_stride,
                   uint8_t* destination, int destination_stride, int width, int height) {
  if (mapping == RangeMapping::kFullToLimited) {
    mapFullToLimited(kind, source, source_stride, destination, destination_stride, width, height);
    return;
  }
  static const Table luma = makeLimitedToFullTable(SampleKind::kLuma);
  static const Table chroma = makeLimitedToFullTable(SampleKind::kChroma);
  mapWithTable(kind == SampleKind::kLuma ? luma : chroma, source, source_stride, destination,
               destination_stride, width, height);
}

}  // namespace dravo::jpeg
