// Progress on a terminal in the form GDAL's utilities print it:
//   0...10...20...30...40...50...60...70...80...90...100 - done.
// one mark every 2.5 %, a number every 10 %.  Reports may come in any
// number; marks are only ever added, so the line grows in increasing order.
// Warnings never land in the middle of the line.
#pragma once

#include <cstdio>
#include <functional>
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
  void warn(const std::string& text) { line("Warning: ", text); }
  // "Note: TEXT" likewise: how the run goes, which -q silences.
  void note(const std::string& text) { line("Note: ", text); }

 private:
  void line(const char* kind, const std::string& text);

  std::FILE* out_;
  std::FILE* notes_;
  bool clean_ = false;  // nothing printed on the current line since the last warning
  int ticks_ = -1;  // marks printed so far minus one (0 is the first mark)
};

// One step of the run inside the progress line (its share from..to), and
// whether the run must stop: the progress callback GDAL calls while it
// writes maps GDAL's fraction onto the line and returns FALSE (GDAL then
// stops with an error) once `stop` says so.
struct StepProgress {
  std::function<void(double)> line;  // the whole run's fraction
  double from = 0, to = 1;
  std::function<bool()> stop;

  // Reports fraction (0..1) of the step; false when the run must stop.
  bool report(double fraction) const;
  // The share a..b (0..1) of this step, as a step of its own.
  StepProgress part(double a, double b) const { return {line, from + (to - from) * a, from + (to - from) * b, stop}; }
};

// A GDALProgressFunc over a StepProgress (its argument).
int step_progress(double fraction, const char* message, void* step);

}  // namespace tesk::gdal
