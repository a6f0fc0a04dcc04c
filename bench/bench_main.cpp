// tesk_bench: how fast the computation runs, against the literal stages.
//
// 1. Whole runs (reading, computation, writing; no dialogue, no sound) on
//    generated contour rasters of 1024^2 .. 8192^2 pixels, interval 10,
//    window 3, overlay on, 16-bit samples: time per stage, pixels per
//    second, passes and sweeps, peak memory, and side by side the literal
//    stages on the sizes up to --literal-max, whose output bytes must be the
//    same.  Each run is a child process, so its peak memory is its own.
// 2. The same for the shipped sample rasters.
// 3. Google Benchmark timings of the single stages (skipped with --no-gbench;
//    other arguments go to Google Benchmark).
//
// Options: --sizes 1024,2048,... --literal-max N --seed S --threads T
//          --write N PATH (only writes the N x N raster as PATH_c2.raw)
//          --repeat R (fast runs a size, the median reported; 3)
//          --no-gbench --no-samples
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/threads.h"
#include "core/units.h"
#include "io/header.h"
#include "io/raster.h"
#include "stages/conversion_fast.h"
#include "stages/dilation/dilation_fast.h"
#include "stages/gap_filling_fast.h"
#include "core/thread_pool.h"
#include "stages/pipeline.h"
#include "stages/smoothing_fast.h"
#include "tiles/tile_run.h"
#include "terrain.h"

namespace fs = std::filesystem;
using namespace tesk;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

struct Job {
  std::string input;
  int rows = 0;
  int cols = 0;
  int itype = 0;
  int equid = 10;
  int maille = 3;
  bool overlay = true;
  bool literal = false;
  int threads = 1;
  std::string out_dir;
};

struct Result {
  bool ok = false;
  double total = 0, read = 0, convert = 0, dilate_fill = 0, smooth = 0, tail = 0, write = 0;
  // Stage breakdown of the fast stages (second computation in the same child).
  double s_convert = 0, s_dilate = 0, s_fill = 0, s_copy = 0, s_smooth = 0, s_back = 0;
  int passes = 0;
  long long growth_sweeps = 0;
  int gap_sweeps = 0;
  long long dil_visits = 0, gap_visits = 0;
  unsigned long long peak = 0;
  unsigned long long hash = 0;
  // The stage breakdown's dilation, pass by pass (from one pass's report to
  // the next; a walk shared by two passes counts in the first), and the
  // passes after the first kPassTimes together.
  static constexpr int kPassTimes = 10;
  double pass_time[kPassTimes] = {};
  double later_passes = 0;
};

// Marks the moments the computation reports.
class Stopwatch : public RunObserver {
 public:
  Clock::time_point first_pass{}, smoothing{}, saving{};
  bool seen_pass = false;
  void pass_starting(const PassReport&) override {
    if (!seen_pass) first_pass = Clock::now();
    seen_pass = true;
  }
  void smoothing_stage() override { smoothing = Clock::now(); }
  void saving_starting() override { saving = Clock::now(); }
};

unsigned long long hash_file(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  unsigned long long h = 1469598103934665603ULL;
  std::vector<unsigned char> buf(1 << 20);
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0)
    for (std::size_t k = 0; k < n; ++k) h = (h ^ buf[k]) * 1099511628211ULL;
  std::fclose(f);
  return h;
}

Result run_job(const Job& job) {
  Result r;
  const auto t0 = Clock::now();
  std::FILE* in = std::fopen(job.input.c_str(), "rb");
  if (!in) return r;
  RunGrids g;
  g.allocate(job.rows, job.cols, job.literal, resolve_threads(job.threads) > 1);
  if (!lecture(in, job.itype, g.itab)) return r;
  const auto t_read = Clock::now();
  RunParams p;
  p.ival = ival_for(job.itype);
  p.equid = job.equid;
  p.maille = job.maille;
  p.overlay = job.overlay;
  p.literal = job.literal;
  p.threads = job.threads;
  Stopwatch sw;
  const RunStats st = compute_dem(g, p,
                                  [&](IntGrid& itab) {
                                    std::rewind(in);
                                    lecture(in, job.itype, itab);
                                  },
                                  sw);
  const auto t_done = Clock::now();
  const std::string f2 = job.out_dir + (job.literal ? "/lit.img" : "/fast.img");
  const std::string f3 = job.out_dir + (job.literal ? "/lit.dem" : "/fast.dem");
  std::FILE* o2 = std::fopen(f2.c_str(), "wb");
  std::FILE* o3 = std::fopen(f3.c_str(), "wb");
  if (!o2 || !o3 || !ecriture(o2, o3, job.itype, g.tab, g.itab1, nullptr, resolve_threads(job.threads))) return r;
  std::fclose(o2);
  std::fclose(o3);
  std::fclose(in);
  const auto t_end = Clock::now();
  auto secs = [](Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); };
  r.total = secs(t0, t_end);
  r.read = secs(t0, t_read);
  r.convert = secs(t_read, sw.first_pass);
  r.dilate_fill = secs(sw.first_pass, sw.smoothing);
  r.smooth = secs(sw.smoothing, sw.saving);
  r.tail = secs(sw.saving, t_done);
  r.write = secs(t_done, t_end);
  r.passes = st.passes;
  r.growth_sweeps = st.growth_sweeps;
  r.gap_sweeps = st.gap_sweeps;
  r.dil_visits = st.dilation_visits;
  r.gap_visits = st.gap_visits;
  r.peak = peak_resident_memory();
  r.hash = hash_file(f2) * 31 + hash_file(f3);

  if (!job.literal) {
    // The fast stages one by one, on the same grids.
    std::FILE* in2 = std::fopen(job.input.c_str(), "rb");
    lecture(in2, job.itype, g.itab);
    std::fclose(in2);
    ThreadPool pool(job.threads);
    auto t = Clock::now();
    convert_to_internal_fast(g.itab, p.ival, p.equid, pool);
    r.s_convert = since(t);
    t = Clock::now();
    std::vector<Clock::time_point> reports;
    dilate_fast(g.itab, g.itab1, g.tab, [&](const PassReport&) { reports.push_back(Clock::now()); }, {}, &pool);
    reports.push_back(Clock::now());
    r.s_dilate = since(t);
    for (std::size_t k = 0; k + 1 < reports.size(); ++k) {
      const double d = std::chrono::duration<double>(reports[k + 1] - reports[k]).count();
      if (k < static_cast<std::size_t>(Result::kPassTimes))
        r.pass_time[k] = d;
      else
        r.later_passes += d;
    }
    t = Clock::now();
    fill_gaps_fast(g.itab, g.tab, &pool);
    r.s_fill = since(t);
    t = Clock::now();
    copy_grid_fast(g.itab, g.itab1, pool);
    r.s_copy = since(t);
    t = Clock::now();
    smooth_fast(g.itab, g.itab1, p.maille, nullptr, pool);
    r.s_smooth = since(t);
    t = Clock::now();
    convert_to_altitude_fast(g.itab1, p.ival, p.equid, pool);
    int lo = g.itab1[0][0], hi = lo;
    min_max_fast(&lo, &hi, g.itab1, nullptr, pool);
    quantise_fast(g.itab1, g.tab, lo, hi, pool);
    r.s_back = since(t);
  }
  r.ok = true;
  return r;
}

// Runs the job in a child process and returns what it measured.
Result run_child(const Job& job) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  // The files of the runs before go to disk first, so that their write-back
  // does not slow this run's writing.
  sync();
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    Result r;
    try {
      r = run_job(job);
    } catch (...) {
      r.ok = false;
    }
    (void)!write(fds[1], &r, sizeof r);
    _exit(0);
  }
  close(fds[1]);
  Result r;
  if (read(fds[0], &r, sizeof r) != static_cast<ssize_t>(sizeof r)) r.ok = false;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return r;
}

// The run with the median whole-run time among `repeat` runs of the job
// (a machine shared with other work slows single runs by tens of percent).
Result median_run(const Job& job, int repeat) {
  std::vector<Result> runs;
  for (int k = 0; k < repeat; ++k) {
    const Result r = run_child(job);
    if (!r.ok) return r;
    runs.push_back(r);
  }
  std::sort(runs.begin(), runs.end(), [](const Result& a, const Result& b) { return a.total < b.total; });
  return runs[runs.size() / 2];
}

void write_samples(const std::string& path, const std::vector<std::uint16_t>& s) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::vector<unsigned char> buf(s.size() * 2);
  for (std::size_t k = 0; k < s.size(); ++k) {
    buf[2 * k] = static_cast<unsigned char>(s[k]);
    buf[2 * k + 1] = static_cast<unsigned char>(s[k] >> 8);
  }
  std::fwrite(buf.data(), 1, buf.size(), f);
  std::fclose(f);
}

void print_fast(const char* name, long long pixels, const Result& f) {
  std::printf("  fast    %-14s total %8.3f s  %7.2f Mpx/s  %6.1f ns/px | read %.3f conv %.3f dilate+fill %.3f "
              "smooth %.3f overlay+back+quant %.3f write %.3f\n",
              name, f.total, pixels / f.total / 1e6, f.total / pixels * 1e9, f.read, f.convert, f.dilate_fill, f.smooth,
              f.tail, f.write);
  std::printf("          stages alone: convert %.3f dilation %.3f gap filling %.3f copy %.3f smoothing %.3f "
              "back+minmax+quantise %.3f\n",
              f.s_convert, f.s_dilate, f.s_fill, f.s_copy, f.s_smooth, f.s_back);
  if (f.s_dilate > 0) {
    std::printf("          dilation by pass (ms):");
    for (int k = 0; k < Result::kPassTimes && k < f.passes; ++k) std::printf(" %.1f", f.pass_time[k] * 1e3);
    if (f.passes > Result::kPassTimes) std::printf(", the %d later %.1f", f.passes - Result::kPassTimes, f.later_passes * 1e3);
    std::printf("\n");
  }
  std::printf("          passes %d, growth sweeps %lld, gap sweeps %d, visits dilation %.2f/px gap %.2f/px, "
              "peak memory %.1f MB = %.2f bytes/px\n",
              f.passes, f.growth_sweeps, f.gap_sweeps, static_cast<double>(f.dil_visits) / pixels,
              static_cast<double>(f.gap_visits) / pixels, f.peak / 1048576.0, static_cast<double>(f.peak) / pixels);
}

void print_literal(const Result& f, const Result& l, long long pixels) {
  std::printf("  literal                total %8.3f s  %7.2f Mpx/s  %6.1f ns/px | passes %d, growth sweeps %lld, "
              "peak %.2f bytes/px\n",
              l.total, pixels / l.total / 1e6, l.total / pixels * 1e9, l.passes, l.growth_sweeps,
              static_cast<double>(l.peak) / pixels);
  std::printf("  ratio literal/fast: %.1fx   same bytes: %s\n", l.total / f.total,
              l.hash == f.hash && l.passes == f.passes && l.growth_sweeps == f.growth_sweeps ? "yes" : "NO");
}

// ---------------------------------------------------------------------------
// Google Benchmark: the single stages on a generated 1024 x 1024 raster.

struct StageInput {
  IntGrid internal;  // contours in internal units, no-data elsewhere
  IntGrid surface;   // after dilation and gap filling
};

const StageInput& stage_input() {
  static StageInput in = [] {
    StageInput s;
    const auto r = bench::make_contour_raster(1024, 1024, 7, 10);
    s.internal = IntGrid(1024, 1024);
    for (std::size_t x = 0; x < r.samples.size(); ++x) s.internal.data()[x] = r.samples[x];
    convert_to_internal(s.internal, kIval16, 10);
    s.surface = IntGrid(1024, 1024);
    std::copy(s.internal.begin(), s.internal.end(), s.surface.begin());
    IntGrid grown(1024, 1024);
    ByteGrid state(1024, 1024);
    dilate_fast(s.surface, grown, state, nullptr);
    fill_gaps_fast(s.surface, state);
    return s;
  }();
  return in;
}

// With range(0) 1, the dilation keeps the record of its passes, as a tile
// run asks it to.
void BM_DilationFast(benchmark::State& st) {
  const auto& in = stage_input();
  IntGrid itab(1024, 1024), grown(1024, 1024), written_at(1024, 1024);
  ByteGrid state(1024, 1024);
  for (auto _ : st) {
    std::copy(in.internal.begin(), in.internal.end(), itab.begin());
    dilate_fast(itab, grown, state, nullptr, {}, nullptr, {}, st.range(0) ? &written_at : nullptr);
  }
  st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(itab.size()));
}

// A tile run on one thread, proof included: the corner tile of 1024 of a
// 2048^2 raster with a halo of 128, as a block of tesk.fill over dask runs.
void BM_TileRun(benchmark::State& st) {
  static const IntGrid raster = [] {
    const auto r = bench::make_contour_raster(2048, 2048, 7, 10);
    IntGrid g(2048, 2048);
    std::copy(r.samples.begin(), r.samples.end(), g.begin());
    return g;
  }();
  RunParams p;
  p.ival = kIval16;
  p.equid = 10;
  p.maille = 3;
  const TileRequest req{2048, 2048, {0, 0, 1024, 1024}, 128};
  bool certified = true;
  for (auto _ : st) certified = run_tile(req, p, window_reader(raster)).certified && certified;
  if (!certified) st.SkipWithError("the tile is not proven");
  st.SetItemsProcessed(st.iterations() * 1024 * 1024);
}

void BM_GapFillingFast(benchmark::State& st) {
  const auto& in = stage_input();
  IntGrid itab(1024, 1024), grown(1024, 1024);
  ByteGrid state(1024, 1024);
  std::copy(in.internal.begin(), in.internal.end(), itab.begin());
  dilate_fast(itab, grown, state, nullptr);
  IntGrid work(1024, 1024);
  for (auto _ : st) {
    std::copy(itab.begin(), itab.end(), work.begin());
    fill_gaps_fast(work, state);
  }
  st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(itab.size()));
}

void BM_SmoothingFast(benchmark::State& st) {
  const auto& in = stage_input();
  IntGrid out(1024, 1024);
  ThreadPool pool(static_cast<int>(st.range(1)));
  for (auto _ : st) smooth_fast(in.surface, out, static_cast<int>(st.range(0)), nullptr, pool);
  st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(out.size()));
}

void BM_ConversionsFast(benchmark::State& st) {
  const auto& in = stage_input();
  IntGrid work(1024, 1024);
  ThreadPool pool(static_cast<int>(st.range(0)));
  for (auto _ : st) {
    std::copy(in.surface.begin(), in.surface.end(), work.begin());
    convert_to_altitude_fast(work, kIval16, 10, pool);
  }
  st.SetItemsProcessed(st.iterations() * static_cast<std::int64_t>(work.size()));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes = {1024, 2048, 4096, 8192};
  int literal_max = 4096;
  std::uint32_t seed = 12345;
  int threads = resolve_threads(0);
  int repeat = 3;
  bool gbench = true;
  bool samples = true;
  std::vector<char*> rest = {argv[0]};
  for (int k = 1; k < argc; ++k) {
    const std::string a = argv[k];
    if (a == "--sizes" && k + 1 < argc) {
      sizes.clear();
      std::string s = argv[++k];
      for (std::size_t pos = 0; pos < s.size();) {
        const std::size_t c = s.find(',', pos);
        sizes.push_back(std::atoi(s.substr(pos, c - pos).c_str()));
        pos = c == std::string::npos ? s.size() : c + 1;
      }
    } else if (a == "--literal-max" && k + 1 < argc) {
      literal_max = std::atoi(argv[++k]);
    } else if (a == "--seed" && k + 1 < argc) {
      seed = static_cast<std::uint32_t>(std::strtoul(argv[++k], nullptr, 10));
    } else if (a == "--threads" && k + 1 < argc) {
      threads = std::max(1, std::atoi(argv[++k]));
    } else if (a == "--repeat" && k + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++k]));
    } else if (a == "--no-gbench") {
      gbench = false;
    } else if (a == "--no-samples") {
      samples = false;
    } else if (a == "--write" && k + 2 < argc) {
      // A generated raster as a classic data set (PATH_c2.raw and its
      // header), for the command line's runs, then nothing else.
      const int n = std::atoi(argv[++k]);
      const std::string base = argv[++k];
      auto raster = bench::make_contour_raster(n, n, seed + static_cast<std::uint32_t>(n), 10);
      write_samples(base + "_c2.raw", raster.samples);
      std::FILE* h = std::fopen((base + "_c2.txt").c_str(), "w");
      if (!h) return 1;
      std::fprintf(h, "%d %d 0 0 0 10", n, n);
      std::fclose(h);
      std::printf("%s_c2.raw: %d x %d, contour pixels %.2f %%\n", base.c_str(), n, n, 100 * raster.contour_share);
      return 0;
    } else {
      rest.push_back(argv[k]);
    }
  }

  const fs::path tmp = fs::temp_directory_path() / ("tesk_bench_" + std::to_string(getpid()));
  fs::create_directories(tmp);
  std::printf("tesk_bench: interval 10, window 3, overlay on, 16-bit samples, %d thread(s), seed %u\n", threads, seed);
  std::printf("whole run = reading + computation + writing (no dialogue, no sound)\n\n");

  std::vector<std::pair<int, double>> per_pixel;
  for (const int n : sizes) {
    auto raster = bench::make_contour_raster(n, n, seed + static_cast<std::uint32_t>(n), 10);
    const std::string input = (tmp / "in.raw").string();
    write_samples(input, raster.samples);
    // Freed before the runs, whose peak memory must be their own.
    std::vector<std::uint16_t>().swap(raster.samples);
    std::printf("%d x %d (%lld pixels), seed %u, contour pixels %.2f %%\n", n, n, static_cast<long long>(n) * n,
                seed + static_cast<std::uint32_t>(n), 100.0 * raster.contour_share);
    Job job;
    job.input = input;
    job.rows = job.cols = n;
    job.threads = threads;
    job.out_dir = tmp.string();
    const long long pixels = static_cast<long long>(n) * n;
    const Result f = median_run(job, repeat);
    if (!f.ok) {
      std::printf("  fast run failed\n");
      continue;
    }
    print_fast(repeat > 1 ? "(median)" : "", pixels, f);
    per_pixel.emplace_back(n, f.total / pixels * 1e9);
    if (n <= literal_max) {
      job.literal = true;
      job.threads = 1;
      const Result l = run_child(job);
      if (l.ok) print_literal(f, l, pixels);
    } else {
      std::printf("  literal not run at this size (above --literal-max %d)\n", literal_max);
    }
    std::printf("\n");
  }
  if (per_pixel.size() > 1) {
    double lo = per_pixel[0].second, hi = lo;
    for (const auto& e : per_pixel) lo = std::min(lo, e.second), hi = std::max(hi, e.second);
    std::printf("time per pixel from %d^2 to %d^2: %.1f .. %.1f ns/px, spread %.2fx\n\n", per_pixel.front().first,
                per_pixel.back().first, lo, hi, hi / lo);
  }

  if (samples) {
    std::printf("shipped sample rasters (equid 10, window 3, overlay on)\n");
    const fs::path demo = fs::path(TESK_SOURCE_DIR) / "images" / "demo";
    std::vector<fs::path> raws;
    for (const auto& e : fs::directory_iterator(demo))
      if (e.path().extension() == ".raw") raws.push_back(e.path());
    std::sort(raws.begin(), raws.end());
    for (const auto& raw : raws) {
      fs::path txt = raw;
      txt.replace_extension(".txt");
      std::FILE* h = std::fopen(txt.string().c_str(), "rb");
      if (!h) continue;
      const Header hd = read_header(h);
      std::fclose(h);
      const auto bytes = fs::file_size(raw);
      const long long pixels = static_cast<long long>(hd.nb_lig) * hd.nb_col;
      if (pixels <= 0 || (bytes != static_cast<std::uintmax_t>(pixels) * 2 && bytes != static_cast<std::uintmax_t>(pixels) * 4))
        continue;
      Job job;
      job.input = raw.string();
      job.rows = hd.nb_lig;
      job.cols = hd.nb_col;
      job.itype = bytes == static_cast<std::uintmax_t>(pixels) * 2 ? 0 : 1;
      job.threads = threads;
      job.out_dir = tmp.string();
      std::printf("%s: %d x %d, %d-bit\n", raw.filename().string().c_str(), hd.nb_lig, hd.nb_col,
                  job.itype == 0 ? 16 : 32);
      const Result f = run_child(job);
      if (!f.ok) continue;
      print_fast("", pixels, f);
      job.literal = true;
      job.threads = 1;
      const Result l = run_child(job);
      if (l.ok) print_literal(f, l, pixels);
      std::printf("\n");
    }
  }
  fs::remove_all(tmp);

  if (gbench) {
    std::printf("single stages on a generated 1024 x 1024 raster (Google Benchmark)\n");
    std::fflush(stdout);
    benchmark::RegisterBenchmark("DilationFast", BM_DilationFast)->ArgName("recorded")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("TileRun", BM_TileRun)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("GapFillingFast", BM_GapFillingFast)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("SmoothingFast", BM_SmoothingFast)
        ->Args({3, 1})
        ->Args({3, threads})
        ->Args({5, threads})
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("ConversionBackFast", BM_ConversionsFast)->Arg(1)->Arg(threads)->Unit(benchmark::kMillisecond);
    int bargc = static_cast<int>(rest.size());
    benchmark::Initialize(&bargc, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  return 0;
}
