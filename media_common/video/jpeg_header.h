#pragma once
// The picture size of JPEG data, read from its header before anything is
// allocated for it.
//
// Stateless; any thread.

#include <string>

namespace dravo::media {

// Largest width or height accepted from a JPEG header.
inline constexpr int kMaxJpegDimension = 16384;
// Every 8x8 block of a Huffman-coded JPEG costs at least one bit in its DC
// scan, so real data holds at most 512 pixels per byte; a header claiming
// more than this many per byte is not trusted.
inline constexpr long long kMaxJpegPixelsPerByte = 2048;

// Reads the frame size from the header of the JPEG or Motion-JPEG data in
// [data, data + size) with TurboJPEG (tjDecompressHeader2). Returns false
// with the reason in `*error` when the header does not decode (garbage,
// truncated or empty data) or claims a size out of range or far more pixels
// than `size` bytes can hold. Never reads outside the data.
bool readJpegSize(const unsigned char* data, int size, int* width, int* height, std::string* error);

}  // namespace dravo::media
