// tesk_accuracy RESULT TRUTH CONTOURS
// tesk_accuracy --interval N [--tsv] RESULT TRUTH CONTOURS
// tesk_accuracy --equal A B
//
// Compares a DEM computed from contour lines with the true elevation model
// the contours were drawn from, over the pixels the contours do not cross
// (the no-data pixels of CONTOURS, the "gap" pixels): the pixels whose
// altitude was made up.  The three rasters must share one grid.
//
// Without --interval: the number of gap pixels, the mean error, the RMSE and
// the largest error (with its place).
//
// With --interval N, the full score every method is given the same way:
// over the gap pixels the RMSE, the mean absolute error, the largest error
// and the mean error; the RMSE over the contour pixels apart; the terrace
// share, the part of the gap pixels whose value lies within 5 % of an
// interval of a contour level (|v - k N| <= 0.05 N for the nearest whole k),
// for the result and for the truth.  A result pixel that holds its no-data
// value (or NaN, or an infinity) is a failure to fill: it is counted, apart
// for gap and contour pixels, and left out of the errors.  --tsv prints the
// figures as one tab-separated line, in the order of the header line that
// --tsv-header prints.
//
// --equal A B: whether two rasters hold the same values, pixel for pixel
// (no-data value included); prints how many pixels differ and by how much at
// most.  Exit status 0 when equal, 2 when not, 1 on an error.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cpl_error.h>
#include <gdal.h>

namespace {

struct Band {
  std::vector<double> values;
  int rows = 0, cols = 0;
  bool has_nodata = false;
  double nodata = 0;
  // A pixel that holds no value: the no-data value, NaN or an infinity.
  bool empty(std::size_t k) const {
    const double v = values[k];
    return !std::isfinite(v) || (has_nodata && v == nodata);
  }
};

bool read_band(const char* path, Band& b) {
  GDALDatasetH ds = GDALOpen(path, GA_ReadOnly);
  if (!ds) {
    std::fprintf(stderr, "tesk_accuracy: cannot read %s\n", path);
    return false;
  }
  b.rows = GDALGetRasterYSize(ds);
  b.cols = GDALGetRasterXSize(ds);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  b.values.resize(static_cast<std::size_t>(b.rows) * static_cast<std::size_t>(b.cols));
  const bool ok =
      GDALRasterIO(band, GF_Read, 0, 0, b.cols, b.rows, b.values.data(), b.cols, b.rows, GDT_Float64, 0, 0) == CE_None;
  int has = 0;
  b.nodata = GDALGetRasterNoDataValue(band, &has);
  b.has_nodata = has != 0;
  GDALClose(ds);
  if (!ok) std::fprintf(stderr, "tesk_accuracy: cannot read the pixels of %s\n", path);
  return ok;
}

bool same_grid(const Band& a, const Band& b) { return a.rows == b.rows && a.cols == b.cols; }

// The original report: mean error, RMSE and largest error over the gap pixels.
int basic(const Band& result, const Band& truth, const Band& contours) {
  long long n = 0;
  double sum = 0, sum2 = 0, worst = -1;
  int worst_row = 0, worst_col = 0;
  for (int i = 0; i < result.rows; ++i) {
    for (int j = 0; j < result.cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * result.cols + j;
      if (contours.values[k] != contours.nodata) continue;
      const double e = result.values[k] - truth.values[k];
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
  std::printf("pixels off the contours: %lld of %lld\n", n, static_cast<long long>(result.rows) * result.cols);
  std::printf("mean error:              %.3f\n", sum / n);
  std::printf("RMSE:                    %.3f\n", std::sqrt(sum2 / n));
  std::printf("largest error:           %.3f (row %d, column %d)\n", worst, worst_row, worst_col);
  return 0;
}

// Within 5 % of an interval of the nearest multiple of the interval.
bool on_a_level(double v, double interval) {
  const double k = std::nearbyint(v / interval);
  return std::fabs(v - k * interval) <= 0.05 * std::fabs(interval);
}

struct Score {
  long long gap = 0, contour = 0;                        // pixels of each kind the truth covers
  long long unfilled_gap = 0, unfilled_contour = 0;      // result pixels left empty
  long long truth_empty = 0;                             // pixels the truth does not cover
  long long scored_gap = 0, scored_contour = 0;          // pixels the errors are taken over
  double sum = 0, sum_abs = 0, sum2 = 0, worst = -1;     // over the scored gap pixels
  int worst_row = -1, worst_col = -1;
  double contour_sum2 = 0;                               // over the scored contour pixels
  long long terraced = 0, truth_terraced = 0;            // gap pixels near a level
};

Score score(const Band& result, const Band& truth, const Band& contours, double interval) {
  Score s;
  for (int i = 0; i < result.rows; ++i) {
    for (int j = 0; j < result.cols; ++j) {
      const std::size_t k = static_cast<std::size_t>(i) * result.cols + j;
      if (truth.empty(k)) {
        ++s.truth_empty;
        continue;
      }
      const bool gap = contours.empty(k);
      const bool unfilled = result.empty(k);
      const double e = unfilled ? 0.0 : result.values[k] - truth.values[k];
      if (gap) {
        ++s.gap;
        if (on_a_level(truth.values[k], interval)) ++s.truth_terraced;
        if (unfilled) {
          ++s.unfilled_gap;
          continue;
        }
        ++s.scored_gap;
        s.sum += e;
        s.sum_abs += std::fabs(e);
        s.sum2 += e * e;
        if (std::fabs(e) > s.worst) {
          s.worst = std::fabs(e);
          s.worst_row = i;
          s.worst_col = j;
        }
        if (on_a_level(result.values[k], interval)) ++s.terraced;
      } else {
        ++s.contour;
        if (unfilled) {
          ++s.unfilled_contour;
          continue;
        }
        ++s.scored_contour;
        s.contour_sum2 += e * e;
      }
    }
  }
  return s;
}

double ratio(double a, long long n) { return n > 0 ? a / static_cast<double>(n) : std::nan(""); }

const char* kTsvHeader =
    "gap_pixels\tunfilled_gap\tunfilled_contour\trmse\tmae\tmax\tmean\tcontour_rmse\tterrace_pct\ttruth_terrace_pct";

int full(const Band& result, const Band& truth, const Band& contours, double interval, bool tsv) {
  const Score s = score(result, truth, contours, interval);
  const double rmse = std::sqrt(ratio(s.sum2, s.scored_gap));
  const double mae = ratio(s.sum_abs, s.scored_gap);
  const double mean = ratio(s.sum, s.scored_gap);
  const double worst = s.scored_gap > 0 ? s.worst : std::nan("");
  const double contour_rmse = std::sqrt(ratio(s.contour_sum2, s.scored_contour));
  // The result's share is over the gap pixels it filled, the truth's over them all.
  const double terrace = 100.0 * ratio(static_cast<double>(s.terraced), s.scored_gap);
  const double truth_terrace = 100.0 * ratio(static_cast<double>(s.truth_terraced), s.gap);
  if (tsv) {
    std::printf("%lld\t%lld\t%lld\t%.4f\t%.4f\t%.4f\t%.4f\t%.4f\t%.2f\t%.2f\n", s.gap, s.unfilled_gap,
                s.unfilled_contour, rmse, mae, worst, mean, contour_rmse, terrace, truth_terrace);
    return 0;
  }
  const long long total = static_cast<long long>(result.rows) * result.cols;
  std::printf("gap pixels (no contour):  %lld of %lld\n", s.gap, total);
  if (s.truth_empty > 0) std::printf("left out (truth empty):   %lld\n", s.truth_empty);
  std::printf("unfilled (result empty):  %lld gap, %lld contour\n", s.unfilled_gap, s.unfilled_contour);
  std::printf("off the contours:         RMSE %.3f  MAE %.3f  largest %.3f (row %d, column %d)  mean %.3f\n", rmse,
              mae, worst, s.worst_row, s.worst_col, mean);
  std::printf("on the contours:          RMSE %.3f over %lld pixels\n", contour_rmse, s.scored_contour);
  std::printf("terrace share:            %.2f %% (truth %.2f %%) within %g of a multiple of %g\n", terrace,
              truth_terrace, 0.05 * std::fabs(interval), interval);
  return 0;
}

int equal(const Band& a, const Band& b) {
  if (!same_grid(a, b)) {
    std::printf("different sizes: %d x %d against %d x %d\n", a.cols, a.rows, b.cols, b.rows);
    return 2;
  }
  long long differ = 0;
  double worst = 0;
  for (std::size_t k = 0; k < a.values.size(); ++k) {
    const double x = a.values[k], y = b.values[k];
    if (x == y || (std::isnan(x) && std::isnan(y))) continue;
    ++differ;
    const double d = std::fabs(x - y);
    if (!(d <= worst)) worst = d;
  }
  const bool same_nodata =
      a.has_nodata == b.has_nodata && (!a.has_nodata || a.nodata == b.nodata || (std::isnan(a.nodata) && std::isnan(b.nodata)));
  std::printf("%lld of %zu pixels differ, by %g at most; no-data value %s\n", differ, a.values.size(), worst,
              same_nodata ? "the same" : "differs");
  return differ == 0 && same_nodata ? 0 : 2;
}

int usage() {
  std::fprintf(stderr,
               "usage: tesk_accuracy RESULT TRUTH CONTOURS\n"
               "       tesk_accuracy --interval N [--tsv] RESULT TRUTH CONTOURS\n"
               "       tesk_accuracy --tsv-header\n"
               "       tesk_accuracy --equal A B\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> files;
  double interval = 0;
  bool has_interval = false, tsv = false, eq = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--interval") == 0 && i + 1 < argc) {
      char* end = nullptr;
      interval = std::strtod(argv[++i], &end);
      if (*end != '\0' || !std::isfinite(interval) || interval == 0) {
        std::fprintf(stderr, "tesk_accuracy: --interval needs a number other than 0\n");
        return 1;
      }
      has_interval = true;
    } else if (std::strcmp(argv[i], "--tsv") == 0) {
      tsv = true;
    } else if (std::strcmp(argv[i], "--tsv-header") == 0) {
      std::printf("%s\n", kTsvHeader);
      return 0;
    } else if (std::strcmp(argv[i], "--equal") == 0) {
      eq = true;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      return usage();
    } else {
      files.push_back(argv[i]);
    }
  }
  if (eq ? files.size() != 2 || has_interval || tsv : files.size() != 3 || (tsv && !has_interval)) return usage();
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
  if (eq) {
    Band a, b;
    if (!read_band(files[0], a) || !read_band(files[1], b)) return 1;
    return equal(a, b);
  }
  Band result, truth, contours;
  if (!read_band(files[0], result) || !read_band(files[1], truth) || !read_band(files[2], contours)) return 1;
  if (!contours.has_nodata) {
    std::fprintf(stderr, "tesk_accuracy: %s has no no-data value\n", files[2]);
    return 1;
  }
  if (!same_grid(result, truth) || !same_grid(result, contours)) {
    std::fprintf(stderr, "tesk_accuracy: the three rasters must have the same size\n");
    return 1;
  }
  return has_interval ? full(result, truth, contours, interval, tsv) : basic(result, truth, contours);
}
