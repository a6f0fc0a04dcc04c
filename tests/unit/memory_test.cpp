// The memory a run may use: byte counts that leave 64 bits, and the room
// left under the process's own limits.
#include "core/memory.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/grid.h"

namespace tesk {
namespace {

TEST(Memory, ByteCountsThatLeave64Bits) {
  EXPECT_EQ(grid_bytes(INT_MAX, INT_MAX, 4), std::optional<std::uint64_t>(18446744056529682436ULL));
  EXPECT_EQ(grid_bytes(INT_MAX, INT_MAX, 5), std::nullopt);
  EXPECT_EQ(grid_bytes(INT_MAX, INT_MAX, 13), std::nullopt);
  EXPECT_EQ(grid_bytes(-1, 5, 13), std::nullopt);
  EXPECT_EQ(grid_bytes(46341, 46341, 13), std::optional<std::uint64_t>(27917347653ULL));
  EXPECT_THROW(IntGrid(-1, 4), std::bad_alloc);
}

// A field of /proc/self/status, in bytes.
rlim_t status_bytes(const char* field) {
  std::FILE* f = std::fopen("/proc/self/status", "r");
  char line[256];
  unsigned long long kib = 0;
  while (f && std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, std::strlen(field)) == 0) std::sscanf(line + std::strlen(field), "%llu", &kib);
  if (f) std::fclose(f);
  return kib * 1024;
}

// In a child process: lowers the soft limit of `resource` to what the
// process already maps of that kind plus 64 MiB, then checks that the room
// reported is at most those 64 MiB. Returns the child's exit status.
[[maybe_unused]] int room_under_lowered_limit(int resource, const char* field) {
  constexpr rlim_t kHeadroom = 64ULL << 20;
  const pid_t pid = fork();
  if (pid == 0) {
    struct rlimit rl {};
    getrlimit(resource, &rl);
    rl.rlim_cur = status_bytes(field) + kHeadroom;
    if (setrlimit(resource, &rl) != 0) _exit(3);
    const auto room = available_memory();
    _exit(room && *room <= kHeadroom ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#if defined(__SANITIZE_ADDRESS__)
#define TESK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESK_UNDER_ASAN 1
#endif
#endif

TEST(Memory, LoweredProcessLimitsLowerTheRoom) {
#ifdef TESK_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: the limits cannot be lowered";
#else
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_AS, "VmSize:"), 0) << "address-space limit";
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_DATA, "VmData:"), 0) << "data-size limit";
#endif
}

// Mapping pages early keeps what they hold, also while another thread
// writes into them, and maps them: the resident size grows by the grid.
TEST(Memory, PagesMappedEarlyKeepTheirContents) {
  IntGrid g(2048, 1024);  // 8 MiB, fresh from the system: no page mapped yet
  auto resident = [] {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    long pages = 0, rss = 0;
    if (f) {
      if (std::fscanf(f, "%ld %ld", &pages, &rss) != 2) rss = 0;
      std::fclose(f);
    }
    return rss * sysconf(_SC_PAGESIZE);
  };
  for (int i = 0; i < 1024; ++i) g[i][i] = i + 1;  // the upper half written first
  const long before = resident();
  std::thread writer([&] {
    for (int i = 1024; i < 1040; ++i) g[i][i - 1024] = -i;
  });
  populate_pages(g.data(), g.size() * sizeof(std::int32_t));
  writer.join();
  if (before > 0) {
    EXPECT_GE(resident() - before, 3L << 20) << "the lower half's pages are mapped";
  }
  for (int i = 0; i < 2048; ++i) {
    for (int j = 0; j < 1024; ++j) {
      const int want = i < 1024 ? (j == i ? i + 1 : 0) : (i < 1040 && j == i - 1024 ? -i : 0);
      ASSERT_EQ(g[i][j], want) << i << " " << j;
    }
  }
  populate_pages(nullptr, 100);        // nothing
  populate_pages(g.data() + 1, 100);   // no whole page inside: nothing
  EXPECT_EQ(g[0][1], 0);
}

}  // namespace
}  // namespace tesk
