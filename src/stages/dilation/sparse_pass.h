// A pass visited pixel by pixel, for when only a handful of pixels are
// still grown: the scans skip data and dead pixels eight at a time, so the
// cost follows the pixels still grown, not the rows they lie in.
#pragma once

#include <cstdint>
#include <vector>

#include "stages/dilation/states.h"
#include "stages/progress.h"

namespace tesk::dilation {

struct SparseResult {
  std::int64_t grown = 0;    // pixels grown
  int layers = 0;            // the deepest layer
  std::int64_t written = 0;  // midpoints written into itab
};

// One whole pass: settles what the previous pass left (its written pixels
// become data, the components it found unchanged are flagged dying, or
// dropped when they already were), grows layer 1 (a grown pixel with a data
// pixel in its cross takes the smallest of them), then the later layers,
// then writes the midpoints into itab.  Keeps in rows only the rows holding
// grown pixels.
// cancel is polled as the scans go over the rows.
SparseResult sparse_pass(const Surface& g, std::vector<int>& rows, bool keep_all, Tally& tally,
                         CancelCheck cancel = {});

}  // namespace tesk::dilation
