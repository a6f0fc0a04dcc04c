// tesk_spline_bench: how fast the spline runs, and what each of its speed
// mechanisms brings.
//
// On generated contour rasters (bench/terrain.h, interval 10) of the sizes
// given, prints for each thread count: the time of the choice of lambda,
// then the time and cycles of the solve at that lambda with every
// mechanism, without the conjugate gradients (plain cycles), without the
// full multigrid start, without the second coarse cycle (V-cycles), and
// with the smoothing scaled by the diagonal instead of the rows' l1 norms.
// The variants run alternately, the best of
// --repeat runs reported; a variant that exceeds its cycle limit says so.
//
// With --accuracy, instead: for each size, the cross-validation scores of
// the choice of lambda (and the tension chosen with it), then the RMSE off
// the contours of the fits (holes bounded, as a run makes them) at a sweep
// of lambdas (tension 0) and at the chosen pair, against the generated
// terrain itself.
//
// Options: --sizes 512,1024,... --threads 1,2 --repeat R --seed S --accuracy
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/thread_pool.h"
#include "core/units.h"
#include "stages/conversion.h"
#include "stages/spline/lambda_choice.h"
#include "stages/spline/solver.h"
#include "stages/spline/spline.h"
#include "terrain.h"

namespace {

std::vector<int> int_list(const char* s) {
  std::vector<int> v;
  for (const char* p = s; *p;) {
    char* e = nullptr;
    v.push_back(static_cast<int>(std::strtol(p, &e, 10)));
    p = *e ? e + 1 : e;
  }
  return v;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {512, 1024, 2048}, threads = {1, 2};
  int repeat = 3;
  std::uint32_t seed = 1;
  bool accuracy = false;
  for (int k = 1; k < argc; k += 2) {
    const std::string a = argv[k];
    if (a == "--accuracy") {
      accuracy = true;
      --k;
      continue;
    }
    if (k + 1 >= argc) {
      std::fprintf(stderr, "tesk_spline_bench: %s needs a value\n", a.c_str());
      return 1;
    }
    if (a == "--sizes") sizes = int_list(argv[k + 1]);
    else if (a == "--threads") threads = int_list(argv[k + 1]);
    else if (a == "--repeat") repeat = std::atoi(argv[k + 1]);
    else if (a == "--seed") seed = static_cast<std::uint32_t>(std::atoi(argv[k + 1]));
    else {
      std::fprintf(stderr, "tesk_spline_bench: unknown option %s\n", a.c_str());
      return 1;
    }
  }
  constexpr int kInterval = 10;
  if (accuracy) {
    for (const int n : sizes) {
      std::vector<float> truth;
      const auto raster = tesk::bench::make_contour_raster(n, n, seed, kInterval, &truth);
      tesk::IntGrid c(n, n);
      for (std::size_t k = 0; k < c.size(); ++k) {
        const int v = raster.samples[k];
        c.data()[k] = v == tesk::kIval16 ? tesk::kNoData : *tesk::to_internal(v, kInterval);
      }
      tesk::ThreadPool pool(threads.back());
      const auto choice = tesk::spline::choose_lambda_and_tension(
          n, n,
          [&](int r0, int c0, tesk::IntGrid& w) {
            for (int i = 0; i < w.rows(); ++i) std::copy(c[r0 + i] + c0, c[r0 + i] + c0 + w.cols(), w[i]);
          },
          pool, {});
      std::printf("generated %d x %d, seed %u, %.1f %% contour pixels; cross-validation over %d windows, tension %g:",
                  n, n, seed, 100 * raster.contour_share, choice.windows, choice.tension);
      for (std::size_t l = 0; l < choice.lambdas.size(); ++l) std::printf(" %g: %.4g", choice.lambdas[l], choice.scores[l]);
      std::printf("\n");
      std::vector<double> lambdas = {0.03, 0.1, 0.3, 1, 3};
      lambdas.push_back(choice.lambda);
      for (std::size_t l = 0; l < lambdas.size(); ++l) {
        tesk::Grid<double> u;
        tesk::SplineParams sp;
        sp.lambda = lambdas[l];
        sp.tension = l + 1 == lambdas.size() ? choice.tension : 0.0;
        sp.threads = threads.back();
        sp.max_cycles = 2000;
        const auto st = tesk::fit_spline(c, sp, u, nullptr, {});
        struct {
          int cycles;
        } rep{st.iterations};
        double s2 = 0;
        std::int64_t m = 0;
        for (std::size_t k = 0; k < u.size(); ++k)
          if (c.data()[k] == tesk::kNoData) {
            const double e = u.data()[k] * kInterval / 512.0 - truth[k];
            s2 += e * e;
            ++m;
          }
        std::printf("  lambda %8.4g%s  RMSE off the contours %.4f m  (%d iterations)\n", lambdas[l],
                    l + 1 == lambdas.size() ? " (chosen)" : "         ", std::sqrt(s2 / std::max<std::int64_t>(1, m)),
                    rep.cycles);
        std::fflush(stdout);
      }
    }
    return 0;
  }
  std::printf("%6s %7s %9s %8s | %9s %6s | %9s %6s | %9s %6s | %9s %6s | %9s %6s\n", "size", "threads", "choice_s",
              "lambda", "solve_s", "cycles", "no_cg_s", "cycles", "no_fmg_s", "cycles", "v_cyc_s", "cycles", "diag_s",
              "cycles");
  for (const int n : sizes) {
    const tesk::bench::ContourRaster raster = tesk::bench::make_contour_raster(n, n, seed, kInterval);
    tesk::IntGrid c(n, n);
    for (std::size_t k = 0; k < c.size(); ++k) {
      const int v = raster.samples[k];
      c.data()[k] = v == tesk::kIval16 ? tesk::kNoData : *tesk::to_internal(v, kInterval);
    }
    for (const int t : threads) {
      tesk::ThreadPool pool(t);
      double best_choice = 1e300;
      double lambda = 1;
      struct Variant {
        tesk::spline::SolveMechanisms m;
        double best = 1e300;
        int cycles = 0;
        bool failed = false;
      };
      std::vector<Variant> variants = {{{true, true, true, true}}, {{false, true, true, true}},
                                       {{true, false, true, true}}, {{true, true, false, true}},
                                       {{true, true, true, false}}};
      for (int r = 0; r < repeat; ++r) {
        auto t0 = std::chrono::steady_clock::now();
        const auto choice = tesk::spline::choose_lambda(
            n, n,
            [&](int r0, int c0, tesk::IntGrid& w) {
              for (int i = 0; i < w.rows(); ++i) std::copy(c[r0 + i] + c0, c[r0 + i] + c0 + w.cols(), w[i]);
            },
            0.0, pool, {});
        best_choice = std::min(best_choice, seconds_since(t0));
        lambda = choice.lambda;
        for (Variant& v : variants) {
          tesk::Grid<double> u;
          t0 = std::chrono::steady_clock::now();
          try {
            const auto rep = tesk::spline::solve(c, lambda, 0.0, 0.0512, 500, pool, {}, nullptr, u, false, v.m);
            v.best = std::min(v.best, seconds_since(t0));
            v.cycles = rep.cycles;
          } catch (const std::exception&) {
            v.failed = true;
          }
        }
      }
      std::printf("%6d %7d %9.3f %8.4g", n, t, best_choice, lambda);
      for (const Variant& v : variants) {
        if (v.failed) std::printf(" | %9s %6s", "no conv.", ">500");
        else std::printf(" | %9.3f %6d", v.best, v.cycles);
      }
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  return 0;
}
