// Headerless raster files: rows from the first, samples of a row from the
// first column, little-endian.  16-bit samples are unsigned; 32-bit samples
// are two's complement.
#pragma once

#include <cstdint>
#include <cstdio>

#include "core/grid.h"

namespace tesk {

inline constexpr int sample_bytes(int itype) { return itype == 0 ? 2 : 4; }

// Reads itab.rows() x itab.cols() samples of the width given by itype from
// the current position of f1 into itab (16-bit samples widened without
// sign).  Returns false on a read error or when the file ends too soon.
bool lecture(std::FILE* f1, int itype, IntGrid& itab);

// Writes tab to f2 (one byte a sample), then itab1 to f3: the low 16 bits of
// each value for itype 0, the whole value otherwise.  Returns false on a
// write error (errno tells which), the one of f2 when both fail.  `failed`
// names the stream that failed.  With threads > 1, the two files are
// written at the same time.
bool ecriture(std::FILE* f2, std::FILE* f3, int itype, const ByteGrid& tab, const IntGrid& itab1,
              std::FILE** failed = nullptr, int threads = 1);

}  // namespace tesk
