#include "tiles/certificate.h"

#include <algorithm>
#include <vector>

#include "stages/dilation_literal.h"
#include "stages/smoothing.h"
#include "tiles/distances.h"

namespace tesk {
namespace {

// Counts of the uncertain pixels of a box over rectangles.  Every such
// pixel lies within the band of a cut side, so the running sums cover only
// the parts of the box in each side's band, unless those parts together are
// as large as the box: in the first passes the box spans the tile, and the
// band a fraction of it.
class UncertainCounts {
 public:
  void build(const ByteGrid& flags, const Rect& box, CutSides cut, int rows, int cols, std::int64_t band,
             ThreadPool& pool) {
    const int b = static_cast<int>(std::min<std::int64_t>(band, std::max(rows, cols)));
    Rect sides[4];
    int n = 0;
    if (cut.top) sides[n++] = {0, b - 1, 0, cols - 1};
    if (cut.bottom) sides[n++] = {rows - b, rows - 1, 0, cols - 1};
    if (cut.left) sides[n++] = {0, rows - 1, 0, b - 1};
    if (cut.right) sides[n++] = {0, rows - 1, cols - b, cols - 1};
    const auto area = [](const Rect& r) {
      return r.empty() ? std::int64_t{0} : std::int64_t{r.i1 - r.i0 + 1} * (r.j1 - r.j0 + 1);
    };
    std::int64_t in_bands = 0;
    for (int k = 0; k < n; ++k) {
      Rect& s = sides[k];
      s = {std::max(s.i0, box.i0), std::min(s.i1, box.i1), std::max(s.j0, box.j0), std::min(s.j1, box.j1)};
      in_bands += area(s);
    }
    parts_ = 0;
    if (n == 0 || in_bands >= area(box)) {
      counts_[parts_++].build(flags, box, &pool);
      return;
    }
    for (int k = 0; k < n; ++k)
      if (!sides[k].empty()) counts_[parts_++].build(flags, sides[k], &pool);
  }
  bool near(int i0, int i1, int j0, int j1, std::int32_t r) const {
    for (int k = 0; k < parts_; ++k)
      if (counts_[k].near(i0, i1, j0, j1, r)) return true;
    return false;
  }

 private:
  SetCounts counts_[4];
  int parts_ = 0;
};

// Whether an uncertain pixel lies within distance r of the rectangle of
// tile rows i0..i1 and columns j0..j1: one of the set, or one beyond a cut
// side.
bool near_uncertain(const UncertainCounts& u, CutSides cut, int rows, int cols, int i0, int i1, int j0, int j1,
                    std::int32_t r) {
  return (cut.top && i0 < r) || (cut.bottom && rows - 1 - i1 < r) || (cut.left && j0 < r) ||
         (cut.right && cols - 1 - j1 < r) || u.near(i0, i1, j0, j1, r);
}

// How far from a no-data pixel of layer d a pass reads to decide what it
// writes there.  Its grown value comes from within d of it.  Its midpoint
// needs the grown values of the cross neighbours that may be greater: one
// of layer d - 1 or d grows from within that layer of it, so within d + 1
// of the pixel; one of layer d + 1 grows from the pixel itself among
// others, is never greater, and needs only to be known to lie in layer
// d + 1: no data within d of it.  layer is framed (0 in the frame, as at
// data pixels); x is the pixel's index there.
std::int32_t reach(const IntGrid& layer, std::size_t x) {
  const std::int32_t* l = layer.data();
  const auto w = static_cast<std::size_t>(layer.cols());
  const std::int32_t d = l[x];
  const std::int32_t beside = std::max(std::max(l[x - w], l[x - 1]), std::max(l[x + 1], l[x + w]));
  return std::max(d, std::min(beside, d) + 1);
}

// The distance of a pixel to the nearest cut side (rows or columns between
// them); only asked when a side is cut.
std::int64_t cut_distance(CutSides cut, int rows, int cols, Pixel p) {
  int d = std::max(rows, cols);
  if (cut.top) d = std::min(d, p.i);
  if (cut.bottom) d = std::min(d, rows - 1 - p.i);
  if (cut.left) d = std::min(d, p.j);
  if (cut.right) d = std::min(d, cols - 1 - p.j);
  return d;
}

// Runs [first, end) of a list of pixels in row order.
struct Span {
  std::size_t first = 0, end = 0;
};

std::span<const Pixel> pixels_of(const BlockVector<Pixel>& list, Span s) {
  return {list.data() + s.first, s.end - s.first};
}

// The columns [j0, j1) of row i within `band` of a cut side, in order, each
// to f(j0, j1): the whole row below a cut top (i < band) or above a cut
// bottom, elsewhere the first band columns beside a cut left side and the
// last beside a cut right one (the whole row where these meet).
template <class F>
void columns_within(CutSides cut, int rows, int cols, std::int64_t band, int i, F&& f) {
  const bool whole = (cut.top && i < band) || (cut.bottom && rows - 1 - i < band) ||
                     (cut.left && cut.right && 2 * band >= cols) || ((cut.left || cut.right) && band >= cols);
  if (whole) return f(0, cols);
  if (!cut.left && !cut.right) return;
  const int b = static_cast<int>(band);  // < cols
  if (cut.left && b > 0) f(0, b);
  if (cut.right && b > 0) f(cols - b, cols);
}

// The runs of nodata (in row order) that lie within `band` of a cut side
// (columns_within).  row_first[i] is the index of row i's first listed pixel (of the
// next row's when it has none), row_first[rows] the list's size.
std::vector<Span> within_band(const BlockVector<Pixel>& nodata, std::span<const std::size_t> row_first, CutSides cut,
                              int rows, int cols, std::int64_t band) {
  std::vector<Span> spans;
  const auto add = [&](std::size_t first, std::size_t end) {
    if (first >= end) return;
    if (!spans.empty() && spans.back().end == first) spans.back().end = end;
    else spans.push_back({first, end});
  };
  // The first listed pixel at or after (i, j), 0 <= j <= cols (at j = cols,
  // the next row's first).
  const auto from = [&](int i, int j) {
    const auto first = row_first[static_cast<std::size_t>(i)];
    if (j == 0) return first;
    const auto row = nodata.begin() + static_cast<std::ptrdiff_t>(first);
    const auto next = nodata.begin() + static_cast<std::ptrdiff_t>(row_first[static_cast<std::size_t>(i) + 1]);
    return static_cast<std::size_t>(std::lower_bound(row, next, static_cast<std::int32_t>(j),
                                                     [](Pixel a, std::int32_t v) { return a.j < v; }) -
                                    nodata.begin());
  };
  for (int i = 0; i < rows; ++i)
    columns_within(cut, rows, cols, band, i, [&](int j0, int j1) { add(from(i, j0), from(i, j1)); });
  return spans;
}

// The holes the dilation leaves: sets of pixels that no pass writes,
// connected through their cross, grouped in `pixels` (hole h from ends[h -
// 1] to ends[h]).  settles gives for each the first pass before which every
// pixel around the hole holds data: from then on the hole is grown alike by
// every pass (its layers no longer change).  state is 1 at a hole's pixels
// (kSettled once the certificate reaches that pass), 0 elsewhere.
struct Holes {
  BlockVector<Pixel> pixels;
  std::vector<std::size_t> ends;
  std::vector<std::int32_t> settles;  // of each hole
  ByteGrid state;
};
constexpr std::uint8_t kSettled = 2;

// A settled hole while the certificate follows the passes: its pixels'
// reaches, their rectangle and the largest reach.
struct SettledHole {
  std::size_t first = 0, end = 0;
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;
  std::int32_t reach = 0;
};

Holes find_holes(const IntGrid& written_at, CancelCheck cancel) {
  const int rows = written_at.rows(), cols = written_at.cols();
  Holes h;
  h.state = ByteGrid(rows, cols);
  ByteGrid& seen = h.state;
  h.pixels.reserve(static_cast<std::size_t>(std::count(written_at.begin(), written_at.end(), kNeverWritten)));
  const auto open = [&](int i, int j) { return written_at[i][j] == kNeverWritten && !seen[i][j]; };
  for (int i0 = 0; i0 < rows; ++i0) {
    cancel.at_row(i0, cols);
    for (int j0 = 0; j0 < cols; ++j0) {
      if (!open(i0, j0)) continue;
      seen[i0][j0] = 1;
      const std::size_t first = h.pixels.size();
      h.pixels.push_back({i0, j0});
      std::int32_t last_write = 0;
      for (std::size_t n = first; n < h.pixels.size(); ++n) {
        const int i = h.pixels[n].i, j = h.pixels[n].j;
        const auto visit = [&](int k, int l) {
          if (open(k, l)) {
            seen[k][l] = 1;
            h.pixels.push_back({k, l});
          } else if (written_at[k][l] != kNeverWritten) {
            last_write = std::max(last_write, written_at[k][l]);
          }
        };
        if (i > 0) visit(i - 1, j);
        if (j > 0) visit(i, j - 1);
        if (j + 1 < cols) visit(i, j + 1);
        if (i + 1 < rows) visit(i + 1, j);
      }
      h.settles.push_back(last_write + 1);
      h.ends.push_back(h.pixels.size());
    }
  }
  return h;
}

}  // namespace

ByteGrid certain_after_gap_filling(const IntGrid& written_at, int passes, std::span<const std::int64_t> sweeps,
                                   CutSides cut, CancelCheck cancel, int threads, bool every_pixel) {
  ThreadPool pool(std::max(1, threads));
  const int rows = written_at.rows(), cols = written_at.cols();
  const auto w = static_cast<std::size_t>(cols) + 2;
  const auto at = [w](Pixel p) { return static_cast<std::size_t>(p.i + 1) * w + static_cast<std::size_t>(p.j + 1); };
  // Framed grids (tiles/distances.h).
  ByteGrid uncertain(rows + 2, cols + 2), data(rows + 2, cols + 2);
  IntGrid layer(rows + 2, cols + 2);
  // The pixels a pass may find within reach of its no-data pixels: those
  // made uncertain by the pass before (none before the first), with the
  // others of their box.  Reaches only shrink from pass to pass, so a pixel
  // still certain after a pass is out of reach of every pixel uncertain
  // before it, in that pass and in every later one.
  UncertainCounts counts;
  std::int64_t extent = 0;  // how far uncertainty came: one more than an uncertain pixel's cut-side distance
  Holes holes = find_holes(written_at, cancel);
  // The no-data pixels still grown anew by each pass, and the settled
  // holes with how far each pass reads for their pixels.
  BlockVector<Pixel> nodata;
  BlockVector<std::size_t> front, next;
  std::vector<SettledHole> settled;
  BlockVector<std::int32_t> hole_reach(holes.pixels.size());
  std::size_t data_pixels = 0;
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j)
      if (written_at[i][j] == 0) data[i + 1][j + 1] = 1, ++data_pixels;
  nodata.reserve(written_at.size() - data_pixels);
  // With the passes' sweeps, the layers are grown only within the band and
  // as far again as the pass grows: a pixel of the band takes its layer from
  // its nearest growth source, at most that far, along a path every pixel of
  // which is nearer it, so within that reach of the same cut side.  With
  // no data at all there are no layers to bound: every pixel is one hole.
  const bool bounded = !every_pixel && sweeps.size() == static_cast<std::size_t>(passes) &&
                       data_pixels > 0;  // otherwise every pixel, every pass
  // A bounded pass lists, grows and checks only the pixels within `band`
  // and its reach again of a cut side, and reads one pixel further (the
  // cross and ring of those it grows); the layers of the band come from
  // sources within that reach (above), and sweeps over the whole grid find
  // them too.  So the list of no-data pixels and the data flags behind it
  // are kept only within `kept_within` of a cut side, widened (at least
  // doubled) when a pass needs more: the list is then made anew from the
  // record, which costs that part of the tile once, where keeping every
  // no-data pixel listed cost each pass the whole list (most of it far from
  // the cut sides in the first passes).  A settled hole, wherever it lies,
  // reads only its ring, whose flags are brought up to date before it is
  // grown.  Unbounded, every pass reads everything: the list is made from
  // the whole record once, in the first pass.
  std::int64_t kept_within = 0;
  const auto kept_columns = [&](int i, auto&& f) {
    if (bounded) columns_within(cut, rows, cols, kept_within, i, f);
    else f(0, cols);
  };
  std::vector<std::span<const Pixel>> near;  // the no-data pixels whose layers a bounded pass grows
  std::vector<std::size_t> row_first(static_cast<std::size_t>(rows) + 1);  // of nodata (within_band)
  for (int k = 1; k <= passes; ++k) {
    // The holes settled from this pass on leave the list of no-data pixels.
    near.clear();
    const std::size_t settled_before = settled.size();
    for (std::size_t h = 0, first = 0; h < holes.ends.size(); first = holes.ends[h++])
      if (holes.settles[h] == k - 1) {
        settled.push_back({first, holes.ends[h], rows, -1, cols, -1, 0});
        near.push_back(pixels_of(holes.pixels, {first, holes.ends[h]}));
        for (const Pixel p : near.back()) holes.state[p.i][p.j] = kSettled;
      }
    // Uncertainty starts beyond the cut sides, and a pass spreads it by at
    // most the largest reach of a pixel, its layer plus one, which the
    // pass's sweeps bound (settled holes included: the growth still sweeps
    // over them).  So this pass, from the uncertain pixels so far, to within
    // `band` of a cut side (the distance to a cut side grows by at most the
    // distance between two pixels).  Only the no-data pixels there can
    // become uncertain in this pass.
    std::int64_t band = 0, reach_bound = 0;  // how far from a cut side uncertainty may come in this pass
    if (bounded) {
      reach_bound = std::min<std::int64_t>(std::max<std::int64_t>(sweeps[k - 1], 1), kFar);
      band = std::min<std::int64_t>(extent + reach_bound, kFar);
    }
    // What the last pass wrote holds data from now on; the holes settled
    // keep the layers it gave them.
    const auto keep = [&](Pixel p, std::size_t& kept, int& row) {
      const std::int32_t written = written_at[p.i][p.j];
      if (written < k) {
        data.data()[at(p)] = 1, layer.data()[at(p)] = 0;
      } else if (written != kNeverWritten || holes.state[p.i][p.j] != kSettled) {
        while (row <= p.i) row_first[static_cast<std::size_t>(row++)] = kept;
        nodata[kept++] = p;
      }
    };
    std::size_t kept = 0;
    int row = 0;  // the rows whose first listed pixel is known
    const std::int64_t needed = bounded ? std::min<std::int64_t>(band + reach_bound, kFar) + 1 : kFar + 1;
    if (needed > kept_within) {
      kept_within = std::max(needed, std::min<std::int64_t>(2 * kept_within, kFar + 1));
      nodata.clear();
      for (int i = 0; i < rows; ++i)
        kept_columns(i, [&](int j0, int j1) {
          for (int j = j0; j < j1; ++j)
            if (written_at[i][j] != 0) {
              nodata.push_back({i, j});  // room for it: kept <= its index
              keep({i, j}, kept, row);
            }
        });
    } else {
      for (const Pixel p : nodata) keep(p, kept, row);
    }
    while (row <= rows) row_first[static_cast<std::size_t>(row++)] = kept;
    nodata.resize(kept);
    // The settled holes' layers, grown if the last pass did not: a settled
    // hole's layers depend on the hole alone (no step of a growth goes
    // diagonally from one hole into another).  Their rings hold data, kept
    // or not.
    if (bounded && !near.empty()) {
      for (const auto& hole : near)
        for (const Pixel p : hole)
          for (int di = -1; di <= 1; ++di)
            for (int dj = -1; dj <= 1; ++dj) {
              const int i = p.i + di, j = p.j + dj;
              if (i >= 0 && i < rows && j >= 0 && j < cols && written_at[i][j] < k)
                data[i + 1][j + 1] = 1, layer[i + 1][j + 1] = 0;
            }
      growth_layers(data, near, layer, front, next, cancel);
    }
    for (std::size_t h = settled_before; h < settled.size(); ++h) {
      SettledHole& s = settled[h];
      for (std::size_t n = s.first; n < s.end; ++n) {
        const Pixel p = holes.pixels[n];
        hole_reach[n] = reach(layer, at(p));
        s.reach = std::max(s.reach, hole_reach[n]);
        s.i0 = std::min(s.i0, p.i), s.i1 = std::max(s.i1, p.i), s.j0 = std::min(s.j0, p.j), s.j1 = std::max(s.j1, p.j);
      }
    }
    if (bounded) {
      near.clear();
      for (const Span& s : within_band(nodata, row_first, cut, rows, cols, std::min<std::int64_t>(band + reach_bound, kFar)))
        near.push_back(pixels_of(nodata, s));
      growth_layers(data, near, layer, front, next, cancel);
    } else {
      const std::span<const Pixel> all[] = {pixels_of(nodata, {0, nodata.size()})};
      growth_layers(data, all, layer, front, next, cancel);
    }
    const std::vector<Span> spans =
        bounded ? within_band(nodata, row_first, cut, rows, cols, band) : std::vector<Span>{{0, nodata.size()}};
    std::vector<std::size_t> before(spans.size() + 1);  // the spans' pixels before each
    for (std::size_t n = 0; n < spans.size(); ++n) before[n + 1] = before[n] + spans[n].end - spans[n].first;
    // A no-data pixel stays certain through the pass only when everything
    // the pass reads for it is certain; a data pixel never changes.  The
    // counts are those from before the pass.
    // Each pixel reads the counts and writes only its own flag: the pieces
    // of the list may be checked in any order, at once.
    std::vector<Rect> grew(static_cast<std::size_t>(pool.size()) + 1);
    std::vector<std::int64_t> farthest(grew.size(), -1);  // the largest distance to a cut side of those
    const auto check = [&](Pixel p, std::int32_t r, std::size_t piece) {
      std::uint8_t& u = uncertain.data()[at(p)];
      if (u || !near_uncertain(counts, cut, rows, cols, p.i, p.i, p.j, p.j, r)) return;
      u = 1;
      grew[piece].add(p);
      farthest[piece] = std::max<std::int64_t>(farthest[piece], cut_distance(cut, rows, cols, p));
    };
    pool.for_range(0, static_cast<std::int64_t>(before.back()), 1024, [&](std::int64_t a, std::int64_t b, int piece) {
      // The a-th to the b-th pixel of the spans, taken together.
      auto s = static_cast<std::size_t>(std::upper_bound(before.begin(), before.end(), static_cast<std::size_t>(a)) -
                                        before.begin()) - 1;
      for (auto k = static_cast<std::size_t>(a); k < static_cast<std::size_t>(b); ++k) {
        while (k >= before[s + 1]) ++s;
        const std::size_t n = spans[s].first + (k - before[s]);
        check(nodata[n], reach(layer, at(nodata[n])), static_cast<std::size_t>(piece));
      }
    });
    for (const SettledHole& s : settled) {
      if (!near_uncertain(counts, cut, rows, cols, s.i0, s.i1, s.j0, s.j1, s.reach)) continue;
      for (std::size_t n = s.first; n < s.end; ++n) check(holes.pixels[n], hole_reach[n], grew.size() - 1);
    }
    Rect box;
    for (const Rect& r : grew) box.add(r);
    // A pass that makes no pixel uncertain is followed by none that does.
    if (box.empty()) break;
    extent = std::max(extent, *std::max_element(farthest.begin(), farthest.end()) + 1);
    counts.build(uncertain, box, cut, rows, cols, bounded ? extent : kFar, pool);
  }
  // What the dilation wrote, where certain; the holes certain throughout.
  ByteGrid certain(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) certain[i][j] = !uncertain[i + 1][j + 1] && written_at[i][j] != kNeverWritten;
  std::size_t first = 0;
  for (const std::size_t end : holes.ends) {
    const auto from = holes.pixels.begin() + static_cast<std::ptrdiff_t>(first);
    const auto to = holes.pixels.begin() + static_cast<std::ptrdiff_t>(end);
    if (std::none_of(from, to, [&](Pixel p) { return uncertain.data()[at(p)] != 0; }))
      std::for_each(from, to, [&](Pixel p) { certain[p.i][p.j] = 1; });
    first = end;
  }
  return certain;
}

ByteGrid certain_after_smoothing(const ByteGrid& certain, const Window& tile, int raster_rows, int raster_cols,
                                 int maille) {
  const int rows = certain.rows(), cols = certain.cols(), n = maille;
  // Along the rows: whether the window's columns are certain in a row, kept
  // for the n + 1 rows of the current window.
  // The first column of each column's window is the same in every row:
  // -1 where the window leaves the tile.
  std::vector<int> before(static_cast<std::size_t>(cols) + 1), first(static_cast<std::size_t>(cols));
  for (int j = 0; j < cols; ++j) {
    const int c = window_first(tile.col0 + j, n, raster_cols) - tile.col0;
    first[j] = c >= 0 && c + n < cols ? c : -1;
  }
  ByteGrid across(n + 1, cols);
  const auto row_across = [&](int i) {
    std::uint8_t* a = across[i % (n + 1)];
    for (int j = 0; j < cols; ++j) before[j + 1] = before[j] + !certain[i][j];
    for (int j = 0; j < cols; ++j) {
      const int c = first[j];
      a[j] = c >= 0 && before[c + n + 1] == before[c];
    }
    return a;
  };
  // Then down the columns: how many rows of each column's window are not
  // certain across.  A window moves down a row at most from one pixel to the
  // next, so rows leave the count before their place in `across` is reused.
  std::vector<int> unsure(static_cast<std::size_t>(cols));
  int top = 0, end = 0;  // the rows counted in unsure
  ByteGrid out(rows, cols);
  for (int i = 0; i < rows; ++i) {
    const int r = window_first(tile.row0 + i, n, raster_rows) - tile.row0;
    if (r < 0 || r + n >= rows) continue;
    if (r >= end) {  // no row of the last window is in this one
      std::fill(unsure.begin(), unsure.end(), 0);
      top = end = r;
    }
    for (; top < r; ++top) {
      const std::uint8_t* a = across[top % (n + 1)];
      for (int j = 0; j < cols; ++j) unsure[j] -= !a[j];
    }
    for (; end <= r + n; ++end) {
      const std::uint8_t* a = row_across(end);
      for (int j = 0; j < cols; ++j) unsure[j] += !a[j];
    }
    for (int j = 0; j < cols; ++j) out[i][j] = unsure[j] == 0;
  }
  return out;
}

}  // namespace tesk
