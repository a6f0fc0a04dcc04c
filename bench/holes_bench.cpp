// tesk_holes_bench: what finding the holes of a whole raster costs, and what
// it saves a run by tiles on a coast.
//
// The raster is a generated one (bench/terrain.h, interval 10) made coastal:
// its contours below --sea metres are removed, so that the terrain below
// that level is one sea bordered by the coastline's contour.  Printed:
//
// 1. the first pass, labelling and summarising the raster in strips of full
//    rows (as many rows as make 2^20 pixels, the command line's survey) and
//    in square blocks (dask's): time, and the summaries' size;
// 2. the stitching of the summaries, and the second pass (labelling again,
//    the hole values of each strip): time, and the share of pixels filled;
// 3. runs by tiles of --tile pixels, each tile's halo doubled from --halo
//    until its certificate holds or the halo covers the raster, with the
//    hole values and without, alternating, best of --repeat; and the whole
//    run for reference.  The tiles' bytes are checked against the whole
//    run's wherever proven.
//
// Options: --size N (4096) --sea METRES (610) --tile T (1024) --halo H (64)
//          --block B (1024) --repeat R (2) --threads T (every core)
//          --no-tiles (parts 1 and 2 only)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/threads.h"
#include "core/units.h"
#include "stages/conversion.h"
#include "stages/pipeline.h"
#include "terrain.h"
#include "tiles/hole_stitch.h"
#include "tiles/holes.h"
#include "tiles/tile_run.h"

using namespace tesk;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

IntGrid window_of(const IntGrid& g, const Window& w) {
  IntGrid out(w.rows, w.cols);
  for (int i = 0; i < w.rows; ++i) std::copy(g[w.row0 + i] + w.col0, g[w.row0 + i] + w.col0 + w.cols, out[i]);
  return out;
}

std::vector<int> starts(int n, int step) {
  std::vector<int> s;
  for (int k = 0; k < n; k += step) s.push_back(k);
  s.push_back(n);
  return s;
}

// The first pass over a layout: seconds, and the summaries.
double first_pass(const IntGrid& internal, const BlockLayout& layout, std::vector<BlockSummary>& out) {
  out.clear();
  const auto t = Clock::now();
  for (std::size_t bi = 0; bi + 1 < layout.row_starts.size(); ++bi)
    for (std::size_t bj = 0; bj + 1 < layout.col_starts.size(); ++bj) {
      const Window w{layout.row_starts[bi], layout.col_starts[bj], layout.row_starts[bi + 1] - layout.row_starts[bi],
                     layout.col_starts[bj + 1] - layout.col_starts[bj]};
      const IntGrid block = window_of(internal, w);
      out.push_back(summarise(w, block, label_block(block)));
    }
  return since(t);
}

void print_layout(const char* name, const IntGrid& internal, const BlockLayout& layout, int repeat, IntGrid* values) {
  std::vector<BlockSummary> summaries;
  double first = 1e30;
  for (int r = 0; r < repeat; ++r) first = std::min(first, first_pass(internal, layout, summaries));
  std::size_t runs = 0, labels = 0, words = 0;
  for (const BlockSummary& s : summaries) {
    runs += s.top.size() + s.bottom.size() + s.left.size() + s.right.size();
    labels += s.borders.size();
    words += encode(s).size();
  }
  auto t = Clock::now();
  const auto table = stitch(layout, summaries);
  const double stitching = since(t);
  t = Clock::now();
  std::size_t filled = 0, k = 0;
  for (std::size_t bi = 0; bi + 1 < layout.row_starts.size(); ++bi)
    for (std::size_t bj = 0; bj + 1 < layout.col_starts.size(); ++bj, ++k) {
      const Window& w = summaries[k].where;
      const IntGrid v = hole_values(window_of(internal, w), table[k]);
      filled += static_cast<std::size_t>(std::count_if(v.begin(), v.end(), [](std::int32_t x) { return x != kNoData; }));
      if (values)
        for (int i = 0; i < w.rows; ++i) std::copy(v[i], v[i] + w.cols, (*values)[w.row0 + i] + w.col0);
    }
  const double second = since(t);
  const double mpx = static_cast<double>(internal.size()) / 1e6;
  std::printf("  %-22s %5zu blocks  first pass %6.3f s (%5.1f ns/px)  summaries %8zu runs, %7zu edge labels, %6.2f MiB"
              "  stitch %6.3f s  second pass %6.3f s  filled %5.1f %%\n",
              name, summaries.size(), first, first * 1e3 / mpx, runs, labels, words * 4.0 / (1 << 20), stitching,
              second, 100.0 * static_cast<double>(filled) / static_cast<double>(internal.size()));
}

struct TiledRun {
  double seconds = 0;
  int certified = 0, tiles = 0, largest_halo = 0;
  std::int64_t uncertain = 0, mismatches = 0;
};

TiledRun tiled(const IntGrid& raw, const RunParams& p, int tile, int first_halo, const IntGrid* holes,
               const IntGrid& whole) {
  TiledRun out;
  const int rows = raw.rows(), cols = raw.cols();
  const auto t = Clock::now();
  for (int r0 = 0; r0 < rows; r0 += tile)
    for (int c0 = 0; c0 < cols; c0 += tile) {
      TileRequest req{rows, cols, {r0, c0, std::min(tile, rows - r0), std::min(tile, cols - c0)}, first_halo};
      for (;;) {
        const TileResult r = run_tile(req, p, window_reader(raw), nullptr, holes ? window_reader(*holes) : nullptr);
        if (!r.certified && req.halo < std::max(rows, cols)) {
          req.halo *= 2;
          continue;
        }
        ++out.tiles;
        out.certified += r.certified;
        out.uncertain += r.uncertain;
        out.largest_halo = std::max(out.largest_halo, req.halo);
        for (int i = 0; i < req.core.rows; ++i)
          for (int j = 0; j < req.core.cols; ++j)
            out.mismatches += r.certain[i][j] && r.altitude[i][j] != whole[r0 + i][c0 + j];
        break;
      }
    }
  out.seconds = since(t);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int size = 4096, sea = 610, tile = 1024, halo = 64, block = 1024, repeat = 2, threads = resolve_threads(0);
  bool tiles = true;
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    const auto next = [&] { return k + 1 < argc ? std::atoi(argv[++k]) : 0; };
    if (a == "--size") size = next();
    else if (a == "--sea") sea = next();
    else if (a == "--tile") tile = next();
    else if (a == "--halo") halo = std::max(1, next());
    else if (a == "--block") block = next();
    else if (a == "--repeat") repeat = std::max(1, next());
    else if (a == "--threads") threads = std::max(1, next());
    else if (a == "--no-tiles") tiles = false;
    else return std::fprintf(stderr, "tesk_holes_bench: unknown option %s\n", a.c_str()), 2;
  }
  if (size < 64 || tile < 64 || block < 1) return std::fprintf(stderr, "tesk_holes_bench: size and tile >= 64\n"), 2;
  const bench::ContourRaster c = bench::make_contour_raster(size, size, 12345u + static_cast<std::uint32_t>(size), 10);
  IntGrid raw(size, size);
  for (std::size_t x = 0; x < raw.size(); ++x) raw.data()[x] = c.samples[x] < sea ? 65500 : c.samples[x];
  RunParams p;
  p.equid = 10;
  p.maille = 3;
  p.threads = threads;
  IntGrid internal(size, size);
  std::copy(raw.begin(), raw.end(), internal.begin());
  if (convert_to_internal(internal, p.ival, p.equid)) return std::fprintf(stderr, "conversion failed\n"), 1;
  std::printf("tesk_holes_bench: %d x %d generated, interval 10, contours below %d m removed (a sea), window 3, "
              "%d thread(s)\n\n1-2. finding the holes (best of %d)\n",
              size, size, sea, threads, repeat);
  IntGrid values = tiles ? IntGrid(size, size) : IntGrid();
  const int strip = std::max(1, std::min(size, (1 << 20) / size));
  print_layout(("strips of " + std::to_string(strip) + " rows").c_str(), internal, {starts(size, strip), {0, size}},
               repeat, tiles ? &values : nullptr);
  print_layout(("blocks of " + std::to_string(block)).c_str(), internal, {starts(size, block), starts(size, block)},
               repeat, nullptr);
  if (!tiles) return 0;

  struct Keep : RunObserver {} quiet;
  RunGrids g;
  g.allocate(size, size, false);
  std::copy(raw.begin(), raw.end(), g.itab.begin());
  auto t = Clock::now();
  compute_dem(g, p, [&](IntGrid& a) { std::copy(raw.begin(), raw.end(), a.begin()); }, quiet);
  std::printf("\n3. whole run %.2f s; tiles of %d, first halo %d, doubled until proven (best of %d, alternating)\n",
              since(t), tile, halo, repeat);
  TiledRun best[2];
  for (int r = 0; r < repeat; ++r)
    for (int with = 1; with >= 0; --with) {
      const TiledRun run = tiled(raw, p, tile, halo, with ? &values : nullptr, g.itab1);
      if (r == 0 || run.seconds < best[with].seconds) best[with] = run;
    }
  for (int with = 1; with >= 0; --with)
    std::printf("  %-20s %7.2f s  %d of %d tiles proven, %lld pixels unproven, largest halo %d, %lld proven pixels "
                "not the whole run's\n",
                with ? "with hole values" : "without", best[with].seconds, best[with].certified, best[with].tiles,
                static_cast<long long>(best[with].uncertain), best[with].largest_halo,
                static_cast<long long>(best[with].mismatches));
  return 0;
}
