#include "core/nrutil.h"

#include <cstdlib>

namespace tesk {
namespace {

// calloc(0, ...) may return nullptr on some systems: ask for one element so a
// zero count still yields a valid (never indexed) block.
void* zeroed(int count, std::size_t size) {
  if (count < 0) return nullptr;
  return std::calloc(count == 0 ? 1 : static_cast<std::size_t>(count), size);
}

template <class T>
T** alloc_matrice(int NbCol, int NbLig) {
  if (NbCol < 0 || NbLig < 0) return nullptr;
  T** rows = static_cast<T**>(zeroed(NbLig, sizeof(T*)));
  if (!rows) return nullptr;
  for (int i = 0; i < NbLig; ++i) {
    rows[i] = static_cast<T*>(zeroed(NbCol, sizeof(T)));
    if (!rows[i]) {
      for (int k = 0; k < i; ++k) std::free(rows[k]);
      std::free(rows);
      return nullptr;
    }
  }
  return rows;
}

template <class T>
void free_matrice(T** Mat, int NbLig) {
  if (!Mat) return;
  for (int i = 0; i < NbLig; ++i) std::free(Mat[i]);
  std::free(Mat);
}

template <class T>
T* alloc_vecteur(int NbCol) {
  return static_cast<T*>(zeroed(NbCol, sizeof(T)));
}

}  // namespace

float** fmatrice(int NbCol, int NbLig) { return alloc_matrice<float>(NbCol, NbLig); }
unsigned char** ucmatrice(int NbCol, int NbLig) { return alloc_matrice<unsigned char>(NbCol, NbLig); }
unsigned short** usmatrice(int NbCol, int NbLig) { return alloc_matrice<unsigned short>(NbCol, NbLig); }
short** smatrice(int NbCol, int NbLig) { return alloc_matrice<short>(NbCol, NbLig); }
int** imatrice(int NbCol, int NbLig) { return alloc_matrice<int>(NbCol, NbLig); }
double** dmatrice(int NbCol, int NbLig) { return alloc_matrice<double>(NbCol, NbLig); }
long double** ldmatrice(int NbCol, int NbLig) { return alloc_matrice<long double>(NbCol, NbLig); }

void frfmatrice(float** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frucmatrice(unsigned char** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frusmatrice(unsigned short** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frsmatrice(short** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frimatrice(int** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frdmatrice(double** Mat, int NbLig) { free_matrice(Mat, NbLig); }
void frldmatrice(long double** Mat, int NbLig) { free_matrice(Mat, NbLig); }

unsigned char* ucvecteur(int NbCol) { return alloc_vecteur<unsigned char>(NbCol); }
unsigned short* usvecteur(int NbCol) { return alloc_vecteur<unsigned short>(NbCol); }
short* svecteur(int NbCol) { return alloc_vecteur<short>(NbCol); }
int* ivecteur(int NbCol) { return alloc_vecteur<int>(NbCol); }
double* dvecteur(int NbCol) { return alloc_vecteur<double>(NbCol); }
float* fvecteur(int NbCol) { return alloc_vecteur<float>(NbCol); }

void frucvecteur(unsigned char* Mat) { std::free(Mat); }
void frusvecteur(unsigned short* Mat) { std::free(Mat); }
void frsvecteur(short* Mat) { std::free(Mat); }
void frivecteur(int* Mat) { std::free(Mat); }
void frdvecteur(double* Mat) { std::free(Mat); }
void frfvecteur(float* Mat) { std::free(Mat); }

}  // namespace tesk
