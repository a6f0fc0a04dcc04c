#include "stages/dilation_fast.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/cpu_kernels.h"
#include "core/threads.h"
#include "core/units.h"
#include "stages/dilation_keys.h"
#include "core/thread_pool.h"

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

// Asks for the cache line at p.  (In assembly: the compiler deletes loops
// of prefetch built-ins as if they did nothing.)
inline void prefetch_line(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p, 1, 3);
#endif
}

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

// Settling, layer 1 and the first sweep of a run.  up, mid and down are
// the data keys of the rows i - 1, i and i + 1, pk the keys of the row
// swept before (i - 1 when the walk goes down, i + 1 when it goes up) after
// its first sweep; cur receives row i's.  The chain runs to the right, or
// to the left with right_to_left; carry is the key of the pixel before the
// run in that order, after its first sweep.  keep_all is set when no
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

// A block of rows, for the flood.
struct Block {
  std::size_t begin = 0, end = 0;  // the block's part of the active row list
  int lo = 0, hi = -1;             // its first and last rows
  std::vector<std::uint32_t> stack;
};

// A lane of columns of the straight-line walks (see "Lanes of columns"):
// its row buffers and counts.
struct ColumnLane {
  int t0 = 0, t1 = 0;  // its tiles
  int c0 = 0, c1 = 0;  // its columns
  std::vector<Key> dk[3];
  int dk_row[3] = {-2, -2, -2};
  std::vector<std::int32_t> g_pad, m_row, m1, m2;
  std::vector<std::uint64_t> own, tiles_a, tiles_b;
  std::vector<std::pair<int, int>> runs;
  std::vector<std::uint8_t> grew;  // by walk position: the first sweep grew a pixel of that row
  RowCounts first, second, mid;    // of the walk's sweeps and midpoints
  int pb = 0, pe = 0;              // the positions of the walk it takes
  // The keys of the last three rows of each sweep: the lane's own, or
  // shared by the lanes of one walk.
  std::vector<Key> own_first[3], own_second[3];
  std::vector<Key>* first_keys = nullptr;
  std::vector<Key>* second_keys = nullptr;
  bool shared = false;  // the lanes share their keys in walks that keep step
  // A walk of first sweeps alone: the keys at the lane's first and last
  // pixels, by walk position, for the lanes beside it.
  std::vector<Key> edge_keys, end_keys;
};

class Grower {
 public:
  Grower(IntGrid& itab, IntGrid& grown, ByteGrid& state, FastDilationLimits limits, ThreadPool* pool)
      : nr_(itab.rows()), nc_(itab.cols()), I_(itab.data()), G_(grown.data()), S_(state.data()), pool_(pool) {
    if (limits.min_block_rows > 0) min_block_rows_ = limits.min_block_rows;
    if (limits.min_lane_tiles > 0) min_lane_tiles_ = limits.min_lane_tiles;
    if (limits.lane_row_tiles > 0) lane_row_tiles_ = limits.lane_row_tiles;
    forced_merge_ = limits.merge_at_step > 0 ? limits.merge_at_step : INT_MAX;
    const int cpus = usable_cpus();
    max_lanes_ = limits.max_lanes > 0 ? limits.max_lanes : cpus;
    // Lanes keep step: spin long while each can have a processor, briefly
    // when they may have to take turns.
    spin_limit_ = std::min(max_lanes_, pool ? pool->size() : 1) <= cpus ? 1 << 10 : 1 << 6;
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
    far_row_.assign(wide, kFarKey);
    low_row_.assign(static_cast<std::size_t>(nc_), kNoData);
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
    split_columns();
    return nodata;
  }

  // One pass; returns the number of pixels written into itab.
  std::int64_t pass(std::int64_t& sweeps) {
    dying_layers_ = 0;
    if (first_done_) {
      // Its first sweep was walked with the last pass's midpoints.
      first_done_ = false;
      grown_ = grown_next_;
      return finish_pass(sweeps);
    }
    grown_ = 0;
    // Until only a handful of pixels are still grown, the active tiles of
    // the active rows are walked with straight-line code; then the walks
    // visit the grown pixels one by one, skipping data and dead pixels a
    // word at a time.
    const bool dense =
        static_cast<double>(live_) >= dense_share_ * static_cast<double>(rows_.size()) * static_cast<double>(nc_);
    if (dense) {
      TileSet& t = current_tiles();
      mark_tiles(t);
      walk(Walk::kFirst, +1, t, nullptr);
      first_dir_ = +1;
      grown_ = end_first_sweeps(first_dir_);
      return finish_pass(sweeps);
    }
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

  // The rest of a pass walked with straight-line code, after its first
  // sweep: one walk the other way with the second sweep and the midpoints.
  // While a pass grows far more pixels than a flood would take on (so that
  // none follows it), that walk also takes the next pass's first sweep;
  // every later pass has been grown anyway after a skipped flood, so the
  // result is the same.
  std::int64_t finish_pass(std::int64_t& sweeps) {
    dense_layers_ = 0;
    const bool fuse = static_cast<std::uint64_t>(grown_) / 2 > flood_limit_;
    const int dir = -first_dir_;
    std::int64_t modif;
    if (fuse) {
      keep_all_ = true;
      // Settling and this pass's commits leave grown pixels grown and data
      // and dead pixels as they are: the next pass's active tiles are
      // already known.
      TileSet& next = tile_sets_[1 - tile_set_];
      mark_tiles(next);
      walk(Walk::kFused, dir, current_tiles(), &next);
      modif = end_second_sweeps();
      grown_next_ = end_first_sweeps(dir);
      tile_set_ = 1 - tile_set_;
      first_done_ = true;
      first_dir_ = dir;
    } else {
      walk(Walk::kSecond, dir, current_tiles(), nullptr);
      modif = end_second_sweeps();
    }
    return end_pass(dense_layers_, modif, sweeps, /*flood_allowed=*/!fuse);
  }

  // Once the loop ends: a first sweep done ahead for a pass that does not
  // come leaves the layers of its unreached pixels in itab; they go back
  // to the marker.
  void finish() {
    if (!first_done_) return;
    first_done_ = false;
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
    std::int64_t cover = 0;  // active tiles, all rows together
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
    std::vector<std::int64_t> cover(pool_ ? static_cast<std::size_t>(pool_->size()) : 1, 0);
    auto work = [&](std::int64_t r0, std::int64_t r1, int piece) {
      std::int64_t tiles = 0;
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
        for (int w = 0; w < tw_; ++w) tiles += std::popcount(m[w]);
      }
      cover[static_cast<std::size_t>(piece)] = tiles;
    };
    const auto n = static_cast<std::int64_t>(rows_.size());
    if (pool_ && pool_->size() > 1)
      pool_->for_range(0, n, 64, work);
    else
      work(0, n, 0);
    t.cover = 0;
    for (const std::int64_t c : cover) t.cover += c;
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

  // ---- Lanes of columns --------------------------------------------------
  //
  // With more than one thread, a walk whose rows hold enough active tiles
  // cuts the columns into lanes of whole tiles, one per thread, and every
  // lane walks every active row over its own columns (other walks are cut
  // into parts of the rows, or walked on one thread: see walk()).  A row's
  // chains run from lane to lane, and a row reads the row before it (in the
  // walk's order) and its own cross neighbours one pixel across the lanes'
  // edges, so the lanes keep step (a walk of first sweeps alone less
  // closely: see loose_first_walk).  Upstream
  // and downstream follow the chains: the lane on the left when they run to
  // the right, on the right otherwise.  A lane's edge is its first pixel
  // in the chains' order, the one its upstream lane reads: the lane puts
  // its keys there first, and says so, before it sweeps the rest of the
  // row.  Before a sweep a lane waits for the lane upstream to have swept
  // that row (its carry) and for the lane downstream to have put its edge
  // keys of the row before; before a first sweep in a walk with midpoints,
  // also for the lane downstream to have taken the midpoints of the row
  // being swept (their commits, which the sweep reads as data, and their
  // reading of the grown surface, which the sweep changes).  Every sweep then
  // computes what one sweep over whole rows computes, and the result does
  // not depend on the number of lanes.

  // How far a lane has got in the current walk.
  struct alignas(64) Progress {
    std::atomic<int> second{-1};       // the last row position whose second sweep is done
    std::atomic<int> second_edge{-1};  // ... whose second sweep's edge keys are put
    std::atomic<int> first{-1};        // the last row position whose first sweep is done
    std::atomic<int> first_edge{-1};   // ... whose first sweep's edge keys are put
    std::atomic<int> mid{-1};          // the last step whose midpoints are done
    std::atomic<int> step{-1};         // the last step done
  };

  // Spins for a while, then sleeps until the value is published (the lane
  // waited for may not be running: another process may hold its processor,
  // or the lanes outnumber the processors).
  // Returns whether it had to sleep for a lane that had started the walk
  // (a thread of the pool may take a while to wake up at its start).
  bool wait_for(const std::atomic<int>& a, int at_least) const {
    const bool started = a.load(std::memory_order_relaxed) >= 0;
    for (int spins = 0; spins < spin_limit_; ++spins) {
      if (a.load(std::memory_order_acquire) >= at_least) return false;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    for (;;) {
      const int v = a.load(std::memory_order_acquire);
      if (v >= at_least) return started;
      a.wait(v, std::memory_order_acquire);
    }
  }

  // ---- When the processors are busy ----------------------------------------
  //
  // Lanes that keep step at every row need every lane's thread running at
  // once: when another process takes a processor, each hand-over waits for
  // the scheduler, and a walk slows a hundredfold.  A lane that had to sleep
  // three times within a few dozen steps asks for the walk to be merged: from a step a few ahead of every lane,
  // the first lane walks the whole rows alone (the others stop after the
  // step before, which the first waits for), and the next walks use one
  // lane (or parts of the rows) before lanes are tried again.  (A walk of
  // first sweeps alone, whose lanes drift apart and seldom wait, is walked
  // to its end the same way.)

  // Asks for the merge from the step after `step` plus the lanes' spread.
  void ask_merge(int step) {
    const int at = step + static_cast<int>(lanes_->size()) + 1;
    int cur = merge_at_.load(std::memory_order_relaxed);
    while (at < cur && !merge_at_.compare_exchange_weak(cur, at, std::memory_order_acq_rel)) {
    }
  }

  // The first lane takes every column from step `at` on: the other lanes
  // have done every step before it.
  void take_all_columns(ColumnLane& L, int at) {
    for (std::size_t k = 1; k < lanes_->size(); ++k) wait_for(progress_[k].step, at - 1);
    L.t0 = 0;
    L.t1 = nt_;
    L.c0 = 0;
    L.c1 = nc_;
    std::fill(L.own.begin(), L.own.end(), ~std::uint64_t{0});
    if (nt_ % 64) L.own[static_cast<std::size_t>(tw_ - 1)] = (std::uint64_t{1} << (nt_ % 64)) - 1;
    L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
    merged_ = true;
  }

  static void publish(std::atomic<int>& a, int v) {
    a.store(v, std::memory_order_release);
    a.notify_all();
  }

  // Cuts the columns into lanes (once: the count depends only on the width
  // and the pool).
  void split_columns() {
    int nl = 1;
    // Never more lanes than processors: lanes keep step, and one whose
    // thread waits for a processor holds the others up.
    if (pool_ && pool_->size() > 1) nl = std::clamp(nt_ / min_lane_tiles_, 1, std::min(pool_->size(), max_lanes_));
    progress_ = std::make_unique<Progress[]>(static_cast<std::size_t>(nl));
    const std::size_t wide = static_cast<std::size_t>(nc_) + 2;
    for (auto& b : first_keys_) b.assign(wide, kFarKey);
    for (auto& b : second_keys_) b.assign(wide, kFarKey);
    lane_sets_[0].resize(1);
    lane_sets_[1].resize(nl > 1 ? static_cast<std::size_t>(nl) : 0);
    lane_sets_[2].resize(nl > 1 ? static_cast<std::size_t>(nl) : 0);
    cut_lanes(lane_sets_[0], false);
    cut_lanes(lane_sets_[1], false);
    cut_lanes(lane_sets_[2], true);
  }

  // whole: every lane takes every column (and has keys of its own).
  void cut_lanes(std::vector<ColumnLane>& lanes, bool whole) {
    const int nl = static_cast<int>(lanes.size());
    const std::size_t wide = static_cast<std::size_t>(nc_) + 2;
    for (int k = 0; k < nl; ++k) {
      ColumnLane& L = lanes[static_cast<std::size_t>(k)];
      L.t0 = whole ? 0 : static_cast<int>(static_cast<std::int64_t>(nt_) * k / nl);
      L.t1 = whole ? nt_ : static_cast<int>(static_cast<std::int64_t>(nt_) * (k + 1) / nl);
      for (auto& b : L.own_first) b.assign(wide, kFarKey);
      for (auto& b : L.own_second) b.assign(wide, kFarKey);
      L.shared = !whole;
      L.c0 = L.t0 * kTile;
      L.c1 = std::min(nc_, L.t1 * kTile);
      for (auto& v : L.dk) v.assign(wide, kFarKey);
      L.g_pad.assign(wide, kNoData);
      L.m_row.assign(static_cast<std::size_t>(nc_), kNoData);
      L.m1.assign(static_cast<std::size_t>(nc_), 0);
      L.m2.assign(static_cast<std::size_t>(nc_), 0);
      L.own.assign(static_cast<std::size_t>(tw_), 0);
      for (int t = L.t0; t < L.t1; ++t) L.own[static_cast<std::size_t>(t >> 6)] |= std::uint64_t{1} << (t & 63);
      L.tiles_a.assign(static_cast<std::size_t>(tw_), 0);
      L.tiles_b.assign(static_cast<std::size_t>(tw_), 0);
      // Never more runs than tiles: a lane must not allocate (nor throw)
      // while the others wait for it.
      L.runs.reserve(static_cast<std::size_t>(nt_));
    }
  }

  // The data keys of row i over the lane's tiles that the sweeps of rows
  // i - 1 to i + 1 read (their active tiles and the neighbours of those),
  // from a cache of three rows; data pixels do not change during a walk,
  // except by the midpoints of a row, which are committed before any sweep
  // asks for its keys.
  const Key* data_keys(ColumnLane& L, int i, const TileSet& t) {
    if (i < 0 || i >= nr_) return far_row_.data();
    const int slot = i % 3;
    Key* out = L.dk[static_cast<std::size_t>(slot)].data();
    if (L.dk_row[slot] != i) {
      const std::uint64_t* a = active_tiles(t, i - 1);
      const std::uint64_t* b = active_tiles(t, i);
      const std::uint64_t* c = active_tiles(t, i + 1);
      for (int w = 0; w < tw_; ++w) L.tiles_a[static_cast<std::size_t>(w)] = a[w] | b[w] | c[w];
      widen(L.tiles_a.data(), L.tiles_b.data());
      for (int w = 0; w < tw_; ++w) L.tiles_b[static_cast<std::size_t>(w)] &= L.own[static_cast<std::size_t>(w)];
      const std::size_t row = index(i, 0);
      for_runs(L.tiles_b.data(), [&](int x0, int x1) {
        data_key_row(x1 - x0, S_ + row + x0, I_ + row + x0, out + x0, L.m1.data());
      });
      L.dk_row[slot] = i;
    }
    return out;
  }

  // The data keys of row i at the pixels just outside the lane, into keys:
  // the sweeps read them there (a row's cross neighbours, a row of data
  // keys standing for the row before).
  void edge_data_keys(const ColumnLane& L, int i, Key* keys) const {
    if (i < 0 || i >= nr_) return;
    const std::size_t row = index(i, 0);
    std::int32_t m;
    if (L.c0 > 0) data_key_row(1, S_ + row + L.c0 - 1, I_ + row + L.c0 - 1, keys + L.c0 - 1, &m);
    if (L.c1 < nc_) data_key_row(1, S_ + row + L.c1, I_ + row + L.c1, keys + L.c1, &m);
  }

  // After a sweep of row i: where the row swept next (its active tiles:
  // next) reads row i's keys outside row i's runs (active), row i's data
  // keys, over the lane's tiles.
  // skip: a tile left alone (-1: none).
  void fill_outside(ColumnLane& L, int i, const std::uint64_t* active, const std::uint64_t* next, Key* keys,
                    int skip) {
    widen(next, L.tiles_a.data());
    for (int w = 0; w < tw_; ++w)
      L.tiles_a[static_cast<std::size_t>(w)] &= ~active[w] & L.own[static_cast<std::size_t>(w)];
    if (skip >= 0) L.tiles_a[static_cast<std::size_t>(skip >> 6)] &= ~(std::uint64_t{1} << (skip & 63));
    const std::size_t row = index(i, 0);
    for_runs(L.tiles_a.data(), [&](int a, int b) {
      data_key_row(b - a, S_ + row + a, I_ + row + a, keys + a, L.m1.data());
    });
  }

  // Sweeps the runs of the lane's active tiles in row i (the buffer keys)
  // in the chains' order with sweep(a, b, carry); the carry into a run is
  // the key of the pixel before it when that pixel lies in the lane
  // upstream and its tile is active, kFarKey otherwise (the pixel before a
  // run is then data or dead: see "Straight-line walks").  When a lane
  // upstream reads this lane's edge (edge_to_publish), the edge keys come
  // first: a short first piece of the run there, or the data keys of the
  // edge tile when it is not active; then publish() is called.  Returns the
  // tile whose data keys were put that way (-1: none).
  template <class Sweep, class Publish>
  int lane_runs(ColumnLane& L, int i, const std::uint64_t* active, bool rtl, Key* keys, bool edge_to_publish,
                Sweep&& sweep, Publish&& publish) {
    for (int w = 0; w < tw_; ++w) L.tiles_a[static_cast<std::size_t>(w)] = active[w] & L.own[static_cast<std::size_t>(w)];
    auto tile_on = [&](int t) { return ((active[t >> 6] >> (t & 63)) & 1u) != 0; };
    L.runs.clear();
    for_runs(L.tiles_a.data(), [&](int a, int b) { L.runs.emplace_back(a, b); });
    int filled = -1;
    const int edge_tile = rtl ? L.t1 - 1 : L.t0;
    if (edge_to_publish && !tile_on(edge_tile)) {
      const std::size_t row = index(i, 0);
      const int a = edge_tile * kTile, b = std::min(nc_, a + kTile);
      data_key_row(b - a, S_ + row + a, I_ + row + a, keys + a, L.m1.data());
      filled = edge_tile;
      publish();
      edge_to_publish = false;
    }
    constexpr int kEdgePiece = 4 * kTile;
    if (!rtl) {
      for (const auto& [a, b] : L.runs) {
        const Key carry = a == L.c0 && a > 0 && tile_on(L.t0 - 1) ? keys[a] : kFarKey;
        if (edge_to_publish && a == L.c0 && b - a > kEdgePiece) {
          sweep(a, a + kEdgePiece, carry);
          publish();
          sweep(a + kEdgePiece, b, keys[a + kEdgePiece]);
        } else {
          sweep(a, b, carry);
          if (edge_to_publish && a == L.c0) publish();
        }
      }
    } else {
      for (auto r = L.runs.rbegin(); r != L.runs.rend(); ++r) {
        const auto [a, b] = *r;
        const Key carry = b == L.c1 && b < nc_ && tile_on(L.t1) ? keys[b + 1] : kFarKey;
        if (edge_to_publish && b == L.c1 && b - a > kEdgePiece) {
          sweep(b - kEdgePiece, b, carry);
          publish();
          sweep(a, b - kEdgePiece, keys[b - kEdgePiece + 1]);
        } else {
          sweep(a, b, carry);
          if (edge_to_publish && b == L.c1) publish();
        }
      }
    }
    return filled;
  }

  // The kinds of walk: the first sweep of a pass alone; the second sweep
  // and the midpoints of a pass; the second sweep and the midpoints of a
  // pass with the first sweep of the next one.
  enum class Walk { kFirst, kSecond, kFused };

  // Cuts the walk's positions into one part per lane of lanes, only where
  // consecutive active rows are not next to each other, at the cuts nearest
  // to an even share of the active tiles.  Returns false when that leaves
  // a part with more than three quarters of them, or a part empty.
  bool cut_parts(int dir, const TileSet& t, std::vector<ColumnLane>& lanes) {
    const int n = static_cast<int>(rows_.size());
    const int parts = static_cast<int>(lanes.size());
    std::vector<std::int64_t>& prefix = part_prefix_;
    prefix.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int p = 0; p < n; ++p) {
      const std::uint64_t* m = active_tiles(t, row_at(static_cast<std::size_t>(p), dir));
      std::int64_t c = 0;
      for (int w = 0; w < tw_; ++w) c += std::popcount(m[w]);
      prefix[static_cast<std::size_t>(p) + 1] = prefix[static_cast<std::size_t>(p)] + c;
    }
    const std::int64_t total = prefix[static_cast<std::size_t>(n)];
    int from = 0;
    for (int k = 0; k < parts; ++k) {
      int cut = n;
      if (k + 1 < parts) {
        const std::int64_t target = total * (k + 1) / parts;
        cut = -1;
        for (int p = from + 1; p < n; ++p) {
          if (row_at(static_cast<std::size_t>(p - 1), dir) + dir == row_at(static_cast<std::size_t>(p), dir)) continue;
          const auto off = [&](int x) { return std::llabs(prefix[static_cast<std::size_t>(x)] - target); };
          if (cut < 0 || off(p) < off(cut)) cut = p;
        }
        if (cut < 0) return false;
      }
      const std::int64_t share = prefix[static_cast<std::size_t>(cut)] - prefix[static_cast<std::size_t>(from)];
      if (cut == from || 4 * share > 3 * total) return false;
      lanes[static_cast<std::size_t>(k)].pb = from;
      lanes[static_cast<std::size_t>(k)].pe = cut;
      from = cut;
    }
    return true;
  }

  // The active row at position p of a walk in direction dir (+1: down the
  // rows, -1: up).
  int row_at(std::size_t p, int dir) const { return dir > 0 ? rows_[p] : rows_[rows_.size() - 1 - p]; }

  // One walk over the active rows in direction dir, every lane on its own
  // thread.  The chains run to the right when the walk goes down, to the
  // left when it goes up; a pass's two sweeps go opposite ways, and each
  // pair covers every direction a shortest path can take first.  At step
  // p: the second sweep of row p, the midpoints of row p - 1 (its
  // neighbours' grown values are then final), the first sweep of the next
  // pass of row p - 2 (the midpoints of it and its neighbours are then
  // committed).  now: this pass's active tiles; next: the next pass's.
  void walk(Walk kind, int dir, const TileSet& now, const TileSet* next) {
    const int n = static_cast<int>(rows_.size());
    if (merged_) {
      // The last walk merged its lanes: their columns back, and one lane
      // for the next few walks.
      cut_lanes(lane_sets_[1], false);
      merged_ = false;
      if (forced_merge_ == INT_MAX) busy_walks_ = kBusyWalks;
    }
    // Lanes of columns keep step at every row: worth it only while the
    // rows hold enough active tiles.  Otherwise, when rows without grown
    // pixels cut the walk into parts of about the same work, the threads
    // walk those parts (nothing a part reads changes in another); otherwise
    // one thread walks.
    const bool columns = busy_walks_ == 0 && !lane_sets_[1].empty() &&
                         now.cover >= lane_row_tiles_ * static_cast<std::int64_t>(n);
    if (busy_walks_ > 0) --busy_walks_;
    merge_at_.store(forced_merge_, std::memory_order_relaxed);
    const bool parts = !columns && !lane_sets_[2].empty() && kind != Walk::kFused && cut_parts(dir, now, lane_sets_[2]);
    lanes_ = &lane_sets_[columns ? 1 : parts ? 2 : 0];
    const int nl = static_cast<int>(lanes_->size());
    for (int k = 0; k < nl; ++k) {
      ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
      if (!parts) {
        L.pb = 0;
        L.pe = n;
      }
      // A walk of first sweeps alone over lanes of columns lets the lanes
      // drift apart (see loose_first_walk); the others keep step and share
      // their keys.
      const bool own = !L.shared || (kind == Walk::kFirst && columns);
      L.first_keys = own ? L.own_first : first_keys_;
      L.second_keys = own ? L.own_second : second_keys_;
      L.dk_row[0] = L.dk_row[1] = L.dk_row[2] = -2;
      L.first = L.second = L.mid = RowCounts{};
      L.grew.assign(static_cast<std::size_t>(n), 0);
      for (auto* a : {&progress_[k].second, &progress_[k].second_edge, &progress_[k].first, &progress_[k].first_edge,
                      &progress_[k].mid, &progress_[k].step})
        a->store(-1, std::memory_order_relaxed);
    }
    const bool rtl = dir < 0;
    const bool second = kind != Walk::kFirst;
    const bool first = kind != Walk::kSecond;
    const int lag = kind == Walk::kFused ? 2 : 0;
    const int tail = kind == Walk::kFirst ? 0 : kind == Walk::kSecond ? 1 : 2;
    const TileSet& first_tiles = kind == Walk::kFused ? *next : now;
    first_alone_ = kind == Walk::kFirst;
    if (kind == Walk::kFirst && columns) {
      loose_first_walk(dir, now);
      return;
    }
    auto lane_walk = [&](int k) {
      ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
      const int up_lane = rtl ? k + 1 : k - 1;
      const int down_lane = rtl ? k - 1 : k + 1;
      const Progress* ups = columns && up_lane >= 0 && up_lane < nl ? &progress_[up_lane] : nullptr;
      const Progress* downs = columns && down_lane >= 0 && down_lane < nl ? &progress_[down_lane] : nullptr;
      Progress& mine = progress_[k];
      const int pb = L.pb, pe = L.pe;
      int sleeps[2] = {INT_MIN / 2, INT_MIN / 2};  // the steps of the last two sleeps
      for (int p = pb; p < pe + tail; ++p) {
        if ((ups || downs) && p >= merge_at_.load(std::memory_order_acquire)) {
          if (k > 0) return;
          take_all_columns(L, merge_at_.load(std::memory_order_relaxed));
          ups = downs = nullptr;
        }
        bool slept = false;
        if (second) {
          // The second sweep, then the midpoints, which read the grown
          // values of both lanes' edges.
          if (downs) slept |= wait_for(downs->second_edge, std::min(p, n) - 1);
          if (ups) slept |= wait_for(ups->second, std::min(p, n - 1));
          if (p < pe) {
            second_sweep(L, p, dir, now, ups != nullptr, [&] { publish(mine.second_edge, p); });
            publish(mine.second, p);
          }
          if (p > pb && p <= pe) midpoint_row(L, row_at(static_cast<std::size_t>(p - 1), dir), now, L.mid);
          publish(mine.mid, p);
        }
        const int q = p - lag;
        if (first && q >= pb && q < pe) {
          if (ups) slept |= wait_for(ups->first, q);
          if (downs) {
            slept |= wait_for(downs->first_edge, q - 1);
            if (second) slept |= wait_for(downs->mid, p - 1);
          }
          first_sweep(L, q, dir, first_tiles, ups != nullptr, [&] { publish(mine.first_edge, q); });
          publish(mine.first, q);
        }
        publish(mine.step, p);
        // Lone pauses of the machine are no reason to merge: only sleeps
        // that come close together are.
        if (slept) {
          if (p - sleeps[0] < kSleepWindow && p - sleeps[1] < kSleepWindow) ask_merge(p);
          sleeps[0] = sleeps[1];
          sleeps[1] = p;
        }
      }
    };
    if (nl == 1) {
      lane_walk(0);
    } else if (nl > 1) {  // (none for an empty grid)
      pool_->for_range(0, nl, 1, [&](std::int64_t b, std::int64_t e, int) {
        for (std::int64_t k = b; k < e; ++k) lane_walk(static_cast<int>(k));
      });
    }
  }

  // A walk of first sweeps alone over lanes of columns, going down.  Data
  // pixels keep their keys during it (a pixel written by the last pass
  // becomes data with the value it holds), so the data keys at the lanes'
  // edges are taken beforehand, and a lane reads a key of the lane beside
  // it only where both sides of the edge are active tiles: the key at the
  // end of the lane upstream (its carry, and the row before's), the key at
  // the start of the lane downstream (the row before's).  It waits only
  // for those, so the lanes drift apart where the rows do not cross their
  // edges.
  void loose_first_walk(int dir, const TileSet& t) {
    const int n = static_cast<int>(rows_.size());
    const int nl = static_cast<int>(lanes_->size());
    // The data keys on both sides of each edge, by row.
    edge_snap_.assign(static_cast<std::size_t>(nl) * static_cast<std::size_t>(nr_), {kFarKey, kFarKey});
    for (int k = 1; k < nl; ++k) {
      const int c = (*lanes_)[static_cast<std::size_t>(k)].c0;
      for (int i = 0; i < nr_; ++i) {
        const std::size_t row = index(i, 0);
        Key pair[4];
        std::int32_t m[2];
        data_key_row(2, S_ + row + c - 1, I_ + row + c - 1, pair, m);
        edge_snap_[static_cast<std::size_t>(k) * static_cast<std::size_t>(nr_) + static_cast<std::size_t>(i)] = {pair[1], pair[2]};
      }
    }
    for (ColumnLane& L : *lanes_) {
      L.edge_keys.assign(static_cast<std::size_t>(n), kFarKey);
      L.end_keys.assign(static_cast<std::size_t>(n), kFarKey);
    }
    auto tile_on = [](const std::uint64_t* m, int tile) { return ((m[tile >> 6] >> (tile & 63)) & 1u) != 0; };
    auto lane_walk = [&](int k) {
      ColumnLane& L = (*lanes_)[static_cast<std::size_t>(k)];
      ColumnLane* left = k > 0 ? &(*lanes_)[static_cast<std::size_t>(k - 1)] : nullptr;
      ColumnLane* right = k + 1 < nl ? &(*lanes_)[static_cast<std::size_t>(k + 1)] : nullptr;
      Progress& mine = progress_[k];
      for (int q = 0; q < n; ++q) {
        const int i = row_at(static_cast<std::size_t>(q), dir);
        const std::uint64_t* active = active_tiles(t, i);
        const std::uint64_t* before = active_tiles(t, i - dir);
        const bool after = q > 0 && row_at(static_cast<std::size_t>(q - 1), dir) == i - dir;
        auto snap = [&](int edge_lane, int r) {
          return edge_snap_[static_cast<std::size_t>(edge_lane) * static_cast<std::size_t>(nr_) + static_cast<std::size_t>(r)];
        };
        // Fills what the sweep reads across the edges, before it runs.
        auto across = [&](Key* mid, Key* pk, Key* cur) {
          if (left && tile_on(active, L.t0)) {
            mid[L.c0] = snap(k, i).first;
            if (after && tile_on(before, L.t0 - 1)) {
              wait_for(progress_[k - 1].first, q - 1);
              pk[L.c0] = left->end_keys[static_cast<std::size_t>(q - 1)];
            } else if (i - dir >= 0 && i - dir < nr_) {  // (beyond the grid pk is all far)
              pk[L.c0] = snap(k, i - dir).first;
            }
            if (tile_on(active, L.t0 - 1)) {
              wait_for(progress_[k - 1].first, q);
              cur[L.c0] = left->end_keys[static_cast<std::size_t>(q)];
            }
          }
          if (right && tile_on(active, L.t1 - 1)) {
            mid[L.c1 + 1] = snap(k + 1, i).second;
            if (after && tile_on(before, L.t1)) {
              wait_for(progress_[k + 1].first_edge, q - 1);
              pk[L.c1 + 1] = right->edge_keys[static_cast<std::size_t>(q - 1)];
            } else if (i - dir >= 0 && i - dir < nr_) {
              pk[L.c1 + 1] = snap(k + 1, i - dir).second;
            }
          }
        };
        Key* cur = L.first_keys[q % 3].data();
        first_sweep(L, q, dir, t, left != nullptr, [&] {
          L.edge_keys[static_cast<std::size_t>(q)] = cur[L.c0 + 1];
          publish(mine.first_edge, q);
        }, across);
        L.end_keys[static_cast<std::size_t>(q)] = cur[L.c1];
        publish(mine.first, q);
      }
    };
    pool_->for_range(0, nl, 1, [&](std::int64_t b, std::int64_t e, int) {
      for (std::int64_t k = b; k < e; ++k) lane_walk(static_cast<int>(k));
    });
  }

  // The first sweep of a pass (settling, layer 1, the chain) of the row at
  // position q, over the lane's columns.  across, when given, fills what
  // the sweep reads across the lane's edges (mid, pk, cur) instead of the
  // grid and the shared keys.
  template <class Publish, class Across = std::nullptr_t>
  void first_sweep(ColumnLane& L, int q, int dir, const TileSet& t, bool edge_to_publish, Publish&& publish,
                   Across&& across = nullptr) {
    const int i = row_at(static_cast<std::size_t>(q), dir);
    const bool rtl = dir < 0;
    const Key* up = data_keys(L, i - 1, t);
    Key* mid = const_cast<Key*>(data_keys(L, i, t));
    const Key* down = data_keys(L, i + 1, t);
    const bool after = q > 0 && row_at(static_cast<std::size_t>(q - 1), dir) == i - dir;
    Key* pk = after ? L.first_keys[(q - 1) % 3].data() : const_cast<Key*>(dir > 0 ? up : down);
    Key* cur = L.first_keys[q % 3].data();
    if (first_alone_) prefetch_next(L, q, dir, t);
    if constexpr (std::is_same_v<std::decay_t<Across>, std::nullptr_t>) {
      edge_data_keys(L, i, mid);
      if (!after) edge_data_keys(L, i - dir, pk);
    } else {
      across(mid, pk, cur);
    }
    const std::size_t row = index(i, 0);
    const std::int64_t grown_before = L.first.grown;
    const std::uint64_t* active = active_tiles(t, i);
    const int filled = lane_runs(
        L, i, active, rtl, cur, edge_to_publish,
        [&](int a, int b, Key carry) {
          forward_row(b - a, S_ + row + a, I_ + row + a, G_ + row + a, up + a, mid + a, down + a, pk + a, cur + a,
                      carry, keep_all_, rtl, L.m1.data(), L.m2.data(), L.first);
        },
        publish);
    if (q + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(q + 1), dir) == i + dir)
      fill_outside(L, i, active, active_tiles(t, i + dir), cur, filled);
    if (L.first.grown != grown_before) L.grew[static_cast<std::size_t>(q)] = 1;
  }

  // Asks for the lane's active tiles of the next row of the walk (after
  // position p) to be brought into the cache while this one is swept: the
  // first sweep of a walk to reach a row waits on memory otherwise, the
  // lanes' pieces of a row being too short for the processor to see the
  // stream coming.
  void prefetch_next(ColumnLane& L, int p, int dir, const TileSet& t) {
    if (p + 1 >= static_cast<int>(rows_.size())) return;
    const int i = row_at(static_cast<std::size_t>(p + 1), dir);
    const std::uint64_t* active = active_tiles(t, i);
    const std::size_t row = index(i, 0);
    for (int w = L.t0 >> 6; w <= (L.t1 - 1) >> 6; ++w) {
      std::uint64_t bits = active[w] & L.own[static_cast<std::size_t>(w)];
      while (bits) {
        const int tile = w * 64 + std::countr_zero(bits);
        bits &= bits - 1;
        const std::size_t x = row + static_cast<std::size_t>(tile) * kTile;
        // A tile is 16 bytes of states and 64 of each int grid.
        if ((tile & 3) == 0) prefetch_line(S_ + x);
        prefetch_line(I_ + x);
        prefetch_line(G_ + x);
      }
    }
  }

  // The second sweep of a pass of the row at position p, over the lane's
  // columns; the labels are left in itab and the grown surface.
  template <class Publish>
  void second_sweep(ColumnLane& L, int p, int dir, const TileSet& t, bool edge_to_publish, Publish&& publish) {
    const int i = row_at(static_cast<std::size_t>(p), dir);
    const bool rtl = dir < 0;
    prefetch_next(L, p, dir, t);
    const bool after = p > 0 && row_at(static_cast<std::size_t>(p - 1), dir) == i - dir;
    const Key* nk;
    if (after) {
      nk = L.second_keys[(p - 1) % 3].data();
    } else {
      // The row before holds no grown pixel: its data pixels' keys.
      Key* d = const_cast<Key*>(data_keys(L, i - dir, t));
      edge_data_keys(L, i - dir, d);
      nk = d;
    }
    Key* cur = L.second_keys[p % 3].data();
    const std::size_t row = index(i, 0);
    const std::uint64_t* active = active_tiles(t, i);
    const int filled = lane_runs(
        L, i, active, rtl, cur, edge_to_publish,
        [&](int a, int b, Key carry) {
          backward_row(b - a, S_ + row + a, I_ + row + a, G_ + row + a, nk + a, cur + a, carry, rtl, L.m1.data(),
                       L.m2.data(), L.second);
        },
        publish);
    if (p + 1 < static_cast<int>(rows_.size()) && row_at(static_cast<std::size_t>(p + 1), dir) == i + dir)
      fill_outside(L, i, active, active_tiles(t, i + dir), cur, filled);
  }

  // The last step of the growth (itab back to the marker, reached pixels
  // flagged) and the midpoints of row i over the lane's columns.
  void midpoint_row(ColumnLane& L, int i, const TileSet& t, RowCounts& counts) {
    const std::size_t row = index(i, 0);
    const std::int32_t* up = i == 0 ? low_row_.data() : G_ + row - static_cast<std::size_t>(nc_);
    const std::int32_t* down = i + 1 == nr_ ? low_row_.data() : G_ + row + static_cast<std::size_t>(nc_);
    std::int32_t* pad = L.g_pad.data();
    const std::uint64_t* active = active_tiles(t, i);
    for (int w = 0; w < tw_; ++w) L.tiles_b[static_cast<std::size_t>(w)] = active[w] & L.own[static_cast<std::size_t>(w)];
    for_runs(L.tiles_b.data(), [&](int a, int b) {
      settle_labels_row(b - a, S_ + row + a, I_ + row + a, counts);
      // The run's grown values and their left and right neighbours, the
      // marker (never greater) beyond the grid.
      const int l = std::max(a - 1, 0), e = std::min(b + 1, nc_);
      std::copy(G_ + row + l, G_ + row + e, pad + l + 1);
      midpoint_proposals(b - a, up + a, pad + a, down + a, L.m_row.data());
      commit_midpoints(b - a, S_ + row + a, I_ + row + a, L.m_row.data(), counts);
    });
  }

  // After a walk with first sweeps: the rows still holding grown pixels,
  // in order, and the counts; returns the pixels grown.
  std::int64_t end_first_sweeps(int dir) {
    const std::size_t n = rows_.size();
    std::int64_t grown = 0;
    for (ColumnLane& L : *lanes_) {
      grown += L.first.grown;
      dropped_ += L.first.dropped;
      visited_ += L.first.grown + L.first.unreached;
    }
    // grew is by walk position: back to row order.
    std::size_t out = 0;
    for (std::size_t r = 0; r < n; ++r) {
      const std::size_t p = dir > 0 ? r : n - 1 - r;
      bool any = false;
      for (const ColumnLane& L : *lanes_) any |= L.grew[p] != 0;
      if (any) rows_[out++] = rows_[r];
    }
    rows_.resize(out);
    return grown;
  }

  // After a walk with second sweeps: the counts; returns the pixels
  // written.
  std::int64_t end_second_sweeps() {
    std::int64_t written = 0;
    std::uint32_t layers = 0, dying_layers = 0;
    for (const ColumnLane& L : *lanes_) {
      visited_ += L.second.unreached + L.mid.reached;
      written += L.mid.written;
      layers = std::max(layers, L.mid.layers);
      dying_layers = std::max(dying_layers, L.mid.dying_layers);
    }
    dense_layers_ = std::max(dense_layers_, static_cast<int>(layers));
    dying_layers_ = std::max(dying_layers_, static_cast<int>(dying_layers));
    return written;
  }

  // ---- Blocks of rows, for the flood ---------------------------------------

  // Cuts rows_ into blocks of about the same number of active tiles of t;
  // returns their count.
  int split_rows(const TileSet& t) {
    const std::size_t n = rows_.size();
    int nb = 1;
    if (pool_ && pool_->size() > 1) {
      const std::size_t per = static_cast<std::size_t>(min_block_rows_);
      nb = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(pool_->size()), std::max<std::size_t>(1, n / per)));
    }
    if (blocks_.size() < static_cast<std::size_t>(nb)) blocks_.resize(static_cast<std::size_t>(nb));
    std::vector<std::int64_t>& prefix = part_prefix_;
    prefix.assign(n + 1, 0);
    for (std::size_t r = 0; r < n; ++r) {
      const std::uint64_t* m = active_tiles(t, rows_[r]);
      std::int64_t c = 1;  // a row without tiles still costs its scan
      for (int w = 0; w < tw_; ++w) c += std::popcount(m[w]);
      prefix[r + 1] = prefix[r] + c;
    }
    std::size_t from = 0;
    for (int k = 0; k < nb; ++k) {
      Block& B = blocks_[static_cast<std::size_t>(k)];
      B.begin = from;
      if (k + 1 == nb) {
        B.end = n;
      } else {
        const std::int64_t target = prefix[n] * (k + 1) / nb;
        B.end = static_cast<std::size_t>(std::lower_bound(prefix.begin() + static_cast<std::ptrdiff_t>(from),
                                                          prefix.end(), target) - prefix.begin());
        B.end = std::clamp(B.end, from, n);
      }
      from = B.end;
      B.lo = B.begin < B.end ? rows_[B.begin] : 0;
      B.hi = B.begin < B.end ? rows_[B.end - 1] : -1;
    }
    return nb;
  }

  // Runs f(block) for the nb blocks, on the pool's threads when there are
  // several.
  template <class F>
  void run_blocks(int nb, F&& f) {
    if (nb == 1) {
      f(blocks_[0]);
      return;
    }
    pool_->for_range(0, nb, 1, [&](std::int64_t b, std::int64_t e, int) {
      for (std::int64_t k = b; k < e; ++k) f(blocks_[static_cast<std::size_t>(k)]);
    });
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
    const int nb = split_rows(current_tiles());
    std::atomic<bool> overflow{false};
    std::vector<std::int64_t> visits(static_cast<std::size_t>(nb), 0);
    run_blocks(nb, [&](Block& L) {
      if (L.begin == L.end) return;
      const std::size_t lo = index(L.lo, 0), hi = index(L.hi + 1, 0);
      const std::size_t cap = cap_;
      std::int64_t& visited = visits[static_cast<std::size_t>(&L - blocks_.data())];
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
      const Block& L = blocks_[static_cast<std::size_t>(k)];
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
  bool first_done_ = false;     // the next pass's first sweep is done
  std::int64_t grown_next_ = 0; // and grew this many pixels
  int first_dir_ = 1;           // the direction of the current pass's first sweep
  int dead_layers_ = 0;         // deepest layer of the dropped components
  std::int64_t visited_ = 0;
  std::ptrdiff_t ring_[8] = {};
  std::int64_t live_ = 0;       // grown pixels still without data after the last pass
  // Row buffers of the straight-line walks: per lane, and shared by the
  // lanes (the keys of the last three rows of each sweep).
  // (one lane for all columns; when there are several threads, one lane
  // per thread for its columns, and one per thread for all columns, which
  // walk parts of the rows; lanes_ is the set the last walk used)
  std::vector<ColumnLane> lane_sets_[3];
  std::vector<ColumnLane>* lanes_ = &lane_sets_[0];
  std::unique_ptr<Progress[]> progress_;
  std::vector<Key> first_keys_[3], second_keys_[3];
  std::vector<Key> far_row_;
  std::vector<std::int32_t> low_row_;
  std::vector<Block> blocks_;  // the flood's
  std::vector<std::int64_t> part_prefix_;
  std::vector<std::pair<Key, Key>> edge_snap_;  // see loose_first_walk
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
  int min_lane_tiles_ = 32;
  int max_lanes_ = 1;
  int spin_limit_ = 1 << 8;
  bool first_alone_ = false;  // the current walk has first sweeps only
  std::atomic<int> merge_at_{INT_MAX};  // see "When the processors are busy"
  bool merged_ = false;
  int busy_walks_ = 0;
  int forced_merge_ = INT_MAX;
  static constexpr int kBusyWalks = 4;
  static constexpr int kSleepWindow = 64;  // steps
  std::int64_t lane_row_tiles_ = 16;
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
