#pragma once
// Choosing among the modes a capture device offers: a score for how close
// a mode is to the wanted one, snapping onto stepped ranges, and the
// fraction nearest a wanted value (frame rates and frame intervals).
//
// No state; any thread.

namespace dravo::media {

class VideoModePicker {
 public:
  // How well mode 2 matches mode 1: 0 for a perfect match, more negative is
  // worse. Aspect ratio, pixel count and frame rate are compared on a log
  // scale; a mode smaller or slower than mode 1 costs twice as much.
  static float videoModeScore(int w1, int h1, float fps1, int w2, int h2, float fps2);

  // `value` snapped to lo + k * step (half-way goes up), clamped to [lo, hi].
  static int findClosestInRange(int lo, int hi, int step, int value);

  // The numerator and denominator from the two stepped ranges whose ratio is
  // closest to |target|; ties keep the smaller denominator. Both outputs
  // must be given.
  static void findClosestInFractionRange(int num_min, int num_max, int num_step, int den_min,
                                         int den_max, int den_step, float target, int* num,
                                         int* den);
};

}  // namespace dravo::media
