// The plan of a run by tiles or in blocks, the same for a file tiled on one
// machine and for an array held in dask's blocks: what the whole raster
// decides before the tiles (surveyed a block at a time), which tiles there
// are, the halo each tile starts with and the next one it may try, and the
// refusals, in one set of words.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/grid.h"
#include "stages/contour_survey.h"
#include "stages/progress.h"
#include "tiles/window.h"

namespace tesk {

// What the whole raster says before its tiles run: whether it holds a
// contour pixel, what its contour values say about the interval, the first
// value internal units cannot hold, and the longest run of no-data pixels
// along a row or a column (within each block surveyed: a run cut by a
// block's edge counts as far as the edge).  Blocks may be surveyed in any
// order: merging keeps what comes first in the raster's row-major order.
struct RasterSurvey {
  struct Place {
    std::int64_t row = -1, col = -1;
    bool before(const Place& o) const { return o.row < 0 || (row >= 0 && (row < o.row || (row == o.row && col < o.col))); }
  };
  ContourSurvey contours;
  Place example;  // where contours.example lies
  bool any = false;
  int longest_gap = 0;
  struct Fault {
    Place at;
    double value = 0;
  };
  std::optional<Fault> fault;

  void merge(const RasterSurvey& o);
};

// A block of the raster as the survey reads it, a row at a time: raw
// integer samples with their no-data value, or altitudes in double, NaN off
// the contours.
struct BlockRows {
  int rows = 0, cols = 0;
  std::int64_t row0 = 0, col0 = 0;  // its first pixel in the raster
  std::optional<std::int32_t> raw_nodata;
  std::function<void(int i, std::int32_t* raw)> read_raw;
  std::function<void(int i, double* altitudes)> read_real;
};

// The survey of one block for the interval equid.  column_runs, when given
// (strips of whole rows surveyed in order), carries the no-data runs of
// each column from the strip above, so that a run is not cut between
// strips.  Stops at the block's first fault.
RasterSurvey survey_block(const BlockRows& b, int equid, std::vector<int>* column_runs = nullptr,
                          CancelCheck cancel = {});

// The refusal of a raster without any contour pixel (name: a path, or the
// parameter that holds the array), of rows x cols samples (none: empty).
std::string no_contour_message(const std::string& name, std::int64_t rows, std::int64_t cols);

// The halo every tile starts with: the one given, else a fifth of the
// longest no-data run rounded up to a multiple of 16, between 16 and 1024;
// never above largest (the most the memory, or the caller, allows).  The
// widest gap is rare: on generated terrain a fifth of it proves 57 of 64
// tiles of 1024 pixels, the others need one retry, and the work is a
// quarter less than starting from half of it (docs/performance.md).
int first_halo(const RasterSurvey& s, std::optional<int> given, int largest);

// The halo to try after a tile that `halo` did not prove: twice it, as far
// as largest; nothing when no larger halo can help (it already reaches
// every edge of a raster of rows x cols) or may be held.
std::optional<int> next_halo(int halo, int rows, int cols, int largest);

// Whether a tile whose core pixels of side `side` are not all proven may
// try the box around those left (of side box_side) with `halo` instead of
// its whole core: when the box computes at most half as many pixels.  Any
// window may be a core and a pixel proven by any tile holds the whole
// run's value, so the tile takes the box's proven pixels in
// (tiles/README.md).
bool box_first(int side, int box_side, int halo);

// The retries of a tile its first halo left unproven.  Each takes the next
// halo (next_halo); the box of the pixels still unproven runs alone with it
// where box_first holds and the caller can hold the box (box_held, given the
// halo), the whole core otherwise.  When the boxes reach the largest halo
// with pixels left, the whole core resumes from the halo of its last
// attempt, its boxes dropped: every halo the whole core would have been
// tried with, it still is, up to the first that proves it, so a tile is
// refused only where it would be without the boxes.
struct Retries {
  enum class Try { box, core };
  int halo = 0;       // of the last attempt
  int core_halo = 0;  // of the last attempt on the whole core
  bool boxes = true;  // false once the whole core has resumed

  explicit Retries(int first) : halo(first), core_halo(first) {}
  // What to try after an attempt that left a tile of side `side` unproven
  // (box_side: its unproven box's, 0 when no box may run); nothing when no
  // attempt is left.  Advances halo (and core_halo for the whole core).
  std::optional<Try> next(int side, int box_side, int rows, int cols, int largest,
                          const std::function<bool(int halo)>& box_held = {});
};

// The refusal of a tile that no halo up to `halo` proves: `limit` says what
// stopped the doubling ("the most the memory allows") and `remedy` what
// else the user may do ("give the run more memory").  fitted: the tile of
// a fitted surface, whose fits with two halos differ.
std::string unproven_message(const Window& core, std::int64_t uncertain, int halo, const std::string& limit,
                             const std::string& remedy, bool fitted = false);

// The remark on the tiles kept unproven (accept_uncertain): each tile's core
// and how many of its pixels are not proven (for a fitted surface: not
// fitted within a thousandth of an interval of a wider fit).
struct Unproven {
  Window core;
  std::int64_t pixels = 0;
};
std::string uncertain_note(const std::vector<Unproven>& tiles, bool fitted = false);

// Rows and columns of a window in messages: "rows 0 to 127, columns 0 to 63".
std::string where(const Window& w);

// The tiles of a raster of rows x cols by tiles of `tile` pixels a side,
// row after row.
struct TileGrid {
  int rows = 0, cols = 0, tile = 1;
  int down() const { return (rows + tile - 1) / tile; }
  int across() const { return (cols + tile - 1) / tile; }
  int count() const { return down() * across(); }
  Window core(int k) const;  // the k-th tile, row-major
};

}  // namespace tesk
