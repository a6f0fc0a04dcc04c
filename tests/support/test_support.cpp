#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace tesk::testing {

IntGrid grid(const std::string& text) {
  std::vector<std::vector<std::int32_t>> rows(1);
  std::istringstream in(text);
  for (std::string tok; in >> tok;) {
    if (tok == "/") rows.emplace_back();
    else rows.back().push_back(tok == "U" ? kNoData : static_cast<std::int32_t>(std::stoll(tok)));
  }
  IntGrid g(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()));
  for (int i = 0; i < g.rows(); ++i) {
    if (static_cast<int>(rows[i].size()) != g.cols()) throw std::invalid_argument("ragged grid: " + text);
    std::copy(rows[i].begin(), rows[i].end(), g[i]);
  }
  return g;
}

std::string show(const IntGrid& g) {
  std::string s;
  for (int i = 0; i < g.rows(); ++i)
    for (int j = 0; j < g.cols(); ++j)
      s += (j ? " " : i ? " / " : "") + (g[i][j] == kNoData ? std::string("U") : std::to_string(g[i][j]));
  return s;
}

IntGrid copy_of(const IntGrid& g) {
  IntGrid c(g.rows(), g.cols());
  std::copy(g.begin(), g.end(), c.begin());
  return c;
}

std::uint32_t base_seed() {
  if (const char* s = std::getenv("TESK_TEST_SEED")) return static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10));
  return 20240611u;
}
int uniform(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
bool chance(Rng& rng, double p) { return std::uniform_real_distribution<double>(0.0, 1.0)(rng) < p; }

Shape random_shape(Rng& rng) {
  static const int edges[] = {15, 16, 17, 31, 33, 63, 64, 65, 1023, 1024, 1025, 1039, 1041};
  switch (uniform(rng, 0, 10)) {
    case 0: return {1, uniform(rng, 1, 300)};
    case 1: return {uniform(rng, 1, 300), 1};
    case 2: return {uniform(rng, 2, 3), uniform(rng, 2, 120)};
    case 3: return {uniform(rng, 1, 4), edges[uniform(rng, 0, 12)]};
    case 4: case 5: return {uniform(rng, 1, 9), uniform(rng, 1, 9)};
    case 6: case 7: return {uniform(rng, 5, 40), uniform(rng, 5, 40)};
    case 8: return {uniform(rng, 40, 90), uniform(rng, 40, 90)};
    case 9: return {uniform(rng, 2, 120), uniform(rng, 2, 3)};
    default: return {uniform(rng, 150, 260), uniform(rng, 150, 260)};
  }
}

namespace {

std::int32_t internal_value(Rng& rng, int family) {
  switch (family) {
    case 0: return uniform(rng, -40, 40);
    case 1: return uniform(rng, -3000000, 3000000);
    case 2: return 99999999 + uniform(rng, -3, 3);
    case 3: return chance(rng, 0.5) ? INT_MIN + uniform(rng, 1, 4) : INT_MAX - uniform(rng, 0, 3);
    case 4: return (chance(rng, 0.5) ? 65500 : 10000000) + uniform(rng, -1, 1);
    default: return internal_value(rng, uniform(rng, 0, 4));
  }
}

// Which pixels hold data (level >= 0) and the level of each: pixels of one
// level share a value.
std::vector<int> random_levels(Rng& rng, Shape s) {
  const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
  std::vector<int> level(n, -1);
  int kind = uniform(rng, 0, 9);
  if (n > 6000 && kind <= 2) kind = 5;  // sparse data on a large grid: too slow for the literal stages
  const double d = kind == 2 ? std::uniform_real_distribution<double>(0.01, 0.2)(rng) : kind == 3 ? 1.0 : 0.6;
  if (kind == 1) level[static_cast<std::size_t>(uniform(rng, 0, static_cast<int>(n) - 1))] = 0;
  if (kind >= 2 && kind <= 4)
    for (auto& l : level) l = chance(rng, d) ? uniform(rng, 0, 3 + kind * 2) : -1;
  if (kind >= 5) {
    std::uniform_real_distribution<double> u(0.05, 0.6), z(0.02, 0.3), ph(0.0, 6.0), iv(0.3, 1.5);
    const double fx = u(rng), fy = u(rng), fz = z(rng), px = ph(rng), py = ph(rng), interval = iv(rng);
    auto lev = [&](int i, int j) {
      return static_cast<int>(
          std::floor((2.0 * std::sin(i * fy + py) + 2.0 * std::cos(j * fx + px) + 1.5 * std::sin((i - j) * fz)) /
                     interval));
    };
    for (int i = 0; i < s.rows; ++i)
      for (int j = 0; j < s.cols; ++j) {
        const int l = lev(i, j);
        const bool edge = (j + 1 < s.cols && lev(i, j + 1) != l) || (i + 1 < s.rows && lev(i + 1, j) != l);
        level[static_cast<std::size_t>(i) * s.cols + j] = edge || chance(rng, 0.002) ? std::clamp(l + 20, 0, 63) : -1;
      }
  }
  return level;
}

}  // namespace

IntGrid random_internal_grid(Rng& rng, Shape s) {
  const std::vector<int> level = random_levels(rng, s);
  const int family = uniform(rng, 0, 5);
  const bool ordered = family <= 1 && chance(rng, 0.5);
  const std::int32_t step = uniform(rng, -700, 700);
  std::vector<std::int32_t> by_level(64);
  for (auto& v : by_level) v = internal_value(rng, family);
  IntGrid g(s.rows, s.cols);
  for (std::size_t x = 0; x < g.size(); ++x) {
    const int l = level[x];
    g.data()[x] = l < 0 ? kNoData
                  : chance(rng, 0.03) ? internal_value(rng, family)
                  : ordered ? l * step : by_level[static_cast<std::size_t>(l)];
  }
  return g;
}

IntGrid random_raw_grid(Rng& rng, Shape s, int itype) {
  const std::vector<int> level = random_levels(rng, s);
  std::vector<std::int32_t> by_level(64);
  for (auto& v : by_level) {
    const int k = uniform(rng, 0, itype == 0 ? 3 : 4) + (itype == 0 ? 0 : 4);
    v = k == 0 ? uniform(rng, 0, 300) : k == 1 ? uniform(rng, 0, 65535) : k == 2 ? 65500 + uniform(rng, -1, 35)
        : k == 3 ? 65535 : k == 4 ? uniform(rng, -2000, 2000) : k == 5 ? 99999999 + uniform(rng, -2, 2)
        : k == 6 ? 10000000 + uniform(rng, -2, 2) : k == 7 ? uniform(rng, -5000000, 5000000) : uniform(rng, INT_MIN, INT_MAX);
  }
  IntGrid g(s.rows, s.cols);
  for (std::size_t x = 0; x < g.size(); ++x)
    g.data()[x] = level[x] < 0 ? ival_for(itype) : by_level[static_cast<std::size_t>(level[x])];
  return g;
}

std::string describe(std::uint32_t seed, int index, Shape s) {
  return "seed " + std::to_string(seed) + " case " + std::to_string(index) + " (" + std::to_string(s.rows) + " x " +
         std::to_string(s.cols) + ")";
}

TempDir::TempDir() : path_((std::filesystem::temp_directory_path() / "tesk-test-XXXXXX").string()) {
  if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

TextStream::TextStream(const std::string& text) : f_(std::tmpfile()) {
  if (!f_ || std::fwrite(text.data(), 1, text.size(), f_) != text.size()) throw std::runtime_error("tmpfile failed");
  std::rewind(f_);
}
TextStream::~TextStream() { std::fclose(f_); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
  if (!(std::ofstream(path, std::ios::binary) << bytes)) throw std::runtime_error("cannot write " + path);
}

std::string le16(std::initializer_list<std::uint16_t> values) {
  std::string s;
  for (auto v : values) s += {static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
  return s;
}

std::string le32(std::initializer_list<std::int32_t> values) {
  std::string s;
  for (auto v : values) s += le16({static_cast<std::uint16_t>(v), static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) >> 16)});
  return s;
}

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& input, std::vector<std::string> env) {
  TempDir io;
  write_file(io / "0", input);
  const pid_t pid = fork();
  if (pid == 0) {
    for (int fd = 0; fd < 3; ++fd) {
      const int f = open((io / std::to_string(fd)).c_str(), fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(f, fd);
      close(f);
    }
    for (auto& e : env) putenv(e.data());
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(io / "1"), read_file(io / "2")};
}


IntGrid terrain_contours(Rng& rng, int rows, int cols, bool sea) {
  std::vector<double> z(static_cast<std::size_t>(rows) * cols, sea ? -300.0 : 0.0);
  const int bumps = uniform(rng, 2, 6);
  for (int k = 0; k < bumps; ++k) {
    const double ci = uniform(rng, 0, rows - 1), cj = uniform(rng, 0, cols - 1);
    const double h = uniform(rng, -2000, 3000), s = uniform(rng, 4, 20);
    for (int i = 0; i < rows; ++i)
      for (int j = 0; j < cols; ++j)
        z[static_cast<std::size_t>(i) * cols + j] +=
            h * std::exp(-((i - ci) * (i - ci) + (j - cj) * (j - cj)) / (2 * s * s));
  }
  IntGrid g(rows, cols);
  for (int i = 0; i < rows; ++i)
    for (int j = 0; j < cols; ++j) {
      const double a = z[static_cast<std::size_t>(i) * cols + j];
      double level = std::numeric_limits<double>::quiet_NaN();
      for (const auto& [di, dj] : {std::pair{0, 1}, std::pair{1, 0}}) {
        if (i + di >= rows || j + dj >= cols) continue;
        const double b = z[static_cast<std::size_t>(i + di) * cols + j + dj];
        const double hi = std::floor(std::max(a, b) / 512) * 512;
        if (hi > std::min(a, b) && (!sea || hi >= 0) && !(hi <= level)) level = hi;
      }
      g[i][j] = std::isnan(level) ? kNoData : static_cast<std::int32_t>(level);
    }
  return g;
}

}  // namespace tesk::testing
