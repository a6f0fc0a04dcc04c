// The allocation family: zero-filled, columns first, rows indexed first, null
// on failure.
#include "core/nrutil.h"

#include <gtest/gtest.h>

namespace tesk {
namespace {

// A 3-column, 2-row matrix from `alloc`: every element zero, the last one
// (row 1, column 2) writable; then freed.
template <typename T>
void check_matrix(T** (*alloc)(int, int), void (*release)(T**, int)) {
  T** m = alloc(3, 2);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_EQ(m[i][j], T(0));
  m[1][2] = T(7);
  EXPECT_EQ(m[1][2], T(7));
  release(m, 2);
}

template <typename T>
void check_vector(T* (*alloc)(int), void (*release)(T*)) {
  T* v = alloc(4);
  ASSERT_NE(v, nullptr);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(v[k], T(0));
  release(v);
}

TEST(Nrutil, EveryElementTypeIsZeroFilledColumnsFirst) {
  check_matrix(fmatrice, frfmatrice);
  check_matrix(ucmatrice, frucmatrice);
  check_matrix(usmatrice, frusmatrice);
  check_matrix(smatrice, frsmatrice);
  check_matrix(imatrice, frimatrice);
  check_matrix(dmatrice, frdmatrice);
  check_matrix(ldmatrice, frldmatrice);
  check_vector(ucvecteur, frucvecteur);
  check_vector(usvecteur, frusvecteur);
  check_vector(svecteur, frsvecteur);
  check_vector(ivecteur, frivecteur);
  check_vector(dvecteur, frdvecteur);
  check_vector(fvecteur, frfvecteur);

  // One row of four columns and one column of four rows.
  float** row = fmatrice(4, 1);
  float** col = fmatrice(1, 4);
  ASSERT_TRUE(row && col);
  row[0][3] = col[3][0] = 1.0f;
  frfmatrice(row, 1);
  frfmatrice(col, 4);
}

TEST(Nrutil, ZeroNegativeAndImpossibleCounts) {
  int** empty = imatrice(3, 0);  // freeing with NbLig 0 releases only the row array
  ASSERT_NE(empty, nullptr);
  frimatrice(empty, 0);
  EXPECT_EQ(imatrice(-1, 2), nullptr);
  EXPECT_EQ(imatrice(2, -1), nullptr);
  EXPECT_EQ(ivecteur(-3), nullptr);
  // Rows of 2^31 - 1 long doubles cannot all be had: null, and the rows
  // obtained before the failure are released (checked by ASan).
  long double** m = ldmatrice(2147483647, 64);
  EXPECT_EQ(m, nullptr);
  frldmatrice(m, 64);
}

}  // namespace
}  // namespace tesk
