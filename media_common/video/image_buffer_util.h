#pragma once
// (Despite the general name, this file holds only drawing.)
// Drawing into I420 image buffers: copying rectangles, filling, clipped
// lines and text in the built-in 8x16 font. For test patterns, captions and
// debugging overlays.
//
// Works on the I420 variants only; other formats are refused with a
// warning and left unchanged. Colours are given as three bytes Y, U, V.
// Stateless; any thread, on an image no other thread uses.

#include <string>

#include "media_common/video/image_buffer.h"

namespace dravo::media {

class ImageBufferUtil {
 public:
  // Copies src's rectangle [sx0, sx1) x [sy0, sy1) to dst at (x, y),
  // clipped to both images.
  static void drawImage(ImageBuffer* dst, int x, int y, const ImageBuffer& src, int sx0, int sy0,
                        int sx1, int sy1);
  // Fills [x0, x1) x [y0, y1); x1 and y1 are clipped to the image, the start
  // corner must not be negative.
  static void filledRectangle(ImageBuffer* img, int x0, int y0, int x1, int y1, unsigned char* yuv);
  // A one-pixel line between two points in luma pixels, clipped to the image.
  static void line(ImageBuffer* img, double x0, double y0, double x1, double y1,
                   unsigned char* yuv);
  // White text on black 8x16 cells from (x & ~1, y & ~1); a line feed goes
  // back to column x, 16 rows down. Cells that do not fit whole are skipped.
  static void writeString(ImageBuffer* img, int x, int y, const std::string& text);
};

}  // namespace dravo::media
