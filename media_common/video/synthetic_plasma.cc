// The synthetic source's moving pattern: sums of sines looked up in a table
// and mapped through a colour ramp.

#include <cmath>

#include "common/check.h"
#include "common/logging.h"
#include "media_common/video/synthetic_video_source.h"

DRAVO_LOGGER("video");

namespace dravo::media {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kThirdTurn = 2.0943951023931953;

uint8_t toByte(float value) {
  if (value < 0.0f) return 0;
  if (value >= 255.0f) return 255;
  return static_cast<uint8_t>(value + 0.5f);
}

struct PlaneRows {
  uint8_t* data;
  int32_t stride;
  uint8_t* row(int y) const { return data + static_cast<ptrdiff_t>(y) * stride; }
};

// One row of the pattern. `chroma_u` / `chroma_v` are null on rows that take
// no chroma.
template <bool kEasy>
void drawRow(SyntheticVideoSource::Plasma const& plasma, int32_t const* sine, int width,
             int32_t row_term, int a, int b, uint8_t* luma, uint8_t* chroma_u, uint8_t* chroma_v) {
  int const half = width / 2;
  for (int x = 0; x < width; ++x) {
    int const step = kEasy ? (x < half ? 1 : 2) : 5;
    a = (a + step) & 511;
    b = (b + 3) & 511;
    int32_t const v = kEasy ? sine[a] : sine[a] + sine[b] + row_term;
    SyntheticVideoSource::Plasma::Colour const& colour = plasma.palette(((v >> 4) - 128) & 255);
    luma[x] = colour.y;
    if (chroma_u && (x & 1)) {
      chroma_u[x >> 1] = colour.u;
      chroma_v[x >> 1] = colour.v;
    }
  }
}

}  // namespace

SyntheticVideoSource::Plasma::Plasma() {
  for (int i = 0; i < 512; ++i) sine_[i] = static_cast<int32_t>(1024.0 * std::sin(i * kPi / 256.0));
  for (int i = 0; i < 256; ++i) {
    double const a = i * kPi / 128.0;
    float const r = static_cast<float>((std::sin(a) + 1.0) * 0.5);
    float const b = static_cast<float>((std::sin(a - kThirdTurn) + 1.0) * 0.5);
    float const g = static_cast<float>((std::sin(a + kThirdTurn) + 1.0) * 0.5);
    float const luma = 0.587f * g + 0.299f * r + 0.114f * b;
    float const u = (b - luma) * 0.565f * 255.0f + 128.0f;
    float const v = (r - luma) * 0.713f * 255.0f + 128.0f;
    palette_[i] = Colour{toByte(luma * 255.0f), toByte(u), toByte(v)};
  }
}

void SyntheticVideoSource::Plasma::draw(ImageBuffer* frame) {
  DRAVO_CHECK(frame->format().pixel_format_ == ImageBuffer::IMAGE_I420);
  if (frame->format().pixel_format_ != ImageBuffer::IMAGE_I420) return;
  std::vector<ImageBuffer::Plane> const& planes = frame->planes();
  if (planes.size() != 3 || !frame->data()) return;
  int const width = planes[0].width_;
  int const height = planes[0].height_;
  // Chroma only where the planes hold every whole 2x2 block.
  bool const chroma = planes[1].width_ >= width / 2 && planes[1].height_ >= height / 2 &&
                      planes[2].width_ >= width / 2 && planes[2].height_ >= height / 2;
  PlaneRows const y_plane{frame->data() + planes[0].offset_, planes[0].stride_};
  PlaneRows const u_plane{frame->data() + planes[1].offset_, planes[1].stride_};
  PlaneRows const v_plane{frame->data() + planes[2].offset_, planes[2].stride_};

  int c = phase_c_ & 511;
  int d = phase_d_ & 511;
  int const a = phase_a_ & 511;
  int const b = phase_b_ & 511;
  for (int y = 0; y < height; ++y) {
    d = (d + 3) & 511;
    c = (c + 1) & 511;
    int32_t const row_term = sine_[c] + sine_[d];
    bool const chroma_row = chroma && (y & 1);
    uint8_t* const u = chroma_row ? u_plane.row(y >> 1) : nullptr;
    uint8_t* const v = chroma_row ? v_plane.row(y >> 1) : nullptr;
    if (easy_)
      drawRow<true>(*this, sine_.data(), width, row_term, a, b, y_plane.row(y), u, v);
    else
      drawRow<false>(*this, sine_.data(), width, row_term, a, b, y_plane.row(y), u, v);
  }
  phase_a_ += 1;
  phase_b_ -= 2;
  phase_c_ += 2;
  phase_d_ -= 1;
}

}  // namespace dravo::media
