// The chains of the fast dilation's keys: a worked row, and every way of
// computing them (pixel by pixel, 4 and 8 keys at a time) against the
// pixel-by-pixel one on many random rows, on this processor's ways.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "stages/dilation/keys.h"

namespace tesk::dilation_keys {
namespace {

// A row buffer: cur[1..nc] with a cell on each side that the chains must
// leave alone.
std::vector<Key> row(std::initializer_list<Key> keys) {
  std::vector<Key> r{-1};
  r.insert(r.end(), keys);
  r.push_back(-1);
  return r;
}

TEST(DilationKeys, PackingOrdersLayerThenValue) {
  EXPECT_LT(make_key(1, 500), make_key(2, -500));
  EXPECT_LT(make_key(3, INT_MIN), make_key(3, -1));
  EXPECT_LT(make_key(3, -1), make_key(3, 0));
  EXPECT_LT(make_key(3, INT_MAX), make_key(4, INT_MIN));
  EXPECT_LT(make_key(kFarD, INT_MAX), make_key(kFarD, INT_MIN) + kOne);
  EXPECT_EQ(make_key(7, -42) + kOne, make_key(8, -42));
  EXPECT_EQ(key_d(make_key(kFarD, 99)), kFarD);
  EXPECT_EQ(key_v(make_key(kFarD, INT_MIN)), INT_MIN);
  EXPECT_EQ(key_v(make_key(2, INT_MAX)), INT_MAX);
}

// The midpoint in integers against the rounding it stands for, in double:
// the extremes, sums of -2 to 1 around the turn of the truncation, and
// random pairs.
TEST(DilationKeys, MidpointMatchesDoubleRounding) {
  auto reference = [](std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>((static_cast<double>(a) + static_cast<double>(b)) * 0.5 + 0.5);
  };
  const std::vector<std::int32_t> edge{INT_MIN, INT_MIN + 1, INT_MIN + 2, -3, -2, -1, 0, 1, 2, 3, INT_MAX - 1, INT_MAX};
  for (const std::int32_t a : edge)
    for (const std::int32_t b : edge) EXPECT_EQ(midpoint_rounded(a, b), reference(a, b)) << a << " " << b;
  for (std::int32_t s = -6; s <= 6; ++s)
    for (std::int32_t a = -9; a <= 9; ++a) EXPECT_EQ(midpoint_rounded(a, s - a), reference(a, s - a)) << a << " " << s - a;
  std::mt19937 rng(7);
  std::uniform_int_distribution<std::int32_t> any(INT_MIN, INT_MAX), near(-100000, 100000);
  for (int k = 0; k < 200000; ++k) {
    const std::int32_t a = k % 2 ? any(rng) : near(rng), b = k % 3 ? any(rng) : near(rng);
    ASSERT_EQ(midpoint_rounded(a, b), reference(a, b)) << a << " " << b;
  }
}

TEST(DilationKeys, WorkedRowBothWays) {
  const Key a = make_key(3, 5), b = make_key(1, 9), c = make_key(4, -2);
  for (const ChainWay way : {ChainWay::kScalar, ChainWay::kVector4, ChainWay::kVector8}) {
    if (!chain_way_supported(way)) continue;
    SCOPED_TRACE(static_cast<int>(way));
    auto f = row({kFarKey, a, kFarKey, c, kFarKey, b, kFarKey});
    chain_forward_with(way, 7, f.data());
    EXPECT_EQ(f, row({kFarKey, a, a + kOne, c, c + kOne, b, b + kOne}));
    auto g = row({kFarKey, a, kFarKey, c, kFarKey, b, kFarKey});
    chain_backward_with(way, 7, g.data());
    EXPECT_EQ(g, row({a + kOne, a, make_key(4, 9), make_key(3, 9), b + kOne, b, kFarKey}));
    // A key carried in from beyond the row.
    auto h = row({kFarKey, kFarKey, a});
    chain_forward_with(way, 3, h.data(), make_key(1, 0));
    EXPECT_EQ(h, row({make_key(2, 0), make_key(3, 0), a}));
    auto k = row({a, kFarKey, kFarKey});
    chain_backward_with(way, 3, k.data(), make_key(2, -1));
    EXPECT_EQ(k, row({a, make_key(4, -1), make_key(3, -1)}));
  }
}

TEST(DilationKeys, EveryWayGivesThePixelByPixelKeys) {
  std::mt19937_64 rng(20261206);
  int compared = 0;
  for (int t = 0; t < 4000; ++t) {
    const int nc = t < 3000 ? static_cast<int>(rng() % 70) : static_cast<int>(rng() % 3000);
    std::vector<Key> keys(static_cast<std::size_t>(nc) + 2);
    // Layers near one another so that the chains decide often, plus far
    // keys and labels of unreached pixels (d = kFarD, any value).
    for (Key& k : keys) {
      const auto kind = rng() % 8;
      const auto v = static_cast<std::int32_t>(rng() % 7 == 0 ? (rng() % 2 ? INT_MIN : INT_MAX)
                                                               : static_cast<std::int32_t>(rng() % 2001) - 1000);
      k = kind == 0 ? kFarKey : kind == 1 ? make_key(kFarD, v) : make_key(1 + static_cast<std::uint32_t>(rng() % 30), v);
    }
    // The key carried in from beyond the row: far, or a label.
    const Key carry = rng() % 2 ? kFarKey : make_key(1 + static_cast<std::uint32_t>(rng() % 30), -7);
    for (const bool forward : {true, false}) {
      std::vector<Key> expected = keys;
      forward ? chain_forward_with(ChainWay::kScalar, nc, expected.data(), carry)
              : chain_backward_with(ChainWay::kScalar, nc, expected.data(), carry);
      for (const ChainWay way : {ChainWay::kVector4, ChainWay::kVector8}) {
        if (!chain_way_supported(way)) continue;
        std::vector<Key> got = keys;
        forward ? chain_forward_with(way, nc, got.data(), carry) : chain_backward_with(way, nc, got.data(), carry);
        ASSERT_EQ(got, expected) << "case " << t << " width " << nc << (forward ? " forward" : " backward")
                                 << " way " << static_cast<int>(way);
        ++compared;
      }
      std::vector<Key> chosen = keys;
      forward ? chain_forward(nc, chosen.data(), carry) : chain_backward(nc, chosen.data(), carry);
      ASSERT_EQ(chosen, expected) << "case " << t;
    }
  }
  if (compared == 0) GTEST_SKIP() << "this processor has no vector way of computing the chains";
}

}  // namespace
}  // namespace tesk::dilation_keys
