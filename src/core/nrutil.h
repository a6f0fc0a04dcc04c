// The allocation family of the classic program: typed, zero-filled
// row-pointer matrices and vectors.
//
// Matrices are allocated with the column count first, (NbCol, NbLig), and
// indexed row first: m[i][j] is row i, column j.  Every row is a separate
// zero-filled block.  A failed request, or a negative count, gives nullptr;
// on a failed row request the rows already obtained and the row array are
// released before nullptr is returned.  A zero count gives an empty but valid
// allocation that must not be indexed.  A matrice is freed only by the
// partner of its allocation routine, with the same NbLig.
#pragma once

namespace tesk {

float** fmatrice(int NbCol, int NbLig);
unsigned char** ucmatrice(int NbCol, int NbLig);
unsigned short** usmatrice(int NbCol, int NbLig);
short** smatrice(int NbCol, int NbLig);
int** imatrice(int NbCol, int NbLig);
double** dmatrice(int NbCol, int NbLig);
long double** ldmatrice(int NbCol, int NbLig);

void frfmatrice(float** Mat, int NbLig);
void frucmatrice(unsigned char** Mat, int NbLig);
void frusmatrice(unsigned short** Mat, int NbLig);
void frsmatrice(short** Mat, int NbLig);
void frimatrice(int** Mat, int NbLig);
void frdmatrice(double** Mat, int NbLig);
void frldmatrice(long double** Mat, int NbLig);

unsigned char* ucvecteur(int NbCol);
unsigned short* usvecteur(int NbCol);
short* svecteur(int NbCol);
int* ivecteur(int NbCol);
double* dvecteur(int NbCol);
float* fvecteur(int NbCol);

void frucvecteur(unsigned char* Mat);
void frusvecteur(unsigned short* Mat);
void frsvecteur(short* Mat);
void frivecteur(int* Mat);
void frdvecteur(double* Mat);
void frfvecteur(float* Mat);

}  // namespace tesk
