// Progress on a terminal in the form GDAL's utilities print it:
//   0...10...20...30...40...50...60...70...80...90...100 - done.
// one mark every 2.5 %, a number every 10 %.  Reports may come in any
// number; marks are only ever added, so the line grows in increasing order.
#pragma once

#include <cstdio>

namespace tesk::gdal {

class TermProgress {
 public:
  // out null: silent.
  explicit TermProgress(std::FILE* out) : out_(out) {}

  // Completed fraction of the run, 0..1; a smaller value than before is
  // ignored.  1 ends the line with " - done.".
  void report(double fraction);

  // True while a line is begun and not ended (a message must start on a
  // line of its own).
  bool open() const { return out_ && ticks_ >= 0 && ticks_ < 40; }

 private:
  std::FILE* out_;
  int ticks_ = -1;  // marks printed so far minus one (0 is the first mark)
};

}  // namespace tesk::gdal
