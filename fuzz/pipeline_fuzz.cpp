// Fuzz target: the whole computation on tiny random grids, the fast stages
// against the literal reference stages (RunParams::literal).
//
// Input: rows, columns (1..8 each), sample width, interval, window, overlay,
// then one byte (or four for the extreme values) per pixel.  Both runs must
// end the same way (a result or the same conversion fault) with the same
// preview, result grid, minimum and maximum.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/units.h"
#include "stages/pipeline.h"

namespace {

struct Bytes {
  const std::uint8_t* p;
  std::size_t n;
  std::uint8_t take() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
  std::int32_t take32() {
    std::uint32_t u = 0;
    for (int k = 0; k < 4; ++k) u |= static_cast<std::uint32_t>(take()) << (8 * k);
    return static_cast<std::int32_t>(u);
  }
};

// A sample: mostly no-data or altitudes near each other (so the growth
// meets and writes midpoints), sometimes any value of the sample width.
std::int32_t sample(Bytes& b, int ival, bool wide) {
  const std::uint8_t c = b.take();
  if (c < 96) return ival;
  if (c < 240) return 1000 + (c - 96) * 7;
  if (c < 248) return ival + (c - 244);  // next to the marker
  if (!wide) return static_cast<std::int32_t>(static_cast<std::uint16_t>(b.take32()));
  return b.take32();
}

struct Outcome {
  bool fault = false;
  tesk::ConversionFault where;
  tesk::RunGrids g;
  tesk::RunStats stats;
};

void run(const tesk::IntGrid& input, const tesk::RunParams& p, Outcome& o) {
  o.g.allocate(input.rows(), input.cols(), p.literal);
  std::memcpy(o.g.itab.data(), input.data(), input.size() * sizeof(std::int32_t));
  tesk::RunObserver quiet;
  try {
    o.stats = tesk::compute_dem(
        o.g, p, [&](tesk::IntGrid& itab) { std::memcpy(itab.data(), input.data(), input.size() * sizeof(std::int32_t)); },
        quiet);
  } catch (const tesk::ConversionError& e) {
    o.fault = true;
    o.where = e.fault;
  }
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fast and literal differ: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  Bytes b{data, size};
  const int rows = 1 + b.take() % 8;
  const int cols = 1 + b.take() % 8;
  const bool wide = b.take() & 1;
  tesk::RunParams p;
  p.ival = wide ? tesk::kIval32 : tesk::kIval16;
  const std::uint8_t e = b.take();
  p.equid = e < 240 ? (e % 40) - 20 : static_cast<int>(b.take32());
  if (p.equid == 0) p.equid = 1;
  const std::uint8_t m = b.take();
  p.maille = (m % 8) - 1;  // -1..6: no smoothing, and windows that fit or not
  p.overlay = (m & 8) == 0;

  tesk::IntGrid input(rows, cols);
  for (auto& v : input) v = sample(b, p.ival, wide);

  Outcome literal, fast;
  p.literal = true;
  run(input, p, literal);
  p.literal = false;
  run(input, p, fast);

  if (literal.fault != fast.fault) fail("conversion fault");
  if (literal.fault) {
    if (literal.where.row != fast.where.row || literal.where.col != fast.where.col ||
        literal.where.value != fast.where.value)
      fail("fault position");
    return 0;
  }
  if (literal.stats.min_al != fast.stats.min_al || literal.stats.max_al != fast.stats.max_al) fail("min or max");
  if (std::memcmp(literal.g.itab1.data(), fast.g.itab1.data(), input.size() * sizeof(std::int32_t)) != 0)
    fail("result grid");
  if (std::memcmp(literal.g.tab.data(), fast.g.tab.data(), input.size()) != 0) fail("preview");

  // The internal no-data marker never reaches the result: a 16-bit result
  // lies between the smallest and the largest sample, or is the marker.
  if (!wide)
    for (const std::int32_t v : literal.g.itab1)
      if (v == tesk::kNoData) fail("internal marker left in the result");
  return 0;
}
