// Callbacks through which the stages report their progress.  The stages
// print nothing themselves: the classic dialogue turns these reports into
// its French progress lines and sound cues, the batch mode into a
// percentage.
#pragma once

#include "core/cancelled.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <type_traits>

namespace tesk {

// Called once before each row of a row-by-row stage is treated, with the
// row index, in increasing order.
using RowCallback = std::function<void(int row)>;

// What the dilation loop knows just before a pass starts.
struct PassReport {
  int degree = 0;                    // pass number, 1 for the first pass (lco)
  std::int64_t to_treat = 0;         // no-data pixels before the pass (nbp)
  std::int64_t previous_modified = 0;  // pixels written by the previous pass (modif); 0 before pass 1
  std::int64_t growth_sweeps = 0;      // growth sweeps of the passes before this one
};
using PassCallback = std::function<void(const PassReport&)>;

// How a stage asks whether its run is to stop: a reference to a callable
// returning true once the run must end, which the caller keeps alive.  A
// default one never stops.  The stages poll it at least once per million
// pixels of work, from any of their threads, and throw Cancelled; a run
// that is not stopped gives the same bytes as one without a check.
class CancelCheck {
 public:
  CancelCheck() = default;
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, CancelCheck>>>
  explicit CancelCheck(const F& f)
      : object_(&f), call_([](const void* o) { return static_cast<bool>((*static_cast<const F*>(o))()); }) {}
  // Never from a temporary, which would be gone by the first poll.
  template <class F, class = std::enable_if_t<!std::is_lvalue_reference_v<F>>>
  explicit CancelCheck(F&&) = delete;

  bool requested() const { return call_ != nullptr && call_(object_); }
  void poll() const {
    if (requested()) throw Cancelled();
  }
  // Polls before some rows of cols pixels: those whose index is a multiple
  // of the rows in kPixels, so that a loop over rows, or over any range of
  // them, polls at least once per kPixels pixels (or once a row when a row
  // is wider).
  void at_row(std::int64_t row, std::int64_t cols) const {
    if (call_ == nullptr) return;
    const std::int64_t every = cols >= kPixels ? 1 : kPixels / (cols > 0 ? cols : 1);
    if (row % every == 0) poll();
  }

  static constexpr std::int64_t kPixels = std::int64_t{1} << 18;

 private:
  const void* object_ = nullptr;
  bool (*call_)(const void*) = nullptr;
};

}  // namespace tesk
