// Callbacks through which the stages report their progress.  The stages
// print nothing themselves: the classic dialogue turns these reports into
// its French progress lines and sound cues, the batch mode into a
// percentage.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

namespace tesk {

// Called once before each row of a row-by-row stage is treated, with the
// row index, in increasing order.
using RowCallback = std::function<void(int row)>;

// What the dilation loop knows just before a pass starts.
struct PassReport {
  int degree = 0;                    // pass number, 1 for the first pass (lco)
  std::int64_t to_treat = 0;         // no-data pixels before the pass (nbp)
  std::int64_t previous_modified = 0;  // pixels written by the previous pass (modif); 0 before pass 1
};
using PassCallback = std::function<void(const PassReport&)>;

// Thrown out of a run whose observer asked it to stop (a signal, Ctrl-C in
// Python): nothing the run was computing is usable.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

}  // namespace tesk
