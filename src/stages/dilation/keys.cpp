#include "stages/dilation/keys.h"

#include <algorithm>
#include <cstring>

namespace tesk::dilation_keys {
namespace {

// The chain is a running minimum of key + distance.  With vectors, a block
// of lanes takes it in three (or two) shift-and-min steps, then from the
// last key of the block before.  That last key is the smaller of the
// block's own last key and the carry plus the block's width, so the blocks
// wait for each other through one scalar addition and minimum only.  The vector way also offers keys made from
// kFarKey and the far side of a block (d > kFarD); they never win, since
// each key's own d is at most kFarD, so the result is the same.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(TESK_NO_CPU_KERNELS)
#define TESK_CHAIN_VECTORS 1
// x becomes the lane-wise minimum of x and the vector t.  (A macro: a
// helper function would take vectors wider than the baseline's registers.)
#define TESK_MIN_INTO(x, t)                \
  do {                                     \
    const auto tesk_t = (t);               \
    const auto tesk_m = (x) < tesk_t;      \
    (x) = ((x) & tesk_m) | (tesk_t & ~tesk_m); \
  } while (0)
typedef Key KeyX8 __attribute__((vector_size(64)));
typedef Key KeyX4 __attribute__((vector_size(32)));

__attribute__((target("avx512f"))) void chain_forward_x8(int nc, Key* cur, Key carry) {
  const KeyX8 far = {kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey};
  const KeyX8 steps = {kOne, 2 * kOne, 3 * kOne, 4 * kOne, 5 * kOne, 6 * kOne, 7 * kOne, 8 * kOne};
  int j = 0;
  for (; j + 8 <= nc; j += 8) {
    KeyX8 x;
    std::memcpy(&x, cur + 1 + j, sizeof x);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 8, 0, 1, 2, 3, 4, 5, 6) + kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 8, 8, 0, 1, 2, 3, 4, 5) + 2 * kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 8, 8, 8, 8, 0, 1, 2, 3) + 4 * kOne);
    const KeyX8 c = {carry, carry, carry, carry, carry, carry, carry, carry};
    // The next block's carry from this block's own chain: only a scalar
    // step waits for the carry before it.
    carry = std::min(x[7], carry + 8 * kOne);
    TESK_MIN_INTO(x, c + steps);
    std::memcpy(cur + 1 + j, &x, sizeof x);
  }
  for (; j < nc; ++j) carry = cur[j + 1] = std::min(cur[j + 1], carry + kOne);
}

__attribute__((target("avx512f"))) void chain_backward_x8(int nc, Key* cur, Key carry) {
  const KeyX8 far = {kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey, kFarKey};
  const KeyX8 steps = {8 * kOne, 7 * kOne, 6 * kOne, 5 * kOne, 4 * kOne, 3 * kOne, 2 * kOne, kOne};
  int j = nc;
  for (; j >= 8; j -= 8) {
    KeyX8 x;
    std::memcpy(&x, cur + 1 + j - 8, sizeof x);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 1, 2, 3, 4, 5, 6, 7, 8) + kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 2, 3, 4, 5, 6, 7, 8, 8) + 2 * kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 4, 5, 6, 7, 8, 8, 8, 8) + 4 * kOne);
    const KeyX8 c = {carry, carry, carry, carry, carry, carry, carry, carry};
    carry = std::min(x[0], carry + 8 * kOne);
    TESK_MIN_INTO(x, c + steps);
    std::memcpy(cur + 1 + j - 8, &x, sizeof x);
  }
  for (; j > 0; --j) carry = cur[j] = std::min(cur[j], carry + kOne);
}

__attribute__((target("avx2"))) void chain_forward_x4(int nc, Key* cur, Key carry) {
  const KeyX4 far = {kFarKey, kFarKey, kFarKey, kFarKey};
  const KeyX4 steps = {kOne, 2 * kOne, 3 * kOne, 4 * kOne};
  int j = 0;
  for (; j + 4 <= nc; j += 4) {
    KeyX4 x;
    std::memcpy(&x, cur + 1 + j, sizeof x);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 4, 0, 1, 2) + kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 4, 4, 0, 1) + 2 * kOne);
    const KeyX4 c = {carry, carry, carry, carry};
    carry = std::min(x[3], carry + 4 * kOne);
    TESK_MIN_INTO(x, c + steps);
    std::memcpy(cur + 1 + j, &x, sizeof x);
  }
  for (; j < nc; ++j) carry = cur[j + 1] = std::min(cur[j + 1], carry + kOne);
}

__attribute__((target("avx2"))) void chain_backward_x4(int nc, Key* cur, Key carry) {
  const KeyX4 far = {kFarKey, kFarKey, kFarKey, kFarKey};
  const KeyX4 steps = {4 * kOne, 3 * kOne, 2 * kOne, kOne};
  int j = nc;
  for (; j >= 4; j -= 4) {
    KeyX4 x;
    std::memcpy(&x, cur + 1 + j - 4, sizeof x);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 1, 2, 3, 4) + kOne);
    TESK_MIN_INTO(x, __builtin_shufflevector(x, far, 2, 3, 4, 4) + 2 * kOne);
    const KeyX4 c = {carry, carry, carry, carry};
    carry = std::min(x[0], carry + 4 * kOne);
    TESK_MIN_INTO(x, c + steps);
    std::memcpy(cur + 1 + j - 4, &x, sizeof x);
  }
  for (; j > 0; --j) carry = cur[j] = std::min(cur[j], carry + kOne);
}
#endif


void chain_forward_scalar(int nc, Key* cur, Key carry) {
  Key left = carry;
  for (int j = 0; j < nc; ++j) left = cur[j + 1] = std::min(cur[j + 1], left + kOne);
}

void chain_backward_scalar(int nc, Key* cur, Key carry) {
  Key right = carry;
  for (int j = nc; j > 0; --j) right = cur[j] = std::min(cur[j], right + kOne);
}

}  // namespace

bool chain_way_supported(ChainWay way) {
  switch (way) {
    case ChainWay::kScalar:
      return true;
#ifdef TESK_CHAIN_VECTORS
    case ChainWay::kVector4:
      return __builtin_cpu_supports("avx2");
    case ChainWay::kVector8:
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

void chain_forward_with(ChainWay way, int nc, Key* cur, Key carry) {
#ifdef TESK_CHAIN_VECTORS
  if (way == ChainWay::kVector8) return chain_forward_x8(nc, cur, carry);
  if (way == ChainWay::kVector4) return chain_forward_x4(nc, cur, carry);
#endif
  (void)way;
  chain_forward_scalar(nc, cur, carry);
}

void chain_backward_with(ChainWay way, int nc, Key* cur, Key carry) {
#ifdef TESK_CHAIN_VECTORS
  if (way == ChainWay::kVector8) return chain_backward_x8(nc, cur, carry);
  if (way == ChainWay::kVector4) return chain_backward_x4(nc, cur, carry);
#endif
  (void)way;
  chain_backward_scalar(nc, cur, carry);
}

namespace {

// The fastest way this processor has.
ChainWay best_way() {
  if (chain_way_supported(ChainWay::kVector8)) return ChainWay::kVector8;
  if (chain_way_supported(ChainWay::kVector4)) return ChainWay::kVector4;
  return ChainWay::kScalar;
}

}  // namespace

void chain_forward(int nc, Key* cur, Key carry) { chain_forward_with(best_way(), nc, cur, carry); }

void chain_backward(int nc, Key* cur, Key carry) { chain_backward_with(best_way(), nc, cur, carry); }

}  // namespace tesk::dilation_keys
