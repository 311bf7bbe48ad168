#pragma once
// (The file is named after its class, `LowLevel`; what it holds is colour conversion.)
// Whole-image colour conversion between the pixel layouts the pipeline uses.
//
// Colour convention (the one place it is written down; every conversion in
// qvideo and the JPEG code follows it):
// - YUV is BT.601 at limited ("studio") range: Y in [16, 235], U and V in
//   [16, 240] centred on 128. Y = 16 + (65.738 R + 129.057 G + 25.064 B) / 256
//   and the inverse likewise; black is (16, 128, 128), white (235, 128, 128).
//   JPEG data is full-range BT.601 (JFIF): the JPEG decoder maps what it
//   decodes to limited range, and the QV1 frame encoder maps limited range to
//   full range before compressing, so every I420 plane in memory is limited.
// - I420: three planes Y, U, V; the chroma planes are ((w + 1) / 2) x
//   ((h + 1) / 2), each chroma sample covering a 2x2 block of luma samples.
// - Packed layouts are named by their bytes in memory order:
//     BGRA8888: B, G, R, A        (libyuv calls this "ARGB")
//     BGRX8888: B, G, R, ignored  (read as BGRA8888, the fourth byte unused)
//     BGR888:   B, G, R           (libyuv "RGB24")
//     RGB888:   R, G, B           (libyuv "RAW")
//     YUYV:     Y0, U, Y1, V for each pair of pixels (libyuv "YUY2")
// - Converting to I420 averages each 2x2 block into one chroma sample.
//   Converting to BGRA8888 or BGRX8888 writes alpha 255.
//
// Every function takes the picture size first or second as its libyuv
// counterpart does, touches exactly `width` pixels of `height` rows in each
// plane (bytes between a row's end and the stride are left alone), and
// returns false without writing when a pointer is null, a size is not
// positive or a stride is shorter than its row.
//
// Stateless after initIfNeeded; any thread may call them, on memory no other
// thread writes.

#include <cstdint>

namespace qvideo {

class LowLevel {
 public:
  // Detects the CPU's SIMD features once; later calls return at once.
  // Thread-safe. The conversions work without it but call it themselves.
  static void initIfNeeded();

  static bool convertFromI420toBGRA8888(int width, int height, const uint8_t* y, int y_stride,
                                        const uint8_t* u, int u_stride, const uint8_t* v,
                                        int v_stride, uint8_t* destination, int destination_stride);
  static bool convertFromI420toRGB888(int width, int height, const uint8_t* y, int y_stride,
                                      const uint8_t* u, int u_stride, const uint8_t* v,
                                      int v_stride, uint8_t* destination, int destination_stride);

  static bool convertFromBGRA8888toI420(int width, int height, const uint8_t* source,
                                        int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                        int u_stride, uint8_t* v, int v_stride);
  static bool convertFromBGRX8888toI420(int width, int height, const uint8_t* source,
                                        int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                        int u_stride, uint8_t* v, int v_stride);
  static bool convertFromBGR888toI420(int width, int height, const uint8_t* source,
                                      int source_stride, uint8_t* y, int y_stride, uint8_t* u,
                                      int u_stride, uint8_t* v, int v_stride);

  static bool convertFromBGR888toBGRX8888(int width, int height, const uint8_t* source,
                                          int source_stride, uint8_t* destination,
                                          int destination_stride);

  // Note the order: source first, as the image code calls it.
  static bool convertFromYUYVtoI420(const uint8_t* source, int width, int height, int source_stride,
                                    uint8_t* y, int y_stride, uint8_t* u, int u_stride, uint8_t* v,
                                    int v_stride);
};

}  // namespace qvideo
