// The labels of the fast dilation's straight-line walks, packed into keys,
// and the chains that carry them along a row.
//
// A label (d, v) is packed into one 64-bit key, d in the high half and v in
// the low half with its sign bit flipped, so that comparing keys compares
// (d, v) as a pair and adding kOne adds one to d.  A pixel that is no source
// of growth holds kFarKey.  Every key a walk stores has d <= kFarD; sums
// made from them stay far below the top of the range and cannot overflow.
#pragma once

#include <climits>
#include <cstdint>

namespace tesk::dilation_keys {

using Key = std::int64_t;
constexpr Key kOne = Key{1} << 32;
constexpr std::uint32_t kFarD = INT_MAX / 2;
constexpr Key kFarKey = static_cast<Key>(kFarD) << 32;

inline Key make_key(std::uint32_t d, std::int32_t v) {
  return static_cast<Key>((static_cast<std::uint64_t>(d) << 32) | (static_cast<std::uint32_t>(v) ^ 0x80000000u));
}
inline std::uint32_t key_d(Key k) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(k) >> 32); }
inline std::int32_t key_v(Key k) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(k)) ^ 0x80000000u);
}

// The midpoint written between two grown values: (a + b) * 0.5 + 0.5 in
// double, truncated toward zero, in 32-bit integers only (so that it runs
// in vectors twice as wide).  f is floor((a + b) / 2) and c its ceiling,
// both without overflow; the truncation of (a + b + 1) / 2 is c when the
// sum is at least -1 (f >= 0 or the sum is -1, where c and f + 1 agree),
// f + 1 otherwise.  Exact for every pair of ints.
inline std::int32_t midpoint_rounded(std::int32_t a, std::int32_t b) {
  const std::uint32_t ua = static_cast<std::uint32_t>(a), ub = static_cast<std::uint32_t>(b);
  const std::uint32_t half = static_cast<std::uint32_t>(static_cast<std::int32_t>(ua ^ ub) >> 1);
  const std::uint32_t f = (ua & ub) + half;
  const std::uint32_t c = (ua | ub) - half;
  const std::uint32_t neg = static_cast<std::uint32_t>(static_cast<std::int32_t>(f) >> 31);
  return static_cast<std::int32_t>((c & ~neg) | ((f + 1u) & neg));
}

// The chains along a row of keys cur[1..nc]: each key becomes the smallest
// of itself and its left (forward) or right (backward) neighbour's plus
// kOne, in that order; carry is the key before the first one (the one left
// of cur[1], or right of cur[nc]).  Every key must have d <= kFarD.
void chain_forward(int nc, Key* cur, Key carry = kFarKey);
void chain_backward(int nc, Key* cur, Key carry = kFarKey);

// The ways of computing the chains, for the tests: pixel by pixel, and in
// blocks of 4 or 8 keys.  chain_forward and chain_backward run the way the
// processor does best (blocks of 8 with AVX-512, of 4 with AVX2), compiled
// for it; these run the same code compiled for any processor, so that every
// way is tested everywhere.
enum class ChainWay { kScalar, kVector4, kVector8 };
void chain_forward_with(ChainWay way, int nc, Key* cur, Key carry = kFarKey);
void chain_backward_with(ChainWay way, int nc, Key* cur, Key carry = kFarKey);

}  // namespace tesk::dilation_keys
