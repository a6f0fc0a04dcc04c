// Progress on a terminal in the form GDAL's utilities print it:
//   0...10...20...30...40...50...60...70...80...90...100 - done.
// one mark every 2.5 %, a number every 10 %.  Reports may come in any
// number; marks are only ever added, so the line grows in increasing order.
// Warnings never land in the middle of the line.
#pragma once

#include <cstdio>
#include <string>

namespace tesk::gdal {

class TermProgress {
 public:
  // out null: silent.  Warnings go to `notes` whether or not out is null.
  explicit TermProgress(std::FILE* out, std::FILE* notes = stderr) : out_(out), notes_(notes) {}

  // Completed fraction of the run, 0..1; a smaller value than before is
  // ignored.  1 ends the line with " - done.".
  void report(double fraction);

  // True while a line is begun and not ended (a message must start on a
  // line of its own).
  bool open() const { return out_ && ticks_ >= 0 && ticks_ < 40 && !clean_; }

  // "Warning: TEXT" on a line of its own: an open progress line is ended
  // first, and the marks go on on the next line.
  void warn(const std::string& text);

 private:
  std::FILE* out_;
  std::FILE* notes_;
  bool clean_ = false;  // nothing printed on the current line since the last warning
  int ticks_ = -1;  // marks printed so far minus one (0 is the first mark)
};

}  // namespace tesk::gdal
