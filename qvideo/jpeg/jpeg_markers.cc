#include "qvideo/jpeg/jpeg_markers.h"

#include "qvideo/jpeg/huffman_tables.h"

namespace dravo::jpeg {
namespace {

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kDefineHuffmanTables = 0xC4;
constexpr uint8_t kTemporary = 0x01;

// Markers that stand alone, without a length field.
bool isStandalone(uint8_t marker) {
  return marker == kTemporary || (marker >= 0xD0 && marker <= 0xD7);
}

}  // namespace

HuffmanTablesPresence findHuffmanTables(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 4 || data[0] != kMarkerPrefix || data[1] != kStartOfImage)
    return HuffmanTablesPresence::kMalformed;
  size_t pos = 2;
  while (pos < size) {
    if (data[pos] != kMarkerPrefix) return HuffmanTablesPresence::kMalformed;
    // Any number of 0xFF fill bytes may precede a marker.
    while (pos < size && data[pos] == kMarkerPrefix) ++pos;
    if (pos >= size) break;
    uint8_t const marker = data[pos++];
    if (marker == kDefineHuffmanTables) return HuffmanTablesPresence::kPresent;
    if (marker == kStartOfScan) return HuffmanTablesPresence::kAbsent;
    if (marker == kStartOfImage || marker == kEndOfImage || marker == 0x00)
      return HuffmanTablesPresence::kMalformed;
    if (isStandalone(marker)) continue;
    if (size - pos < 2) break;
    size_t const length = (size_t{data[pos]} << 8) | data[pos + 1];
    if (length < 2 || length > size - pos) break;
    pos += length;
  }
  return HuffmanTablesPresence::kMalformed;
}

std::vector<uint8_t> insertStandardHuffmanTables(const uint8_t* data, size_t size) {
  std::vector<uint8_t> result;
  result.reserve(size + kMJPGDHTSegSize);
  result.insert(result.end(), data, data + 2);
  result.insert(result.end(), kMJPGDHTSeg, kMJPGDHTSeg + kMJPGDHTSegSize);
  result.insert(result.end(), data + 2, data + size);
  return result;
}

}  // namespace dravo::jpeg
