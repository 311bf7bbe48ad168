#include "media_common/video/image_buffer_util.h"

#include <libyuv/planar_functions.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/logging.h"
#include "media_common/video/font_8x16.h"

DRAVO_LOGGER("image_buffer_util");

namespace dravo::media {
namespace {

bool isDrawable(const ImageBuffer& img) {
  return img.format().isI420Variant() && img.planes().size() == 3 && img.data();
}

// Cohen-Sutherland outcodes.
constexpr int kLeft = 1;
constexpr int kRight = 2;
constexpr int kBottom = 4;
constexpr int kTop = 8;

int outcode(double x, double y, double xmax, double ymax) {
  int code = 0;
  if (x < 0) code |= kLeft;
  if (x > xmax) code |= kRight;
  if (y < 0) code |= kTop;
  if (y > ymax) code |= kBottom;
  return code;
}

// Clips the segment to [0, xmax] x [0, ymax]; false when nothing is left.
bool clipLine(double& x0, double& y0, double& x1, double& y1, double xmax, double ymax) {
  int code0 = outcode(x0, y0, xmax, ymax);
  int code1 = outcode(x1, y1, xmax, ymax);
  while (true) {
    if ((code0 | code1) == 0) return true;
    if (code0 & code1) return false;
    int const code = code0 ? code0 : code1;
    double x = 0;
    double y = 0;
    if (code & kBottom) {
      y = ymax;
      x = x0 + (x1 - x0) * (ymax - y0) / (y1 - y0);
    } else if (code & kTop) {
      y = 0;
      x = x0 + (x1 - x0) * (0 - y0) / (y1 - y0);
    } else if (code & kRight) {
      x = xmax;
      y = y0 + (y1 - y0) * (xmax - x0) / (x1 - x0);
    } else {
      x = 0;
      y = y0 + (y1 - y0) * (0 - x0) / (x1 - x0);
    }
    if (code == code0) {
      x0 = x;
      y0 = y;
      code0 = outcode(x0, y0, xmax, ymax);
    } else {
      x1 = x;
      y1 = y;
      code1 = outcode(x1, y1, xmax, ymax);
    }
  }
}

// Integer Bresenham on one plane; both ends must lie inside it.
void drawPlaneLine(unsigned char* origin, int stride, int xa, int ya, int xb, int yb,
                   unsigned char value) {
  if (std::abs(yb - ya) <= std::abs(xb - xa)) {
    if (xa > xb) {
      std::swap(xa, xb);
      std::swap(ya, yb);
    }
    int const dx = xb - xa;
    int const dy = yb - ya;
    int err = dx / 2;
    ptrdiff_t const step = ya < yb ? stride : -stride;
    unsigned char* p = origin + static_cast<ptrdiff_t>(ya) * stride + xa;
    for (int i = 0; i <= dx; ++i) {
      err -= std::abs(dy);
      *p = value;
      if (err < 0) {
        err += dx;
        p += step;
      }
      ++p;
    }
  } else {
    if (ya > yb) {
      std::swap(xa, xb);
      std::swap(ya, yb);
    }
    int const dy = yb - ya;
    int const dx = xb - xa;
    int err = dy / 2;
    int const step = xa < xb ? 1 : -1;
    unsigned char* p = origin + static_cast<ptrdiff_t>(ya) * stride + xa;
    for (int i = 0; i <= dy; ++i) {
      err -= std::abs(dx);
      *p = value;
      if (err < 0) {
        err += dy;
        p += step;
      }
      p += stride;
    }
  }
}

// Each glyph row byte expanded to its 8 luma samples (255 set, 0 clear),
// so a cell row is one 8-byte copy.
struct GlyphRowTable {
  constexpr GlyphRowTable() {
    for (int bits = 0; bits < 256; ++bits)
      for (int b = 0; b < 8; ++b) rows[bits][b] = (bits & (0x80 >> b)) ? 255 : 0;
  }
  unsigned char rows[256][8] = {};
};
constexpr GlyphRowTable kGlyphRows;

}  // namespace

void ImageBufferUtil::drawImage(ImageBuffer* dst, int x, int y, const ImageBuffer& src, int sx0,
                                int sy0, int sx1, int sy1) {
  if (!isDrawable(*dst)) {
    LOGS(3) << "Can't use drawImage on destination of format " << dst->format().pixel_format_;
    return;
  }
  if (!isDrawable(src)) {
    LOGS(3) << "Can't use drawImage on source of format " << src.format().pixel_format_;
    return;
  }
  // Negative positions would address memory before the planes.
  if (x < 0 || y < 0 || sx0 < 0 || sy0 < 0) return;
  int const x_end = std::min({dst->width() - x, src.width(), sx1});
  int const y_end = std::min({dst->height() - y, src.height(), sy1});
  if (x_end > sx0 && y_end > sy0) {
    libyuv::CopyPlane(src.getPixelAddress(sx0, sy0, 0), src.planes()[0].stride_,
                      dst->getPixelAddress(x, y, 0), dst->planes()[0].stride_, x_end - sx0,
                      y_end - sy0);
  }
  for (int p = 1; p <= 2; ++p) {
    ImageBuffer::Plane const& to = dst->planes()[p];
    ImageBuffer::Plane const& from = src.planes()[p];
    int const c_end = std::min({to.width_ - x / 2, from.width_, x_end / 2});
    int const r_end = std::min({to.height_ - y / 2, from.height_, y_end / 2});
    if (c_end <= sx0 / 2 || r_end <= sy0 / 2) continue;
    libyuv::CopyPlane(src.getPixelAddress(sx0 / 2, sy0 / 2, p), from.stride_,
                      dst->getPixelAddress(x / 2, y / 2, p), to.stride_, c_end - sx0 / 2,
                      r_end - sy0 / 2);
  }
}

void ImageBufferUtil::filledRectangle(ImageBuffer* img, int x0, int y0, int x1, int y1,
                                      unsigned char* yuv) {
  if (!isDrawable(*img)) {
    LOGS(3) << "Can't draw rectangles on images of format " << img->format().pixel_format_;
    return;
  }
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, img->width());
  y1 = std::min(y1, img->height());
  if (x1 <= x0 || y1 <= y0) return;
  libyuv::SetPlane(img->getPixelAddress(x0, y0, 0), img->planes()[0].stride_, x1 - x0, y1 - y0,
                   yuv[0]);
  // Chroma row y/2 for every luma row: (x1 - x0) / 2 samples from x0 / 2.
  int const c_width = (x1 - x0) / 2;
  int const c_first = y0 / 2;
  int const c_rows = (y1 - 1) / 2 - c_first + 1;
  if (c_width <= 0) return;
  for (int p = 1; p <= 2; ++p) {
    libyuv::SetPlane(img->getPixelAddress(x0 / 2, c_first, p), img->planes()[p].stride_, c_width,
                     c_rows, yuv[p]);
  }
}

void ImageBufferUtil::line(ImageBuffer* img, double x0, double y0, double x1, double y1,
                           unsigned char* yuv) {
  if (!isDrawable(*img)) {
    LOGS(3) << "Can't draw lines on images of format " << img->format().pixel_format_;
    return;
  }
  if (img->width() <= 0 || img->height() <= 0) return;
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  if (!clipLine(x0, y0, x1, y1, img->width() - 1, img->height() - 1)) return;
  // Clipping leaves the ends inside the borders up to rounding; clamp anyway.
  auto clampX = [&](double v, int limit) { return std::clamp(static_cast<int>(v), 0, limit); };
  int const w = img->width() - 1;
  int const h = img->height() - 1;
  drawPlaneLine(img->getPixelAddress(0, 0, 0), img->planes()[0].stride_, clampX(x0, w),
                clampX(y0, h), clampX(x1, w), clampX(y1, h), yuv[0]);
  int const cw = img->planes()[1].width_ - 1;
  int const ch = img->planes()[1].height_ - 1;
  int const chroma_stride = img->planes()[1].stride_;
  int const cx0 = clampX(x0 * 0.5, cw);
  int const cy0 = clampX(y0 * 0.5, ch);
  int const cx1 = clampX(x1 * 0.5, cw);
  int const cy1 = clampX(y1 * 0.5, ch);
  drawPlaneLine(img->getPixelAddress(0, 0, 1), chroma_stride, cx0, cy0, cx1, cy1, yuv[1]);
  drawPlaneLine(img->getPixelAddress(0, 0, 2), chroma_stride, cx0, cy0, cx1, cy1, yuv[2]);
}

void ImageBufferUtil::writeString(ImageBuffer* img, int x, int y, const std::string& text) {
  if (!isDrawable(*img)) {
    LOGS(3) << "Can't write string on images of format " << img->format().pixel_format_;
    return;
  }
  int column = x & ~1;
  int row = y & ~1;
  int const y_stride = img->planes()[0].stride_;
  for (char c : text) {
    if (c == '\n') {
      column = x;
      row += Font8x16::kHeight;
      continue;
    }
    bool const fits = column >= 0 && row >= 0 && column + Font8x16::kWidth <= img->width() &&
                      row + Font8x16::kHeight <= img->height();
    if (fits) {
      const unsigned char* glyph = Font8x16::getCharData(c);
      unsigned char* luma = img->getPixelAddress(column, row, 0);
      for (int r = 0; r < Font8x16::kHeight; ++r)
        std::memcpy(luma + static_cast<ptrdiff_t>(r) * y_stride, kGlyphRows.rows[glyph[r]], 8);
      for (int p = 1; p <= 2; ++p) {
        unsigned char* chroma = img->getPixelAddress(column / 2, row / 2, p);
        int const stride = img->planes()[p].stride_;
        for (int r = 0; r < Font8x16::kHeight / 2; ++r)
          std::memset(chroma + static_cast<ptrdiff_t>(r) * stride, 128, Font8x16::kWidth / 2);
      }
    }
    column += Font8x16::kWidth;
  }
}

}  // namespace dravo::media
