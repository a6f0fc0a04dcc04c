// tesk_spline_study CONTOURS TRUTH INTERVAL [options]
//
// Fits the contour-fitting spline to a contour raster and scores each
// surface against the true elevation model the contours were drawn from.
// CONTOURS is a GeoTIFF (or any raster GDAL reads) with a no-data value, or
// a 16-bit .raw with its .txt header beside it (no-data 65500).  The
// samples go into internal units the way a run reads them.
//
// Options:
//   --lambda A,B,...   fixed lambdas to fit (default: a sweep from 0.01 to 30)
//   --default          also fit with the lambda chosen from the data
//   --only-default     fit only with the chosen lambda
//   --tension T        tension in [0, 1) (default: 0 with a given lambda, chosen
//                      with the chosen one)
//   --threads N        threads (default 2)
//   --no-bound         leave the holes unbounded
//   --write PATH       write the last surface as a Float32 GeoTIFF
//
// For each fit, one line: lambda, whether chosen, cycles, seconds, then
// over the pixels off the contours the RMSE, MAE and largest error, the
// RMSE on the contour pixels, the terrace share (pixels off the contours
// within 5 % of an interval of a multiple of it) and the truth's own share.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <cpl_error.h>
#include <gdal.h>

#include "core/grid.h"
#include "run/reading.h"
#include "stages/spline/spline.h"

namespace {

struct Raster {
  int rows = 0, cols = 0;
  std::vector<double> v;
  double nodata = NAN;
  double geo[6] = {0, 1, 0, 0, 0, -1};
  std::string wkt;
};

bool read_gdal(const char* path, Raster& r) {
  GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
  if (!ds) return false;
  r.rows = GDALGetRasterYSize(ds);
  r.cols = GDALGetRasterXSize(ds);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  r.v.resize(static_cast<std::size_t>(r.rows) * static_cast<std::size_t>(r.cols));
  const bool ok =
      GDALRasterIO(band, GF_Read, 0, 0, r.cols, r.rows, r.v.data(), r.cols, r.rows, GDT_Float64, 0, 0) == CE_None;
  int has = 0;
  const double nd = GDALGetRasterNoDataValue(band, &has);
  if (has) r.nodata = nd;
  GDALGetGeoTransform(ds, r.geo);
  if (const char* w = GDALGetProjectionRef(ds)) r.wkt = w;
  GDALClose(ds);
  return ok;
}

bool read_raw(const std::string& path, Raster& r) {
  std::ifstream txt(path.substr(0, path.size() - 4) + ".txt");
  if (!(txt >> r.rows >> r.cols)) return false;
  std::ifstream raw(path, std::ios::binary);
  std::vector<unsigned char> b(static_cast<std::size_t>(r.rows) * static_cast<std::size_t>(r.cols) * 2);
  if (!raw.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()))) return false;
  r.v.resize(b.size() / 2);
  for (std::size_t k = 0; k < r.v.size(); ++k) r.v[k] = b[2 * k] | (b[2 * k + 1] << 8);
  r.nodata = 65500;
  return true;
}

void write_tif(const char* path, const Raster& like, const std::vector<double>& z) {
  GDALDriverH drv = GDALGetDriverByName("GTiff");
  GDALDatasetH ds = GDALCreate(drv, path, like.cols, like.rows, 1, GDT_Float32, nullptr);
  if (!ds) return;
  GDALSetGeoTransform(ds, const_cast<double*>(like.geo));
  if (!like.wkt.empty()) GDALSetProjection(ds, like.wkt.c_str());
  std::vector<double> copy = z;
  if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, like.cols, like.rows, copy.data(), like.cols, like.rows,
                   GDT_Float64, 0, 0) != CE_None)
    std::fprintf(stderr, "cannot write %s\n", path);
  GDALClose(ds);
}

// Within 5 % of an interval of a multiple of it: |v - k I| <= 0.05 I.
bool near_level(double v, double interval) {
  return std::fabs(v - interval * std::round(v / interval)) <= 0.05 * interval;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: tesk_spline_study CONTOURS TRUTH INTERVAL [--lambda A,B,..] [--default] "
                         "[--only-default] [--tension T] [--threads N] [--no-bound] [--write PATH]\n");
    return 1;
  }
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
  const std::string cpath = argv[1];
  const int interval = std::atoi(argv[3]);
  std::vector<double> lambdas = {0.01, 0.03, 0.1, 0.3, 1, 3, 10, 30};
  bool with_default = false, only_default = false;
  tesk::SplineParams p;
  p.threads = 2;
  const char* out_path = nullptr;
  for (int k = 4; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--lambda" && k + 1 < argc) {
      lambdas.clear();
      for (char* s = argv[++k]; *s;) {
        char* e = nullptr;
        lambdas.push_back(std::strtod(s, &e));
        s = *e ? e + 1 : e;
      }
    } else if (a == "--default") {
      with_default = true;
    } else if (a == "--only-default") {
      only_default = with_default = true;
    } else if (a == "--tension" && k + 1 < argc) {
      p.tension = std::atof(argv[++k]);
    } else if (a == "--threads" && k + 1 < argc) {
      p.threads = std::atoi(argv[++k]);
    } else if (a == "--no-bound") {
      p.bound_holes = false;
    } else if (a == "--write" && k + 1 < argc) {
      out_path = argv[++k];
    } else {
      std::fprintf(stderr, "tesk_spline_study: unknown option %s\n", a.c_str());
      return 1;
    }
  }
  Raster c, t;
  const bool raw = cpath.size() > 4 && cpath.substr(cpath.size() - 4) == ".raw";
  if (!(raw ? read_raw(cpath, c) : read_gdal(cpath.c_str(), c)) || !read_gdal(argv[2], t)) {
    std::fprintf(stderr, "tesk_spline_study: cannot read the rasters\n");
    return 1;
  }
  if (c.rows != t.rows || c.cols != t.cols) {
    std::fprintf(stderr, "tesk_spline_study: the rasters differ in size\n");
    return 1;
  }
  tesk::IntGrid itab(c.rows, c.cols);
  tesk::read_into_internal(
      itab, [&](int i, double* row) { std::memcpy(row, &c.v[static_cast<std::size_t>(i) * c.cols], sizeof(double) * c.cols); },
      c.nodata, interval, cpath, nullptr, {});
  double truth_terraces = 0;
  std::int64_t gaps = 0;
  for (std::size_t k = 0; k < t.v.size(); ++k)
    if (itab.data()[k] == INT32_MIN) {
      ++gaps;
      truth_terraces += near_level(t.v[k], interval);
    }
  std::printf("%s: %d x %d, %.1f %% contour pixels\n", cpath.c_str(), c.rows, c.cols,
              100.0 - 100.0 * static_cast<double>(gaps) / static_cast<double>(t.v.size()));
  std::printf("%10s %7s %6s %6s %7s %8s %8s %8s %8s %8s %8s %8s\n", "lambda", "tension", "chosen", "cycles", "seconds",
              "rmse", "mae", "max", "rmse_on", "terrace", "truth_t", "bounded");
  std::vector<std::optional<double>> runs;
  if (!only_default)
    for (double l : lambdas) runs.emplace_back(l);
  if (with_default) runs.emplace_back(std::nullopt);
  std::vector<double> z(t.v.size());
  for (const auto& l : runs) {
    p.lambda = l;
    tesk::Grid<double> out;
    const auto t0 = std::chrono::steady_clock::now();
    tesk::SplineStats s;
    try {
      s = tesk::fit_spline(itab, p, out, nullptr, {});
    } catch (const std::exception& e) {
      std::printf("%10g  failed: %s\n", l ? *l : 0.0, e.what());
      continue;
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    double s2 = 0, sa = 0, worst = 0, on2 = 0, terr = 0;
    std::int64_t on = 0;
    for (std::size_t k = 0; k < t.v.size(); ++k) {
      z[k] = out.data()[k] * interval / 512.0;
      const double e = z[k] - t.v[k];
      if (itab.data()[k] == INT32_MIN) {
        s2 += e * e;
        sa += std::fabs(e);
        worst = std::max(worst, std::fabs(e));
        terr += near_level(z[k], interval);
      } else {
        on2 += e * e;
        ++on;
      }
    }
    const double n = static_cast<double>(std::max<std::int64_t>(1, gaps));
    std::printf("%10.4g %7.3g %6s %6d %7.3f %8.4f %8.4f %8.3f %8.4f %7.2f%% %7.2f%% %8lld\n", s.lambda, s.tension,
                s.lambda_chosen ? (s.tension_chosen ? "both" : "yes") : "no", s.iterations, secs, std::sqrt(s2 / n), sa / n, worst,
                std::sqrt(on2 / static_cast<double>(std::max<std::int64_t>(1, on))), 100 * terr / n,
                100 * truth_terraces / n, static_cast<long long>(s.bounded_pixels));
    std::fflush(stdout);
  }
  if (out_path) write_tif(out_path, c, z);
  return 0;
}
