// The row kernels of the straight-line walks: each works on a run of pixels
// of one row, with branch-free loops that the compiler turns into vector
// code (compiled once per processor level, see core/cpu_kernels.h).
//
// Labels are packed into keys (keys.h).  The kernels compute a key for every
// pixel of a run, also for data and dead pixels, and store only those of
// grown pixels.  A data or layer-1 pixel keeps its own key (its d of 1 beats
// any offered one).  A dead pixel may take a meaningless key from a data
// neighbour, but only data and dead pixels ever read it: a grown pixel never
// has a dead 8-neighbour.
//
// Pointers start at the run's first pixel.  Key buffers (up, mid, down, pk,
// nk, cur) hold a whole row with one extra cell on each side: index j + 1 is
// the run's pixel j, so index 0 is the pixel left of the run and n + 1 the
// one right of it.  Kernels write only the run's own cells.
#pragma once

#include <cstdint>

#include "stages/dilation/keys.h"
#include "stages/dilation/states.h"

namespace tesk::dilation {

using dilation_keys::Key;

// out[1..n]: (1, value) for data pixels, kFarKey for the others.  mask (n
// entries) is scratch.
void data_key_row(int n, const std::uint8_t* s, const std::int32_t* iv, Key* out, std::int32_t* mask);

// Settling, layer 1 and the first sweep of a run.  up, mid and down are the
// data keys of the rows i - 1, i and i + 1, pk the keys of the row swept
// before (i - 1 when the walk goes down, i + 1 when it goes up) after its
// first sweep; cur receives row i's.  The chain runs to the right, or to the
// left with right_to_left; carry is the key of the pixel before the run in
// that order, after its first sweep.  keep_all is set when no component was
// found unchanged by the last pass.  m1 and m2 (n entries each) are scratch.
void forward_row(int n, std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* up, const Key* mid,
                 const Key* down, const Key* pk, Key* cur, Key carry, bool keep_all, bool right_to_left,
                 std::int32_t* m1, std::int32_t* m2, RowCounts& counts);

// The second sweep of a run, the other way from the first: each pixel's own
// label, then the smallest of the row swept before (nk, after its second
// sweep) plus one, then the chain (carry as for forward_row), into cur.  The
// labels of the unreached pixels are left in itab (layer) and the grown
// surface (value) for the last step.  m1 and m2 are scratch.
void backward_row(int n, const std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* nk, Key* cur,
                  Key carry, bool right_to_left, std::int32_t* m1, std::int32_t* m2, RowCounts& counts);

// The last step of the growth for a run whose labels were left in itab and
// the grown surface: itab back to the marker, reached pixels flagged, the
// deepest layers noted.
void settle_labels_row(int n, std::uint8_t* s, std::int32_t* iv, RowCounts& counts);

// The midpoint proposals of a run: out[j] is the midpoint between c[j + 1]
// and the last of its cross neighbours (above, left, right, below) that is
// strictly greater, or the marker when there is none.  c[0] and c[n + 1]
// hold the neighbours left and right of the run (the marker beyond the
// grid); up and down the grown values of the rows above and below.
void midpoint_proposals(int n, const std::int32_t* up, const std::int32_t* c, const std::int32_t* down,
                        std::int32_t* out);

// Writes the proposals of a run into its reached pixels of itab, flags them
// written, and counts them.  Their grown value is left as it is until the
// next pass settles them: the other pixels' midpoints of this pass read the
// grown values.
void commit_midpoints(int n, std::uint8_t* s, std::int32_t* iv, const std::int32_t* m, RowCounts& counts);

// Enters into the record of the passes (at, over the same run) the pass of
// the midpoints commit_midpoints is about to write.
void record_midpoints(int n, const std::uint8_t* s, const std::int32_t* m, std::int32_t* at, std::int32_t pass);

}  // namespace tesk::dilation
