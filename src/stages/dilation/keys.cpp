#include "stages/dilation/keys.h"

#include <algorithm>
#include <cstring>
#include <utility>

// The vector code below is internal and always inlined into its callers:
// the ABI of passing wide vectors between functions does not concern it.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tesk::dilation_keys {
namespace {

// The chain is a running minimum of key + distance.  With vectors, a block
// of W keys takes it in log2(W) shift-and-min steps, then from the last key
// of the block before.  That last key is the smaller of the block's own last
// key and the carry plus the block's width, so the blocks wait for each
// other through one scalar addition and minimum only.  The shifts also offer
// keys made from kFarKey (d > kFarD); they never win, since each key's own d
// is at most kFarD, so the result is the same.
//
// One template serves every width; each width is built twice: for the
// processor that has the instructions (picked at run time), and portably
// (the compiler lowers the vectors to what the processor has), so that the
// logic of every way is tested on every machine.

template <int W>
struct Lanes {
  typedef Key type __attribute__((vector_size(W * sizeof(Key))));
};
template <int W>
using KeyVec = typename Lanes<W>::type;

template <int W>
[[gnu::always_inline]] inline KeyVec<W> min_of(KeyVec<W> x, KeyVec<W> y) {
  const auto m = x < y;
  return (x & m) | (y & ~m);
}

// Lane i takes x[i - S] (forward) or x[i + S] (backward), far where that
// falls outside the block.
template <int W, int S, bool kForward, std::size_t... I>
[[gnu::always_inline]] inline KeyVec<W> shifted(KeyVec<W> x, KeyVec<W> far, std::index_sequence<I...>) {
  if constexpr (kForward)
    return __builtin_shufflevector(x, far, (static_cast<int>(I) < S ? W : static_cast<int>(I) - S)...);
  else
    return __builtin_shufflevector(x, far, (static_cast<int>(I) + S < W ? static_cast<int>(I) + S : W)...);
}

// The steps of a block: after them, lane i holds the chain within the block.
template <int W, bool kForward, int S = 1>
[[gnu::always_inline]] inline KeyVec<W> block_chain(KeyVec<W> x, KeyVec<W> far) {
  if constexpr (S >= W) {
    return x;
  } else {
    x = min_of<W>(x, shifted<W, S, kForward>(x, far, std::make_index_sequence<W>{}) + static_cast<Key>(S) * kOne);
    return block_chain<W, kForward, 2 * S>(x, far);
  }
}

template <int W>
[[gnu::always_inline]] inline void chain_forward_blocks(int nc, Key* cur, Key carry) {
  const KeyVec<W> far = KeyVec<W>{} + kFarKey;  // (a scalar operand is broadcast)
  KeyVec<W> steps;
  for (int i = 0; i < W; ++i) steps[i] = static_cast<Key>(i + 1) * kOne;
  int j = 0;
  for (; j + W <= nc; j += W) {
    KeyVec<W> x;
    std::memcpy(&x, cur + 1 + j, sizeof x);
    x = block_chain<W, true>(x, far);
    const KeyVec<W> c = steps + carry;
    // The next block's carry from this block's own chain: only a scalar
    // step waits for the carry before it.
    carry = std::min(x[W - 1], carry + W * kOne);
    x = min_of<W>(x, c);
    std::memcpy(cur + 1 + j, &x, sizeof x);
  }
  for (; j < nc; ++j) carry = cur[j + 1] = std::min(cur[j + 1], carry + kOne);
}

template <int W>
[[gnu::always_inline]] inline void chain_backward_blocks(int nc, Key* cur, Key carry) {
  const KeyVec<W> far = KeyVec<W>{} + kFarKey;  // (a scalar operand is broadcast)
  KeyVec<W> steps;
  for (int i = 0; i < W; ++i) steps[i] = static_cast<Key>(W - i) * kOne;
  int j = nc;
  for (; j >= W; j -= W) {
    KeyVec<W> x;
    std::memcpy(&x, cur + 1 + j - W, sizeof x);
    x = block_chain<W, false>(x, far);
    const KeyVec<W> c = steps + carry;
    carry = std::min(x[0], carry + W * kOne);
    x = min_of<W>(x, c);
    std::memcpy(cur + 1 + j - W, &x, sizeof x);
  }
  for (; j > 0; --j) carry = cur[j] = std::min(cur[j], carry + kOne);
}

void chain_forward_scalar(int nc, Key* cur, Key carry) {
  Key left = carry;
  for (int j = 0; j < nc; ++j) left = cur[j + 1] = std::min(cur[j + 1], left + kOne);
}

void chain_backward_scalar(int nc, Key* cur, Key carry) {
  Key right = carry;
  for (int j = nc; j > 0; --j) right = cur[j] = std::min(cur[j], right + kOne);
}

// The portable builds.
void chain_forward_x4(int nc, Key* cur, Key carry) { chain_forward_blocks<4>(nc, cur, carry); }
void chain_backward_x4(int nc, Key* cur, Key carry) { chain_backward_blocks<4>(nc, cur, carry); }
void chain_forward_x8(int nc, Key* cur, Key carry) { chain_forward_blocks<8>(nc, cur, carry); }
void chain_backward_x8(int nc, Key* cur, Key carry) { chain_backward_blocks<8>(nc, cur, carry); }

using ChainFn = void (*)(int, Key*, Key);
struct Chains {
  ChainFn forward, backward;
};

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(TESK_NO_CPU_KERNELS)
// The builds for the processors that have the instructions.
__attribute__((target("avx2"))) void chain_forward_avx2(int nc, Key* cur, Key carry) {
  chain_forward_blocks<4>(nc, cur, carry);
}
__attribute__((target("avx2"))) void chain_backward_avx2(int nc, Key* cur, Key carry) {
  chain_backward_blocks<4>(nc, cur, carry);
}
__attribute__((target("avx512f"))) void chain_forward_avx512(int nc, Key* cur, Key carry) {
  chain_forward_blocks<8>(nc, cur, carry);
}
__attribute__((target("avx512f"))) void chain_backward_avx512(int nc, Key* cur, Key carry) {
  chain_backward_blocks<8>(nc, cur, carry);
}

Chains best_chains() {
  __builtin_cpu_init();  // (this runs among the static constructors)
  if (__builtin_cpu_supports("avx512f")) return {chain_forward_avx512, chain_backward_avx512};
  if (__builtin_cpu_supports("avx2")) return {chain_forward_avx2, chain_backward_avx2};
  return {chain_forward_scalar, chain_backward_scalar};
}
#else
Chains best_chains() { return {chain_forward_scalar, chain_backward_scalar}; }
#endif

const Chains kBest = best_chains();

Chains portable(ChainWay way) {
  switch (way) {
    case ChainWay::kVector4:
      return {chain_forward_x4, chain_backward_x4};
    case ChainWay::kVector8:
      return {chain_forward_x8, chain_backward_x8};
    default:
      return {chain_forward_scalar, chain_backward_scalar};
  }
}

}  // namespace

void chain_forward_with(ChainWay way, int nc, Key* cur, Key carry) { portable(way).forward(nc, cur, carry); }

void chain_backward_with(ChainWay way, int nc, Key* cur, Key carry) { portable(way).backward(nc, cur, carry); }

void chain_forward(int nc, Key* cur, Key carry) { kBest.forward(nc, cur, carry); }

void chain_backward(int nc, Key* cur, Key carry) { kBest.backward(nc, cur, carry); }

}  // namespace tesk::dilation_keys
