#pragma once
// Decodes one JPEG or Motion-JPEG frame into I420 planes.
//
// Stateless for the caller (TurboJPEG handles are kept per thread); any
// thread may call it, each call on its own destination planes.

#include <cstddef>
#include <cstdint>

#include "qvideo/jpeg/huffman_tables.h"

namespace dravo::jpeg {

// Decodes the JPEG frame in [data, data + size) into the I420 planes Y
// (width x height) and U, V (((width + 1) / 2) x ((height + 1) / 2)), each
// with its stride; bytes past a row's width and rows past the plane's height
// are never written. The output is limited-range BT.601 (qvideo/low_level.h);
// 4:2:2, 4:4:4 and other chroma layouts are resampled to 4:2:0, a greyscale
// frame gets neutral chroma.
//
// With `motion_jpeg` set, a frame that reaches its start-of-scan without a
// DHT segment is decoded with kMJPGDHTSeg spliced in (into a copy; `data` is
// never changed).
//
// Returns false, with one throttled warning on the "mjpeg_decoder" logger,
// when the arguments are invalid (null pointers, sizes not positive, strides
// shorter than rows), the frame's size differs from width x height, or the
// data is not a complete, decodable JPEG (garbage, truncated, CMYK or RGB
// colour). After a false return the planes may hold partial output.
bool decompressMJPEG(const uint8_t* data, size_t size, int width, int height, bool motion_jpeg,
                     uint8_t* y, int y_stride, uint8_t* u, int u_stride, uint8_t* v, int v_stride);

}  // namespace dravo::jpeg
