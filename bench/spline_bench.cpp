// tesk_spline_bench: how fast the spline runs, and what each of its speed
// mechanisms brings.
//
// On generated contour rasters (bench/terrain.h, interval 10) of the sizes
// given, prints for each thread count: the time of the choice of lambda,
// then the time and cycles of the solve at that lambda with every
// mechanism, without the conjugate gradients (plain V-cycles) and without
// the full multigrid start.  The variants run alternately, the best of
// --repeat runs reported; a variant that exceeds its cycle limit says so.
//
// Options: --sizes 512,1024,... --threads 1,2 --repeat R --seed S
#include <algorithm>
#include <chrono>
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
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string a = argv[k];
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
  std::printf("%6s %7s %9s %8s | %9s %6s | %9s %6s | %9s %6s\n", "size", "threads", "choice_s", "lambda",
              "solve_s", "cycles", "no_cg_s", "cycles", "no_fmg_s", "cycles");
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
      std::vector<Variant> variants = {{{true, true}}, {{false, true}}, {{true, false}}};
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
