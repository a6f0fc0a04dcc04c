#include "run/run_options.h"

#include <cmath>

#include "core/mention.h"
#include "core/run_error.h"
#include "core/threads.h"
#include "stages/smoothing.h"
#include "stages/spline/spline.h"

namespace tesk {
namespace {

// A side beyond any raster a run can hold.
constexpr int kLargest = 1 << 20;

}  // namespace

void check_options(const SurfaceOptions& o) {
  if (o.interval == 0) throw RunError(mention(Opt::interval, Form::long_name) + " must not be 0");
  if (o.window < 1 || o.window > kMaxMaille)
    throw RunError(mention(Opt::window, Form::long_name) + " must lie between 1 and " + std::to_string(kMaxMaille));
  if (o.smoothing && !(*o.smoothing >= kSmallestLambda && *o.smoothing <= kLargestLambda))
    throw RunError(mention(Opt::smoothing) +
                   " must lie between 1e-6 and 1e6 (the weight of the curvature, in pixel units)");
  if (o.tension && !(*o.tension >= 0 && *o.tension < 1))
    throw RunError(mention(Opt::tension) + " must lie between 0 (a thin plate) and 1, 1 excluded (a membrane)");
  const bool spline = o.method == Method::spline;
  const std::string method = mention(Opt::method, spline ? "spline" : "classic");
  if (!spline && (o.smoothing || o.tension))
    throw RunError(mention(o.smoothing ? Opt::smoothing : Opt::tension) + " applies to " +
                   mention(Opt::method, "spline") + " only");
  if (spline && o.window != 1)
    throw RunError(mention(Opt::window) + " applies to " + mention(Opt::method, "classic") + " only: " + method +
                   " smooths by its curvature penalty (" + mention(Opt::smoothing) + ")");
}

void check_options(const TileOptions& o) {
  if (o.tile_size && (*o.tile_size < 64 || *o.tile_size > kLargest))
    throw RunError(mention(Opt::tile_size) + " must lie between 64 and " + std::to_string(kLargest) + " pixels");
  if (o.halo && (*o.halo < 0 || *o.halo > kLargest))
    throw RunError(mention(Opt::halo) + " must lie between 0 and " + std::to_string(kLargest) + " pixels");
}

void check_threads(int threads) {
  if (threads < 0 || threads > kMaxThreads)
    throw RunError(mention(Opt::threads) + " must lie between 0 and " + std::to_string(kMaxThreads));
}

void check_options(const RunOptions& o) {
  // A name is a C string to the system and to GDAL: what follows a null
  // character would be dropped (a front end that takes any string can
  // pass one).
  const auto refuse_null = [](const std::string& name, const std::string& what) {
    if (name.find('\0') != std::string::npos) throw RunError(what + " names a file with a null character");
  };
  refuse_null(o.src, "the source");
  refuse_null(o.dst, "the destination");
  for (const auto& [opt, name] : {std::pair{Opt::mask, &o.mask}, {Opt::preview, &o.preview}, {Opt::hillshade, &o.hillshade}})
    if (*name) refuse_null(**name, mention(opt));
  check_options(o.surface);
  if (!(std::isfinite(o.hillshade_z) && o.hillshade_z > 0))
    throw RunError(mention(Opt::hillshade_z) + " must be a number above 0");
  check_threads(o.threads);
  check_options(o.tiles);
}

}  // namespace tesk
