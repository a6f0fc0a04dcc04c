#include "stages/dilation_fast.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "core/cpu_kernels.h"
#include "core/units.h"
#include "stages/dilation_keys.h"
#include "stages/parallel.h"

namespace tesk {
namespace {

// Pixel states kept in the byte grid during the dilation (the low six bits).
// A data pixel of itab is kData; the other states describe a no-data pixel.
//
// Why pixels can be dropped for good: call two no-data pixels connected when
// they are 8-neighbours, and a component a maximal connected set of them.
// Everything a pass computes in a component (layers, grown values,
// midpoints) reads only the component and the data pixels around it, since
// growth steps and cross neighbours never leave it except onto data pixels.
// A pixel a pass writes cannot be an 8-neighbour of another component (they
// would be one).  So a component in which a pass wrote nothing is grown
// identically, and again writes nothing, in every later pass: it is dead.
// After a pass, the components that may still change are exactly those
// connected to a pixel the pass wrote; a flood from the written pixels finds
// them.  The set grown by a pass is therefore always a union of whole
// components, and a grown pixel never has a dead 8-neighbour.
//
// Each dead component's layer count is still part of the sweep count of
// every later pass; it is measured once, in one extra pass during which the
// component is grown (flagged kDying) and then dropped.
enum : std::uint8_t {
  kData = 0,       // data pixel of itab
  kUnreached = 1,  // no-data, grown this pass, not reached by the growth (yet)
  kReached = 2,    // reached by the growth of this pass
  kLayer1 = 3,     // no-data with a data pixel in its cross: layer 1 of this pass
  kCommit = 5,     // midpoint written into itab this pass, grown value not yet replaced
  kFresh = 6,      // written by the pass just done: a data pixel from the next pass on
  kFlooded = 7,    // no-data, connected to a pixel written by the pass just done
  kDead = 0x20,    // no-data pixel of a component that can no longer change
};
constexpr std::uint8_t kStateBits = 0x3f;
// Flags: a no-data pixel grown only to measure its component's layer count
// before it is dropped; a pixel of the first or last row or column, whose
// neighbourhoods must be clipped (the others use fixed offsets).
constexpr std::uint8_t kDying = 0x40;
constexpr std::uint8_t kBorder = 0x80;

// The scans skip eight interior data or dead pixels at a time: a word whose
// bytes are each 0 or kDead.
constexpr std::uint64_t kSkippable = 0x2020202020202020ULL;

constexpr std::uint64_t bit(std::uint8_t s) { return std::uint64_t{1} << s; }
constexpr std::uint64_t kDataStates = bit(kData) | bit(kFresh);
constexpr std::uint64_t kFloodable = bit(kUnreached) | bit(kReached);

// ---- Row kernels of the straight-line walks --------------------------------
//
// Labels are packed into keys (stages/dilation_keys.h).  The kernels
// compute a key for every pixel of a run, also for data and dead pixels,
// and store only those of grown pixels.  A data or layer-1 pixel keeps its
// own key (its d of 1 beats any offered one).  A dead pixel may take a
// meaningless key from a data neighbour, but only data and dead pixels ever
// read it: a grown pixel never has a dead 8-neighbour.
using dilation_keys::chain_backward;
using dilation_keys::chain_forward;
using dilation_keys::Key;
using dilation_keys::key_d;
using dilation_keys::key_v;
using dilation_keys::kFarD;
using dilation_keys::kFarKey;
using dilation_keys::kOne;
using dilation_keys::make_key;
using dilation_keys::midpoint_rounded;

// x where the mask is all ones, y where it is zero.
inline Key pick(Key mask, Key x, Key y) { return (x & mask) | (y & ~mask); }
inline std::int32_t pick32(std::int32_t mask, std::int32_t x, std::int32_t y) { return (x & mask) | (y & ~mask); }

struct RowCounts {
  std::int64_t grown = 0;
  std::int64_t dropped = 0;
  std::int64_t unreached = 0;
  std::int64_t reached = 0;
  std::int64_t written = 0;
  std::uint32_t layers = 0;
  std::uint32_t dying_layers = 0;
};

// The kernels below keep each loop to one width of integers where they
// can (state bytes with 32-bit masks, or 32-bit masks with 64-bit keys):
// such loops run in vector registers, mixed ones of bytes and keys do not.
// Row masks are 0 or all ones.

// The kernels work on a run of n pixels of one row; their pointers start at
// the run's first pixel.  Key buffers (up, mid, down, pk, nk, cur) hold a
// whole row with one extra cell on each side: index j + 1 is the run's
// pixel j, so index 0 is the pixel left of the run and n + 1 the one right
// of it.  Kernels write only the run's own cells.

// out[1..n]: (1, value) for data pixels, kFarKey for the others.  A data
// pixel's value is read from itab, which never changes it.  mask (n
// entries) is scratch.
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

// The masks of a run for the backward walk: source (data and layer-1
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

// Settling, layer 1 and the forward sweep of a run.  up, mid and down are
// the data keys of the rows i - 1, i and i + 1, pk the keys of row i - 1
// after its forward sweep; cur receives row i's.  carry is the key of the
// pixel left of the run after its forward sweep.  keep_all is set when no
// component was found unchanged by the last pass.  m1 and m2 (n entries
// each) are scratch.
//
// What settling and layer 1 do to a pixel, by its state: data and dead
// pixels stay; a pixel written by the last pass becomes data (its grown
// value becomes the value written); a pixel of a component grown for the
// last time (flagged dying, not flooded since) is dropped for good; any
// other is grown: layer 1 when a data pixel is in its cross (it takes the
// smallest of their values), unreached otherwise, and flagged dying when
// the last pass found its component unchanged.
TESK_CPU_KERNEL
void forward_row(int n, std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* up, const Key* mid,
                 const Key* down, const Key* pk, Key* cur, Key carry, bool keep_all, std::int32_t* m1,
                 std::int32_t* m2, RowCounts& counts) {
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
  chain_forward(n, cur, carry);
  store_labels(n, m1, iv, gv, cur);
  counts.grown += grown;
  counts.dropped += dropped;
  counts.unreached += unreached_n;
}

// The backward sweep of a run: each pixel's own label, then the smallest
// of the row below (nk, after its backward sweep) plus one, then the chain
// from the right (carry: the key of the pixel right of the run after its
// backward sweep), into cur.  The labels of the unreached pixels are left
// in itab (layer) and the grown surface (value), as after the forward
// sweep, for the repair across the block edges and the last step that
// follow.  m1 and m2 (n entries each) are scratch.
TESK_CPU_KERNEL
void backward_row(int n, const std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* nk, Key* cur,
                  Key carry, std::int32_t* m1, std::int32_t* m2, RowCounts& counts) {
  const std::int64_t unreached_n = label_masks(n, s, m1, m2);
  for (int j = 0; j < n; ++j) {
    const Key src = m1[j];
    const Key un = m2[j];
    const std::uint64_t v = static_cast<std::uint32_t>(gv[j]) ^ 0x80000000u;
    const std::uint64_t d = static_cast<std::uint32_t>(iv[j]);
    const Key own = pick(src, kOne + static_cast<Key>(v), pick(un, static_cast<Key>((d << 32) | v), kFarKey));
    cur[j + 1] = std::min(own, std::min(std::min(nk[j], nk[j + 1]), nk[j + 2]) + kOne);
  }
  chain_backward(n, cur, carry);
  store_labels(n, m2, iv, gv, cur);
  counts.unreached += unreached_n;
}

// out[1..nc]: the labels of a row whose unreached pixels hold theirs in
// itab and the grown surface; data and layer-1 pixels count as (1, value),
// the others as kFarKey.
TESK_CPU_KERNEL
void label_keys_row(int nc, const std::uint8_t* s, const std::int32_t* iv, const std::int32_t* gv, Key* out) {
  out[0] = kFarKey;
  for (int j = 0; j < nc; ++j) {
    const std::uint8_t st = s[j] & kStateBits;
    const Key source = -static_cast<Key>((st == kData) | (st == kFresh) | (st == kLayer1));
    const Key un = -static_cast<Key>(st == kUnreached);
    const std::int32_t g = gv[j];
    out[j + 1] = pick(source, make_key(1, g), pick(un, make_key(static_cast<std::uint32_t>(iv[j]), g), kFarKey));
  }
  out[nc + 1] = kFarKey;
}

// One relaxation of a row against one neighbouring row (nk, its labels)
// and along itself in both directions; the unreached pixels whose label
// drops take the new one.  Returns whether any did.
TESK_CPU_KERNEL
bool relax_row(int nc, const std::uint8_t* s, std::int32_t* iv, std::int32_t* gv, const Key* nk, Key* cur) {
  label_keys_row(nc, s, iv, gv, cur);
  for (int j = 0; j < nc; ++j) cur[j + 1] = std::min(cur[j + 1], std::min(std::min(nk[j], nk[j + 1]), nk[j + 2]) + kOne);
  for (int j = 1; j < nc; ++j) cur[j + 1] = std::min(cur[j + 1], cur[j] + kOne);
  for (int j = nc - 2; j >= 0; --j) cur[j + 1] = std::min(cur[j + 1], cur[j + 2] + kOne);
  bool changed = false;
  for (int j = 0; j < nc; ++j) {
    if ((s[j] & kStateBits) != kUnreached) continue;
    const Key k = cur[j + 1];
    if (k < make_key(static_cast<std::uint32_t>(iv[j]), gv[j])) {
      iv[j] = static_cast<std::int32_t>(key_d(k));
      gv[j] = key_v(k);
      changed = true;
    }
  }
  return changed;
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

// Row buffers and counts of one block of rows (see "Blocks of rows").
struct Lane {
  std::size_t begin = 0, end = 0;  // the block's part of the active row list
  std::size_t kept = 0;            // end of the rows still active after the forward walk
  int lo = 0, hi = -1;             // its first and last rows
  std::vector<Key> keys_a, keys_b, dk[3], edge_above, edge_below;
  int dk_row[3] = {-2, -2, -2};
  std::vector<std::int32_t> g_pad, m_row, m1, m2;
  std::vector<std::uint64_t> tiles_a, tiles_b;
  std::vector<std::uint32_t> stack;  // the flood's
  RowCounts counts;
  // The forward walk's place: the keys of the row above, the row being
  // walked, the row walked last.
  Key* above = nullptr;
  Key* cur = nullptr;
  int prev = -2;
  // A midpoint walk fused with the next pass's forward walk: its counts,
  // the grown values of the rows just outside the block, a row's states
  // and itab values to commit them apart.
  RowCounts mid_counts;
  std::vector<std::int32_t> g_above, g_below, i_edge;
  std::vector<std::uint8_t> s_edge;
  void set_bounds(const std::vector<int>& rows) {
    lo = begin < end ? rows[begin] : 0;
    hi = begin < end ? rows[end - 1] : -1;
  }
};

class Grower {
 public:
  Grower(IntGrid& itab, IntGrid& grown, ByteGrid& state, FastDilationLimits limits, ThreadPool* pool)
      : nr_(itab.rows()), nc_(itab.cols()), I_(itab.data()), G_(grown.data()), S_(state.data()), pool_(pool) {
    if (limits.min_block_rows > 0) min_block_rows_ = limits.min_block_rows;
    const std::size_t n = itab.size();
    cap_ = limits.stack_capacity ? limits.stack_capacity : std::max<std::size_t>(4096, n / 16);
    flood_limit_ = limits.flood_limit ? limits.flood_limit : cap_;
    dense_share_ = limits.dense_share;
    // Stack entries are 32-bit pixel indices; a larger grid never drops a
    // component.
    if (n > 0xffffffffULL) cap_ = 0;
  }

  // Marks the states and the grown surface of data pixels; every no-data
  // pixel is grown by the first pass.  Returns the number of no-data pixels.
  std::int64_t setup() {
    const std::size_t n = static_cast<std::size_t>(nr_) * static_cast<std::size_t>(nc_);
    // The first writes to the state and surface grids: on every thread, so
    // that their pages are also first touched in parallel.
    std::vector<std::int64_t> counts(pool_ ? static_cast<std::size_t>(pool_->size()) : 1, 0);
    auto mark = [&](std::int64_t r0, std::int64_t r1, int piece) {
      const std::size_t x0 = index(static_cast<int>(r0), 0), x1 = index(static_cast<int>(r1), 0);
      std::int64_t nd_count = 0;
      for (std::size_t x = x0; x < x1; ++x) {
        const bool nd = I_[x] == kNoData;
        S_[x] = nd ? kFlooded : kData;
        G_[x] = I_[x];
        nd_count += nd;
      }
      counts[static_cast<std::size_t>(piece)] = nd_count;
    };
    if (pool_)
      pool_->for_range(0, nr_, 16, mark);
    else
      mark(0, nr_, 0);
    std::int64_t nodata = 0;
    for (const std::int64_t c : counts) nodata += c;
    live_ = nodata;
    if (n == 0) return 0;
    const std::size_t wide = static_cast<std::size_t>(nc_) + 2;
    for (auto* b : {&far_row_, &repair_a_, &repair_b_}) b->assign(wide, kFarKey);
    low_row_.assign(static_cast<std::size_t>(nc_), kNoData);
    mask_.assign(static_cast<std::size_t>(nc_), 0);
    nt_ = (nc_ + kTile - 1) / kTile;
    tw_ = (nt_ + 63) / 64;
    for (TileSet& t : tile_sets_) {
      t.bits.assign(static_cast<std::size_t>(nr_) * static_cast<std::size_t>(tw_), 0);
      t.stamp.assign(static_cast<std::size_t>(nr_), 0);
    }
    no_tiles_.assign(static_cast<std::size_t>(tw_), 0);
    for (int i = 0; i < nr_; ++i) {
      S_[index(i, 0)] |= kBorder;
      S_[index(i, nc_ - 1)] |= kBorder;
    }
    for (int j = 0; j < nc_; ++j) {
      S_[index(0, j)] |= kBorder;
      S_[index(nr_ - 1, j)] |= kBorder;
    }
    const std::ptrdiff_t w = nc_;
    const std::ptrdiff_t off[8] = {-w - 1, -w, -w + 1, -1, 1, w - 1, w, w + 1};
    std::copy(off, off + 8, ring_);
    rows_.resize(static_cast<std::size_t>(nr_));
    for (int i = 0; i < nr_; ++i) rows_[static_cast<std::size_t>(i)] = i;
    return nodata;
  }

  // One pass; returns the number of pixels written into itab.
  std::int64_t pass(std::int64_t& sweeps) {
    dying_layers_ = 0;
    if (forward_done_) return pass_from_backward(sweeps);
    grown_ = 0;
    // Until only a handful of pixels are still grown, the active tiles of
    // the active rows are walked with straight-line code; then the walks
    // visit the grown pixels one by one, skipping data and dead pixels a
    // word at a time.
    const bool dense =
        static_cast<double>(live_) >= dense_share_ * static_cast<double>(rows_.size()) * static_cast<double>(nc_);
    if (dense) return dense_pass_after_forward(dense_forward(), sweeps);
    first_layer();
    const int layers = grow();
    return end_pass(layers, midpoints(), sweeps, /*flood_allowed=*/true);
  }

  // What every pass ends with: its sweeps counted, the pixels still grown,
  // and the flood for the components that can no longer change.
  std::int64_t end_pass(int layers, std::int64_t modif, std::int64_t& sweeps, bool flood_allowed) {
    // The literal passes sweep the whole grid: one sweep per layer of the
    // deepest component, dead ones included, plus the sweep that finds
    // nothing.
    sweeps += 1 + std::max({layers, dead_layers_, 1});
    live_ = grown_ - modif;
    // Until the pixels still grown are few, nearly every component changes:
    // everything grown is grown again.
    if (flood_allowed && static_cast<std::uint64_t>(grown_ - modif) <= flood_limit_)
      flood(modif);
    else
      keep_all_ = true;
    dead_layers_ = std::max(dead_layers_, dying_layers_);
    return modif;
  }

  // A pass whose forward walk was done with the last pass's midpoints.
  std::int64_t pass_from_backward(std::int64_t& sweeps) {
    forward_done_ = false;
    grown_ = grown_next_;
    return dense_pass_after_forward(next_blocks_, sweeps);
  }

  // The rest of a pass walked with straight-line code, from its backward
  // walk.  While a pass grows far more pixels than a flood would take on
  // (so that none follows it), its midpoints share one walk with the next
  // pass's forward walk; every later pass has been grown anyway after a
  // skipped flood, so the result is the same.
  std::int64_t dense_pass_after_forward(int nb, std::int64_t& sweeps) {
    dense_layers_ = 0;
    dense_backward(nb);
    const bool fuse = static_cast<std::uint64_t>(grown_) / 2 > flood_limit_;
    std::int64_t modif;
    if (fuse) {
      keep_all_ = true;
      modif = dense_midpoints_and_next_forward();
      forward_done_ = true;
    } else {
      modif = dense_midpoints();
    }
    return end_pass(dense_layers_, modif, sweeps, /*flood_allowed=*/!fuse);
  }

  // Once the loop ends: a forward walk done ahead for a pass that does not
  // come leaves the layers of its unreached pixels in itab; they go back
  // to the marker.
  void finish() {
    if (!forward_done_) return;
    forward_done_ = false;
    for (const int i : rows_) {
      const std::size_t row = index(i, 0);
      for (int j = 0; j < nc_; ++j)
        if (st(row + static_cast<std::size_t>(j)) == kUnreached) I_[row + static_cast<std::size_t>(j)] = kNoData;
    }
  }

  std::int64_t visited() const { return visited_; }
  std::int64_t dropped() const { return dropped_; }

 private:
  std::size_t index(int i, int j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(nc_) + static_cast<std::size_t>(j);
  }
  std::uint8_t st(std::size_t x) const { return S_[x] & kStateBits; }
  // Changes the state, keeping the flags.
  void set_state(std::size_t x, std::uint8_t s) {
    S_[x] = static_cast<std::uint8_t>((S_[x] & (kBorder | kDying)) | s);
  }

  // Calls visit(j, x) for every pixel of row i except interior data and
  // dead pixels, which are skipped a word at a time.  visit may change any
  // state; the bytes are read again after each call.
  template <class Visit>
  void for_each_active_row(int i, Visit&& visit) {
    const std::size_t row = index(i, 0);
    int j = 0;
    while (j < nc_) {
      if (j + 8 <= nc_) {
        std::uint64_t w;
        std::memcpy(&w, S_ + row + static_cast<std::size_t>(j), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j += 8;
          continue;
        }
        // Straight to the first byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j += std::countr_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      ++j;
    }
  }

  // The same walk from the last column to the first.
  template <class Visit>
  void for_each_active_row_reversed(int i, Visit&& visit) {
    const std::size_t row = index(i, 0);
    int j = nc_ - 1;
    while (j >= 0) {
      if (j >= 7) {
        std::uint64_t w;
        std::memcpy(&w, S_ + row + static_cast<std::size_t>(j - 7), sizeof w);
        w &= ~kSkippable;
        if (w == 0) {
          j -= 8;
          continue;
        }
        // Straight to the last byte that is not skipped.
        if constexpr (std::endian::native == std::endian::little) j -= std::countl_zero(w) / 8;
      }
      visit(j, row + static_cast<std::size_t>(j));
      --j;
    }
  }

  // Calls f(q) for each pixel q of the ring around x, clipped to the grid.
  template <class F>
  void for_ring(std::size_t x, F&& f) const {
    if (!(S_[x] & kBorder)) {
      for (const std::ptrdiff_t o : ring_) f(x + static_cast<std::size_t>(o));
      return;
    }
    const int xi = static_cast<int>(x / static_cast<std::size_t>(nc_));
    const int xj = static_cast<int>(x % static_cast<std::size_t>(nc_));
    for (int qi = std::max(xi - 1, 0); qi <= std::min(xi + 1, nr_ - 1); ++qi)
      for (int qj = std::max(xj - 1, 0); qj <= std::min(xj + 1, nc_ - 1); ++qj)
        if (qi != xi || qj != xj) f(index(qi, qj));
  }


  // ---- Straight-line walks over the active tiles of the active rows ------
  //
  // Labels are packed into keys (stages/dilation_keys.h).  Row buffers hold
  // a row's keys with one kFarKey cell on each side, so the neighbours of
  // the first and last columns need no test.
  //
  // Within a row the walks visit only the runs of active tiles: 16-pixel
  // tiles holding a pixel that is neither data nor dead when the pass
  // starts.  Nothing changes outside them, and there a pixel's key after
  // either sweep is its data key: a data pixel keeps its own (d = 1 beats
  // any offered key), and a dead pixel's key is never read by a grown
  // pixel.  So where the next row reads this row's keys outside its runs,
  // the data keys are put in.  A run's chain may start from kFarKey: the
  // pixel before it is data or dead, and a grown pixel beside a data pixel
  // (in its cross) is of layer 1, whose own key no chained key beats.

  static constexpr int kTile = 16;
  static constexpr int kBridge = 4;

  // The active tiles of one pass: tw_ words of bits a row; a row's bits are
  // those of the pass when its stamp is the set's, none otherwise.
  struct TileSet {
    std::vector<std::uint64_t> bits;
    std::vector<int> stamp;
    int pass = 0;
  };

  const std::uint64_t* active_tiles(const TileSet& t, int i) const {
    if (i < 0 || i >= nr_ || t.stamp[static_cast<std::size_t>(i)] != t.pass) return no_tiles_.data();
    return t.bits.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(tw_);
  }
  TileSet& current_tiles() { return tile_sets_[tile_set_]; }

  // Marks the active tiles of the active rows into t.
  void mark_tiles(TileSet& t) {
    t.pass = ++tile_stamp_;
    // The state bits below kDead's: zero for data and dead pixels only.
    static_assert(kDead == 0x20 && kFlooded < 0x20 && kData == 0);
    constexpr std::uint64_t kStateLow = 0x1f1f1f1f1f1f1f1fULL;
    auto work = [&](std::int64_t r0, std::int64_t r1, int) {
      for (std::int64_t r = r0; r < r1; ++r) {
        const int i = rows_[static_cast<std::size_t>(r)];
        std::uint64_t* m = t.bits.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(tw_);
        std::fill(m, m + tw_, std::uint64_t{0});
        const std::uint8_t* s = S_ + index(i, 0);
        int last = -1;  // the last active tile
        for (int t = 0; t < nt_; ++t) {
          const int a = t * kTile;
          bool active = false;
          if (a + kTile <= nc_) {
            std::uint64_t w0, w1;
            std::memcpy(&w0, s + a, 8);
            std::memcpy(&w1, s + a + 8, 8);
            active = ((w0 | w1) & kStateLow) != 0;
          } else {
            for (int j = a; j < nc_; ++j) active |= (s[j] & 0x1f) != 0;
          }
          if (!active) continue;
          // A short gap between active tiles is walked too: cheaper than
          // starting another run.
          const int from = last >= 0 && t - last - 1 <= kBridge ? last + 1 : t;
          for (int u = from; u <= t; ++u) m[u >> 6] |= std::uint64_t{1} << (u & 63);
          last = t;
        }
        t.stamp[static_cast<std::size_t>(i)] = t.pass;
      }
    };
    const auto n = static_cast<std::int64_t>(rows_.size());
    if (pool_ && pool_->size() > 1)
      pool_->for_range(0, n, 64, work);
    else
      work(0, n, 0);
  }

  // Calls f(a, b) for each run [a, b) of pixels made of consecutive tiles
  // set in m.
  template <class F>
  void for_runs(const std::uint64_t* m, F&& f) const {
    int t = 0;
    while (t < nt_) {
      int w = t >> 6;
      std::uint64_t bits = m[w] & (~std::uint64_t{0} << (t & 63));
      while (bits == 0) {
        if (++w >= tw_) return;
        bits = m[w];
      }
      const int t0 = w * 64 + std::countr_zero(bits);
      std::uint64_t gaps = ~m[w] & (~std::uint64_t{0} << (t0 & 63));
      while (gaps == 0 && ++w < tw_) gaps = ~m[w];
      const int t1 = w >= tw_ ? nt_ : std::min(nt_, w * 64 + std::countr_zero(gaps));
      f(t0 * kTile, std::min(nc_, t1 * kTile));
      t = t1;
    }
  }

  // out: the tiles of m and their left and right neighbours.
  void widen(const std::uint64_t* m, std::uint64_t* out) const {
    for (int w = 0; w < tw_; ++w) {
      const std::uint64_t x = m[w];
      std::uint64_t y = x | (x << 1) | (x >> 1);
      if (w > 0) y |= m[w - 1] >> 63;
      if (w + 1 < tw_) y |= m[w + 1] << 63;
      out[w] = y;
    }
    if (nt_ % 64) out[tw_ - 1] &= (std::uint64_t{1} << (nt_ % 64)) - 1;
  }

  // Fills out[1..nc] with the keys of row i's data pixels ((1, value)),
  // kFarKey elsewhere; a row outside the grid is all kFarKey.
  // mask (nc entries) is scratch.
  void load_data_keys(int i, Key* out, std::int32_t* mask) const {
    out[0] = out[nc_ + 1] = kFarKey;
    if (i < 0 || i >= nr_) {
      std::fill(out, out + nc_ + 2, kFarKey);
      return;
    }
    const std::size_t row = index(i, 0);
    data_key_row(nc_, S_ + row, I_ + row, out, mask);
  }

  // The data keys of row i for a block's walk: from the copies taken
  // before the walk for the rows next to the block (another block may be
  // settling them), from a cache of three rows (i - 1, i and i + 1 of the
  // row being walked; data pixels do not change during the walk) for the
  // block's own rows.  A cached row holds the keys of the tiles that the
  // walks of rows i - 1, i and i + 1 read: their active tiles and the
  // neighbours of those.
  const Key* data_keys(Lane& L, int i, const TileSet& t) {
    if (i < 0 || i >= nr_) return far_row_.data();
    if (i == L.lo - 1) return L.edge_above.data();
    if (i == L.hi + 1) return L.edge_below.data();
    const int slot = i % 3;
    Key* out = L.dk[static_cast<std::size_t>(slot)].data();
    if (L.dk_row[slot] != i) {
      const std::uint64_t* a = active_tiles(t, i - 1);
      const std::uint64_t* b = active_tiles(t, i);
      const std::uint64_t* c = active_tiles(t, i + 1);
      for (int w = 0; w < tw_; ++w) L.tiles_a[static_cast<std::size_t>(w)] = a[w] | b[w] | c[w];
      widen(L.tiles_a.data(), L.tiles_b.data());
      const std::size_t row = index(i, 0);
      for_runs(L.tiles_b.data(), [&](int x0, int x1) {
        data_key_row(x1 - x0, S_ + row + x0, I_ + row + x0, out + x0, L.m1.data());
      });
      L.dk_row[slot] = i;
    }
    return out;
  }

  // After the runs of row i: where the row next to it (its active tiles:
  // next) reads row i's keys outside its runs (active), row i's data keys.
  void fill_outside(Lane& L, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys) {
    widen(next, L.tiles_a.data());
    for (int w = 0; w < tw_; ++w) L.tiles_a[static_cast<std::size_t>(w)] &= ~active[w];
    const std::size_t row = index(i, 0);
    for_runs(L.tiles_a.data(), [&](int a, int b) {
      data_key_row(b - a, S_ + row + a, I_ + row + a, keys + a, L.m1.data());
    });
  }

  // ---- Blocks of rows ----------------------------------------------------
  //
  // With more than one thread the active rows are cut into contiguous
  // blocks, one per lane.  Settling and layer 1 only read the neighbouring
  // rows' data pixels, so a block is given copies of the data keys of the
  // two rows next to it and needs nothing else.  The sweeps are walked
  // within each block as if the rows beyond it held no grown pixel: each
  // label is then a true label (d, v) of some path, never below the exact
  // one, and exact for every path inside the block.  The repair that
  // follows relaxes the rows round each block edge, both ways, widening the
  // band while its outermost rows still change, until a round changes
  // nothing: the labels then satisfy every neighbour relation, which only
  // the exact labels do.  The midpoints read only the grown surface, which
  // their walk does not change.

  // Cuts rows_ into blocks; returns their count.
  int split_rows() {
    const std::size_t n = rows_.size();
    int nb = 1;
    if (pool_ && pool_->size() > 1) {
      const std::size_t per = static_cast<std::size_t>(min_block_rows_);
      nb = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(pool_->size()), std::max<std::size_t>(1, n / per)));
    }
    if (lanes_.size() < static_cast<std::size_t>(nb)) lanes_.resize(static_cast<std::size_t>(nb));
    for (int k = 0; k < nb; ++k) {
      Lane& L = lanes_[static_cast<std::size_t>(k)];
      if (L.keys_a.empty()) {
        const std::size_t wide = static_cast<std::size_t>(nc_) + 2;
        for (auto* v : {&L.keys_a, &L.keys_b, &L.dk[0], &L.dk[1], &L.dk[2], &L.edge_above, &L.edge_below})
          v->assign(wide, kFarKey);
        L.g_pad.assign(wide, kNoData);
        L.m_row.assign(static_cast<std::size_t>(nc_), kNoData);
        L.m1.assign(static_cast<std::size_t>(nc_), 0);
        L.m2.assign(static_cast<std::size_t>(nc_), 0);
        L.tiles_a.assign(static_cast<std::size_t>(tw_), 0);
        L.tiles_b.assign(static_cast<std::size_t>(tw_), 0);
        for (auto* v : {&L.g_above, &L.g_below, &L.i_edge}) v->assign(static_cast<std::size_t>(nc_), kNoData);
        L.s_edge.assign(static_cast<std::size_t>(nc_), 0);
      }
      L.begin = n * static_cast<std::size_t>(k) / static_cast<std::size_t>(nb);
      L.end = n * static_cast<std::size_t>(k + 1) / static_cast<std::size_t>(nb);
      L.set_bounds(rows_);
      L.counts = RowCounts{};
      L.mid_counts = RowCounts{};
      L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
    }
    return nb;
  }

  // Runs f(lane) for the nb lanes, on the pool's threads when there are
  // several.
  template <class F>
  void run_lanes(int nb, F&& f) {
    if (nb == 1) {
      f(lanes_[0]);
      return;
    }
    pool_->for_range(0, nb, 1, [&](std::int64_t b, std::int64_t e, int) {
      for (std::int64_t k = b; k < e; ++k) f(lanes_[static_cast<std::size_t>(k)]);
    });
  }

  // Settling, layer 1 and the forward sweep of grow(), fused into one walk
  // of the active rows in increasing order.  The keys of the row above come
  // from the previous row's walk, or are its data keys when it is not
  // active (or lies in another block).  d is kept in itab for the backward
  // walk, as in grow().  Returns the number of blocks.
  int dense_forward() {
    TileSet& t = current_tiles();
    mark_tiles(t);
    const int nb = split_rows();
    for (int k = 0; k < nb; ++k) {
      Lane& L = lanes_[static_cast<std::size_t>(k)];
      if (L.begin == L.end) continue;
      load_data_keys(L.lo - 1, L.edge_above.data(), mask_.data());
      load_data_keys(L.hi + 1, L.edge_below.data(), mask_.data());
    }
    run_lanes(nb, [&](Lane& L) {
      begin_forward(L);
      for (std::size_t r = L.begin; r < L.end; ++r) forward_step(L, r, t);
    });
    end_forward(nb, grown_);
    return nb;
  }

  void begin_forward(Lane& L) {
    L.above = L.keys_a.data();
    L.cur = L.keys_b.data();
    L.prev = -2;
    L.kept = L.begin;
  }

  // The forward walk of the row rows_[r] (tiles t), in its lane.
  void forward_step(Lane& L, std::size_t r, const TileSet& t) {
    const int i = rows_[r];
    const Key* up = data_keys(L, i - 1, t);
    const Key* mid = data_keys(L, i, t);
    const Key* down = data_keys(L, i + 1, t);
    const Key* pk = L.prev == i - 1 ? L.above : up;
    Key* cur = L.cur;
    const std::size_t row = index(i, 0);
    const std::int64_t grown_before = L.counts.grown;
    const std::uint64_t* active = active_tiles(t, i);
    for_runs(active, [&](int a, int b) {
      forward_row(b - a, S_ + row + a, I_ + row + a, G_ + row + a, up + a, mid + a, down + a, pk + a, cur + a,
                  kFarKey, keep_all_, L.m1.data(), L.m2.data(), L.counts);
    });
    if (r + 1 < L.end && rows_[r + 1] == i + 1) fill_outside(L, i, active, active_tiles(t, i + 1), cur);
    // Each lane compacts its own part of rows_ in place.
    if (L.counts.grown != grown_before) rows_[L.kept++] = i;
    std::swap(L.above, L.cur);
    L.prev = i;
  }

  // Closes the gaps the lanes left in rows_ and takes their counts; grown
  // receives the pixels grown.
  void end_forward(int nb, std::int64_t& grown) {
    std::size_t out = 0;
    for (int k = 0; k < nb; ++k) {
      Lane& L = lanes_[static_cast<std::size_t>(k)];
      const std::size_t b = out;
      for (std::size_t r = L.begin; r < L.kept; ++r) rows_[out++] = rows_[r];
      L.begin = b;
      L.end = out;
      L.set_bounds(rows_);
      grown += L.counts.grown;
      dropped_ += L.counts.dropped;
      visited_ += L.counts.grown + L.counts.unreached;
      L.counts = RowCounts{};
    }
    rows_.resize(out);
  }

  // The backward sweep of grow(), in the blocks of dense_forward() and in
  // decreasing order within each; the labels are left in itab and the grown
  // surface.  With several blocks the block edges are then repaired.  The
  // last step of the growth is left to dense_midpoints().
  void dense_backward(int nb) {
    const TileSet& t = current_tiles();
    for (int k = 0; k < nb; ++k) {
      Lane& L = lanes_[static_cast<std::size_t>(k)];
      L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
      if (L.begin != L.end) load_data_keys(L.hi + 1, L.edge_below.data(), mask_.data());
    }
    run_lanes(nb, [&](Lane& L) {
      Key* below = L.keys_a.data();
      Key* cur = L.keys_b.data();
      int prev = nr_ + 2;
      for (std::size_t r = L.end; r-- > L.begin;) {
        const int i = rows_[r];
        const Key* nk = prev == i + 1 ? below : data_keys(L, i + 1, t);
        const std::size_t row = index(i, 0);
        const std::uint64_t* active = active_tiles(t, i);
        for_runs(active, [&](int a, int b) {
          backward_row(b - a, S_ + row + a, I_ + row + a, G_ + row + a, nk + a, cur + a, kFarKey, L.m1.data(),
                       L.m2.data(), L.counts);
        });
        if (r > L.begin && rows_[r - 1] == i - 1) fill_outside(L, i, active, active_tiles(t, i - 1), cur);
        std::swap(below, cur);
        prev = i;
      }
    });
    for (int k = 1; k < nb; ++k) {
      const std::size_t seam = lanes_[static_cast<std::size_t>(k)].begin;
      if (seam > 0 && seam < rows_.size() && rows_[seam - 1] + 1 == rows_[seam]) repair(seam);
    }
    gather_layers(nb);
  }

  // Takes the lanes' unreached counts and deepest layers into the pass's.
  void gather_layers(int nb, RowCounts Lane::*counts = &Lane::counts) {
    std::uint32_t layers = 0, dying_layers = 0;
    for (int k = 0; k < nb; ++k) {
      const RowCounts& c = lanes_[static_cast<std::size_t>(k)].*counts;
      visited_ += c.unreached;
      layers = std::max(layers, c.layers);
      dying_layers = std::max(dying_layers, c.dying_layers);
    }
    dense_layers_ = std::max(dense_layers_, static_cast<int>(layers));
    dying_layers_ = std::max(dying_layers_, static_cast<int>(dying_layers));
  }

  // Relaxes the band of active rows round the block edge before rows_[seam]
  // until a round over it changes nothing (see "Blocks of rows").
  void repair(std::size_t seam) {
    const std::size_t n = rows_.size();
    auto linked = [&](std::size_t r) { return rows_[r - 1] + 1 == rows_[r]; };  // rows r - 1 and r adjacent
    std::size_t lo = seam - 1, hi = seam + 1;
    Key* nk = repair_a_.data();
    Key* cur = repair_b_.data();
    // The labels of the row next to rows_[r] on side dir.
    auto neighbour = [&](std::size_t r, int dir) -> const Key* {
      const int i = rows_[r] + dir;
      if (i < 0 || i >= nr_) return far_row_.data();
      const bool active = dir < 0 ? (r > 0 && linked(r)) : (r + 1 < n && linked(r + 1));
      const std::size_t row = index(i, 0);
      if (active)
        label_keys_row(nc_, S_ + row, I_ + row, G_ + row, nk);
      else
        load_data_keys(i, nk, mask_.data());
      return nk;
    };
    auto relax = [&](std::size_t r, int dir) {
      const std::size_t row = index(rows_[r], 0);
      return relax_row(nc_, S_ + row, I_ + row, G_ + row, neighbour(r, dir), cur);
    };
    for (;;) {
      bool any = false, widen_up = false, widen_down = false;
      for (std::size_t r = lo; r < hi; ++r) {
        if (!relax(r, -1)) continue;
        any = true;
        if (r == lo) widen_up = true;
        if (r + 1 == hi && hi < n && linked(hi)) ++hi;
      }
      for (std::size_t r = hi; r-- > lo;) {
        if (!relax(r, +1)) continue;
        any = true;
        if (r + 1 == hi) widen_down = true;
        if (r == lo && lo > 0 && linked(lo)) --lo;
      }
      if (!any) return;
      if (widen_up && lo > 0 && linked(lo)) --lo;
      if (widen_down && hi < n && linked(hi)) ++hi;
    }
  }

  // The last step of the growth (itab back to the marker, reached pixels
  // flagged) and the midpoints, over the active tiles of the active rows,
  // in blocks.  Returns the number of pixels written.
  std::int64_t dense_midpoints() {
    const TileSet& t = current_tiles();
    const int nb = split_rows();
    run_lanes(nb, [&](Lane& L) {
      for (std::size_t r = L.begin; r < L.end; ++r) {
        const int i = rows_[r];
        const std::size_t row = index(i, 0);
        const std::int32_t* up = i == 0 ? low_row_.data() : G_ + row - static_cast<std::size_t>(nc_);
        const std::int32_t* down = i + 1 == nr_ ? low_row_.data() : G_ + row + static_cast<std::size_t>(nc_);
        midpoint_step(L, i, S_ + row, I_ + row, up, down, t, L.counts);
      }
    });
    return end_midpoints(nb, &Lane::counts);
  }

  // The last step and the midpoints of row i, whose states and itab values
  // are at s and iv (the grid's, or copies), up and down the grown values
  // of the rows above and below.
  void midpoint_step(Lane& L, int i, std::uint8_t* s, std::int32_t* iv, const std::int32_t* up,
                     const std::int32_t* down, const TileSet& t, RowCounts& counts) {
    const std::size_t row = index(i, 0);
    std::int32_t* pad = L.g_pad.data();
    for_runs(active_tiles(t, i), [&](int a, int b) {
      settle_labels_row(b - a, s + a, iv + a, counts);
      // The run's grown values and their left and right neighbours, the
      // marker (never greater) beyond the grid.
      const int l = std::max(a - 1, 0), e = std::min(b + 1, nc_);
      std::copy(G_ + row + l, G_ + row + e, pad + l + 1);
      midpoint_proposals(b - a, up + a, pad + a, down + a, L.m_row.data());
      commit_midpoints(b - a, s + a, iv + a, L.m_row.data(), counts);
    });
  }

  // The midpoints of this pass and settling, layer 1 and the forward sweep
  // of the next one, in one walk (when no flood runs between them).  The
  // next pass's layer 1 of row i needs the midpoints of rows i - 1 to i + 1
  // committed, and the midpoints of row i + 1 need the grown values of this
  // pass in rows i to i + 2, which the next forward changes: so in each
  // block row i + 1 takes its midpoints, then row i its next forward.  A
  // block's outer rows belong to the blocks beside it, which change them
  // meanwhile: their grown values are copied before the walk, and their
  // data keys after this pass's commits are worked out before it, on copies
  // of their states and itab values.  Returns the number of pixels written;
  // the next pass then starts with its backward walk.
  std::int64_t dense_midpoints_and_next_forward() {
    const TileSet& now = current_tiles();
    TileSet& next = tile_sets_[1 - tile_set_];
    // Settling and this pass's commits leave grown pixels grown and data
    // and dead pixels as they are: the active tiles are already known.
    mark_tiles(next);
    const int nb = split_rows();
    for (int k = 0; k < nb; ++k) {
      Lane& L = lanes_[static_cast<std::size_t>(k)];
      if (L.begin == L.end) continue;
      if (L.lo > 0) std::copy_n(G_ + index(L.lo - 1, 0), nc_, L.g_above.data());
      if (L.hi + 1 < nr_) std::copy_n(G_ + index(L.hi + 1, 0), nc_, L.g_below.data());
      committed_data_keys(L, L.lo - 1, now, L.edge_above.data());
      committed_data_keys(L, L.hi + 1, now, L.edge_below.data());
    }
    run_lanes(nb, [&](Lane& L) {
      auto midpoints_of = [&](int i) {
        const std::size_t row = index(i, 0);
        const std::int32_t* up = i == 0          ? low_row_.data()
                                 : i == L.lo     ? L.g_above.data()
                                                 : G_ + row - static_cast<std::size_t>(nc_);
        const std::int32_t* down = i + 1 == nr_ ? low_row_.data()
                                   : i == L.hi  ? L.g_below.data()
                                                : G_ + row + static_cast<std::size_t>(nc_);
        midpoint_step(L, i, S_ + row, I_ + row, up, down, now, L.mid_counts);
      };
      begin_forward(L);
      for (std::size_t r = L.begin; r < L.end; ++r) {
        if (r == L.begin) midpoints_of(rows_[r]);
        if (r + 1 < L.end) midpoints_of(rows_[r + 1]);
        forward_step(L, r, next);
      }
    });
    const std::int64_t written = end_midpoints(nb, &Lane::mid_counts);
    grown_next_ = 0;
    end_forward(nb, grown_next_);
    next_blocks_ = nb;
    tile_set_ = 1 - tile_set_;
    return written;
  }

  // The data keys of row i (outside the grid: far) as they will be once this
  // pass's midpoints are committed there, worked out on copies.
  void committed_data_keys(Lane& L, int i, const TileSet& now, Key* out) {
    if (i < 0 || i >= nr_) {
      std::fill(out, out + nc_ + 2, kFarKey);
      return;
    }
    const std::size_t row = index(i, 0);
    std::copy_n(S_ + row, nc_, L.s_edge.data());
    std::copy_n(I_ + row, nc_, L.i_edge.data());
    const std::int32_t* up = i == 0 ? low_row_.data() : G_ + row - static_cast<std::size_t>(nc_);
    const std::int32_t* down = i + 1 == nr_ ? low_row_.data() : G_ + row + static_cast<std::size_t>(nc_);
    RowCounts ignored;
    midpoint_step(L, i, L.s_edge.data(), L.i_edge.data(), up, down, now, ignored);
    out[0] = out[nc_ + 1] = kFarKey;
    data_key_row(nc_, L.s_edge.data(), L.i_edge.data(), out, L.m1.data());
  }

  // Takes the lanes' midpoint counts (their member `counts`); returns the
  // pixels written.
  std::int64_t end_midpoints(int nb, RowCounts Lane::*counts) {
    std::int64_t written = 0;
    for (int k = 0; k < nb; ++k) {
      const RowCounts& c = lanes_[static_cast<std::size_t>(k)].*counts;
      visited_ += c.reached;
      written += c.written;
    }
    gather_layers(nb, counts);
    return written;
  }

  // Settles what the previous pass left (its written pixels become data,
  // the components it found unchanged are flagged or dropped), then layer
  // 1: every grown pixel with a data pixel in its cross takes the smallest
  // of them.  Keeps only the rows holding grown pixels active.
  void first_layer() {
    std::size_t kept = 0;
    for (std::size_t r = 0; r < rows_.size(); ++r) {
      const int i = rows_[r];
      bool grows = false;
      for_each_active_row(i, [&](int j, std::size_t x) {
        const std::uint8_t b = S_[x];
        const std::uint8_t border = b & kBorder;
        const std::uint8_t s = b & kStateBits;
        if (s == kData || s == kDead) return;
        if (s == kFresh) {
          // Written by the last pass: its value becomes its grown value.
          S_[x] = border | kData;
          G_[x] = I_[x];
          return;
        }
        std::uint8_t dying = 0;
        if (s != kFlooded) {
          // Grown by the last pass but connected to nothing it wrote.
          if (b & kDying) {
            S_[x] = border | kDead;
            ++dropped_;
            return;
          }
          if (!keep_all_) dying = kDying;
        }
        grows = true;
        ++grown_;
        ++visited_;
        bool any = false;
        std::int32_t alti = INT_MAX;
        // A data pixel's value is read from itab: one written by the last
        // pass may not be settled yet.
        auto source = [&](std::size_t q) {
          if ((kDataStates >> st(q)) & 1u) {
            any = true;
            alti = std::min(alti, I_[q]);
          }
        };
        if (i > 0) source(x - static_cast<std::size_t>(nc_));
        if (j > 0) source(x - 1);
        if (j + 1 < nc_) source(x + 1);
        if (i + 1 < nr_) source(x + static_cast<std::size_t>(nc_));
        if (any) G_[x] = alti;
        S_[x] = border | dying | (any ? kLayer1 : kUnreached);
      });
      if (grows) rows_[kept++] = i;
    }
    rows_.resize(kept);
  }

  // The growth of a pass, layers 2 and beyond.  A pixel's layer d and value
  // v, compared as (d, v), satisfy: a data pixel counts as (1, its value), a
  // layer-1 pixel is (1, the smallest data value of its cross), and any other
  // grown pixel p is the smallest (d + 1, v) over the (d, v) of its ring.
  // That is the literal growth: a pixel of layer k >= 3 takes the smallest
  // value of its ring pixels of layer k - 1 (ring neighbours' layers differ
  // by at most one), a pixel of layer 2 the smallest value of its ring
  // pixels that are data or of layer 1.  So d is one more than the
  // chessboard distance to the nearest data or layer-1 pixel, and v the
  // smallest value among the nearest ones.  Every pixel on a shortest path
  // from a nearest one to p is nearer still, so no-data and in p's component:
  // the distance needs no obstacles, and for it one forward and one backward
  // sweep with the 3 x 3 neighbourhood are exact (a shortest path can always
  // take its steps down or to the right first).  The pair is compared as a
  // whole, so the value travels with the distance.
  //
  // d lives in itab during the sweeps (the grown pixels are no-data there)
  // and is put back to the marker afterwards.  Returns the deepest layer.
  int grow() {
    constexpr std::int32_t kFar = INT_MAX;
    for (const int i : rows_) {
      for_each_active_row(i, [&](int, std::size_t x) {
        const std::uint8_t s = st(x);
        if (s == kLayer1) I_[x] = 1;
        else if (s == kUnreached) I_[x] = kFar;
      });
    }
    // Takes the label of q into (d, v) if q offers a smaller one.
    auto offer = [&](std::size_t q, std::int32_t& d, std::int32_t& v) {
      const std::uint8_t s = st(q);
      std::int32_t dq, vq;
      if (s == kData) {
        dq = 1;
        vq = I_[q];
      } else if (s == kLayer1 || s == kUnreached) {
        dq = I_[q];
        vq = G_[q];
      } else {
        return;  // dead: never next to a grown pixel
      }
      if (dq == kFar) return;
      if (dq + 1 < d || (dq + 1 == d && vq < v)) {
        d = dq + 1;
        v = vq;
      }
    };
    const std::size_t w = static_cast<std::size_t>(nc_);
    auto relax = [&](int i, int j, std::size_t x, int di) {
      if (st(x) != kUnreached) return;
      ++visited_;
      std::int32_t d = I_[x];
      std::int32_t v = G_[x];
      const int k = i + di;
      if (k >= 0 && k < nr_) {
        const std::size_t y = di < 0 ? x - w : x + w;
        if (j > 0) offer(y - 1, d, v);
        offer(y, d, v);
        if (j + 1 < nc_) offer(y + 1, d, v);
      }
      if (di < 0 ? j > 0 : j + 1 < nc_) offer(di < 0 ? x - 1 : x + 1, d, v);
      I_[x] = d;
      G_[x] = v;
    };
    for (const int i : rows_) for_each_active_row(i, [&](int j, std::size_t x) { relax(i, j, x, -1); });
    for (auto r = rows_.rbegin(); r != rows_.rend(); ++r) {
      const int i = *r;
      for_each_active_row_reversed(i, [&](int j, std::size_t x) { relax(i, j, x, +1); });
    }
    int layers = 0;
    for (const int i : rows_) {
      for_each_active_row(i, [&](int, std::size_t x) {
        const std::uint8_t s = st(x);
        if (s != kLayer1 && s != kUnreached) return;
        const std::int32_t d = I_[x];
        I_[x] = kNoData;
        if (d == kFar) return;
        layers = std::max(layers, d);
        if (S_[x] & kDying) dying_layers_ = std::max(dying_layers_, d);
        set_state(x, kReached);
      });
    }
    return layers;
  }

  // The midpoints of the reached pixels, written into itab.  The grown value
  // of a written pixel becomes its new data value one row later, once the
  // rows that read it as grown value are done.
  std::int64_t midpoints() {
    std::int64_t modif = 0;
    std::vector<int> prev_row;
    std::vector<int> cur_row;
    int prev_i = -1;
    for (const int i : rows_) {
      cur_row.clear();
      for_each_active_row(i, [&](int j, std::size_t x) {
        if (st(x) != kReached) return;
        ++visited_;
        const std::int32_t g = G_[x];
        bool any = false;
        std::int32_t alt = 0;
        if (i > 0 && G_[x - nc_] > g) any = true, alt = G_[x - nc_];
        if (j > 0 && G_[x - 1] > g) any = true, alt = G_[x - 1];
        if (j + 1 < nc_ && G_[x + 1] > g) any = true, alt = G_[x + 1];
        if (i + 1 < nr_ && G_[x + nc_] > g) any = true, alt = G_[x + nc_];
        if (!any) return;
        const std::int64_t sum = static_cast<std::int64_t>(alt) + g;
        const std::int32_t m = static_cast<std::int32_t>(static_cast<double>(sum) * 0.5 + 0.5);
        if (m == kNoData) return;
        I_[x] = m;
        set_state(x, kCommit);
        cur_row.push_back(j);
        ++modif;
      });
      // Rows not active hold no grown pixel: nothing there reads row prev_i.
      if (prev_i >= 0) settle(prev_i, prev_row);
      prev_row.swap(cur_row);
      prev_i = i;
    }
    if (prev_i >= 0) settle(prev_i, prev_row);
    return modif;
  }

  void settle(int i, const std::vector<int>& cols) {
    const std::size_t row = index(i, 0);
    for (const int j : cols) {
      const std::size_t x = row + static_cast<std::size_t>(j);
      G_[x] = I_[x];
      S_[x] = static_cast<std::uint8_t>((S_[x] & kBorder) | kFresh);
    }
  }

  // Marks kFlooded every grown pixel still without data that is connected
  // to a pixel written by this pass.  With several threads each block of
  // rows floods from its own written pixels without leaving the block; a
  // component that crosses a block edge is then flooded on across it from
  // the two rows at the edge.  That finds everything: a pixel left out is
  // next to a flooded or written pixel only across an edge.  The stacks
  // are bounded: when one overflows, the next pass keeps growing everything
  // this pass grew.
  void flood(std::int64_t modif) {
    keep_all_ = false;
    if (modif == 0) return;
    if (cap_ == 0) {
      keep_all_ = true;
      return;
    }
    const int nb = split_rows();
    std::atomic<bool> overflow{false};
    std::vector<std::int64_t> visits(static_cast<std::size_t>(nb), 0);
    run_lanes(nb, [&](Lane& L) {
      if (L.begin == L.end) return;
      const std::size_t lo = index(L.lo, 0), hi = index(L.hi + 1, 0);
      // A pixel is stacked at most once, so the lanes' stacks together never
      // hold more than the pixels still grown.
      const std::size_t cap = cap_;
      std::int64_t& visited = visits[static_cast<std::size_t>(&L - lanes_.data())];
      L.stack.clear();
      for (std::size_t r = L.begin; r < L.end && !overflow; ++r) {
        for_each_active_row(rows_[r], [&](int, std::size_t x) {
          if (st(x) == kFresh && !overflow) flood_from(x, lo, hi, cap, L.stack, overflow, visited);
        });
      }
    });
    for (const std::int64_t v : visits) visited_ += v;
    if (overflow) {
      keep_all_ = true;
      return;
    }
    // Across the block edges, on the calling thread, unbounded by blocks.
    std::vector<std::uint32_t>& stack = stack_;
    stack.clear();
    const std::size_t all = index(nr_, 0);
    for (int k = 1; k < nb; ++k) {
      const Lane& L = lanes_[static_cast<std::size_t>(k)];
      if (L.begin == L.end || L.begin == 0 || rows_[L.begin - 1] + 1 != L.lo) continue;
      for (const int i : {L.lo - 1, L.lo}) {
        const std::size_t row = index(i, 0);
        for (int j = 0; j < nc_ && !overflow; ++j) {
          const std::uint8_t s = st(row + static_cast<std::size_t>(j));
          if (s == kFresh || s == kFlooded)
            flood_from(row + static_cast<std::size_t>(j), 0, all, cap_, stack, overflow, visited_);
        }
      }
    }
    if (overflow) keep_all_ = true;
  }

  // Floods, within the pixels [lo, hi), every floodable pixel connected to
  // the ring of x.
  void flood_from(std::size_t x, std::size_t lo, std::size_t hi, std::size_t cap, std::vector<std::uint32_t>& stack,
                  std::atomic<bool>& overflow, std::int64_t& visited) {
    auto mark = [&](std::size_t q) {
      if (q < lo || q >= hi || !((kFloodable >> st(q)) & 1u)) return;
      if (stack.size() == cap) {
        overflow = true;
        return;
      }
      S_[q] = static_cast<std::uint8_t>((S_[q] & kBorder) | kFlooded);
      stack.push_back(static_cast<std::uint32_t>(q));
    };
    for_ring(x, [&](std::size_t q) {
      mark(q);
      while (!stack.empty() && !overflow) {
        const std::size_t y = stack.back();
        stack.pop_back();
        ++visited;
        for_ring(y, mark);
      }
    });
    stack.clear();
  }

  int nr_;
  int nc_;
  std::int32_t* I_;
  std::int32_t* G_;
  std::uint8_t* S_;
  std::size_t cap_ = 0;
  std::vector<std::uint32_t> stack_;  // the flood's, bounded by cap_
  std::vector<int> rows_;       // rows holding pixels grown by the current pass, increasing
  std::size_t flood_limit_ = 0;
  double dense_share_ = 0;
  bool keep_all_ = false;       // no flood after the last pass, or it gave up: all it grew stays grown
  std::int64_t grown_ = 0;      // pixels grown by the current pass
  std::int64_t dropped_ = 0;
  int dying_layers_ = 0;        // deepest layer of the components grown for the last time
  int dense_layers_ = 0;        // deepest layer of a pass walked with straight-line code
  bool forward_done_ = false;   // the next pass's forward walk is done
  std::int64_t grown_next_ = 0; // and grew this many pixels
  int next_blocks_ = 1;         // in this many blocks
  int dead_layers_ = 0;         // deepest layer of the dropped components
  std::int64_t visited_ = 0;
  std::ptrdiff_t ring_[8] = {};
  std::int64_t live_ = 0;       // grown pixels still without data after the last pass
  // Row buffers of the straight-line walks: per lane, and shared.
  std::vector<Lane> lanes_;
  std::vector<Key> far_row_, repair_a_, repair_b_;
  std::vector<std::int32_t> low_row_;
  std::vector<std::int32_t> mask_;  // scratch of the walks run on the calling thread
  // Active tiles (see "Straight-line walks"), nt_ a row in tw_ words: the
  // current pass's set and the next one's.
  int nt_ = 0;
  int tw_ = 0;
  TileSet tile_sets_[2];
  int tile_set_ = 0;
  int tile_stamp_ = 0;
  std::vector<std::uint64_t> no_tiles_;
  ThreadPool* pool_ = nullptr;
  int min_block_rows_ = 256;
};

}  // namespace

FastDilationStats dilate_fast(IntGrid& itab, IntGrid& grown, ByteGrid& state, const PassCallback& on_pass,
                              FastDilationLimits limits, ThreadPool* pool) {
  FastDilationStats stats;
  Grower grower(itab, grown, state, limits, pool);
  std::int64_t nodata = grower.setup();
  std::int64_t modif = 1;
  while (modif > 0) {
    PassReport report;
    report.degree = stats.passes + 1;
    report.to_treat = nodata;
    report.previous_modified = stats.passes > 0 ? modif : 0;
    if (on_pass) on_pass(report);
    ++stats.passes;
    modif = grower.pass(stats.growth_sweeps);
    nodata -= modif;
  }
  grower.finish();
  stats.pixels_visited = grower.visited();
  stats.pixels_dropped = grower.dropped();
  return stats;
}

}  // namespace tesk
