#include "stages/dilation_literal.h"

#include <algorithm>
#include <climits>

#include "core/units.h"

namespace tesk {
namespace {

// One growth sweep: every no-data pixel of itab2 that has a data pixel in
// its neighbourhood (cross or ring) gets, in itab1, the smallest of their
// values.  Reads only itab2 and writes only itab1 (snapshot rule).
void growth_sweep(const IntGrid& itab2, IntGrid& itab1, bool ring, CancelCheck cancel) {
  const int nb_lig = itab2.rows();
  const int nb_col = itab2.cols();
  for (int i = 0; i < nb_lig; ++i) {
    cancel.at_row(i, nb_col);
    for (int j = 0; j < nb_col; ++j) {
      if (itab2[i][j] != kNoData) continue;
      int ico = 0;
      std::int32_t alti = INT_MAX;
      for (int k = i - 1; k <= i + 1; ++k) {
        if (k < 0 || k >= nb_lig) continue;
        for (int l = j - 1; l <= j + 1; ++l) {
          if (l < 0 || l >= nb_col) continue;
          if (!ring && k != i && l != j) continue;  // the cross leaves out the diagonals
          const std::int32_t alt_prov = itab2[k][l];
          if (alt_prov == kNoData) continue;
          ++ico;
          if (alt_prov < alti) alti = alt_prov;
        }
      }
      if (ico > 0) itab1[i][j] = alti;
    }
  }
}

// The merge: values proposed in itab1 for pixels still no-data in itab2 are
// copied into itab2.  Returns how many were copied (nb_pix_mod).
std::int64_t merge(const IntGrid& itab1, IntGrid& itab2, CancelCheck cancel) {
  std::int64_t nb_pix_mod = 0;
  for (int i = 0; i < itab2.rows(); ++i) {
    cancel.at_row(i, itab2.cols());
    for (int j = 0; j < itab2.cols(); ++j) {
      if (itab1[i][j] != kNoData && itab2[i][j] == kNoData) {
        itab2[i][j] = itab1[i][j];
        ++nb_pix_mod;
      }
    }
  }
  return nb_pix_mod;
}

// The midpoint proposal of one pixel of the grown surface: the last cross
// neighbour (above, left, right, below) strictly greater than the pixel, or
// kNoData when there is none.  The sum is taken in 64 bits, the half in
// double, then truncated toward zero.
std::int32_t midpoint(const IntGrid& itab2, int i, int j) {
  const std::int32_t ival2 = itab2[i][j];
  int ico = 0;
  std::int32_t alt_prov = 0;
  const int dk[4] = {-1, 0, 0, 1};
  const int dl[4] = {0, -1, 1, 0};
  for (int d = 0; d < 4; ++d) {
    const int k = i + dk[d];
    const int l = j + dl[d];
    if (k < 0 || k >= itab2.rows() || l < 0 || l >= itab2.cols()) continue;
    if (itab2[k][l] > ival2) {
      ++ico;
      alt_prov = itab2[k][l];
    }
  }
  if (ico == 0) return kNoData;
  const std::int64_t sum = static_cast<std::int64_t>(alt_prov) + ival2;
  return static_cast<std::int32_t>(static_cast<double>(sum) * 0.5 + 0.5);
}

}  // namespace

void start_record(const IntGrid& itab, IntGrid& written_at) {
  std::transform(itab.begin(), itab.end(), written_at.begin(),
                 [](std::int32_t v) { return v == kNoData ? kNeverWritten : 0; });
}

std::int64_t tesklette(IntGrid& itab, IntGrid& itab1, IntGrid& itab2, std::int64_t* sweeps, CancelCheck cancel) {
  // 1. Snapshot.
  std::copy(itab.begin(), itab.end(), itab1.begin());
  std::copy(itab.begin(), itab.end(), itab2.begin());

  // 2-3. First layer of growth, over the cross, then the merge.
  growth_sweep(itab2, itab1, /*ring=*/false, cancel);
  merge(itab1, itab2, cancel);
  std::int64_t count = 1;

  // 4. Later layers over the ring, until a sweep copies nothing.
  std::int64_t nb_pix_mod = 1;
  while (nb_pix_mod > 0) {
    growth_sweep(itab2, itab1, /*ring=*/true, cancel);
    nb_pix_mod = merge(itab1, itab2, cancel);
    ++count;
  }
  if (sweeps) *sweeps += count;

  // 5. Midpoints, from the grown surface into itab1.
  for (int i = 0; i < itab2.rows(); ++i) {
    cancel.at_row(i, itab2.cols());
    for (int j = 0; j < itab2.cols(); ++j) itab1[i][j] = midpoint(itab2, i, j);
  }

  // 6. Commit the midpoints that fall on no-data pixels of itab.
  std::int64_t modif = 0;
  for (int i = 0; i < itab.rows(); ++i) {
    cancel.at_row(i, itab.cols());
    for (int j = 0; j < itab.cols(); ++j) {
      if (itab1[i][j] != kNoData && itab[i][j] == kNoData) {
        itab[i][j] = itab1[i][j];
        ++modif;
      }
    }
  }
  return modif;
}

DilationStats dilate_literal(IntGrid& itab, IntGrid& itab1, IntGrid& itab2, const PassCallback& on_pass,
                             CancelCheck cancel, IntGrid* written_at) {
  DilationStats stats;
  if (written_at) start_record(itab, *written_at);
  std::int64_t modif = 1;
  while (modif > 0) {
    PassReport report;
    report.degree = stats.passes + 1;
    for (int i = 0; i < itab.rows(); ++i) {
      cancel.at_row(i, itab.cols());
      report.to_treat += std::count(itab[i], itab[i] + itab.cols(), kNoData);
    }
    report.previous_modified = stats.passes > 0 ? modif : 0;
    report.growth_sweeps = stats.growth_sweeps;
    if (on_pass) on_pass(report);
    ++stats.passes;
    modif = tesklette(itab, itab1, itab2, &stats.growth_sweeps, cancel);
    if (written_at && modif > 0)
      for (std::size_t x = 0; x < itab.size(); ++x)
        if (written_at->data()[x] == kNeverWritten && itab.data()[x] != kNoData) written_at->data()[x] = stats.passes;
  }
  return stats;
}

}  // namespace tesk
