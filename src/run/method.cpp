#include "run/method.h"

#include <array>
#include <stdexcept>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/units.h"
#include "stages/spline/spline.h"

namespace tesk {
namespace {

constexpr std::array<MethodTraits, 2> kMethods = {{
    {Method::classic, "classic", true, true},
    {Method::spline, "spline", true, false},
}};

}  // namespace

const MethodTraits& traits(Method m) { return kMethods[static_cast<std::size_t>(m)]; }
std::span<const MethodTraits> methods() { return kMethods; }

std::optional<Method> method_named(std::string_view name) {
  for (const auto& t : kMethods)
    if (name == t.name) return t.method;
  return std::nullopt;
}

std::string method_names() {
  std::string s;
  for (std::size_t k = 0; k < kMethods.size(); ++k)
    s += std::string(k == 0 ? "" : k + 1 == kMethods.size() ? " or " : ", ") + kMethods[k].name;
  return s;
}

std::uint64_t bytes_per_pixel(Method m) {
  // The spline: the contours in internal units, and the stage's own grids.
  return m == Method::spline ? sizeof(std::int32_t) + spline_bytes_per_pixel() : RunGrids::bytes_per_pixel(false);
}

RunParams stage_params(const SurfaceOptions& o, int threads, std::optional<std::int32_t> raw_nodata) {
  RunParams p;
  p.equid = o.interval;
  p.maille = o.window;
  p.overlay = lays_back(o);
  p.threads = threads;
  p.internal_input = !raw_nodata;
  p.ival = raw_nodata.value_or(kIval32);
  return p;
}

void check_tiles(Method m, const std::string& why, const std::string& remedy) {
  if (!traits(m).tiles)
    throw RunError(mention(Opt::method, traits(m).name) + " cannot run by tiles yet, and " + why + ": " + remedy +
                   ", or choose " + mention(Opt::method, "classic"));
}

RunStats compute_surface(Method, RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                         RunObserver& observer) {
  return compute_dem(g, p, reread, observer);
}

namespace {

SplineParams spline_params(const SurfaceOptions& o, int threads) {
  SplineParams p;
  p.lambda = o.smoothing;
  p.tension = o.tension;
  p.threads = threads;
  return p;
}

}  // namespace

SplineParams fitted_params(const SurfaceOptions& o, int threads, int rows, int cols, const ContourWindows& read,
                           SplineStats& stats, CancelCheck cancel) {
  try {
    return choose_params(rows, cols, read, spline_params(o, threads), stats, cancel);
  } catch (const std::invalid_argument& e) {  // the options were checked: a fault of the stage's own
    throw RunError(std::string("the spline cannot be fitted: ") + e.what());
  }
}

SplineStats fit_surface(const SurfaceOptions& o, int threads, const IntGrid& contours, Grid<double>& out,
                        const std::function<void(double)>& progress, CancelCheck cancel) {
  const SplineParams p = spline_params(o, threads);
  try {
    return fit_spline(contours, p, out, progress, cancel);
  } catch (const std::invalid_argument& e) {  // the options were checked: a fault of the stage's own
    throw RunError(std::string("the spline cannot be fitted: ") + e.what());
  }
}

TileResult compute_tile(Method m, const TileRequest& request, const RunParams& p, const WindowReader& read,
                        const RunObserver* observer, const WindowReader& hole_values) {
  if (m != Method::classic) throw std::logic_error("compute_tile: the classic method's tiles only");
  return run_tile(request, p, read, observer, hole_values);
}

}  // namespace tesk
