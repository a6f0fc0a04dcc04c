#include "io/gdal_progress.h"

#include <algorithm>

namespace tesk::gdal {

void TermProgress::report(double fraction) {
  if (!out_ || !(fraction >= 0)) return;
  const int target = std::min(40, static_cast<int>(fraction * 40.0));
  if (target <= ticks_) return;
  while (ticks_ < target) {
    ++ticks_;
    if (ticks_ % 4 == 0)
      std::fprintf(out_, "%d", ticks_ / 4 * 10);
    else
      std::fputs(".", out_);
  }
  clean_ = false;
  if (ticks_ == 40) std::fputs(" - done.\n", out_);
  std::fflush(out_);
}

void TermProgress::line(const char* kind, const std::string& text) {
  if (open()) {
    std::fputc('\n', out_);
    std::fflush(out_);
    clean_ = true;
  }
  if (!notes_) return;
  std::fprintf(notes_, "%s%s\n", kind, text.c_str());
  std::fflush(notes_);
}

bool StepProgress::report(double fraction) const {
  if (line) line(from + (to - from) * fraction);
  return !(stop && stop());
}

int step_progress(double fraction, const char*, void* step) {
  return static_cast<const StepProgress*>(step)->report(fraction) ? 1 : 0;
}

}  // namespace tesk::gdal
