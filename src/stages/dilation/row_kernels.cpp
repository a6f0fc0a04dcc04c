#include "stages/dilation/row_kernels.h"

#include <algorithm>

#include "core/cpu_kernels.h"
#include "core/units.h"

namespace tesk::dilation {
namespace {

using dilation_keys::chain_backward;
using dilation_keys::chain_forward;
using dilation_keys::key_d;
using dilation_keys::key_v;
using dilation_keys::kFarD;
using dilation_keys::kFarKey;
using dilation_keys::kOne;
using dilation_keys::midpoint_rounded;

// The kernels keep each loop to one width of integers where they can (state
// bytes with 32-bit masks, or 32-bit masks with 64-bit keys): such loops run
// in vector registers, mixed ones of bytes and keys do not.  Row masks are 0
// or all ones.

// x where the mask is all ones, y where it is zero.
inline Key pick(Key mask, Key x, Key y) { return (x & mask) | (y & ~mask); }
inline std::int32_t pick32(std::int32_t mask, std::int32_t x, std::int32_t y) { return (x & mask) | (y & ~mask); }

// Leaves the labels in cur[1..n] of the pixels flagged in unreached in itab
// (layer) and the grown surface (value, when reached).
TESK_CPU_KERNEL
void store_labels(int n, const std::int32_t* unreached, std::int32_t* iv, std::int32_t* gv, const Key* cur) {
  for (int j = 0; j < n; ++j) {
    const Key k = cur[j + 1];
    const std::uint32_t d = key_d(k);
    const std::int32_t un = unreached[j];
    iv[j] = pick32(un, static_cast<std::int32_t>(d), iv[j]);
    gv[j] = pick32(un & -static_cast<std::int32_t>(d != kFarD), key_v(k), gv[j]);
  }
}

// The chain of a run of keys, to the right or to the left.
inline void chain_row(int n, Key* cur, Key carry, bool right_to_left) {
  if (right_to_left)
    chain_backward(n, cur, carry);
  else
    chain_forward(n, cur, carry);
}

// The masks of a run for the second sweep: source (data and layer-1
// pixels) and unreached.  Returns the number of unreached pixels.
TESK_CPU_KERNEL
std::int64_t label_masks(int n, const std::uint8_t* s, std::int32_t* source, std::int32_t* unreached) {
  std::int32_t count = 0;
  for (int j = 0; j < n; ++j) {
    const std::int32_t st = s[j] & kStateBits;
    const std::int32_t un = -static_cast<std::int32_t>(st == kUnreached);
    source[j] = -static_cast<std::int32_t>(st == kData) | -static_cast<std::int32_t>(st == kFresh) |
                -static_cast<std::int32_t>(st == kLayer1);
    unreached[j] = un;
    count -= un;
  }
  return count;
}

}  // namespace

TESK_CPU_KERNEL
void data_key_row(int n, const std::uint8_t* s, const std::int32_t* iv, Key* out, std::int32_t* mask) {
  // (Each test a mask of its own: or-ed as booleans, the compiler turns
  // them into a bit test, which has no vector form.)
  for (int j = 0; j < n; ++j) {
    const std::int32_t st = s[j] & kStateBits;
    mask[j] = -static_cast<std::int32_t>(st == kData) | -static_cast<std::int32_t>(st == kFresh);
  }
  for (int j = 0; j < n; ++j) {
    const Key m = mask[j];
    out[j + 1] = pick(m, kOne + static_cast<Key>(static_cast<std::uint32_t>(iv[j]) ^ 0x80000000u), kFarKey);
  }
}

// What settling and layer 1 do to a pixel, by its state: data and dead
// pixels stay; a pixel written by the last pass becomes data (its grown
// value becomes the value written); a pixel of a component grown for the
// last time (flagged dying, not flooded since) is dropped for good; any
// other is grown: layer 1 when a data pixel is in its cross (it takes the
// smallest of their values), unreached otherwise, and flagged dying when
// the last pass found its component unchanged.
TESK_CPU_KERNEL
void forward_row(int n, std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* up, const Key* mid,
                 const Key* down, const Key* pk, Key* cur, Key carry, bool keep_all, bool right_to_left,
                 std::int32_t* m1, std::int32_t* m2, RowCounts& counts) {
  // Keys only.  A data pixel keeps its own key; any other takes the
  // smallest data key of its cross (far when there is none): that is the
  // label of a layer-1 pixel, and only data and dead pixels read a dead
  // pixel's key.  m1: a data pixel in the cross; m2: the value offered.
  for (int j = 0; j < n; ++j) {
    const Key c = std::min(std::min(up[j + 1], down[j + 1]), std::min(mid[j], mid[j + 2]));
    const Key m = mid[j + 1];
    const Key own = m < kFarKey ? m : c;
    cur[j + 1] = std::min(own, std::min(std::min(pk[j], pk[j + 1]), pk[j + 2]) + kOne);
    m1[j] = -static_cast<std::int32_t>(c < kFarKey);
    m2[j] = key_v(c);
  }
  // States only; m1 becomes the mask of the unreached pixels.
  const std::uint32_t dying_new = keep_all ? 0u : kDying;
  std::uint32_t grown = 0, dropped = 0, unreached_n = 0;
  for (int j = 0; j < n; ++j) {
    const std::uint32_t b = s[j];
    const std::uint32_t st = b & kStateBits;
    const std::uint32_t any = static_cast<std::uint32_t>(m1[j]);
    const std::uint32_t stays = -static_cast<std::uint32_t>(st == kData) | -static_cast<std::uint32_t>(st == kDead);
    const std::uint32_t fresh = -static_cast<std::uint32_t>(st == kFresh);
    const std::uint32_t flooded = -static_cast<std::uint32_t>(st == kFlooded);
    static_assert(kDying == 1u << 6);
    const std::uint32_t drop = ~stays & ~fresh & ~flooded & -((b >> 6) & 1u);
    const std::uint32_t grows = ~stays & ~fresh & ~drop;
    const std::uint32_t border = b & kBorder;
    const std::uint32_t grown_state =
        border | (dying_new & ~flooded) | (static_cast<std::uint32_t>(kUnreached) ^ ((kUnreached ^ kLayer1) & any));
    s[j] = static_cast<std::uint8_t>((b & stays) | ((border | kData) & fresh) | ((border | kDead) & drop) |
                                     (grown_state & grows));
    const std::uint32_t layer1 = grows & any;
    const std::uint32_t un = grows & ~any;
    gv[j] = static_cast<std::int32_t>((static_cast<std::uint32_t>(m2[j]) & layer1) |
                                      (static_cast<std::uint32_t>(iv[j]) & fresh) |
                                      (static_cast<std::uint32_t>(gv[j]) & ~(layer1 | fresh)));
    m1[j] = static_cast<std::int32_t>(un);
    grown += grows & 1u;
    dropped += drop & 1u;
    unreached_n += un & 1u;
  }
  chain_row(n, cur, carry, right_to_left);
  store_labels(n, m1, iv, gv, cur);
  counts.grown += grown;
  counts.dropped += dropped;
  counts.unreached += unreached_n;
}

// The second sweep of a run, the other way from the first: each pixel's
// own label, then the smallest of the row swept before (nk, after its
// second sweep) plus one, then the chain (carry: the key of the pixel
// before the run in the chain's order, after its second sweep), into cur.
// The labels of the unreached pixels are left in itab (layer) and the
// grown surface (value), as after the first sweep, for the last step that
// follows.  m1 and m2 (n entries each) are scratch.
TESK_CPU_KERNEL
void backward_row(int n, const std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* nk, Key* cur,
                  Key carry, bool right_to_left, std::int32_t* m1, std::int32_t* m2, RowCounts& counts) {
  const std::int64_t unreached_n = label_masks(n, s, m1, m2);
  for (int j = 0; j < n; ++j) {
    const Key src = m1[j];
    const Key un = m2[j];
    const std::uint64_t v = static_cast<std::uint32_t>(gv[j]) ^ 0x80000000u;
    const std::uint64_t d = static_cast<std::uint32_t>(iv[j]);
    const Key own = pick(src, kOne + static_cast<Key>(v), pick(un, static_cast<Key>((d << 32) | v), kFarKey));
    cur[j + 1] = std::min(own, std::min(std::min(nk[j], nk[j + 1]), nk[j + 2]) + kOne);
  }
  chain_row(n, cur, carry, right_to_left);
  store_labels(n, m2, iv, gv, cur);
  counts.unreached += unreached_n;
}

// The last step of the growth for one row whose labels were left in itab
// and the grown surface: itab back to the marker, reached pixels flagged,
// the deepest layers noted.
TESK_CPU_KERNEL
void settle_labels_row(int nc, std::uint8_t* s, std::int32_t* iv, RowCounts& counts) {
  // Written with 32-bit masks only, so that the loop runs in vector
  // registers.
  std::uint32_t layers = counts.layers, dying_layers = counts.dying_layers;
  for (int j = 0; j < nc; ++j) {
    const std::uint32_t b = s[j];
    const std::uint32_t st = b & kStateBits;
    const std::uint32_t layer1 = -static_cast<std::uint32_t>(st == kLayer1);
    const std::uint32_t live = layer1 | -static_cast<std::uint32_t>(st == kUnreached);
    const std::uint32_t label = static_cast<std::uint32_t>(iv[j]);
    const std::uint32_t d = (1u & layer1) | (label & ~layer1);
    const std::uint32_t reached = live & -static_cast<std::uint32_t>(d != kFarD);
    iv[j] = static_cast<std::int32_t>((static_cast<std::uint32_t>(kNoData) & live) | (label & ~live));
    const std::uint32_t rs = (b & (kBorder | kDying)) | kReached;
    s[j] = static_cast<std::uint8_t>((rs & reached) | (b & ~reached));
    const std::uint32_t dr = d & reached;
    layers = std::max(layers, dr);
    static_assert(kDying == 1u << 6);
    dying_layers = std::max(dying_layers, dr & -((b >> 6) & 1u));
  }
  counts.layers = layers;
  counts.dying_layers = dying_layers;
}

// The midpoint proposals of one row: out[j] is the midpoint between c[j + 1]
// and the last of its cross neighbours (above, left, right, below) that is
// strictly greater, or the marker when there is none.  c[1..nc] holds the
// row's grown values, with the marker (never greater) at c[0] and c[nc + 1];
// up and down the grown values of the rows above and below.
TESK_CPU_KERNEL
void midpoint_proposals(int nc, const std::int32_t* up, const std::int32_t* c, const std::int32_t* down,
                        std::int32_t* out) {
  for (int j = 0; j < nc; ++j) {
    const std::int32_t g = c[j + 1];
    const std::int32_t u = up[j], l = c[j], r = c[j + 2], dn = down[j];
    std::int32_t alt = u > g ? u : 0;
    alt = l > g ? l : alt;
    alt = r > g ? r : alt;
    alt = dn > g ? dn : alt;
    const std::int32_t any = (u > g) | (l > g) | (r > g) | (dn > g);
    // A select by mask: a conditional here keeps the loop from being
    // vectorised.
    out[j] = pick32(-any, midpoint_rounded(alt, g), kNoData);
  }
}

// Writes the proposals of a run into its reached pixels of itab, flags them
// written, and counts them.  Their grown value is left as it is until the
// next pass settles them (forward_row, first_layer): the other pixels'
// midpoints of this pass read the grown values.
TESK_CPU_KERNEL
void commit_midpoints(int n, std::uint8_t* s, std::int32_t* iv, const std::int32_t* m, RowCounts& counts) {
  std::int64_t reached_n = 0, written = 0;
  for (int j = 0; j < n; ++j) {
    const std::uint8_t b = s[j];
    const std::int32_t reached = (b & kStateBits) == kReached;
    const std::int32_t w = reached & (m[j] != kNoData);
    reached_n += reached;
    written += w;
    iv[j] = pick32(-w, m[j], iv[j]);
    const auto wb = static_cast<std::uint8_t>(-w);
    s[j] = static_cast<std::uint8_t>((((b & kBorder) | kFresh) & wb) | (b & ~wb));
  }
  counts.reached += reached_n;
  counts.written += written;
}

TESK_CPU_KERNEL
void record_midpoints(int n, const std::uint8_t* s, const std::int32_t* m, std::int32_t* at, std::int32_t pass) {
  // Few pixels of a run are written: the record is touched only at those.
  for (int j = 0; j < n; ++j)
    if (((s[j] & kStateBits) == kReached) & (m[j] != kNoData)) at[j] = pass;
}

}  // namespace tesk::dilation
