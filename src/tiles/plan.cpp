#include "tiles/plan.h"

#include <algorithm>
#include <cmath>

#include "core/mention.h"
#include "stages/conversion.h"

namespace tesk {

void RasterSurvey::merge(const RasterSurvey& o) {
  const bool other_example_first = o.contours.off_interval > 0 && o.example.before(example);
  const double first_example = other_example_first ? o.contours.example : contours.example;
  contours.merge(o.contours);
  if (contours.off_interval > 0) {
    contours.example = first_example;
    if (other_example_first) example = o.example;
  }
  any |= o.any;
  longest_gap = std::max(longest_gap, o.longest_gap);
  if (o.fault && (!fault || o.fault->at.before(fault->at))) fault = o.fault;
}

RasterSurvey survey_block(const BlockRows& b, int equid, std::vector<int>* column_runs, CancelCheck cancel) {
  RasterSurvey s;
  const auto cols = static_cast<std::size_t>(b.cols);
  std::vector<int> own;
  std::vector<int>& down = column_runs ? *column_runs : own;  // the no-data run ending at this row, per column
  if (down.size() != cols) down.assign(cols, 0);
  std::vector<std::int32_t> raw(b.raw_nodata ? cols : 0);
  std::vector<double> real(b.raw_nodata ? 0 : cols);
  for (int i = 0; i < b.rows && !s.fault; ++i) {
    cancel.at_row(i, b.cols);
    if (b.raw_nodata)
      b.read_raw(i, raw.data());
    else
      b.read_real(i, real.data());
    int across = 0;
    for (std::size_t j = 0; j < cols; ++j) {
      const bool contour = b.raw_nodata ? raw[j] != *b.raw_nodata : !std::isnan(real[j]);
      int& run = down[j];
      across = contour ? 0 : across + 1;
      run = contour ? 0 : run + 1;
      s.longest_gap = std::max({s.longest_gap, across, run});
      if (!contour) continue;
      s.any = true;
      const RasterSurvey::Place at{b.row0 + i, b.col0 + static_cast<std::int64_t>(j)};
      const double v = b.raw_nodata ? static_cast<double>(raw[j]) : real[j];
      const bool first_off = s.contours.off_interval == 0;
      if (b.raw_nodata)
        s.contours.add(raw[j], equid);
      else
        s.contours.add(v, equid);
      if (first_off && s.contours.off_interval > 0) s.example = at;
      const bool fits = b.raw_nodata ? to_internal(raw[j], equid).has_value() : to_internal_real(v, equid).has_value();
      if (!fits && !s.fault) s.fault = RasterSurvey::Fault{at, v};
    }
  }
  return s;
}

std::string no_contour_message(const std::string& name, std::int64_t rows, std::int64_t cols) {
  if (rows == 0 || cols == 0)
    return name + " is empty (" + std::to_string(rows) + " x " + std::to_string(cols) + " samples): no contour pixel";
  return name + " holds no contour pixel: every sample is the no-data value";
}

int first_halo(const RasterSurvey& s, std::optional<int> given, int largest) {
  const int estimate = std::clamp((s.longest_gap / 5 + 15) / 16 * 16, 16, 1024);
  return std::max(0, std::min(given.value_or(estimate), largest));
}

std::optional<int> next_halo(int halo, int rows, int cols, int largest) {
  if (halo >= std::max(rows, cols) || halo >= largest) return std::nullopt;
  return std::min(std::max(1, 2 * halo), largest);
}

bool box_first(int side, int box_side, int halo) {
  const auto pixels = [halo](int n) {
    const double extent = static_cast<double>(n) + 2.0 * static_cast<double>(halo);
    return extent * extent;
  };
  return box_side > 0 && 2 * pixels(box_side) <= pixels(side);
}

std::optional<Retries::Try> Retries::next(int side, int box_side, int rows, int cols, int largest,
                                         const std::function<bool(int)>& box_held) {
  auto following = next_halo(halo, rows, cols, largest);
  if (!following) {
    if (!boxes || core_halo == halo) return std::nullopt;
    // The boxes reached the largest halo: every halo below it came from
    // next_halo, so one follows the whole core's last.
    boxes = false;
    following = next_halo(core_halo, rows, cols, largest);
  }
  halo = *following;
  if (boxes && box_first(side, box_side, halo) && (!box_held || box_held(halo))) return Try::box;
  core_halo = halo;
  return Try::core;
}

std::string where(const Window& w) {
  return "rows " + std::to_string(w.row0) + " to " + std::to_string(w.row0 + w.rows - 1) + ", columns " +
         std::to_string(w.col0) + " to " + std::to_string(w.col0 + w.cols - 1);
}

std::string unproven_message(const Window& core, std::int64_t uncertain, int halo, const std::string& limit,
                             const std::string& remedy, bool fitted) {
  return "the tile of " + where(core) +
         (fitted ? " cannot be fitted within a thousandth of an interval of a fit with a wider halo"
                 : " cannot be proven equal to a whole run") +
         ", even with a halo of " +
         std::to_string(halo) + " pixels, " + limit + ": " + std::to_string(uncertain) +
         " of its pixels depend on more of the raster (a hole larger than the tile, such as a sea beyond the "
         "outermost contour); add " + mention(Opt::accept_uncertain, "True") +
         " to keep them as the tile computes them, or " + remedy;
}

std::string uncertain_note(const std::vector<Unproven>& tiles, bool fitted) {
  std::int64_t pixels = 0;
  std::string list;
  for (std::size_t k = 0; k < tiles.size(); ++k) {
    pixels += tiles[k].pixels;
    if (k < 5) list += (k ? "; " : "") + where(tiles[k].core) + " (" + std::to_string(tiles[k].pixels) + ")";
  }
  if (tiles.size() > 5) list += "; ...";
  return std::to_string(pixels) + " pixels in " + std::to_string(tiles.size()) +
         " tiles are kept as the tiles computed them, " +
         (fitted ? "not fitted within a thousandth of an interval of a fit with a wider halo"
                 : "not proven equal to a whole run") +
         " (" +
         mention(Opt::accept_uncertain, "True") + "): " + list;
}

Window TileGrid::core(int k) const {
  const int ti = k / across(), tj = k % across();
  return {ti * tile, tj * tile, std::min(tile, rows - ti * tile), std::min(tile, cols - tj * tile)};
}

}  // namespace tesk
