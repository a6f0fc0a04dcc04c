#include "stages/conversion_fast.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>

#include "core/cpu_kernels.h"
#include "core/units.h"

namespace tesk {
namespace {

constexpr std::int64_t kRowGrain = 16;

// The first fault over all pieces: the one with the smallest row, then
// column.
class FirstFault {
 public:
  void offer(const ConversionFault& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fault_ || f.row < fault_->row || (f.row == fault_->row && f.col < fault_->col)) fault_ = f;
  }
  std::optional<ConversionFault> get() const { return fault_; }

 private:
  std::mutex mutex_;
  std::optional<ConversionFault> fault_;
};

// x held within [INT_MIN, INT_MAX], so that its conversion truncates or
// saturates as trunc_to_int does (x is never NaN here).  The choice is made
// on the bits: compilers do not turn a choice between doubles into vector
// code.
inline double clamp_to_int_range(double x) {
  const std::uint64_t below = -static_cast<std::uint64_t>(x < -2147483648.0);
  const std::uint64_t above = -static_cast<std::uint64_t>(x > 2147483647.0);
  return std::bit_cast<double>((std::bit_cast<std::uint64_t>(-2147483648.0) & below) |
                               (std::bit_cast<std::uint64_t>(2147483647.0) & above) |
                               (std::bit_cast<std::uint64_t>(x) & ~(below | above)));
}

TESK_CPU_KERNEL
void altitude_row(std::int32_t* row, int n, int ival, int equid) {
  const double e = static_cast<double>(equid);
  for (int j = 0; j < n; ++j) {
    const std::int32_t w = row[j];
    const float f = static_cast<float>(static_cast<double>(w) * 0.001953125 * e);
    // trunc_to_int of a float: NaN cannot occur, saturation at the limits.
    const std::int32_t a = static_cast<std::int32_t>(clamp_to_int_range(static_cast<double>(f)));
    const std::int32_t nd = -static_cast<std::int32_t>(w == kNoData);
    row[j] = (ival & nd) | (a & ~nd);
  }
}

// One row of preview bytes, stretch_byte of every pixel of a sloped line,
// written without branches so that the loop runs in vector registers: the
// same double operations in the same order, and arrondi's truncation
// saturated at the int limits and its half-away-from-zero step.
TESK_CPU_KERNEL
void quantise_row(const std::int32_t* src, std::uint8_t* dst, int n, double a, double b) {
  for (int j = 0; j < n; ++j) {
    const double x = static_cast<double>(src[j]) * a + b;
    const std::int32_t t = static_cast<std::int32_t>(clamp_to_int_range(x));
    const double f = x - static_cast<double>(t);
    const std::int32_t up = (x >= 0.0) & (f >= 0.5) & (t != INT_MAX);
    const std::int32_t down = (x < 0.0) & (f <= -0.5) & (t != INT_MIN);
    dst[j] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(t + up - down));
  }
}

}  // namespace

std::optional<ConversionFault> convert_to_internal_fast(IntGrid& itab, int ival, int equid, ThreadPool& pool,
                                                        CancelCheck cancel) {
  FirstFault first;
  pool.for_range(0, itab.rows(), kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
      cancel.at_row(i, itab.cols());
      std::int32_t* row = itab[i];
      for (int j = 0; j < itab.cols(); ++j) {
        if (row[j] == ival) {
          row[j] = kNoData;
          continue;
        }
        bool ok = true;
        const std::int32_t w = internal_value(row[j], equid, ok);
        if (!ok) {
          first.offer(ConversionFault{i, j, row[j]});
          return;
        }
        row[j] = w;
      }
    }
  });
  return first.get();
}

std::optional<ConversionFault> overlay_contours_fast(const IntGrid& raw, IntGrid& result, int ival, int equid,
                                                     ThreadPool& pool, CancelCheck cancel) {
  FirstFault first;
  pool.for_range(0, raw.rows(), kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
      cancel.at_row(i, raw.cols());
      const std::int32_t* src = raw[i];
      std::int32_t* dst = result[i];
      for (int j = 0; j < raw.cols(); ++j) {
        if (src[j] == ival) continue;
        bool ok = true;
        const std::int32_t w = internal_value(src[j], equid, ok);
        if (!ok) {
          first.offer(ConversionFault{i, j, src[j]});
          return;
        }
        dst[j] = w;
      }
    }
  });
  return first.get();
}

void convert_to_altitude_fast(IntGrid& itab1, int ival, int equid, ThreadPool& pool, CancelCheck cancel) {
  pool.for_range(0, itab1.rows(), kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
      cancel.at_row(i, itab1.cols());
      altitude_row(itab1[i], itab1.cols(), ival, equid);
    }
  });
}

void copy_grid_fast(const IntGrid& from, IntGrid& to, ThreadPool& pool, CancelCheck cancel) {
  const std::int64_t cols = from.cols();
  if (cols == 0) return;
  // Blocks of rows of about CancelCheck::kPixels pixels, one poll each.
  const std::int64_t block = std::max<std::int64_t>(1, CancelCheck::kPixels / cols);
  pool.for_range(0, from.rows(), kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (std::int64_t b = r0; b < r1; b += block) {
      cancel.poll();
      const std::int64_t e = std::min(r1, b + block);
      std::memcpy(to[static_cast<int>(b)], from[static_cast<int>(b)],
                  static_cast<std::size_t>((e - b) * cols) * sizeof(std::int32_t));
    }
  });
}

void min_max_fast(int* Minv, int* maxv, const IntGrid& tab, const RowCallback& on_row, ThreadPool& pool,
                  CancelCheck cancel) {
  const int nr = tab.rows();
  const int block = 256 * pool.size();
  std::mutex mutex;
  const std::int32_t lo0 = *Minv;
  const std::int32_t hi0 = *maxv;
  for (int b0 = 0; b0 < nr; b0 += block) {
    const int b1 = std::min(nr, b0 + block);
    if (on_row)
      for (int i = b0; i < b1; ++i) on_row(i);
    pool.for_range(b0, b1, kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
      std::int32_t lo = lo0;
      std::int32_t hi = hi0;
      for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
        cancel.at_row(i, tab.cols());
        const std::int32_t* row = tab[i];
        for (int j = 0; j < tab.cols(); ++j) {
          lo = std::min(lo, row[j]);
          hi = std::max(hi, row[j]);
        }
      }
      std::lock_guard<std::mutex> lock(mutex);
      *Minv = std::min(*Minv, lo);
      *maxv = std::max(*maxv, hi);
    });
  }
}

void quantise_fast(const IntGrid& itab1, ByteGrid& tab, int min_al, int max_al, ThreadPool& pool,
                   CancelCheck cancel) {
  const Stretch s = stretch_line(min_al, max_al);
  pool.for_range(0, itab1.rows(), kRowGrain, [&](std::int64_t r0, std::int64_t r1, int) {
    for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
      cancel.at_row(i, itab1.cols());
      if (s.flat)
        std::memset(tab[i], 0, static_cast<std::size_t>(itab1.cols()));
      else
        quantise_row(itab1[i], tab[i], itab1.cols(), static_cast<double>(s.a), static_cast<double>(s.b));
    }
  });
}

}  // namespace tesk
