// Contour sources of the batch mode: any raster GDAL reads, vector contour
// lines burnt onto a grid, or a classic data set (NAME_c2.raw / NAME_c4.raw
// beside its header text).
//
// A source can be read whole as many times as the run needs (the overlay
// reads it a second time).  Integer samples that fit an int, with an integer
// no-data value, are handed over raw, exactly as the classic reading does;
// every other source (floating-point bands, 32-bit unsigned and 64-bit
// integers, bands with a scale or an offset) is handed over row by row as
// altitudes in double, for the caller to convert.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/grid.h"
#include "io/header.h"

namespace tesk::gdal {

// Registers GDAL's drivers (once).  GDAL's messages reach a run through the
// handler its gdal::Session pushes.
void init();

// The memory GDAL's block cache may take, which a run counts in the memory
// it may use.
std::uint64_t cache_bytes();

// GDAL's block cache held to at most `bytes` while it lives, then given back
// the size it had.  A cache is never made larger.
class CacheCap {
 public:
  explicit CacheCap(std::uint64_t bytes);
  ~CacheCap();
  CacheCap(const CacheCap&) = delete;
  CacheCap& operator=(const CacheCap&) = delete;

 private:
  std::int64_t before_;
};

// The last message GDAL gave, or "" (for error reports).
std::string last_error();

// Where a grid lies: GDAL's six-term geotransform and the projection as WKT.
struct Georef {
  bool has_transform = false;
  std::array<double, 6> transform{0, 1, 0, 0, 0, 1};
  std::string projection;  // "" when unknown
};

struct SourceOptions {
  std::optional<int> band;                   // raster band, from 1 (1 when not given)
  std::optional<double> nodata;              // overrides the source's own no-data value
  std::string field;                         // vector: the altitude attribute
  std::string layer;                         // vector: the layer to burn ("": the only one)
  std::optional<std::array<double, 2>> tr;   // vector: pixel size
  std::optional<std::array<int, 2>> ts;      // vector: width and height in pixels
  std::optional<std::array<double, 4>> te;   // vector: xmin ymin xmax ymax
  // Bytes a pixel that the run needs beside a burnt grid: a burn that the
  // memory cannot hold with them is refused before it starts.
  std::uint64_t run_bytes_per_pixel = 0;
  int threads = 1;  // a GeoTIFF's blocks are decoded on as many
  // Where a vector source too large for the memory is burnt (a temporary
  // directory, made when asked for); empty: such a source is refused.
  std::function<std::string()> burn_dir;

};

class Source {
 public:
  virtual ~Source() = default;

  int rows() const { return rows_; }
  int cols() const { return cols_; }
  double nodata() const { return nodata_; }
  const Georef& georef() const { return georef_; }
  // The GDAL name of the sample type ("UInt16", "Float64", ...).
  const std::string& type_name() const { return type_name_; }
  // True when read_raw applies: samples and the no-data value are ints.
  bool raw() const { return raw_; }
  // The header text of a classic source (nothing for the others).
  const std::optional<Header>& classic_header() const { return header_; }

  // The samples as they are (raw() sources only).  Throws RunError.
  void read_raw(IntGrid& itab) { read_raw_window(0, 0, itab); }
  // The samples of rows row0.. and columns col0.. as they are, as many as
  // out holds (raw() sources only).  Throws RunError.
  virtual void read_raw_window(int row0, int col0, IntGrid& out) = 0;
  // n samples of row i (from 0), from column col0, as doubles (any
  // source).  Throws RunError.
  virtual void read_row(int i, int col0, int n, double* samples) = 0;
  // Row i (or n of its samples from col0) as altitudes, the way to read a
  // source that is not raw(): each sample times the band's scale plus its
  // offset, in double; a sample equal to the no-data value as the band
  // stores it (rounded to single precision for Float32 samples), or NaN,
  // as NaN.  Throws RunError.
  void read_altitudes(int i, double* altitudes) { read_altitudes(i, 0, cols_, altitudes); }
  void read_altitudes(int i, int col0, int n, double* altitudes);
  // True when the band has a scale other than 1 or an offset other than 0
  // (such a source is never raw()).
  bool scaled() const { return scale_ != 1.0 || offset_ != 0.0; }

 protected:
  int rows_ = 0;
  int cols_ = 0;
  double nodata_ = 0;
  double nodata_match_ = 0;  // nodata_ as a sample holds it
  bool raw_ = true;
  double scale_ = 1.0, offset_ = 0.0;
  std::string type_name_;
  Georef georef_;
  std::optional<Header> header_;
};

// The files GDAL reads for the dataset at path (its main file and the
// headers, projections and other files beside it); empty when GDAL cannot
// open it.
std::vector<std::string> dataset_files(const std::string& path);

// True for a path that names a classic contour raster (NAME_c2.raw or
// NAME_c4.raw).
bool is_classic_source(const std::string& path);

// Opens path as a classic data set, a GDAL raster or an OGR vector source,
// in that order of preference.  Throws RunError with a message that names
// the file and what is wrong with it.
std::unique_ptr<Source> open_source(const std::string& path, const SourceOptions& options);

}  // namespace tesk::gdal
