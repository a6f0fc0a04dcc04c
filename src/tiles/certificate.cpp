#include "tiles/certificate.h"

#include <algorithm>
#include <vector>

#include "stages/dilation.h"
#include "stages/smoothing.h"
#include "tiles/distances.h"

namespace tesk {
namespace {

// The chessboard distance from every pixel to the nearest uncertain one,
// the pixels beyond a cut side counting as uncertain.
void distance_to_uncertain(const ByteGrid& uncertain, CutSides cut, IntGrid& d, CancelCheck cancel) {
  const int rows = d.rows(), cols = d.cols();
  for (int i = 0; i < rows; ++i) {
    std::int32_t edge = kFar;
    if (cut.top) edge = std::min(edge, i + 1);
    if (cut.bottom) edge = std::min(edge, rows - i);
    for (int j = 0; j < cols; ++j) {
      std::int32_t v = uncertain[i][j] ? 0 : edge;
      if (cut.left) v = std::min(v, j + 1);
      if (cut.right) v = std::min(v, cols - j);
      d[i][j] = v;
    }
  }
  chessboard_transform(d, cancel);
}

// How far from a no-data pixel of layer d a pass reads to decide what it
// writes there.  Its grown value comes from within d of it.  Its midpoint
// needs the grown values of the cross neighbours that may be greater: one
// of layer d - 1 or d grows from within that layer of it, so within d + 1
// of the pixel; one of layer d + 1 grows from the pixel itself among
// others, is never greater, and needs only to be known to lie in layer
// d + 1: no data within d of it.
std::int32_t reach(const IntGrid& layer, int i, int j) {
  const std::int32_t d = layer[i][j];
  std::int32_t beside = 0;
  if (i > 0) beside = std::max(beside, layer[i - 1][j]);
  if (j > 0) beside = std::max(beside, layer[i][j - 1]);
  if (j + 1 < layer.cols()) beside = std::max(beside, layer[i][j + 1]);
  if (i + 1 < layer.rows()) beside = std::max(beside, layer[i + 1][j]);
  return std::max(d, std::min(beside, d) + 1);
}

// The holes the dilation leaves: sets of pixels that no pass writes,
// connected through their cross, grouped in `pixels` (hole h from ends[h -
// 1] to ends[h]).  settled gives at their pixels the first pass before
// which every pixel around the hole holds data: from then on the hole is
// grown alike by every pass (its layers no longer change).
struct Holes {
  std::vector<std::size_t> pixels, ends;
  IntGrid settled;
};

Holes find_holes(const IntGrid& written_at, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  Holes h;
  h.settled = IntGrid(rows, cols);
  ByteGrid seen(rows, cols);
  const auto open = [&](int i, int j) { return written_at[i][j] == kNeverWritten && !seen[i][j]; };
  for (int i0 = 0; i0 < rows; ++i0) {
    cancel.at_row(i0, cols);
    for (int j0 = 0; j0 < cols; ++j0) {
      if (!open(i0, j0)) continue;
      seen[i0][j0] = 1;
      const std::size_t first = h.pixels.size();
      h.pixels.push_back(static_cast<std::size_t>(i0) * cols + j0);
      std::int32_t last_write = 0;
      for (std::size_t n = first; n < h.pixels.size(); ++n) {
        const int i = static_cast<int>(h.pixels[n] / cols), j = static_cast<int>(h.pixels[n] % cols);
        const auto visit = [&](int k, int l) {
          if (open(k, l)) {
            seen[k][l] = 1;
            h.pixels.push_back(static_cast<std::size_t>(k) * cols + l);
          } else if (written_at[k][l] != kNeverWritten) {
            last_write = std::max(last_write, written_at[k][l]);
          }
        };
        if (i > 0) visit(i - 1, j);
        if (j > 0) visit(i, j - 1);
        if (j + 1 < cols) visit(i, j + 1);
        if (i + 1 < rows) visit(i + 1, j);
      }
      for (std::size_t n = first; n < h.pixels.size(); ++n) h.settled.data()[h.pixels[n]] = last_write + 1;
      h.ends.push_back(h.pixels.size());
    }
  }
  return h;
}

}  // namespace

ByteGrid certain_after_gap_filling(const IntGrid& written_at, int passes, CutSides cut, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  ByteGrid uncertain(rows, cols), data(rows, cols);
  IntGrid layer(rows, cols), dist(rows, cols);
  const Holes holes = find_holes(written_at, cancel);
  // The no-data pixels still grown anew by each pass, and those of the
  // settled holes with how far each pass reads for them.
  std::vector<std::size_t> nodata, front, next;
  std::vector<std::pair<std::size_t, std::int32_t>> settled;
  for (std::size_t x = 0; x < written_at.size(); ++x) {
    if (written_at.data()[x] == 0)
      data.data()[x] = 1;
    else
      nodata.push_back(x);
  }
  distance_to_uncertain(uncertain, cut, dist, cancel);
  for (int k = 1; k <= passes; ++k) {
    // What the last pass wrote holds data from now on; the holes settled
    // keep the layers it gave them.
    std::size_t kept = 0;
    for (const std::size_t x : nodata) {
      const int i = static_cast<int>(x / cols), j = static_cast<int>(x % cols);
      if (written_at.data()[x] < k)
        data.data()[x] = 1, layer.data()[x] = 0;
      else if (written_at.data()[x] == kNeverWritten && holes.settled.data()[x] < k)
        settled.emplace_back(x, reach(layer, i, j));
      else
        nodata[kept++] = x;
    }
    nodata.resize(kept);
    growth_layers(data, nodata, layer, front, next, cancel);
    // A no-data pixel stays certain through the pass only when everything
    // the pass reads for it is certain; a data pixel never changes.
    bool grew = false;
    for (const std::size_t x : nodata) {
      const int i = static_cast<int>(x / cols), j = static_cast<int>(x % cols);
      if (!uncertain[i][j] && dist[i][j] <= reach(layer, i, j)) uncertain[i][j] = 1, grew = true;
    }
    for (const auto& [x, r] : settled)
      if (!uncertain.data()[x] && dist.data()[x] <= r) uncertain.data()[x] = 1, grew = true;
    // Layers only shrink as data comes, and with them what a pass reads: a
    // pass that makes no pixel uncertain is followed by none that does.
    if (!grew) break;
    distance_to_uncertain(uncertain, cut, dist, cancel);
  }
  // What the dilation wrote, where certain; the holes certain throughout.
  ByteGrid certain(rows, cols);
  for (std::size_t x = 0; x < certain.size(); ++x)
    certain.data()[x] = !uncertain.data()[x] && written_at.data()[x] != kNeverWritten;
  std::size_t first = 0;
  for (const std::size_t end : holes.ends) {
    const auto from = holes.pixels.begin() + static_cast<std::ptrdiff_t>(first);
    const auto to = holes.pixels.begin() + static_cast<std::ptrdiff_t>(end);
    if (std::none_of(from, to, [&](std::size_t x) { return uncertain.data()[x] != 0; }))
      std::for_each(from, to, [&](std::size_t x) { certain.data()[x] = 1; });
    first = end;
  }
  return certain;
}

ByteGrid certain_after_smoothing(const ByteGrid& certain, const Window& tile, int raster_rows, int raster_cols,
                                 int maille) {
  const int rows = certain.rows(), cols = certain.cols(), n = maille;
  // Along the rows: whether the window's columns are certain in each row.
  ByteGrid across(rows, cols);
  std::vector<int> before(static_cast<std::size_t>(cols) + 1);
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) before[j + 1] = before[j] + !certain[i][j];
    for (int j = 0; j < cols; ++j) {
      const int c = window_first(tile.col0 + j, n, raster_cols) - tile.col0;
      across[i][j] = c >= 0 && c + n < cols && before[c + n + 1] == before[c];
    }
  }
  // Then down the columns, over the window's rows.
  IntGrid above(rows + 1, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) above[i + 1][j] = above[i][j] + !across[i][j];
  ByteGrid out(rows, cols);
  for (int i = 0; i < rows; ++i) {
    const int r = window_first(tile.row0 + i, n, raster_rows) - tile.row0;
    if (r < 0 || r + n >= rows) continue;
    for (int j = 0; j < cols; ++j) out[i][j] = above[r + n + 1][j] == above[r][j];
  }
  return out;
}

}  // namespace tesk
