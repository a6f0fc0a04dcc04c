#include "run/preview.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "core/run_error.h"
#include "stages/masking.h"
#include "stages/quantisation.h"

namespace tesk {

void preview(const Samples& s, std::uint8_t* out) {
  if (s.rows == 0 || s.cols == 0) return;
  IntGrid itab(static_cast<int>(s.rows), static_cast<int>(s.cols));
  ByteGrid inside(itab.rows(), itab.cols());  // 1 for the pixels with a finite value
  std::vector<double> row(static_cast<std::size_t>(s.cols));
  bool holes = false;
  int lo = INT_MAX, hi = INT_MIN;
  with_type(s.type, [&](auto t) {
    for (int i = 0; i < itab.rows(); ++i) {
      read_row<decltype(t)>(s, i, row.data());
      for (int j = 0; j < itab.cols(); ++j) {
        const double v = std::trunc(row[static_cast<std::size_t>(j)]);
        inside[i][j] = std::isfinite(v);
        holes |= !inside[i][j];
        if (!inside[i][j]) {
          itab[i][j] = 0;
          continue;
        }
        if (!(v >= INT_MIN && v <= INT_MAX))
          throw RunError("the value " + message_number(row[static_cast<std::size_t>(j)]) + " at row " +
                         std::to_string(i) + ", column " + std::to_string(j) + " is not within the int range");
        itab[i][j] = static_cast<std::int32_t>(v);
        lo = std::min(lo, itab[i][j]);
        hi = std::max(hi, itab[i][j]);
      }
    }
  });
  ByteGrid tab(itab.rows(), itab.cols());
  if (holes)
    quantise_inside(itab, inside, tab);
  else
    quantise(itab, tab, lo, hi);
  std::copy(tab.begin(), tab.end(), out);
}

}  // namespace tesk
