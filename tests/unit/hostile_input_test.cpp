// Hostile input at the lowest layers: the answer reader, the header reader,
// raster reading and writing on failing streams, the memory room.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "console/cues.h"
#include "console/dialogue.h"
#include "core/memory.h"
#include "core/run_error.h"
#include "core/scan.h"
#include "io/header.h"
#include "io/raster.h"
#include "support/test_support.h"

namespace tesk {
namespace {

// A read stream over a copy of the text (an empty text is an empty file).
struct Text {
  explicit Text(const std::string& s) : bytes(s) {
    f = bytes.empty() ? std::tmpfile() : fmemopen(bytes.data(), bytes.size(), "r");
  }
  ~Text() {
    if (f) std::fclose(f);
  }
  std::string bytes;
  std::FILE* f = nullptr;
};

TEST(HostileAnswers, NumbersAtAndPastTheIntLimits) {
  Text t("2147483647 -2147483648 2147483648 -2147483649 99999999999999999999999999 7");
  Scanner s(t.f);
  int v = 0;
  EXPECT_EQ(s.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, INT_MAX);
  EXPECT_EQ(s.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, INT_MIN);
  v = 5;
  EXPECT_EQ(s.read_int(v), ScanStatus::OutOfRange);
  EXPECT_EQ(s.read_int(v), ScanStatus::OutOfRange);
  EXPECT_EQ(s.read_int(v), ScanStatus::OutOfRange);
  EXPECT_EQ(v, 5) << "a refused number leaves the answer alone";
  // Every digit of a refused number is taken: the next answer is the 7.
  EXPECT_EQ(s.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, 7);
  EXPECT_EQ(s.read_int(v), ScanStatus::End);
}

TEST(HostileAnswers, WhatIsNotANumberStaysForTheMessage) {
  Text t("3.5 - 4 +x \x01\x02zz");
  Scanner s(t.f);
  int v = 0;
  EXPECT_EQ(s.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(s.read_int(v), ScanStatus::NotANumber);  // ".5": the dot is left
  EXPECT_EQ(s.peek_word(), ".5");
  EXPECT_EQ(s.read_int(v), ScanStatus::NotANumber);  // a sign alone, then a blank
  EXPECT_EQ(s.read_int(v), ScanStatus::Ok);
  EXPECT_EQ(v, 4);
  EXPECT_EQ(s.read_int(v), ScanStatus::NotANumber);
  EXPECT_EQ(s.peek_word(), "x");
  EXPECT_EQ(s.read_int(v), ScanStatus::NotANumber);
  EXPECT_EQ(s.peek_word(), "??zz") << "unprintable bytes are not echoed";
}

TEST(HostileAnswers, EndOfInputAndLongWords) {
  {
    Text t("");
    Scanner s(t.f);
    int v = 0;
    std::string w;
    EXPECT_EQ(s.read_int(v), ScanStatus::End);
    EXPECT_EQ(s.read_word(w), ScanStatus::End);
  }
  {
    Text t(" \t\n\r\v\f ");
    Scanner s(t.f);
    std::string w = "kept";
    EXPECT_EQ(s.read_word(w), ScanStatus::End);
    EXPECT_EQ(w, "kept");
  }
  {
    const std::string long_word(100000, 'n');
    Text t("  " + long_word + "\nnext");
    Scanner s(t.f);
    std::string w;
    EXPECT_EQ(s.read_word(w), ScanStatus::Ok);
    EXPECT_EQ(w, long_word);
    EXPECT_EQ(s.read_word(w), ScanStatus::Ok);
    EXPECT_EQ(w, "next");
  }
  {
    Text t(std::string(5000, 'x'));
    Scanner s(t.f);
    int v = 0;
    EXPECT_EQ(s.read_int(v), ScanStatus::NotANumber);
    EXPECT_EQ(s.peek_word().size(), 40u) << "the message shows at most 40 characters";
  }
}

TEST(HostileAnswers, DialogueRefusesWithOneLineMessagesAndCutsNamesAtNul) {
  SilentCues cues;
  std::FILE* out = std::fopen("/dev/null", "w");
  ASSERT_NE(out, nullptr);
  auto refusal = [&](const std::string& input, bool number) {
    Text t(input);
    Dialogue d(t.f, out, cues);
    try {
      if (number)
        d.ask_int();
      else
        d.ask_word();
    } catch (const RunError& e) {
      return std::string(e.what());
    }
    return std::string("(answered)");
  };
  EXPECT_EQ(refusal("abc", true), "\n Reponse \"abc\" illisible : nombre entier attendu\n");
  EXPECT_EQ(refusal("", true), "\n Fin des donnees en entree : reponse attendue, traitement abandonne\n");
  EXPECT_EQ(refusal("   \n", false), "\n Fin des donnees en entree : reponse attendue, traitement abandonne\n");
  EXPECT_EQ(refusal("-2147483649", true),
            "\n Reponse hors limites : nombre entier entre -2147483648 et 2147483647 attendu\n");
  {
    Text t(std::string("out\0put more", 12));
    Dialogue d(t.f, out, cues);
    EXPECT_EQ(d.ask_word(), "out");
    EXPECT_EQ(d.ask_word(), "more");
  }
  std::fclose(out);
}

TEST(HostileHeader, UnreadableValuesStopTheReadingAndLeaveZeros) {
  struct Case {
    const char* text;
    Header expected;
  };
  const Case cases[] = {
      {"", {}},
      {"garbage 4 5 6", {}},
      {"7", {7, 0, 0, 0, 0, 0}},
      {"7 8 x 1 2 3", {7, 8, 0, 0, 0, 0}},
      {"-3 0 1 2 3 4", {-3, 0, 1, 2, 3, 4}},
      {"99999999999 2 3 4 5 6", {}},                       // out of the int range: nothing read
      {"2 2147483648 3", {2, 0, 0, 0, 0, 0}},             // one past INT_MAX
      {"2147483647 -2147483648 0 0 0 0", {INT_MAX, INT_MIN, 0, 0, 0, 0}},
      {"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n", {1, 2, 3, 4, 5, 6}},  // written on another system
      {"1 2 3 4 5 6 7 8 trailing", {1, 2, 3, 4, 5, 6}},
      {"5 5abc", {5, 5, 0, 0, 0, 0}},
      {"1 2 3.5 4", {1, 2, 3, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Text t(c.text);
    EXPECT_EQ(read_header(t.f), c.expected) << "header text \"" << c.text << "\"";
  }
  {
    Text t(std::string("4\0 5 6", 6));
    EXPECT_EQ(read_header(t.f), (Header{4, 0, 0, 0, 0, 0})) << "a NUL byte stops the reading";
  }
}

TEST(HostileRaster, ShortDirectoryAndLongInputs) {
  testing::TempDir dir;
  IntGrid g(2, 3);
  // One byte short of 2 x 3 16-bit samples: the reading reports it.
  testing::write_file(dir / "short.raw", std::string(11, '\x01'));
  std::FILE* f = std::fopen((dir / "short.raw").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(lecture(f, 0, g));
  std::fclose(f);
  // A directory opens on Linux but cannot be read.
  f = std::fopen(dir.path().c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(lecture(f, 1, g));
  std::fclose(f);
  // Bytes past the image are left unread.
  testing::write_file(dir / "long.raw", testing::le32({1, -2, 3, 4, 5, 65500, 99, 98}));
  f = std::fopen((dir / "long.raw").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(lecture(f, 1, g));
  EXPECT_EQ(std::ftell(f), 24);
  EXPECT_EQ(testing::rows_of(g), (std::vector<std::vector<std::int32_t>>{{1, -2, 3}, {4, 5, 65500}}));
  std::fclose(f);
}

TEST(HostileRaster, WritingToAFullDiskFailsAndNamesTheStream) {
  // Rows larger than a stream buffer, so the failure shows at the write.
  ByteGrid tab(2, 70000);
  IntGrid itab1(2, 70000);
  std::FILE* full = std::fopen("/dev/full", "wb");
  std::FILE* null = std::fopen("/dev/null", "wb");
  ASSERT_NE(full, nullptr);
  ASSERT_NE(null, nullptr);
  std::FILE* failed = nullptr;
  EXPECT_FALSE(ecriture(full, null, 0, tab, itab1, &failed));
  EXPECT_EQ(failed, full);
  failed = nullptr;
  EXPECT_FALSE(ecriture(null, full, 1, tab, itab1, &failed));
  EXPECT_EQ(failed, full);
  std::fclose(full);
  std::fclose(null);
}

TEST(HostileMemory, ByteCountsThatLeave64Bits) {
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
  const std::size_t len = std::strlen(field);
  while (f && std::fgets(line, sizeof line, f))
    if (std::strncmp(line, field, len) == 0) std::sscanf(line + len, "%llu", &kib);
  if (f) std::fclose(f);
  return kib * 1024;
}

constexpr rlim_t kHeadroom = 64ULL << 20;

// In a child process: lowers the soft limit of `resource` to what the
// process already maps of that kind plus 64 MiB, then checks that the room
// reported is at most those 64 MiB.  Returns the child's exit status.
int room_under_lowered_limit(int resource, const char* field) {
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

TEST(HostileMemory, LoweredProcessLimitsLowerTheRoom) {
#ifdef TESK_UNDER_ASAN
  GTEST_SKIP() << "AddressSanitizer maps terabytes of shadow memory: the limits cannot be lowered";
#else
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_AS, "VmSize:"), 0) << "address-space limit";
  EXPECT_EQ(room_under_lowered_limit(RLIMIT_DATA, "VmData:"), 0) << "data-size limit";
#endif
}

}  // namespace
}  // namespace tesk
