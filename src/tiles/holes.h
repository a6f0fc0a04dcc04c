// The holes of a raster: its 4-connected regions of no-data pixels (kNoData
// in internal units), each with its border, the values of the data pixels
// 4-adjacent to it.  A hole whose border holds a single value v, and v one
// that the gap filling's mean gives back unchanged, ends with v in every
// pixel of a whole run before the smoothing; a tile run may then take it as
// data, whatever its halo (tiles/README.md gives the argument).
//
// A hole may span the whole raster, so it is found block by block in memory
// that follows the block, never the raster:
//
//   1. label_block labels each block (any rectangle of the raster: a strip
//      of full rows, a dask block) and summarise keeps what touches its four
//      edges, run-length coded, with the borders of the labels found there;
//   2. stitch (tiles/hole_stitch.h) joins the summaries along the seams
//      between blocks and gives each block the final border of each of its
//      edge labels;
//   3. hole_values labels each block again and gives the value of every
//      pixel in a hole that a tile run may fill (kNoData elsewhere).
//
// Labels are numbered the same way for the same block on every call, so the
// second labelling meets the first one's edge labels.
#pragma once

#include <cstdint>
#include <vector>

#include "core/grid.h"
#include "tiles/window.h"

namespace tesk {

// The values found around a hole: none yet, a single value, or several;
// and their range, for the bound a fitted surface keeps in the hole.
struct HoleBorder {
  enum class Kind : std::uint8_t { kNone, kSingle, kSeveral };
  Kind kind = Kind::kNone;
  std::int32_t value = 0;  // with kSingle; 0 otherwise
  std::int32_t lo = 0, hi = 0;  // the lowest and highest value (0 and 0 with kNone)

  void add(std::int32_t v);
  void merge(const HoleBorder& other);
  bool operator==(const HoleBorder&) const = default;
};

// Whether the gap filling's mean of 1, 2, 3 or 4 copies of v is v: then a
// hole bordered by v alone ends with v in every pixel.  False for negative
// values (the mean adds one half and truncates toward zero), but for a few
// next to the int limit whose sums a float rounds down, and for large values
// whose sums a float does not hold closely enough; true for 0 <= v < 2^22.
bool mean_keeps(std::int32_t v);

// The value a tile run may give the pixels of a hole with that border: its
// single value when mean_keeps holds for it, kNoData otherwise.
std::int32_t hole_value(const HoleBorder& border);

// The holes of one block.  label holds 0 at data pixels and the hole's label
// (1, 2, ...) at no-data pixels; the labels 1..edge_labels touch an edge of
// the block, numbered in the order the edges meet them (the top row from the
// left, the bottom row, the left column from the top, the right column),
// the others follow in the order of their first pixel.  borders[l - 1] is
// the border of label l seen inside the block.
struct BlockLabels {
  IntGrid label;
  int edge_labels = 0;
  std::vector<HoleBorder> borders;
};

// Memory: the label grid (4 bytes a pixel) and a few words a run of no-data
// pixels along a row.  The labels are written into `into` when it has the
// block's shape (every pixel written: a grid taken back from an earlier
// block serves), into a new grid otherwise.
BlockLabels label_block(const IntGrid& block, IntGrid into = {});

// Consecutive pixels along a block's edge: label > 0 for pixels of that
// hole, 0 for data pixels that all hold value.
struct EdgeRun {
  std::int32_t length = 0;
  std::int32_t label = 0;
  std::int32_t value = 0;
};
using Edge = std::vector<EdgeRun>;

// What stitching needs of a block: where it lies in the raster, its four
// edges (top and bottom from the left, left and right from the top), and
// the borders of its edge labels.
struct BlockSummary {
  Window where;
  Edge top, bottom, left, right;
  std::vector<HoleBorder> borders;
};

// block is the one label_block labelled.
BlockSummary summarise(const Window& where, const IntGrid& block, const BlockLabels& labels);

// A summary as a flat array of int32 and back, to send it between
// processes.  decode throws std::invalid_argument on an array that encode
// did not make.
std::vector<std::int32_t> encode(const BlockSummary& s);
BlockSummary decode(const std::int32_t* data, std::size_t size);

// The hole values of a block, labelled again (label_block's labels): the
// value hole_value gives each hole pixel's border, those of the edge labels
// taken from edge_borders (the stitched ones, edge_labels of them), the
// others the block's own; kNoData at data pixels and in the other holes.
// Throws std::invalid_argument when edge_borders does not have edge_labels
// entries.  Memory: one int grid of the block, returned: `into` when it has
// the block's shape, as label_block.
IntGrid hole_values(const IntGrid& block, const std::vector<HoleBorder>& edge_borders, IntGrid into = {});

// The hole values of a raster held whole, labelled as one block.
IntGrid raster_hole_values(const IntGrid& raster);

// The range of the border of the hole of every pixel of a block, labelled
// again as hole_values labels it: lo and hi hold the lowest and highest
// value bordering the pixel's hole (kNoData at data pixels and in a hole
// without border).  Memory: two int grids of the block, returned.
struct HoleRanges {
  IntGrid lo, hi;
};
HoleRanges hole_ranges(const IntGrid& block, const std::vector<HoleBorder>& edge_borders);

}  // namespace tesk
