// tesk_accuracy RESULT TRUTH CONTOURS
//
// Compares a DEM computed from contour lines with the true elevation model
// the contours were drawn from, over the pixels the contours do not cross
// (the no-data pixels of CONTOURS): the pixels whose altitude was made up.
// Prints the number of such pixels, the mean error, the RMSE and the largest
// error (with its place).  The three rasters must share one grid.
#include <cmath>
#include <cstdio>
#include <vector>

#include <cpl_error.h>
#include <gdal.h>

namespace {

bool read_band(const char* path, std::vector<double>& values, int& rows, int& cols, double* nodata) {
  GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
  if (!ds) {
    std::fprintf(stderr, "tesk_accuracy: cannot read %s\n", path);
    return false;
  }
  rows = GDALGetRasterYSize(ds);
  cols = GDALGetRasterXSize(ds);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  values.resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
  const bool ok = GDALRasterIO(band, GF_Read, 0, 0, cols, rows, values.data(), cols, rows, GDT_Float64, 0, 0) == CE_None;
  if (nodata) {
    int has = 0;
    *nodata = GDALGetRasterNoDataValue(band, &has);
    if (!has) {
      std::fprintf(stderr, "tesk_accuracy: %s has no no-data value\n", path);
      GDALClose(ds);
      return false;
    }
  }
  GDALClose(ds);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tesk_accuracy RESULT TRUTH CONTOURS\n");
    return 1;
  }
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
  std::vector<double> result, truth, contours;
  int r1, c1, r2, c2, r3, c3;
  double off = 0;
  if (!read_band(argv[1], result, r1, c1, nullptr) || !read_band(argv[2], truth, r2, c2, nullptr) ||
      !read_band(argv[3], contours, r3, c3, &off))
    return 1;
  if (r1 != r2 || r1 != r3 || c1 != c2 || c1 != c3) {
    std::fprintf(stderr, "tesk_accuracy: the three rasters must have the same size\n");
    return 1;
  }
  long long n = 0;
  double sum = 0, sum2 = 0, worst = -1;
  int worst_row = 0, worst_col = 0;
  for (int i = 0; i < r1; ++i) {
    for (int j = 0; j < c1; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * c1 + j;
      if (contours[k] != off) continue;
      const double e = result[k] - truth[k];
      ++n;
      sum += e;
      sum2 += e * e;
      if (std::fabs(e) > worst) {
        worst = std::fabs(e);
        worst_row = i;
        worst_col = j;
      }
    }
  }
  if (n == 0) {
    std::printf("every pixel lies on a contour: nothing to measure\n");
    return 0;
  }
  std::printf("pixels off the contours: %lld of %lld\n", n, static_cast<long long>(r1) * c1);
  std::printf("mean error:              %.3f\n", sum / n);
  std::printf("RMSE:                    %.3f\n", std::sqrt(sum2 / n));
  std::printf("largest error:           %.3f (row %d, column %d)\n", worst, worst_row, worst_col);
  return 0;
}
