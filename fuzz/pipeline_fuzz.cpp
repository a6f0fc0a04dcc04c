// Fuzz target: the whole computation on tiny grids, the fast stages against
// the literal ones.  Input: rows and columns (1..8), sample width, interval,
// window and overlay, then a byte a pixel.  Both runs end the same way (the
// same conversion fault or the same result and preview).
#include <cstdlib>
#include <string>

#include "core/units.h"
#include "stages/pipeline.h"

static std::string run(const tesk::IntGrid& input, tesk::RunParams p, bool literal) {
  p.literal = literal;
  tesk::RunGrids g;
  g.allocate(input.rows(), input.cols(), literal);
  auto reread = [&](tesk::IntGrid& itab) { std::copy(input.begin(), input.end(), itab.begin()); };
  reread(g.itab);
  tesk::RunObserver quiet;
  try {
    tesk::compute_dem(g, p, reread, quiet);
  } catch (const tesk::ConversionError& e) {
    return "fault " + std::to_string(e.fault.row) + " " + std::to_string(e.fault.col);
  }
  return std::string(reinterpret_cast<const char*>(g.itab1.data()), g.itab1.size() * 4) +
         std::string(g.tab.begin(), g.tab.end());
}

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size < 5) return 0;
  tesk::RunParams p;
  p.ival = data[2] & 1 ? tesk::kIval32 : tesk::kIval16;
  p.equid = data[3] % 40 - 20 ? data[3] % 40 - 20 : 512;
  p.maille = data[4] % 8 - 1, p.overlay = (data[4] & 8) == 0;
  tesk::IntGrid input(1 + data[0] % 8, 1 + data[1] % 8);
  std::size_t k = 5;
  for (auto& v : input) {  // mostly no data or nearby altitudes, sometimes next to the marker
    const unsigned char c = k < size ? data[k++] : 0;
    v = c < 96 ? p.ival : c < 240 ? 1000 + (c - 96) * 7 : p.ival + (c - 248);
  }
  if (run(input, p, true) != run(input, p, false)) std::abort();
  return 0;
}
