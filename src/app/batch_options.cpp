#include "app/batch_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <gdal.h>

#include "core/threads.h"
#include "run/command_line.h"
#include "run/method.h"
#include "stages/smoothing.h"

#ifndef TESK_VERSION
#define TESK_VERSION "unknown"
#endif

namespace tesk {
namespace {

// GDAL's utilities spell these options with one dash; the parser knows them
// with two, and help shows them with one.
constexpr std::array<const char*, 6> kGdalStyle = {"of", "co", "ot", "tr", "ts", "te"};

class GdalStyleFormatter : public CLI::Formatter {
 public:
  std::string make_option_name(const CLI::Option* opt, bool positional) const override {
    std::string name = CLI::Formatter::make_option_name(opt, positional);
    for (const char* o : kGdalStyle)
      if (name == std::string("--") + o) return name.substr(1);
    return name;
  }
};

// Numbers are decimal, as a user types them: the parser's own conversion
// would read 010 as octal and 0x10 as hexadecimal.  A whole number loses its
// leading zeros here (010 is 10); a real number may not be hexadecimal.
const CLI::Validator kWhole(
    [](std::string& s) -> std::string {
      const std::size_t sign = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
      if (s.size() == sign || s.find_first_not_of("0123456789", sign) != std::string::npos)
        return "'" + s + "' is not a decimal whole number";
      const std::size_t first = std::min(s.find_first_not_of('0', sign), s.size() - 1);
      s = s.substr(0, sign) + s.substr(first);
      // Every such option is an int: say so rather than "Could not convert".
      errno = 0;
      const long long v = std::strtoll(s.c_str(), nullptr, 10);
      if (errno == ERANGE || v < INT_MIN || v > INT_MAX)
        return "'" + s + "' is beyond the whole numbers it takes (" + std::to_string(INT_MIN) + " to " +
               std::to_string(INT_MAX) + ")";
      return "";
    },
    "", "decimal whole number");
const CLI::Validator kReal(
    [](std::string& s) -> std::string {
      const std::size_t sign = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
      // Empty, the option would be taken as not given; with a blank first,
      // as a whole number refuses it.
      if (s.size() == sign || std::isspace(static_cast<unsigned char>(s[sign])) ||
          (s.size() > sign + 1 && s[sign] == '0' && (s[sign + 1] == 'x' || s[sign + 1] == 'X')))
        return "'" + s + "' is not a decimal number";
      return "";
    },
    "", "decimal number");

// The names of the methods, for the parser.
std::vector<std::string> method_list() {
  std::vector<std::string> names;
  for (const auto& m : methods()) names.push_back(m.name);
  return names;
}

// Every option, declared once: the parser and --help both come from here.
void declare(CLI::App& app, Options& o) {
  app.formatter(std::make_shared<GdalStyleFormatter>());
  app.add_option("src", o.src, "Contour source: a raster with a no-data value, vector contour lines, "
                               "or a classic NAME_c2.raw / NAME_c4.raw")->required();
  app.add_option("dst", o.dst, "Destination DEM (GDAL raster, or a classic NAME_m2.raw / NAME_m4.raw set)")
      ->required();
  app.add_option("-i,--interval", o.surface.interval, "Contour interval, in the altitude units of the source (not 0)")
      ->required()
      ->transform(kWhole);
  app.add_option("-m,--window", o.surface.window,
                 "Smoothing window, 1 to " + std::to_string(kMaxMaille) +
                     ": 1 does not smooth, any larger m smooths with a Bernstein window of m+1 by m+1 pixels")
      ->capture_default_str()
      ->transform(kWhole);
  app.add_option("--method", o.method, "How the surface is made: " + method_names() +
                                           " (classic, the default: grown from the contours, exact to the bit)")
      ->capture_default_str()
      ->check(CLI::IsMember(method_list()).description(""));
  app.add_option("--smoothing", o.surface.smoothing,
                 "--method spline: the weight of the curvature against the fit to the contours, in pixel units "
                 "(1e-6 to 1e6; default: chosen from the contours by cross-validation)")
      ->type_name("LAMBDA")
      ->transform(kReal);
  app.add_option("--tension", o.surface.tension,
                 "--method spline: the share of the penalty on the slope rather than the curvature, 0 (a thin plate) "
                 "to 1 (a membrane) excluded (default: chosen with the smoothing, 0 or 0.1, or 0 when --smoothing is "
                 "given)")
      ->type_name("FLOAT")
      ->transform(kReal);
  auto* no = app.add_flag("--no-overlay", o.no_overlay,
                          "Do not lay the contour values back over the result (the classic method lays them back)");
  app.add_flag("--overlay", o.overlay, "Lay the contour values back over the result (a spline does not by default)")
      ->excludes(no);
  app.add_option("--of", o.format, "Output format (GDAL short name); default from the extension, else GTiff");
  app.add_option("--co", o.creation_options, "Creation option NAME=VALUE for the output format (repeatable)")
      ->allow_extra_args(false);  // one value each time, as GDAL takes it: what follows is a source or a destination
  app.add_option("--ot", o.output_type, "Output type: Float32 (the default) or Float64, at full resolution (1/512 of "
                                 "the interval); Byte, UInt16, Int16, UInt32, Int32 in whole units. A format "
                                 "without floating point gets whole units in the narrowest type that holds them");
  app.add_option("--nodata", o.nodata, "No-data value of the source, overriding its own")->transform(kReal);
  app.add_option("-b,--band", o.source.band, "Band of a raster source (default 1)")->transform(kWhole);
  app.add_option("-a", o.source.attribute, "Vector source: the attribute that holds the altitude");
  app.add_option("--tr", o.source.pixel_size, "Vector source: pixel size of the grid")->type_name("XRES YRES")->transform(kReal);
  app.add_option("--ts", o.source.size, "Vector source: grid size in pixels")->type_name("WIDTH HEIGHT")->transform(kWhole);
  app.add_option("--te", o.source.extent, "Vector source: grid extent")->type_name("XMIN YMIN XMAX YMAX")->transform(kReal);
  app.add_option("-l", o.source.layer, "Vector source: the layer that holds the contour lines or spot heights "
                                       "(needed when the source has several)");
  app.add_option("--mask", o.mask, "Area of interest: a raster (its valid, non-zero pixels) or polygons; outside "
                                   "it the DEM and the hillshade are no-data, the preview 0");
  app.add_option("--preview", o.preview, "Also write the 8-bit stretched preview as a PNG");
  app.add_option("--hillshade", o.hillshade, "Also write a shaded relief of the result as a PNG");
  app.add_option("--hillshade-z", o.hillshade_z, "Vertical exaggeration of the hillshade (above 0)")
      ->capture_default_str()
      ->transform(kReal);
  app.add_option("--tile-size", o.tiles.tile_size, "Run by tiles of this many pixels a side (64 or more), to bound the "
                                            "memory; without it, a raster too large for the memory runs by tiles "
                                            "by itself. The result is the same")
      ->type_name("PIXELS")
      ->transform(kWhole);
  app.add_option("--halo", o.tiles.halo, "By tiles: the first halo, in pixels, computed around each tile (default: "
                                   "estimated from the source); doubled for a tile that needs more")
      ->type_name("PIXELS")
      ->transform(kWhole);
  app.add_flag("--accept-uncertain", o.tiles.accept_uncertain,
               "By tiles: keep the pixels no halo within the memory can prove equal to a whole run's as the tile "
               "computes them (reported), instead of failing");
  app.add_flag("-q,--quiet", o.quiet, "No progress (warnings are still printed)");
  app.add_flag("--overwrite", o.overwrite, "Replace existing output files");
  app.add_option("--threads", o.threads,
                 "Worker threads, 0 to " + std::to_string(kMaxThreads) + " (0: TESK_THREADS, else every core)")
      ->capture_default_str()
      ->transform(kWhole)
      ->check(CLI::Range(0, kMaxThreads).description(""));
  app.set_version_flag("--version", std::string("tesk ") + TESK_VERSION + " (GDAL " +
                                        GDALVersionInfo("RELEASE_NAME") + ")");
}


}  // namespace

std::optional<int> parse_options(int argc, char** argv, Options& o) {
  // GDAL's one-dash long options become the parser's two-dash ones.
  std::vector<std::string> args(argv, argv + argc);
  for (auto& a : args)
    for (const char* o : kGdalStyle)
      if (a == std::string("-") + o) a = std::string("--") + o;
  std::vector<char*> argv2;
  for (auto& a : args) argv2.push_back(a.data());

  CLI::App app("Contour lines to a digital elevation model.\n"
               "Without arguments, tesk runs its classic console dialogue.",
               "tesk");
  declare(app, o);
  try {
    app.parse(static_cast<int>(argv2.size()), argv2.data());
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion&) {
    std::printf("%s\n", app.version().c_str());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "tesk: %s (tesk --help lists the options)\n", e.what());
    return 1;
  }
  if (o.no_overlay || o.overlay) o.surface.overlay = o.overlay;
  o.surface.method = *method_named(o.method);
  return std::nullopt;
}

std::string command_line(int argc, char** argv) { return shell_quoted(std::vector<std::string>(argv, argv + argc)); }

}  // namespace tesk
