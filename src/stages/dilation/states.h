// The pixel states of the fast dilation, the view of the grids it works on,
// and the scans of a row that skip what cannot change.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/grid.h"

namespace tesk::dilation {

// Pixel states kept in the byte grid during the dilation (the low six bits).
// A data pixel of itab is kData; the other states describe a no-data pixel.
//
// Why pixels can be dropped for good: call two no-data pixels connected when
// they are 8-neighbours, and a component a maximal connected set of them.
// Everything a pass computes in a component (layers, grown values,
// midpoints) reads only the component and the data pixels around it, since
// growth steps and cross neighbours never leave it except onto data pixels.
// A pixel a pass writes cannot be an 8-neighbour of another component (they
// would be one).  So a component in which a pass wrote nothing is grown
// identically, and again writes nothing, in every later pass: it is dead.
// After a pass, the components that may still change are exactly those
// connected to a pixel the pass wrote; a flood from the written pixels finds
// them.  The set grown by a pass is therefore always a union of whole
// components, and a grown pixel never has a dead 8-neighbour.
//
// Each dead component's layer count is still part of the sweep count of
// every later pass; it is measured once, in one extra pass during which the
// component is grown (flagged kDying) and then dropped.
enum : std::uint8_t {
  kData = 0,       // data pixel of itab
  kUnreached = 1,  // no-data, grown this pass, not reached by the growth (yet)
  kReached = 2,    // reached by the growth of this pass
  kLayer1 = 3,     // no-data with a data pixel in its cross: layer 1 of this pass
  kCommit = 5,     // midpoint written into itab this pass, grown value not yet replaced
  kFresh = 6,      // written by the pass just done: a data pixel from the next pass on
  kFlooded = 7,    // no-data, connected to a pixel written by the pass just done
  kDead = 0x20,    // no-data pixel of a component that can no longer change
};
constexpr std::uint8_t kStateBits = 0x3f;
// Flags: a no-data pixel grown only to measure its component's layer count
// before it is dropped; a pixel of the first or last row or column, whose
// neighbourhoods must be clipped (the others use fixed offsets).
constexpr std::uint8_t kDying = 0x40;
constexpr std::uint8_t kBorder = 0x80;

constexpr std::uint64_t state_bit(std::uint8_t s) { return std::uint64_t{1} << s; }
constexpr std::uint64_t kDataStates = state_bit(kData) | state_bit(kFresh);
constexpr std::uint64_t kFloodable = state_bit(kUnreached) | state_bit(kReached);

// The counts a row kernel or a walk adds up.
struct RowCounts {
  std::int64_t grown = 0;
  std::int64_t dropped = 0;
  std::int64_t unreached = 0;
  std::int64_t reached = 0;
  std::int64_t written = 0;
  std::uint32_t layers = 0;
  std::uint32_t dying_layers = 0;
};

// What the parts of a dilation count for the whole of it.
struct Tally {
  std::int64_t visited = 0;  // pixels examined (the work done)
  std::int64_t dropped = 0;  // no-data pixels left out of every later pass
  int dying_layers = 0;      // this pass: deepest layer of the components grown for the last time
};

// The record of the passes (stages/dilation_literal.h), when one is kept:
// each midpoint written enters the pass under way.
struct PassRecord {
  std::int32_t* written_at = nullptr;
  std::int32_t pass = 0;
};

// The three grids of a dilation: itab (data values, and the layers while a
// pass grows), the grown surface and the pixel states; all of nr x nc.  And
// the record of the passes, when one is kept.
struct Surface {
  int nr = 0;
  int nc = 0;
  std::int32_t* I = nullptr;
  std::int32_t* G = nullptr;
  std::uint8_t* S = nullptr;
  PassRecord* record = nullptr;

  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc) + static_cast<std::size_t>(j);
  }
  std::uint8_t st(std::size_t x) const { return S[x] & kStateBits; }
  // Changes the state, keeping the flags.
  void set_state(std::size_t x, std::uint8_t s) const {
    S[x] = static_cast<std::uint8_t>((S[x] & (kBorder | kDying)) | s);
  }

  // Calls visit(j, x) for every pixel of row i except interior data and
  // dead pixels, which are skipped eight at a time (a word whose bytes are
  // each 0 or kDead).  visit may change any state; the bytes are read again
  // after each call.
  template <class Visit>
  void for_each_active(int i, Visit&& visit) const {
    constexpr std::uint64_t kSkippable = 0x2020202020202020ULL;
    const std::size_t row = index(i, 0);
    int j = 0;
    while (j < nc) {
      if (j + 8 <= nc) {
        std::uint64_t w;
        std::memcpy(&w, S + row + static_cast<std::size_t>(j), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j += 8;
          continue;
        }
        // Straight to the first byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j += std::countr_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      ++j;
    }
  }

  // The same scan from the last column to the first.
  template <class Visit>
  void for_each_active_reversed(int i, Visit&& visit) const {
    constexpr std::uint64_t kSkippable = 0x2020202020202020ULL;
    const std::size_t row = index(i, 0);
    int j = nc - 1;
    while (j >= 0) {
      if (j >= 7) {
        std::uint64_t w;
        std::memcpy(&w, S + row + static_cast<std::size_t>(j - 7), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j -= 8;
          continue;
        }
        // Straight to the last byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j -= std::countl_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      --j;
    }
  }

  // Calls f(q) for each pixel q of the ring around x, clipped to the grid.
  template <class F>
  void for_ring(std::size_t x, F&& f) const {
    if (!(S[x] & kBorder)) {
      const std::ptrdiff_t w = nc;
      for (const std::ptrdiff_t o : {-w - 1, -w, -w + 1, std::ptrdiff_t{-1}, std::ptrdiff_t{1}, w - 1, w, w + 1})
        f(x + static_cast<std::size_t>(o));
      return;
    }
    const int xi = static_cast<int>(x / static_cast<std::size_t>(nc));
    const int xj = static_cast<int>(x % static_cast<std::size_t>(nc));
    for (int qi = std::max(xi - 1, 0); qi <= std::min(xi + 1, nr - 1); ++qi)
      for (int qj = std::max(xj - 1, 0); qj <= std::min(xj + 1, nc - 1); ++qj)
        if (qi != xi || qj != xj) f(index(qi, qj));
  }
};

}  // namespace tesk::dilation
