#include "tools/progress_line.h"

#include <cstdio>

#include "common/string_util.h"

namespace dravo::tool {

namespace {

std::string clockText(double seconds) {
  if (seconds < 0) seconds = 0;
  int const minutes = static_cast<int>(seconds / 60);
  return stringPrintf("%d:%04.1f", minutes, seconds - minutes * 60.0);
}

}  // namespace

ProgressLine::ProgressLine(bool enabled, int64_t total)
    : enabled_(enabled), total_(total), started_(Time::now()) {}

std::string ProgressLine::format(int64_t done, int64_t total, Duration elapsed) {
  double const seconds = elapsed.toSec();
  double const fps = seconds > 0 ? static_cast<double>(done) / seconds : 0.0;
  std::string text = total >= 0 ? stringPrintf("frame %lld/%lld", static_cast<long long>(done),
                                               static_cast<long long>(total))
                                : stringPrintf("frame %lld", static_cast<long long>(done));
  text += stringPrintf("  %.1f fps  elapsed %s", fps, clockText(seconds).c_str());
  if (total >= 0 && fps > 0)
    text += "  remaining " + clockText(static_cast<double>(total - done) / fps);
  return text;
}

void ProgressLine::update(int64_t done) {
  if (!enabled_) return;
  Time const now = Time::now();
  MutexLock lock(mutex_);
  last_done_ = done;
  if (drawn_ && now - last_draw_ < Duration::fromMSec(100)) return;
  draw(done, now);
}

void ProgressLine::finish() {
  if (!enabled_) return;
  MutexLock lock(mutex_);
  draw(last_done_, Time::now());
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

void ProgressLine::draw(int64_t done, Time now) {
  drawn_ = true;
  last_draw_ = now;
  // Clear to the end of the line: the new text may be shorter.
  std::fprintf(stderr, "\r%s\033[K", format(done, total_, now - started_).c_str());
  std::fflush(stderr);
}

}  // namespace dravo::tool
