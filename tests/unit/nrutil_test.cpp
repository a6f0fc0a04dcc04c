// The allocation family: zero-filled, columns first, rows indexed first.
#include "core/nrutil.h"

#include <gtest/gtest.h>

namespace tesk {
namespace {

TEST(Nrutil, MatricesAreZeroFilledColumnsFirst) {
  int** m = imatrice(3, 2);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(m[i][j], 0);
  m[1][2] = 7;  // the last element: row 1, column 2
  EXPECT_EQ(m[1][2], 7);
  frimatrice(m, 2);

  float** row = fmatrice(4, 1);
  float** col = fmatrice(1, 4);
  ASSERT_NE(row, nullptr);
  ASSERT_NE(col, nullptr);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(row[0][k], 0.0f);
    EXPECT_EQ(col[k][0], 0.0f);
  }
  frfmatrice(row, 1);
  frfmatrice(col, 4);
}

TEST(Nrutil, EveryElementTypeAllocatesAndFrees) {
  auto* uc = ucmatrice(5, 3);
  auto* us = usmatrice(5, 3);
  auto* s = smatrice(5, 3);
  auto* d = dmatrice(5, 3);
  auto* ld = ldmatrice(5, 3);
  ASSERT_TRUE(uc && us && s && d && ld);
  EXPECT_EQ(uc[2][4], 0);
  EXPECT_EQ(us[2][4], 0);
  EXPECT_EQ(s[2][4], 0);
  EXPECT_EQ(d[2][4], 0.0);
  EXPECT_EQ(ld[2][4], 0.0L);
  frucmatrice(uc, 3);
  frusmatrice(us, 3);
  frsmatrice(s, 3);
  frdmatrice(d, 3);
  frldmatrice(ld, 3);

  auto* v1 = ucvecteur(4);
  auto* v2 = usvecteur(4);
  auto* v3 = svecteur(4);
  auto* v4 = ivecteur(4);
  auto* v5 = dvecteur(4);
  auto* v6 = fvecteur(4);
  ASSERT_TRUE(v1 && v2 && v3 && v4 && v5 && v6);
  EXPECT_EQ(v4[3], 0);
  EXPECT_EQ(v6[3], 0.0f);
  frucvecteur(v1);
  frusvecteur(v2);
  frsvecteur(v3);
  frivecteur(v4);
  frdvecteur(v5);
  frfvecteur(v6);
}

TEST(Nrutil, ZeroAndNegativeCounts) {
  int** empty = imatrice(3, 0);  // freeing with NbLig 0 releases only the row array
  ASSERT_NE(empty, nullptr);
  frimatrice(empty, 0);
  EXPECT_EQ(imatrice(-1, 2), nullptr);
  EXPECT_EQ(imatrice(2, -1), nullptr);
  EXPECT_EQ(ivecteur(-3), nullptr);
}

TEST(Nrutil, ImpossibleRequestGivesNull) {
  // A row of 2^31 - 1 long doubles cannot be had on this machine's budget
  // twice over; the failed row releases what was obtained (checked by ASan).
  long double** m = ldmatrice(2147483647, 64);
  EXPECT_EQ(m, nullptr);
  frldmatrice(m, 64);
}

}  // namespace
}  // namespace tesk
