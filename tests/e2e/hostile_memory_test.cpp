// Images too large for the memory: refused before any grid is allocated,
// with the figure the run needs, under the machine's memory and under a
// lowered limit of the process; never a process killed by the kernel.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "hostile_e2e.h"

namespace tesk::hostile {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kUnderAsan = true;
#else
constexpr bool kUnderAsan = false;
#endif
#else
constexpr bool kUnderAsan = false;
#endif

const std::string kType = "\n Image :\n\t0 ====> 16 bits\n\t1 ====> 32 bits\n\t";

struct Refusal {
  bool parsed = false;
  unsigned long long need_mib = 0;
  unsigned long long room_mib = 0;
};

Refusal parse_refusal(const std::string& tail) {
  Refusal r;
  char end = 0;
  r.parsed = std::sscanf(tail.c_str(), "\n Memoire insuffisante : l'image demande %llu Mo, %llu Mo disponible%c",
                         &r.need_mib, &r.room_mib, &end) == 3 &&
             end == 's' && tail.back() == '\n' && tail.find('\n', 1) == tail.size() - 1;
  return r;
}

// The grids the design cannot do without: the input and the result as ints
// and the 8-bit preview, 9 bytes a pixel.
unsigned long long least_mib(unsigned long long rows, unsigned long long cols) {
  return static_cast<unsigned long long>(static_cast<unsigned __int128>(rows) * cols * 9 >> 20);
}

TEST(HostileMemory, SizesPastAnyMemoryAreRefusedWithTheirTrueFigure) {
  // A raster read as it comes (a device): only the memory check stands
  // between the header and the allocation.
  Scratch s;
  std::filesystem::create_symlink("/dev/zero", s.at("a_c2.raw"));
  s.put("a_c2.txt", "2147483647 2147483647 0 0 0 0");
  const ProcessResult r = s.run("d a 0 0 10 1 1");
  EXPECT_EQ(r.status, 1);
  const Refusal refusal = parse_refusal(tail_after(r.out, kType));
  ASSERT_TRUE(refusal.parsed) << tail_after(r.out, kType);
  EXPECT_GE(refusal.need_mib, least_mib(2147483647, 2147483647));
  EXPECT_EQ(s.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"})) << "nothing created";
}

TEST(HostileMemory, ALoweredAddressSpaceLimitIsHonoured) {
  if (kUnderAsan) GTEST_SKIP() << "AddressSanitizer cannot start under a lowered address-space limit";
  if (access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
  const std::string limit = "--as=" + std::to_string(300ULL * 1000 * 1000);
  // 10000 x 10000 pixels, a sparse raster of the right length.
  {
    Scratch s;
    s.put("a_c2.raw", "");
    std::filesystem::resize_file(s.at("a_c2.raw"), 2ULL * 10000 * 10000);
    s.put("a_c2.txt", "10000 10000 0 0 0 0");
    const ProcessResult r = s.run("d a 0 0 10 1 1", {"/usr/bin/prlimit", limit, "--"});
    EXPECT_EQ(r.status, 1);
    const Refusal refusal = parse_refusal(tail_after(r.out, kType));
    ASSERT_TRUE(refusal.parsed) << tail_after(r.out, kType);
    EXPECT_GE(refusal.need_mib, least_mib(10000, 10000));
    EXPECT_LT(refusal.room_mib, 300ULL * 1000 * 1000 >> 20);
    EXPECT_EQ(s.files(), (std::vector<std::string>{"a_c2.raw", "a_c2.txt"})) << "nothing created";
  }
  // Sizes around what the limit allows: the run completes or stops with a
  // message; the process is never killed.
  for (const char* size : {"2000 2000", "3000 3000", "4000 4000", "5000 5000"}) {
    SCOPED_TRACE(size);
    Scratch s;
    int rows = 0, cols = 0;
    std::sscanf(size, "%d %d", &rows, &cols);
    s.put("a_c2.raw", "");
    std::filesystem::resize_file(s.at("a_c2.raw"), 2ULL * rows * cols);
    s.put("a_c2.txt", size);
    const ProcessResult r = s.run("d a 0 0 10 3 0", {"/usr/bin/prlimit", limit, "--"});
    ASSERT_NE(r.status, -1) << "killed by a signal";
    if (r.status == 1)
      EXPECT_NE(r.out.find("\n Memoire insuffisante"), std::string::npos) << r.out.substr(r.out.size() - 200);
    else
      EXPECT_EQ(r.status, 0);
  }
}

}  // namespace
}  // namespace tesk::hostile
