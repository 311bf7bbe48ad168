#include "media_common/video/video_mode_picker.h"

#include <algorithm>
#include <cmath>

#include "common/check.h"

namespace dravo::media {
namespace {

float logOf(float value) { return static_cast<float>(std::log(static_cast<double>(value))); }

float penalty(float x) { return x > 0 ? x * x : 2 * x * x; }

}  // namespace

float VideoModePicker::videoModeScore(int w1, int h1, float fps1, int w2, int h2, float fps2) {
  float const aspect = logOf(static_cast<float>(w2) / static_cast<float>(h2)) -
                       logOf(static_cast<float>(w1) / static_cast<float>(h1));
  float const size = logOf(static_cast<float>(w2) * static_cast<float>(h2)) -
                     logOf(static_cast<float>(w1) * static_cast<float>(h1));
  float const rate = logOf(fps2) - logOf(fps1);
  return -(penalty(aspect) + penalty(size) + penalty(rate));
}

int VideoModePicker::findClosestInRange(int lo, int hi, int step, int value) {
  if (step <= 0) return std::clamp(value, lo, std::max(lo, hi));  // no grid to snap to
  int r = value + step / 2 - lo;
  r = r - (r % step) + lo;
  if (r <= lo) return lo;
  return std::min(r, hi);
}

void VideoModePicker::findClosestInFractionRange(int num_min, int num_max, int num_step,
                                                 int den_min, int den_max, int den_step,
                                                 float target, int* num, int* den) {
  DRAVO_CHECK(num);
  DRAVO_CHECK(den);
  if (!num || !den) return;
  float const t = std::fabs(target);
  int const d_low = den_min == 0 ? den_step : den_min;
  auto fmin = [](float a, float b) { return std::min(a, b); };
  auto fmax = [](float a, float b) { return std::max(a, b); };
  auto f = [](int v) { return static_cast<float>(v); };
  auto trunc = [](float v) { return static_cast<int>(v); };

  int const d_hi = findClosestInRange(d_low, den_max, den_step,
                                      trunc(fmax(fmin(f(num_max) / t, f(den_max)), f(d_low))));
  int const d_lo = findClosestInRange(d_low, d_hi, den_step,
                                      trunc(fmax(fmin(f(num_min) / t, f(d_hi)), f(d_low))));
  int const n_hi = findClosestInRange(num_min, num_max, num_step,
                                      trunc(fmax(fmin(f(d_hi) * t, f(num_max)), f(num_min))));
  int const n_lo = findClosestInRange(num_min, n_hi, num_step,
                                      trunc(fmax(fmin(f(d_lo) * t, f(n_hi)), f(num_min))));
  auto numerator_for = [&](int d) {
    return findClosestInRange(n_lo, n_hi, num_step, trunc(fmax(fmin(f(d) * t, f(n_hi)), f(n_lo))));
  };

  if (f(n_lo) / f(d_hi) >= t) {
    *num = n_lo;
    *den = d_hi;
    return;
  }
  if (f(n_hi) / f(d_lo) <= t) {
    *num = n_hi;
    *den = d_lo;
    return;
  }
  if (den_step <= 0 || (d_hi - d_lo) / den_step > 1000) {
    *num = numerator_for(d_hi);
    *den = d_hi;
    return;
  }
  int best_num = numerator_for(d_lo);
  int best_den = d_lo;
  float best_error = std::fabs(t - f(best_num) / f(best_den));
  for (int d = d_lo; d <= d_hi; d += den_step) {
    int const n = numerator_for(d);
    float const error = std::fabs(t - f(n) / f(d));
    if (error < best_error) {
      best_error = error;
      best_num = n;
      best_den = d;
    }
  }
  *num = best_num;
  *den = best_den;
}

}  // namespace dravo::media
