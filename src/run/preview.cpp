#include "run/preview.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

#include "core/run_error.h"
#include "core/units.h"
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

int whole_units(double internal, int equid) { return trunc_to_int(output_value(internal, equid, true, true)); }

std::function<void(int, int, std::uint8_t*)> surface_preview(gdal::ResultRows fitted, int equid,
                                                             const ByteGrid* inside, int lo, int hi) {
  const Stretch line = inside ? inside_line(lo, hi) : stretch_line(lo, hi);
  return [fitted, equid, inside, line](int i, int n, std::uint8_t* out) {
    const double* w = fitted.at(i, n);  // n whole rows, row after row, as the mask's
    const std::uint8_t* in = inside ? (*inside)[i] : nullptr;
    for (std::size_t k = 0; k < static_cast<std::size_t>(n) * static_cast<std::size_t>(fitted.cols); ++k) {
      const int v = whole_units(w[k], equid);
      out[k] = in ? inside_byte(v, in[k], line) : stretch_byte(v, line);
    }
  };
}

std::function<void(int, int, std::uint8_t*)> surface_preview(const Grid<double>& fitted, int equid,
                                                             const ByteGrid* inside) {
  // Whole units to the nearest, as an int (saturating), for the stretch.
  int lo = INT_MAX, hi = INT_MIN;
  for (std::size_t k = 0; k < fitted.size(); ++k) {
    if (inside && !inside->data()[k]) continue;
    const int v = whole_units(fitted.data()[k], equid);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return surface_preview(gdal::ResultRows::of(fitted), equid, inside, lo, hi);
}

}  // namespace tesk
