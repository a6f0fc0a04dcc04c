// The allocation family (zero-filled, columns first, rows indexed first, null
// on failure) and the memory a run may use.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>

#include "core/grid.h"
#include "core/memory.h"
#include "core/nrutil.h"

namespace tesk {
namespace {

// 1: every element zero (and the last one writable); 0: null; -1: otherwise.
template <typename T>
std::function<int(int, int)> matrix(T** (*alloc)(int, int), void (*release)(T**, int)) {
  return [=](int cols, int rows) {
    T** m = alloc(cols, rows);
    int ok = m ? 1 : 0;
    for (int i = 0; m && i < rows; ++i)
      for (int j = 0; j < cols; ++j) ok = m[i][j] == T(0) ? ok : -1, m[i][j] = T(7);
    if (m) release(m, rows);
    return ok;
  };
}
template <typename T>
std::function<int(int, int)> vec(T* (*alloc)(int), void (*release)(T*)) {
  return [=](int cols, int rows) {
    const int n = rows == 0 ? cols : cols * rows;
    T* v = alloc(n);
    int ok = v ? 1 : 0;
    for (int k = 0; v && k < n; ++k) ok = v[k] == T(0) ? ok : -1;
    if (v) release(v);
    return ok;
  };
}

TEST(Nrutil, EveryTypeZeroFilledColumnsFirstNullOnFailure) {
  const std::function<int(int, int)> family[] = {
      matrix(fmatrice, frfmatrice), matrix(ucmatrice, frucmatrice), matrix(usmatrice, frusmatrice),
      matrix(smatrice, frsmatrice), matrix(imatrice, frimatrice),   matrix(dmatrice, frdmatrice),
      matrix(ldmatrice, frldmatrice), vec(ucvecteur, frucvecteur),  vec(usvecteur, frusvecteur),
      vec(svecteur, frsvecteur),    vec(ivecteur, frivecteur),      vec(dvecteur, frdvecteur), vec(fvecteur, frfvecteur)};
  // Columns, rows, outcome: 3 x 2, one row, one column, no rows, negative counts.
  const int shapes[][3] = {{3, 2, 1}, {4, 1, 1}, {1, 4, 1}, {3, 0, 1}, {-1, 2, 0}, {2, -1, 0}};
  for (std::size_t k = 0; k < std::size(family); ++k)
    for (const auto& s : shapes) EXPECT_EQ(family[k](s[0], s[1]), s[2]) << k << ": " << s[0] << " x " << s[1];
  // Rows of 2^31 - 1 long doubles cannot all be had: null, and the rows
  // obtained before are released (under AddressSanitizer, checked).
  long double** m = ldmatrice(2147483647, 64);
  EXPECT_EQ(m, nullptr);
  frldmatrice(m, 64);
}

TEST(Memory, ByteCountsThatLeave64Bits) {
  using B = std::optional<std::uint64_t>;
  const std::tuple<int, int, int, B> cases[] = {{INT_MAX, INT_MAX, 4, 18446744056529682436ULL}, {INT_MAX, INT_MAX, 5, {}},
                                                {INT_MAX, INT_MAX, 13, {}}, {-1, 5, 13, {}}, {46341, 46341, 13, 27917347653ULL}};
  for (const auto& [rows, cols, bytes, total] : cases) EXPECT_EQ(grid_bytes(rows, cols, bytes), total) << rows << " " << bytes;
  EXPECT_THROW(IntGrid(-1, 4), std::bad_alloc);
}

// In a child: the soft limit of `resource` lowered to what the process maps
// of that kind (the /proc/self/status field) plus 64 MiB leaves at most
// those 64 MiB of room.
int room_under_lowered_limit(int resource, const char* field) {
  constexpr rlim_t kHeadroom = 64ULL << 20;
  const pid_t pid = fork();
  if (pid == 0) {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    unsigned long long kib = 0;
    while (f && std::fgets(line, sizeof line, f))
      if (std::strncmp(line, field, std::strlen(field)) == 0) std::sscanf(line + std::strlen(field), "%llu", &kib);
    struct rlimit rl {};
    getrlimit(resource, &rl);
    rl.rlim_cur = kib * 1024 + kHeadroom;
    if (setrlimit(resource, &rl) != 0) _exit(3);
    const auto room = available_memory();
    _exit(room && *room <= kHeadroom ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Memory, LoweredProcessLimitsLowerTheRoom) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: the limits cannot be lowered";
#endif
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_AS, "VmSize:"), 0) << "address-space limit";
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_DATA, "VmData:"), 0) << "data-size limit";
}

}  // namespace
}  // namespace tesk
