#pragma once
// Walks the marker segments of a JPEG frame up to its start-of-scan.
//
// Internal to the JPEG code. Stateless; any thread may call it. Reads only
// inside [data, data + size).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravo::jpeg {

enum class HuffmanTablesPresence {
  kMalformed,  // no start-of-image, a segment runs past the end, or no scan
  kPresent,    // a DHT segment comes before the first start-of-scan
  kAbsent,     // the scan starts without any DHT segment before it
};

HuffmanTablesPresence findHuffmanTables(const uint8_t* data, size_t size);

// The frame with kMJPGDHTSeg spliced in right after its start-of-image
// marker. `size` must be at least 2.
std::vector<uint8_t> insertStandardHuffmanTables(const uint8_t* data, size_t size);

}  // namespace dravo::jpeg
