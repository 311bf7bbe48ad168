#include "media_common/video/synthetic_overlay.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/logging.h"

DRAVO_LOGGER("video");

namespace dravo::media::synthetic_overlay {
namespace {

struct ColourBar {
  uint8_t y;
  uint8_t u;
  uint8_t v;
};

constexpr ColourBar kBars[8] = {
    {76, 85, 255},    // red
    {149, 43, 21},    // green
    {29, 255, 107},   // blue
    {225, 0, 148},    // yellow
    {178, 171, 0},    // cyan
    {105, 212, 234},  // magenta
    {0, 128, 128},    // black
    {255, 128, 128},  // white
};
constexpr int kBarWidth = 32;
constexpr int kBarHeight = 8;

// Sets the rows [first, end) of columns [x0, x0 + count) of `plane` to
// `value`, clipped to the plane.
void fillPlane(ImageBuffer* frame, int plane, int x0, int first, int count, int end,
               uint8_t value) {
  ImageBuffer::Plane const& p = frame->planes()[plane];
  int const x1 = std::min(x0 + count, p.width_);
  int const y1 = std::min(end, p.height_);
  if (x0 >= x1) return;
  for (int y = first; y < y1; ++y)
    std::memset(frame->data() + p.offset_ + static_cast<ptrdiff_t>(y) * p.stride_ + x0, value,
                static_cast<size_t>(x1 - x0));
}

}  // namespace

void drawColourBars(ImageBuffer* frame) {
  if (frame->planes().size() != 3 || !frame->data()) return;
  for (int i = 0; i < 8; ++i) {
    int const x0 = i * kBarWidth;
    int const x1 = x0 + kBarWidth;
    fillPlane(frame, 0, x0, 0, x1 - x0, kBarHeight, kBars[i].y);
    fillPlane(frame, 1, x0 / 2, 0, (x1 - x0) / 2, kBarHeight / 2, kBars[i].u);
    fillPlane(frame, 2, x0 / 2, 0, (x1 - x0) / 2, kBarHeight / 2, kBars[i].v);
  }
}

// The plasma never writes these samples; without this they would hold
// whatever the allocation held.
void neutraliseChromaEdges(ImageBuffer* frame) {
  if (frame->planes().size() != 3 || !frame->data()) return;
  if (frame->width() % 2 == 0 && frame->height() % 2 == 0) return;
  for (int plane = 1; plane <= 2; ++plane) {
    ImageBuffer::Plane const& p = frame->planes()[plane];
    fillPlane(frame, plane, 0, 0, p.width_, p.height_, 128);
  }
}

}  // namespace dravo::media::synthetic_overlay
