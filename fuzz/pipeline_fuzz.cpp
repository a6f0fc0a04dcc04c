// Fuzz target: the whole computation on tiny grids, the fast stages against
// the literal ones.  Input: rows and columns (1..8), sample width, interval,
// window and overlay, then a byte (four for extreme values) a pixel.  Both
// runs end the same way (a result or the same conversion fault) with the
// same preview, result, minimum and maximum, and no internal marker left.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/units.h"
#include "stages/pipeline.h"

namespace {

struct Bytes {
  const unsigned char* p;
  std::size_t n;
  unsigned char take() { return n ? (--n, *p++) : 0; }
  std::int32_t take32() {
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k) u |= static_cast<std::uint32_t>(take()) << (8 * k);
    return static_cast<std::int32_t>(u);
  }
};

struct Outcome {
  bool fault = false;
  tesk::ConversionFault where;
  tesk::RunGrids g;
  tesk::RunStats stats;
  bool operator!=(const Outcome& o) const {  // the same end: the same fault, or the same results
    const std::size_t n = g.itab1.size();
    return fault != o.fault || (fault ? where.row != o.where.row || where.col != o.where.col || where.value != o.where.value
                                      : stats.min_al != o.stats.min_al || stats.max_al != o.stats.max_al ||
                                            std::memcmp(g.itab1.data(), o.g.itab1.data(), n * 4) != 0 ||
                                            std::memcmp(g.tab.data(), o.g.tab.data(), n) != 0);
  }
};

void run(const tesk::IntGrid& input, const tesk::RunParams& p, Outcome& o) {
  o.g.allocate(input.rows(), input.cols(), p.literal);
  auto reread = [&](tesk::IntGrid& itab) { std::copy(input.begin(), input.end(), itab.begin()); };
  reread(o.g.itab);
  tesk::RunObserver quiet;
  try {
    o.stats = tesk::compute_dem(o.g, p, reread, quiet);
  } catch (const tesk::ConversionError& e) {
    o.fault = true, o.where = e.fault;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 6) return 0;
  Bytes b{data, size};
  const int rows = 1 + b.take() % 8, cols = 1 + b.take() % 8;
  const bool wide = b.take() & 1;
  tesk::RunParams p;
  p.ival = wide ? tesk::kIval32 : tesk::kIval16;
  const unsigned char e = b.take();
  p.equid = e < 240 ? (e % 40) - 20 : static_cast<int>(b.take32());
  if (p.equid == 0) p.equid = 1;
  const unsigned char m = b.take();
  p.maille = (m % 8) - 1;  // -1..6: no smoothing, windows that fit or not
  p.overlay = (m & 8) == 0;
  tesk::IntGrid input(rows, cols);
  for (auto& v : input) {  // mostly no data or nearby altitudes, sometimes next to the marker or anything
    const unsigned char c = b.take();
    v = c < 96 ? p.ival : c < 240 ? 1000 + (c - 96) * 7 : c < 248 ? p.ival + (c - 244)
        : wide ? b.take32() : static_cast<std::uint16_t>(b.take32());
  }
  Outcome literal, fast;
  p.literal = true;
  run(input, p, literal);
  p.literal = false;
  run(input, p, fast);
  if (literal != fast) std::abort();
  for (const std::int32_t v : literal.g.itab1)
    if (!literal.fault && !wide && v == tesk::kNoData) std::abort();
  return 0;
}
