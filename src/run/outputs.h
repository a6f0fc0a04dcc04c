// The outputs of a file run: checked before anything is computed,
// written under temporary names once the computation is done, renamed into
// place when every one of them is complete.
#pragma once

#include <string>
#include <vector>

#include "io/gdal_source.h"
#include "io/gdal_pictures.h"
#include "io/output_type.h"
#include "io/result_rows.h"
#include "io/staged_output.h"
#include "io/tile_store.h"
#include "run/run_hooks.h"
#include "run/run_options.h"
#include "run/run_result.h"
#include "stages/pipeline.h"

namespace tesk {

// What is decided about the destination before the computation: a classic
// set, or a GDAL format and the plan of its type (a remark to the hooks
// when the format stores no floating-point values).
struct Destination {
  bool classic = false;
  gdal::Format format;
  gdal::TypePlan type;
};
Destination plan_destination(const RunOptions& o, const RunHooks& hooks);

// Refuses (RunError), with or without --overwrite, an output that is the
// source or another output (same resolved path, or same inode), or whose
// sidecar files would replace the source; then an output whose directory
// does not exist, or that exists without --overwrite, or beside which a
// file an older output of its name may have left exists without
// --overwrite (a header, a projection, statistics, ...).
void check_outputs(const RunOptions& o, const Destination& d);

// A finished run, as the writers take it, whether it was run whole or by
// tiles.
struct Finished {
  gdal::ResultRows internal;   // the result in internal units
  int equid = 1;
  bool nearest = false;        // whole units rounded to the nearest (a fitted surface)
  int threads = 1;
  gdal::ValueSummary summary;  // its values in the planned type, inside the mask
  gdal::PictureRows preview;   // the preview's bytes
  const ByteGrid* inside = nullptr;           // the mask, when one is given
  const IntGrid* classic = nullptr;           // for a classic set: the whole units (itab1)
  const ByteGrid* classic_preview = nullptr;  // and its preview
  std::string scratch;         // where the pictures' rasters go ("": in memory)
  double from = 0.90;          // the progress when the writing starts
};

// What the outputs of a run by tiles start from: the results stored tile
// by tile, their summary, the mask and the scratch directory (the preview and
// the rounding rule are the method's, set by the caller).
Finished tiled_finished(gdal::TileStore& store, int equid, int threads, const gdal::ValueSummary& summary,
                        const ByteGrid* inside, const std::string& scratch);

// Writes every output of the finished run into staging and moves them into
// place; with `inside`, the DEM and the hillshade are no-data where it is 0.
// Puts the DEM's range in its units into result's stats and the remarks
// for after the progress into its notes, then reports the run done.
// Throws RunError, or Cancelled once hooks.cancel
// says so; either way the temporary files are gone and existing files are
// untouched.
struct Written {
  double minimum = 0, maximum = 0;
  bool whole = false;
};
void write_outputs(const RunOptions& o, const Destination& d, const gdal::Source& src, const Finished& f,
                   const RunHooks& hooks, Staging& staging, FileRunResult& result);

}  // namespace tesk
