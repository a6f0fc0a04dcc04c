// Opening of a classic run: banner, file-set dialogue, input raster and
// header, output files, output header.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "console/dialogue.h"
#include "io/header.h"
#include "io/paths.h"

namespace tesk {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

struct FileSet {
  int itype = 0;  // 0: 16-bit samples, anything else: 32-bit
  Header header;
  InputNames input;
  OutputNames output;
  FilePtr f1;   // input raster, at its first byte
  FilePtr f2;   // 8-bit preview raster
  FilePtr f3;   // full-width result raster
  FilePtr f2d;  // 8-bit header (already written)
  FilePtr f3d;  // full-width header (already written)
};

// The fifteen banner lines, without the cue that follows them.
std::string banner();

// Called once the image size is known and sound (rows and columns above 0,
// the raster long enough), before the size is shown: allocates the run's
// grids, throwing RunError when they cannot be had.
using GridAllocator = std::function<void(int nb_lig, int nb_col, int itype)>;

// Runs the opening dialogue and returns the open file set.  Throws RunError
// on every failure, having created nothing when the input cannot be used.
FileSet ouverture(Dialogue& d, const std::string& root, const GridAllocator& allocate);

}  // namespace tesk
