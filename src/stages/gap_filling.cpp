#include "stages/gap_filling.h"

#include "core/units.h"

namespace tesk {

std::int32_t gap_mean(const std::int32_t* vals, int count) {
  float tot = 0.0f;
  for (int k = 0; k < count; ++k) tot = static_cast<float>(static_cast<double>(tot) + static_cast<double>(vals[k]));
  return trunc_to_int(static_cast<double>(tot) / count + 0.5);
}

int fill_gaps_literal(IntGrid& itab, CancelCheck cancel) {
  const int nb_lig = itab.rows();
  const int nb_col = itab.cols();
  int sweeps = 0;
  std::int64_t nb_pix_mod = 1;
  while (nb_pix_mod > 0) {
    nb_pix_mod = 0;
    ++sweeps;
    for (int i = 0; i < nb_lig; ++i) {
      cancel.at_row(i, nb_col);
      for (int j = 0; j < nb_col; ++j) {
        if (itab[i][j] != kNoData) continue;
        std::int32_t vals[4];
        int ico = 0;
        if (i > 0 && itab[i - 1][j] != kNoData) vals[ico++] = itab[i - 1][j];
        if (j > 0 && itab[i][j - 1] != kNoData) vals[ico++] = itab[i][j - 1];
        if (j + 1 < nb_col && itab[i][j + 1] != kNoData) vals[ico++] = itab[i][j + 1];
        if (i + 1 < nb_lig && itab[i + 1][j] != kNoData) vals[ico++] = itab[i + 1][j];
        if (ico > 0) {
          itab[i][j] = gap_mean(vals, ico);
          ++nb_pix_mod;
        }
      }
    }
  }
  return sweeps;
}

}  // namespace tesk
