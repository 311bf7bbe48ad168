#pragma once
// The Huffman tables Motion-JPEG frames leave out.
//
// Motion-JPEG streams drop the DHT segment from every frame and rely on the
// decoder knowing the "typical" tables of the JPEG standard (ITU-T T.81,
// Annex K.3): luminance DC and AC, chrominance DC and AC. kMJPGDHTSeg is one
// complete DHT segment holding all four (marker 0xFFC4, length 418, then the
// tables in the order DC 0, AC 0, DC 1, AC 1), ready to be spliced into a
// frame anywhere before its start-of-scan, for example right after the
// start-of-image marker. Immutable; any thread may read it.

#include <cstddef>
#include <cstdint>

namespace dravo::jpeg {

inline constexpr size_t kMJPGDHTSegSize = 420;
extern const uint8_t kMJPGDHTSeg[kMJPGDHTSegSize];

}  // namespace dravo::jpeg
