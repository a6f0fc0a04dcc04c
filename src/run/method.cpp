#include "run/method.h"

#include <array>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/units.h"

namespace tesk {
namespace {

constexpr std::array<MethodTraits, 1> kMethods = {{
    {Method::classic, "classic", true, true},
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

std::uint64_t bytes_per_pixel(Method) { return RunGrids::bytes_per_pixel(false); }

RunParams stage_params(const SurfaceOptions& o, int threads, std::optional<std::int32_t> raw_nodata) {
  RunParams p;
  p.equid = o.interval;
  p.maille = o.window;
  p.overlay = o.overlay;
  p.threads = threads;
  p.internal_input = !raw_nodata;
  p.ival = raw_nodata.value_or(kIval32);
  return p;
}

void check_tiles(Method m, const std::string& why) {
  if (!traits(m).tiles)
    throw RunError(mention(Opt::method, traits(m).name) + " cannot run by tiles yet, and " + why +
                   ": give the run the memory of a whole run, or choose " + mention(Opt::method, "classic"));
}

RunStats compute_surface(Method, RunGrids& g, const RunParams& p, const std::function<void(IntGrid&)>& reread,
                         RunObserver& observer) {
  return compute_dem(g, p, reread, observer);
}

TileResult compute_tile(Method, const TileRequest& request, const RunParams& p, const WindowReader& read,
                        const RunObserver* observer, const WindowReader& hole_values) {
  return run_tile(request, p, read, observer, hole_values);
}

}  // namespace tesk
