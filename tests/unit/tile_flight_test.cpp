// Tiles in flight: whatever order they finish in (random delays), the
// results are taken in the tiles' order, never more than the flight ahead
// of the last one taken, within the memory gate's budget, and the first
// error in the tiles' order is the one thrown.
#include "run/tile_flight.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <string>

namespace tesk {
namespace {

struct Trial {
  int count, flight, failing;  // failing: the tiles k with k % failing == failing - 1 throw (0: none)
  int ahead = 0;               // how far ahead of the last taken a tile may start (0: the flight)
};

TEST(TileFlight, TakesResultsInOrderWhateverOrderTheyFinishIn) {
  const Trial trials[] = {{1, 1, 0}, {7, 1, 0}, {9, 2, 0}, {13, 3, 0}, {5, 8, 0}, {20, 4, 0},
                          {12, 3, 5}, {12, 2, 1}, {10, 4, 7}, {6, 1, 3}, {15, 2, 0, 6}, {12, 3, 5, 7}};
  for (const Trial& t : trials) {
    SCOPED_TRACE(std::to_string(t.count) + " tiles, " + std::to_string(t.flight) + " in flight, failing " +
                 std::to_string(t.failing) + ", ahead " + std::to_string(t.ahead));
    for (unsigned seed = 0; seed < 4; ++seed) {
      std::atomic<bool> stop{false};
      std::atomic<int> running{0}, most{0}, taken_so_far{0};
      MemoryGate gate(3);  // tiles hold 1, 2 or 3 of it
      std::atomic<std::int64_t> held{0};
      std::vector<int> taken;
      std::string error;
      try {
        in_flight<int>(
            t.count, t.flight, stop,
            [&](int k) {
              const int bytes = 1 + k % 3;
              if (!gate.acquire(static_cast<std::uint64_t>(bytes))) throw std::runtime_error("halted");
              EXPECT_LE(held += bytes, 3);
              most = std::max(most.load(), ++running);
              EXPECT_LE(k, taken_so_far.load() + std::max({1, t.flight, t.ahead}));  // the one being taken counts
              std::mt19937 rng(seed * 1000 + static_cast<unsigned>(k));
              std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
              --running;
              held -= bytes;
              gate.release(static_cast<std::uint64_t>(bytes));
              if (t.failing && k % t.failing == t.failing - 1) throw std::runtime_error("tile " + std::to_string(k));
              return k * k;
            },
            [&](int k, int& r) {
              EXPECT_EQ(r, k * k);
              taken.push_back(k);
              ++taken_so_far;
            },
            [&] { gate.stop(); }, t.ahead);
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      const int first_failing = t.failing ? t.failing - 1 : t.count;
      std::vector<int> expected;
      for (int k = 0; k < std::min(first_failing, t.count); ++k) expected.push_back(k);
      EXPECT_EQ(taken, expected);
      EXPECT_EQ(error, t.failing ? "tile " + std::to_string(first_failing) : "");
      EXPECT_LE(most.load(), std::max(1, t.flight));
    }
  }
}

// With a window ahead, the other threads go on while the first tile is still
// running: tile 0 waits (at most 10 s) for tile ahead - 1 to start.
TEST(TileFlight, TilesStartAheadWhileTheFirstOneRuns) {
  std::atomic<bool> stop{false};
  std::mutex m;
  std::condition_variable started;
  int most = -1;
  bool seen = false;
  std::vector<int> taken;
  in_flight<int>(
      8, 2, stop,
      [&](int k) {
        std::unique_lock lock(m);
        most = std::max(most, k);
        started.notify_all();
        if (k == 0) seen = started.wait_for(lock, std::chrono::seconds(10), [&] { return most >= 4; });
        return k;
      },
      [&](int k, int&) { taken.push_back(k); }, [] {}, 5);
  EXPECT_TRUE(seen) << "tile 4 never started while tile 0 ran";
  EXPECT_EQ(taken, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

}  // namespace
}  // namespace tesk
