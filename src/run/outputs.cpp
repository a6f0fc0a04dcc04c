#include "run/outputs.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <filesystem>
#include <optional>
#include <algorithm>

#include "core/injected_faults.h"
#include "core/mention.h"
#include "core/run_error.h"
#include "io/gdal_output.h"
#include "io/gdal_pictures.h"
#include "io/gdal_warnings.h"
#include "io/staged_output.h"
#include "run/command_line.h"
#include "stages/progress.h"

namespace tesk {
namespace {

// Checked before anything is computed, with or without --overwrite: no
// output (nor a file beside one) is the source (or a classic source's
// header) or another output; every output's directory exists; and without
// --overwrite, no output exists, nor any file an older output of its name
// may have left beside it.  With --overwrite, a destination whose format
// writes a directory (Zarr) replaces a directory of its name that the
// format reads as a dataset; any other directory stays in the way.
struct Named {
  std::string what, file;
  std::vector<std::string> beside;
  bool directory = false;  // an older dataset directory the output may replace
};

void check_names(const std::string& src, const std::optional<std::string>& mask, const std::vector<Named>& outputs,
                 bool overwrite) {
  // The source and the mask, with every file GDAL reads for them (a
  // header, a projection beside a raw raster): no output may replace one.
  // Their .aux.xml too, present or not: GDAL would take a file of that
  // name for their own.
  std::vector<std::string> sources = {src, src + ".aux.xml"};
  if (gdal::is_classic_source(src)) sources.push_back(src.substr(0, src.size() - 4) + ".txt");
  else for (const auto& f : gdal::dataset_files(src)) sources.push_back(f);
  if (mask) {
    sources.insert(sources.end(), {*mask, *mask + ".aux.xml"});
    for (const auto& f : gdal::dataset_files(*mask)) sources.push_back(f);
  }
  for (const auto& named : outputs)
    if (named.file.empty()) throw RunError(named.what + " is an empty name: name a file");
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    const auto& [what, f, beside, directory] = outputs[k];
    for (const auto& s : sources) {
      if (same_file(f, s))
        throw RunError(what + " " + f + (s == src ? " is the source" : " is a file of the source or the mask " + s) +
                       ": an output never replaces its source");
      for (const auto& b : beside)
        if (same_file(b, s))
          throw RunError(what + " " + f + " would replace " + b + " beside it, which belongs to the source or the "
                         "mask: name the output otherwise");
    }
    for (std::size_t l = 0; l < k; ++l)
      if (same_file(f, outputs[l].file))
        throw RunError(what + " " + f + " is also " + outputs[l].what + ": give each output a name of its own");
    for (std::size_t l = 0; l < outputs.size(); ++l)
      for (const auto& b : outputs[l].beside)
        if (l != k && same_file(f, b))
          throw RunError(what + " " + f + " would be taken for " + b + ", a file of " + outputs[l].what +
                         ": give each output a name of its own");
  }
  for (const auto& [what, f, beside, directory] : outputs) {
    if (std::filesystem::is_directory(f) && !directory)
      throw RunError(what + " " + f + " is a directory: name a file");
    // A device, a pipe or a socket is not replaced, even with --overwrite.
    if (std::filesystem::exists(f) && !std::filesystem::is_regular_file(f) && !directory)
      throw RunError(what + " " + f + " is not a regular file (a device, a pipe or a socket): name a file");
    const auto dir = std::filesystem::path(f).parent_path();
    if (!dir.empty() && !std::filesystem::is_directory(dir))
      throw FileSystemFault("cannot write " + f + ": the directory " + dir.string() + " does not exist");
    if (overwrite) continue;
    if (std::filesystem::exists(f))
      throw OutputExists(f + " already exists: add " + mention(Opt::overwrite, "True") + " to replace it");
    for (const auto& b : beside)
      if (std::filesystem::exists(std::filesystem::symlink_status(b)))
        throw OutputExists(b + " already exists beside " + what + " " + f + ", and would describe another raster: "
                       "add " + mention(Opt::overwrite, "True") + " to replace it");
  }
}

// The files an older output of the destination's name may have left beside
// it: those of the format the DEM is written in, and of the format of the
// file there now (an EHdr's header, when a GeoTIFF of the same name replaces
// it).
std::vector<std::string> destination_sidecars(const RunOptions& o, const Destination& d) {
  std::vector<std::string> files = gdal::sidecar_files(d.format.driver, o.dst);
  const std::string older = gdal::identified_driver(o.dst);
  if (!older.empty() && older != d.format.driver)
    for (const auto& f : gdal::sidecar_files(older, o.dst))
      if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
  return files;
}

bool replaces_directory(const RunOptions& o, const Destination& d) {
  return !d.classic && gdal::is_dataset_directory(d.format.driver, o.dst);
}

// Every file an output consists of, and those an older one may have left
// beside it.
std::vector<Named> named_outputs(const RunOptions& o, const Destination& d) {
  std::vector<Named> outputs;
  if (d.classic) {
    for (const auto& f : gdal::classic_set_files(o.dst)) outputs.push_back({"the destination", f, {}});
    outputs.front().beside = {o.dst + ".aux.xml"};
  } else {
    outputs.push_back({"the destination", o.dst, destination_sidecars(o, d), replaces_directory(o, d)});
  }
  if (o.preview) outputs.push_back({mention(Opt::preview), *o.preview, gdal::sidecar_files("PNG", *o.preview)});
  if (o.hillshade)
    outputs.push_back({mention(Opt::hillshade), *o.hillshade, gdal::sidecar_files("PNG", *o.hillshade)});
  return outputs;
}

// Polled while the outputs are written: true once the run must stop (the
// test builds may send the process a signal from here first).
class WriteStop {
 public:
  explicit WriteStop(const RunHooks& hooks) : hooks_(hooks) {}
  bool operator()() {
    signals_.poll([this] { return hooks_.cancelled(); });
    return hooks_.cancelled();
  }

 private:
  const RunHooks& hooks_;
  injected::Signals signals_;
};

// The GDAL destination under its temporary name: its type settled on the
// range of the result (inside the mask), its no-data value one that no
// pixel inside takes.
Written write_raster(const RunOptions& o, const Destination& d, const gdal::Source& src, const Finished& f,
                     const gdal::Resolution& res, const std::string& path, const RunHooks& hooks, WriteStop& stop,
                     std::vector<std::string>& notes) {
  const gdal::ValueSummary& sum = f.summary;
  const std::string type = gdal::settle_type(d.type, d.format, sum.min, sum.max);
  gdal::NodataChoice choice = gdal::choose_nodata(type, src.nodata(), sum);
  if (!choice.note.empty()) notes.push_back(std::move(choice.note));
  const std::string command = o.command.empty() ? equivalent_command(o) : o.command;
  gdal::RasterDestination rd{path, d.format, o.creation_options, type, choice.value, command, f.threads};
  gdal::write_raster(rd, f.internal, res, src.georef(),
                     gdal::StepProgress{hooks.progress, f.from, f.from + 0.06, [&stop] { return stop(); }}, f.inside);
  return {sum.min, sum.max, res.whole};
}

Written write_staged(const RunOptions& o, const Destination& d, const gdal::Source& src, const Finished& f,
                     const RunHooks& hooks, std::vector<std::string>& notes, Staging& staging) {
  gdal::Resolution res{f.equid, true, f.nearest};
  WriteStop stop(hooks);
  Written w;
  if (d.classic) {
    Header h{src.rows(), src.cols(), 0, 0, 0, 0};
    if (src.classic_header())
      h = *src.classic_header();
    else if (src.georef().has_transform)
      h.taille_pix = static_cast<int>(std::lround(std::fabs(src.georef().transform[1])));
    gdal::write_classic_set(staging.add(o.dst, {o.dst + ".aux.xml"}), h, *f.classic_preview, *f.classic);
    w = {static_cast<double>(*std::min_element(f.classic->begin(), f.classic->end())),
         static_cast<double>(*std::max_element(f.classic->begin(), f.classic->end())), true};
  } else {
    res.whole = d.type.whole;
    const std::string at = staging.add(o.dst, destination_sidecars(o, d), replaces_directory(o, d));
    w = write_raster(o, d, src, f, res, at, hooks, stop, notes);
  }
  hooks.report(f.from + 0.06);
  const int rows = f.internal.rows, cols = f.internal.cols;
  // The pictures report their progress, and stop on request, as the DEM's
  // writing does; 1 once every output is in place.
  const gdal::StepProgress pictures{hooks.progress, f.from + 0.06, 0.995, [&stop] { return stop(); }};
  if (o.preview)
    gdal::write_png(staging.add(*o.preview, gdal::sidecar_files("PNG", *o.preview)), rows, cols, f.preview,
                    std::nullopt, f.scratch, pictures.part(0, o.hillshade ? 0.2 : 1));
  if (o.hillshade)
    gdal::write_hillshade(staging.add(*o.hillshade, gdal::sidecar_files("PNG", *o.hillshade)), f.internal, res,
                          src.georef(), o.hillshade_z, f.inside, f.scratch,
                          pictures.part(o.preview ? 0.2 : 0, 1));
  return w;
}

}  // namespace

void check_outputs(const RunOptions& o, const Destination& d) {
  check_names(o.src, o.mask, named_outputs(o, d), o.overwrite);
}

Destination plan_destination(const RunOptions& o, const RunHooks& hooks) {
  Destination d;
  d.classic = !o.format && gdal::is_classic_destination(o.dst);
  if (d.classic) {
    if (o.output_type || !o.creation_options.empty())
      throw RunError(mention(Opt::output_type) + " and " + mention(Opt::creation_options) +
                     " do not apply to a classic output set");
    return d;
  }
  d.format = gdal::format_for(o.format, o.dst);
  for (const auto& c : o.creation_options)
    if (strcasecmp(c.c_str(), "COMPRESS=JPEG") == 0)
      throw RunError(mention(Opt::creation_options, c) + ": JPEG compression is lossy, so the file would not hold the DEM's values; "
                     "choose DEFLATE, LZW or ZSTD");
  d.type = gdal::plan_type(d.format, o.output_type);
  if (d.type.fallback) {
    std::string types;
    for (const auto& t : d.format.types) types += (types.empty() ? "" : ", ") + t;
    hooks.remark("the format " + d.format.driver + " stores no floating-point values: the DEM is written in whole "
                 "units, in the narrowest of its types (" + types + ") that holds them");
  }
  return d;
}

Finished tiled_finished(gdal::TileStore& store, int equid, int threads, const gdal::ValueSummary& summary,
                        const ByteGrid* inside, const std::string& scratch) {
  Finished f;
  f.internal = store.rows();
  f.equid = equid;
  f.threads = threads;
  f.summary = summary;
  f.inside = inside;
  f.scratch = scratch;
  f.from = 0.85;
  return f;
}

void write_outputs(const RunOptions& o, const Destination& d, const gdal::Source& src, const Finished& f,
                   const RunHooks& hooks, Staging& staging, FileRunResult& result) {
  Written w;
  try {
    // GDAL's warnings, like the messages, name the outputs, not their
    // temporary files.
    const gdal::Session names(gdal::rewriting_sink([&staging](const std::string& t) { return staging.final_names(t); }));
    w = write_staged(o, d, src, f, hooks, result.notes, staging);
  } catch (const RunError& e) {
    rethrow_as(e, staging.final_names(e.raw()));  // messages name the outputs, not their temporary files
  }
  if (injected::fault("fail-before-rename")) throw RunError("a failure injected before the renaming (TESK_FAULT)");
  if (hooks.cancelled()) throw Cancelled();
  staging.commit();
  result.stats.minimum = w.minimum;
  result.stats.maximum = w.maximum;
  result.stats.whole = w.whole;
  hooks.report(1.0);
}

}  // namespace tesk
