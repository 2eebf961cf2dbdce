// Threaded elimination modulo one prime below 2^16 (prime-field build).
//
// One parallel region per pass, no fork/join per row.  Forward pass: workers
// take the rows to reduce in sorted order, kBlock at a time, and reduce each
// block against every pivot already usable (the known pivots and the new rows
// already stored), column by column so that a pivot row serves the whole block
// while it is in cache.  The rows then settle strictly in sorted order (the
// ordered step, a turn counter): while waiting, a row meets the pivots stored
// meanwhile; at its turn it eliminates its lead with the rows settled before
// it, the zero-row heuristic decides, and a survivor takes its column.  Its
// compaction, normalisation and coding follow outside the ordered step, and
// it is usable by the others once stored.  Backward pass: workers take the
// new rows from the right and reduce each by the final rows above it,
// waiting only for the few still in progress.
//
// The result is the reduced echelon form of the rows to reduce against the
// known pivots, so it does not depend on the number of threads: a row's fate
// (vanish, or its final lead) depends only on the rows before it in sorted
// order, which the ordered step reproduces exactly, and the remaining
// entries of a row are cleared whichever usable pivot removes them.  A known
// pivot whose column a row to reduce may take first (same lead, sorted
// before it) is used only in the ordered step.  Pivot rows are decoded once
// into positions; rows rewritten inside a region live in the workers' arenas
// and are copied into the zone by the master at the end.  Nothing fatal is
// raised inside a region (defer_fatal, then every worker leaves).
#include "engine/elim.h"

#include <immintrin.h>
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "engine/elim_kernels.h"
#include "host/C/host_services.h"

namespace quor {
// Dense cells a worker should have to scan before another thread is worth
// waking: small matrices run on the caller alone.
u64 elim_cells_per_thread = u64(1) << 20;
}  // namespace quor

namespace quor::QUOR_NS {

void QUOR_NAME(reset_simulation)() {}

void info_complexite() {
  const u64 c = complexite;
  QUOR_NAME(Stderr)("Number of multiplications: %u*2^32+%u=%lu\n", u32(c >> 32), u32(c),
                    (unsigned long)c);
  QUOR_NAME(Stderr)("Log Complexite (base 2) = 2^%f\n", c ? std::log2(double(c)) : 0.0);
}

namespace {

using Mod = CellMod<u16>;
using Cell = u64;

// Percentage counter of the batches, kept for the process.
u32 g_batches = 0;

// Team size for a matrix: nb_threads at most, fewer for small matrices.
u32 team_for(u32 nreduce, u32 ncols) {
  const u64 asked = nb_threads > 1 ? u64(std::min(nb_threads, 1024)) : 1u;
  const u64 work = u64(nreduce) * ncols / std::max<u64>(1, elim_cells_per_thread);
  return team_width(u32(std::max<u64>(1, std::min(asked, work))));
}

// Busy wait of a worker for a condition another worker makes true soon; false
// when the call is being abandoned (a fatal condition was kept).
template <class Cond>
bool wait_for(Cond cond, const std::atomic<bool>& abort) {
  for (u32 spins = 0; !cond(); ++spins) {
    if (abort.load(std::memory_order_relaxed)) return false;
    if (spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield();
    }
  }
  return true;
}

// Storage of the rows a worker rewrites while a region runs: scratch chunks
// that never move (other workers read the rows), copied into the zone by the
// master afterwards.
class Arena {
 public:
  ~Arena() {
    for (const auto& [c, size] : chunks_) scratch_chunk_give(c, size);
  }
  // n bytes (8-byte aligned), null when the system allocator fails.
  u8* take(u64 n) {
    n = (n + 7) & ~u64(7);
    if (n > left_) {
      // Chunks of 1 MB (huge pages here cost more in faults than they saved).
      u64 size = std::max<u64>(n, u64(1) << 20);
      void* c = from ? from->take(size) : scratch_chunk_take(size, &size);
      if (!c) return nullptr;
      if (!from) try {
          chunks_.emplace_back(c, size);
        } catch (const std::bad_alloc&) {
          scratch_chunk_give(c, size);
          return nullptr;
        }
      cur_ = static_cast<u8*>(c), left_ = size;
    }
    u8* p = cur_;
    cur_ += n, left_ -= n;
    return p;
  }
  // Gives back the unused end of the last take of n bytes, of which used are kept.
  void shrink_last(u64 n, u64 used) {
    n = (n + 7) & ~u64(7), used = (used + 7) & ~u64(7);
    cur_ -= n - used, left_ += n - used;
  }
  // Where the chunks come from when not the pool (on the caller's thread
  // alone: it is fatal when the system has no memory).
  ScratchArena* from = nullptr;

 private:
  std::vector<std::pair<void*, u64>> chunks_;
  u8* cur_ = nullptr;
  u64 left_ = 0;
};

// Rows a worker reduces together: each pivot row it reads then serves the
// whole block while it is in cache.  The first pass on a team takes twice as
// many: every worker reads every known pivot there, so they are read half as
// often.
constexpr u32 kBlock = 16;
constexpr u32 kWideBlock = 32;
static_assert(kWideBlock <= 32, "a block's rows as the bits of a u32");

// Bit b set when lane b of the block's column q is not zero (the 64-byte
// aligned cells of one column, L of them).
template <u32 L>
inline u32 nonzero_lanes(const u32* q) {
  static_assert(L % 16 == 0, "whole cache lines of lanes");
  const __m128i zero = _mm_setzero_si128();
  u64 zeros = 0;
  for (u32 i = 0; i < L / 4; ++i) {
    const __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(q + 4 * i));
    zeros |= u64(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(x, zero)))) << (4 * i);
  }
  return u32(~zeros & ((u64(1) << L) - 1));
}

// The first column c' in [c, end] whose cells are not all zero, end + 1 when
// none; *lanes its nonzero_lanes.  The walk of a block passes mostly empty
// columns: four at a time on 512-bit vectors.
template <u32 L>
__attribute__((target("avx512f"))) u64 next_nonzero_column_avx512(const u32* ilv, u64 c, u64 end, u32* lanes) {
  for (; c + 3 <= end; c += 4) {
    // Four consecutive columns are 4 * L consecutive cells.
    const __m512i* v = reinterpret_cast<const __m512i*>(ilv + L * c);
    __m512i x = _mm512_load_si512(v);
    for (u32 i = 1; i < L / 4; ++i) x = _mm512_or_si512(x, _mm512_load_si512(v + i));
    if (_mm512_test_epi32_mask(x, x)) break;
  }
  for (; c <= end; ++c)
    if ((*lanes = nonzero_lanes<L>(ilv + L * c))) return c;
  return end + 1;
}

// The residues of a column's cells, written back; the mask of the non-zero ones.
u32 reduce_lanes(u32* cells, u32 lanes, const Mod& mod) {
  u32 nz = 0;
  for (; lanes; lanes &= lanes - 1) {
    const u32 b = u32(__builtin_ctz(lanes));
    cells[b] = mod.of(cells[b]);
    nz |= u32(cells[b] != 0) << b;
  }
  return nz;
}
// The rows of the mask take the column's pivot: mult[b] = p - their residue
// (0 for the others), their cells cleared.
template <u32 L>
void take_lanes(u32* cells, u32 take, u32 p, u32* mult) {
  std::memset(mult, 0, L * sizeof(u32));
  for (; take; take &= take - 1) {
    const u32 b = u32(__builtin_ctz(take));
    mult[b] = p - cells[b];
    cells[b] = 0;
  }
}

// 32-bit cells modulo p < 2^16 by a multiply-high: with inv = floor(2^32/p)
// the quotient estimate is at most 1 below the true one.
struct LaneMod {
  u32 p, inv;
  explicit LaneMod(u32 prime) : p(prime), inv(u32((u64(1) << 32) / prime)) {}
};
static_assert(2 * u64(0xFFFF) < (u64(1) << 32), "the remainder of the estimate, below 2p, fits a lane");
// reduce_lanes and take_lanes for a column's cells sixteen at once (64-byte
// aligned): the estimate's products are vpmuludq's, even and odd cells apart.
__attribute__((target("avx512f"))) u32 reduce_lanes16_avx512(u32* cells, const LaneMod& lm) {
  const __m512i x = _mm512_load_si512(cells);
  const __m512i inv = _mm512_set1_epi32(i32(lm.inv)), p = _mm512_set1_epi32(i32(lm.p));
  // The masked forms with every lane set (the plain ones warn with GCC 12).
  const __m512i q_even = _mm512_maskz_srli_epi64(0xFF, _mm512_maskz_mul_epu32(0xFF, x, inv), 32);
  const __m512i q_odd = _mm512_maskz_mul_epu32(0xFF, _mm512_maskz_srli_epi64(0xFF, x, 32), inv);
  const __m512i q = _mm512_mask_blend_epi32(0xAAAA, q_even, q_odd);
  __m512i r = _mm512_sub_epi32(x, _mm512_mullo_epi32(q, p));
  r = _mm512_maskz_min_epu32(0xFFFF, r, _mm512_sub_epi32(r, p));  // r - p wraps above r when r < p
  _mm512_store_si512(cells, r);
  return _mm512_test_epi32_mask(r, r);
}
__attribute__((target("avx512f"))) void take_lanes16_avx512(u32* cells, u32 take, const LaneMod& lm, u32* mult) {
  const __m512i x = _mm512_load_si512(cells), zero = _mm512_setzero_si512();
  _mm512_store_si512(mult, _mm512_mask_sub_epi32(zero, __mmask16(take), _mm512_set1_epi32(i32(lm.p)), x));
  _mm512_store_si512(cells, _mm512_mask_mov_epi32(x, __mmask16(take), zero));
}
template <u32 L>
u32 reduce_lanes_avx512(u32* cells, const LaneMod& lm) {
  u32 nz = 0;
  for (u32 i = 0; i < L / 16; ++i) nz |= reduce_lanes16_avx512(cells + 16 * i, lm) << (16 * i);
  return nz;
}
template <u32 L>
void take_lanes_avx512(u32* cells, u32 take, const LaneMod& lm, u32* mult) {
  for (u32 i = 0; i < L / 16; ++i)
    take_lanes16_avx512(cells + 16 * i, (take >> (16 * i)) & 0xFFFF, lm, mult + 16 * i);
}

// Where the buffers of an elimination call come from: scratch chunks, which
// the symbolic preprocessing has just given back, or (arena null) the zone.
struct CallBuffers {
  ScratchArena* arena;
  // n bytes on a cache-line boundary (the vector kernels' alignment).
  void* take(u64 n) {
    if (arena) return arena->take(n);
    const auto at = reinterpret_cast<std::uintptr_t>(QUOR_NAME(alloc64)(n + 64));
    return reinterpret_cast<void*>((at + 63) & ~std::uintptr_t(63));
  }
};

// What one worker owns: up to kWideBlock accumulator rows (cell c of column
// c, 1 .. ncols), the interleaved accumulator of a block of L rows (32-bit
// cell (c, b) at ilv[L*c + b], see Lane32), the columns a block walk left non-zero,
// compaction buffers and its arena.  The buffers come from the current zone,
// taken by the master before any region: zone blocks serve matrix after
// matrix, so their pages are not faulted in again for each one.
//
// A row ends with its cells empty (a compaction clears what it reads, a lead
// search what it passes), and so does a block walk: the accumulators are
// cleared once per matrix, from the lowest lead on as leads come, never
// span by span for each row.  Sparse rows then cost their entries only.
struct Worker {
  Cell* acc[kWideBlock] = {};
  u32* ilv = nullptr;
  u32* kept = nullptr;
  u32* pos = nullptr;
  Dom* coef = nullptr;
  Arena arena;
  u64 products = 0;
  u64 acc_clean[kWideBlock] = {};  // cells of acc[b] from this column on are empty
  u64 ilv_clean = 0;               // cells of ilv from this one on are empty
  // Buffers for blocks of lanes rows at most.
  void take(u64 ncols, u32 lanes, CallBuffers& buffers) {
    auto lines = [&](u64 n) { return buffers.take(n); };  // cache-line aligned
    for (u32 b = 0; b < kWideBlock; ++b)
      acc[b] = b < lanes ? static_cast<Cell*>(lines((ncols + 1) * sizeof(Cell))) : nullptr;
    ilv = static_cast<u32*>(lines(lanes * (ncols + 1) * sizeof(u32)));
    kept = static_cast<u32*>(lines((ncols + 1) * sizeof(u32)));
    pos = static_cast<u32*>(lines((ncols + kTailSlack) * sizeof(u32)));
    coef = static_cast<Dom*>(lines(ncols * sizeof(Dom) + 2));
    forget(ncols);
    ilv_clean = lanes * (ncols + 1);
  }
  // acc[b] from column lead on, every cell empty: the cells of a row of that lead.
  Cell* row_at(u32 b, u64 lead) {
    if (lead < acc_clean[b]) {
      std::memset(static_cast<void*>(acc[b] + lead), 0, (acc_clean[b] - lead) * sizeof(Cell));
      acc_clean[b] = lead;
    }
    return acc[b] + lead;
  }
  // Rows left behind (the pass was closed or abandoned): nothing is known empty.
  void forget(u64 ncols) {
    for (u64& c : acc_clean) c = ncols + 1;
  }
  // ilv from column start on, every cell empty, for blocks of L rows (a
  // walk leaves the cells it used empty, whatever its L).
  template <u32 L>
  void ilv_from(u64 start) {
    if (L * start < ilv_clean) {
      std::memset(ilv + L * start, 0, (ilv_clean - L * start) * sizeof(u32));
      ilv_clean = L * start;
    }
  }
};

// A pivot row as its AXPYs read it: positions of the entries after its lead
// (relative to it), their coefficients and their count.  Positions are u16
// when the row's last one fits (most rows), else u32 (wide).
struct Decoded {
  const void* pos;
  const Dom* coef;
  u32 n;
  u32 wide;
};

// State shared by the workers of a call.
struct Shared {
  ALGO_Dpol* rows;
  u32 ncols;
  Mod mod;
  i32* piv;              // ncols + 1 entries: row index of a column's pivot, -1 none
  const u8* contested;   // 1: a row to reduce precedes the known pivot of that lead
  std::atomic<u8>* ready;  // per row: its coefficients and positions may be read
  // Per row that serves as a pivot, what an AXPY reads, in one record.
  Decoded* dec;
  // Per column, the record of its known pivot (null positions: none), read
  // in column order by the block walk where dec would be read at random.
  Decoded* col_dec = nullptr;
  const u8* is_known;  // per row: 1 for a known pivot row (flag 0)
  const u8* gone = nullptr;  // per row: 1 when the first pass made it vanish
  // After the first pass, the columns where a row may still be non-zero, ascending (null: every
  // column): each other column's known pivot came before every row that may hold it and cleared it.
  const u32* free_cols = nullptr;
  u32 nfree = 0;
  std::atomic<bool> abort{false};
  std::atomic<u32> stored{0};  // new rows stored so far
  // The leads of the new rows in the order they were stored (0: a slot
  // taken, its lead not written yet), and the slots taken.
  std::atomic<u32>* new_leads = nullptr;
  std::atomic<u32> nleads{0};

  Lane32 lane;  // the block accumulator's cells

  Shared(ALGO_Dpol* r, u32 n, const Mod& m) : rows(r), ncols(n), mod(m), lane(m.p) {}

  i32 entry(u64 c) const { return std::atomic_ref<i32>(piv[c]).load(std::memory_order_acquire); }
  bool is_ready(i32 e) const { return ready[e].load(std::memory_order_acquire) != 0; }
  bool known(i32 e) const { return is_known[e] != 0; }
  // cells (from pivot e's lead) += m * the entries of e after its lead.
  u64 axpy(Cell* cells, u64 m, i32 e) const {
    if (!dec[e].wide)
      axpy_positions<u16>(cells, m, static_cast<const u16*>(dec[e].pos), dec[e].coef, dec[e].n);
    else
      axpy_positions<u16>(cells, m, static_cast<const u32*>(dec[e].pos), dec[e].coef, dec[e].n);
    return dec[e].n;
  }
  // Interleaved cells of L rows (from pivot e's lead) take m[b] * the
  // entries of e after its lead, lane b, for the lanes b of take (m[b] = 0
  // elsewhere).
  template <u64 L>
  void axpy_lanes(u32* cells, const u32* m, u32 take, const Decoded& d) const {
    if (!d.wide) axpy_lanes_as<L>(cells, m, take, static_cast<const u16*>(d.pos), d);
    else axpy_lanes_as<L>(cells, m, take, static_cast<const u32*>(d.pos), d);
  }
  template <u64 L, class P>
  void axpy_lanes_as(u32* cells, const u32* m, u32 take, const P* pos, const Decoded& d) const {
    if (take & (take - 1)) return axpy_lanes32<L>(cells, m, pos, d.coef, d.n, lane);
    // One lane: a strided scalar AXPY touches one cell per entry.
    const u32 b = u32(__builtin_ctz(take));
    axpy_strided32<L>(cells + b, m[b], pos, d.coef, d.n, lane);
  }
  // Whether the n ascending positions need u32; the bytes they take.
  static bool wide_positions(const u32* pos, u64 n) { return n && pos[n - 1] > 0xFFFF; }
  static u64 offs_bytes(u64 n, bool wide) { return n * (wide ? sizeof(u32) : sizeof(u16)); }
  // Eliminates cells[0] with pivot e, then moves to the next non-zero cell:
  // its position, or 0 when none is left.
  u64 eliminate(Cell* cells, u64 span, i32 e) const {
    const u32 c = mod.residue(cells[0]);
    if (c) axpy(cells, mod.p - c, e);
    return next_lead<u16>(cells, span, mod);
  }
  // Makes every worker leave; the first failure's text goes to the host
  // (kept until the region ends, raised at once on a lone caller).
  void fail(const char* text) {
    if (!abort.exchange(true)) defer_fatal(text);
  }
};

// Row being reduced on a worker's accumulator.
struct Live {
  u32 row;
  Cell* cur;  // cell of the lead, null when the row vanished
  u32 lead;
  u64 span;
  bool full;  // a cell was left for the ordered step: redo the tail there
  bool stands = false;  // final as it stands: its code and coefficients stay (cur null)
};

// Every AXPY of one reduction step eliminates a column to the right of the
// previous one's, and a cell is reduced when the step passes it: a cell takes
// at most one product per column between two reductions.
static_assert(kElimMaxColumns + 1 <= LzwCell<u16>::kMaxAdds,
              "64-bit cells absorb one 16x16-bit product per column of the matrix");

// One reduction pass of the row on lv without waiting: against every pivot
// already usable (index below the row's; known pivots unless their column may
// still be taken by a row to reduce, new rows once stored).  Cells left over
// are either new-pivot columns (a later pass, the ordered step or the
// back-reduction clears them) or marked for the ordered step.
void reduce_pass(Shared& sh, Live& lv) {
  const u32 r = lv.row;
  Cell* cur = lv.cur;
  u32 lead = lv.lead;
  u64 span = lv.span;
  // Usable pivot of column c, or -1.
  auto usable = [&](u64 c, bool* passed) -> i32 {
    const i32 e = sh.entry(c);
    if (e < 0 || u32(e) >= r) return -1;
    if (sh.known(e)) {
      if (sh.contested[c]) {
        *passed = true;
        return -1;
      }
      return e;
    }
    return sh.is_ready(e) ? e : -1;
  };
  for (;;) {
    bool passed = false;
    const i32 e = usable(lead, &passed);
    if (e < 0) break;
    const u64 k = sh.eliminate(cur, span, e);
    if (!k) {
      lv.cur = nullptr;
      return;
    }
    cur += k, lead += u32(k), span -= k;
  }
  const u32 p = sh.mod.p;
  auto visit = [&](u64 k) {
    const u32 c = reduce_cell<u16>(cur[k], sh.mod);
    if (!c) return;
    const i32 e = usable(lead + k, &lv.full);
    if (e < 0) return;
    cur[k] = 0;
    sh.axpy(cur + k, p - c, e);
  };
  if (sh.free_cols) {
    // An AXPY writes right of its column only: the walk ahead still sees it.
    const u32* const end = sh.free_cols + sh.nfree;
    for (const u32* f = std::upper_bound(sh.free_cols, end, lead); f < end && *f - lead < span; ++f)
      if (cur[*f - lead]) visit(*f - lead);
  } else {
    for (u64 k = first_nonzero_cell(cur, 1, span); k < span; k = first_nonzero_cell(cur, k + 1, span)) visit(k);
  }
  lv.cur = cur, lv.lead = lead, lv.span = span;
}

// Expands the rows todo[j0 ..] of a block interleaved on the worker's
// block accumulator and makes a first pass on them together, column by
// column: the pivot of a column is read once for the whole block, and each
// of its entries updates the block's cells of one column at once.  Same
// operations per row as reduce_pass.  The rows that survive are then laid
// out on the worker's row accumulators from their lead on.
template <u32 L, bool Vec>
__attribute__((always_inline)) inline void reduce_block_as(Shared& sh, const u32* rows, u32 nb, Worker& w, Live* lv) {
  u32* const ilv = w.ilv;
  const u64 ncols = sh.ncols;
  u64 start = ncols + 1;
  for (u32 b = 0; b < nb; ++b) {
    lv[b] = Live{rows[b], nullptr, 0, 0, false};
    if (!(sh.gone && sh.gone[rows[b]])) start = std::min<u64>(start, sh.rows[rows[b]]->lead);
  }
  if (start > ncols) return;
  w.template ilv_from<L>(start);
  for (u32 b = 0; b < nb; ++b) {
    if (sh.gone && sh.gone[rows[b]]) continue;
    const sALGO_Dpol* row = sh.rows[rows[b]];
    u32* at = ilv + L * u64(row->lead) + b;
    const Dom* cf = row->coeffs[0];
    at[0] = *cf++;
    lzw_walk(
        row->code, row->nb_codes, [&](u64 q) { at[L * q] = *cf++; },
        [&](u64 q, u32 r) {
          for (u32 j = 0; j < r; ++j) at[L * (q + j)] = cf[j];
          cf += r;
        });
  }
  // Columns where every cell of the block is zero ask nothing of the pivots:
  // the rows meet the same pivots in the same order as on a column-by-column walk.
  // Also gives the column's non-zero lanes: sparse rows meet columns where
  // one lane or two are.
  u32 lanes = 0;
  constexpr bool vec = Vec;
  const u32* free = sh.free_cols ? std::lower_bound(sh.free_cols, sh.free_cols + sh.nfree, u32(start)) : nullptr;
  const u32* const free_end = sh.free_cols + sh.nfree;
  auto next_column = [&](u64 c) {
    if (free) {
      // The walk asks for the columns after the last one it was given: the
      // list is read once, from where it stands.
      for (; free < free_end; ++free)
        if ((lanes = nonzero_lanes<L>(ilv + L * u64(*free)))) return u64(*free++);
      return ncols + 1;
    }
    if constexpr (vec) return next_nonzero_column_avx512<L>(ilv, c, ncols, &lanes);
    for (; c <= ncols; ++c)
      if ((lanes = nonzero_lanes<L>(ilv + L * c))) break;
    return c;
  };
  const u32 p = sh.mod.p;
  const LaneMod lm(p);
  u32 nkept = 0;
  const u32 all = u32((u64(1) << nb) - 1);
  u32 nolead = all;  // rows whose lead is still to be found
  for (u64 c = next_column(start); c <= ncols; c = next_column(c + 1)) {
    // The start of the pivots' rows of the columns ahead, while this one is
    // worked on (the walk meets most of them where the rows are dense).
    if (c + 2 <= ncols) {
      const Decoded& a = sh.col_dec[c + 2];
      if (a.pos) {
        __builtin_prefetch(a.pos);
        __builtin_prefetch(a.coef);
      }
    }
    u32* cells = ilv + L * c;
    u32 nz;
    if constexpr (vec) nz = reduce_lanes_avx512<L>(cells, lm);
    else nz = reduce_lanes(cells, lanes, sh.mod);
    if (!nz) continue;
    // The column's pivot serves the rows after it (the block's rows ascend),
    // when usable; a known pivot that is not sends them to the ordered step.
    const i32 e = sh.entry(c);
    u32 take = 0;
    if (e >= 0) {
      // The block's rows ascend: those after e are the last ones.
      u32 later = all;
      if (u32(e) >= lv[0].row)
        for (u32 b = 0; b < nb && u32(e) >= lv[b].row; ++b) later &= ~(u32(1) << b);
      later &= nz;
      if (sh.known(e) ? !sh.contested[c] : sh.is_ready(e)) take = later;
      else if (sh.known(e))
        for (; later; later &= later - 1) lv[__builtin_ctz(later)].full = true;
    }
    const u32 left = nz & ~take;  // cells of the column that stay non-zero
    for (u32 m = left & nolead; m; m &= m - 1) lv[__builtin_ctz(m)].lead = u32(c);
    nolead &= ~left;
    if (left) w.kept[nkept++] = u32(c);
    if (take) {
      alignas(64) u32 mult[L];  // 0: the row does not take the pivot of c
      if constexpr (vec) take_lanes_avx512<L>(cells, take, lm, mult);
      else take_lanes<L>(cells, take, p, mult);
      sh.axpy_lanes<L>(cells, mult, take, sh.known(e) ? sh.col_dec[c] : sh.dec[e]);
    }
  }
  // The block's non-zero cells are those of the kept columns: each
  // survivor takes its own, then the block is left empty.
  // Survivors take the first accumulators: the others, rarely reached, are
  // neither cleared nor faulted in.
  const u32* const kept = w.kept;
  u32 slot = 0;
  for (u32 b = 0; b < nb; ++b) {
    Live& l = lv[b];
    if (!l.lead) continue;
    l.cur = w.row_at(slot++, l.lead);
    l.span = ncols - l.lead + 1;
    for (const u32* k = std::lower_bound(kept, kept + nkept, l.lead); k < kept + nkept; ++k)
      l.cur[*k - l.lead] = ilv[L * u64(*k) + b];
  }
  for (u32 i = 0; i < nkept; ++i) std::memset(ilv + L * u64(kept[i]), 0, L * sizeof(u32));
}

// The walk compiled for 512-bit vectors, its column kernels inlined: it
// calls them for every column it meets.
template <u32 L>
__attribute__((target("avx512f"), flatten)) void reduce_block_avx512(Shared& sh, const u32* rows, u32 nb, Worker& w,
                                                                   Live* lv) {
  reduce_block_as<L, true>(sh, rows, nb, w, lv);
}

template <u32 L>
void reduce_block(Shared& sh, const u32* rows, u32 nb, Worker& w, Live* lv) {
  if (simd_avx512()) return reduce_block_avx512<L>(sh, rows, nb, w, lv);
  reduce_block_as<L, false>(sh, rows, nb, w, lv);
}

// The ordered part of row r (every row before it is settled): eliminates its
// lead with the pivots that appeared since, and redoes the tail when a known
// pivot was passed over or used here.  store_own() stores the worker's new
// rows still waiting, before a pivot not ready is waited for: it may be one.
// Returns false on an abort.
template <class StoreOwn>
bool settle(Shared& sh, Live& lv, StoreOwn&& store_own) {
  const u32 r = lv.row;
  auto pivot = [&](u64 c) -> i32 {
    const i32 e = sh.entry(c);
    return e < 0 || u32(e) >= r ? -1 : e;
  };
  auto stored = [&](i32 e) {
    if (sh.is_ready(e)) return true;
    return store_own() && wait_for([&] { return sh.is_ready(e); }, sh.abort);
  };
  for (;;) {
    const i32 e = pivot(lv.lead);
    if (e < 0) break;
    if (!stored(e)) return false;
    if (sh.known(e)) lv.full = true;
    const u64 k = sh.eliminate(lv.cur, lv.span, e);
    if (!k) {
      lv.cur = nullptr;
      return true;
    }
    lv.cur += k, lv.lead += u32(k), lv.span -= k;
  }
  if (!lv.full) return true;
  for (u64 k = 1; k < lv.span; ++k) {
    const u32 c = reduce_cell<u16>(lv.cur[k], sh.mod);
    if (!c) continue;
    const i32 e = pivot(lv.lead + k);
    if (e < 0) continue;
    if (!stored(e)) return false;
    lv.cur[k] = 0;
    sh.axpy(lv.cur + k, sh.mod.p - c, e);
  }
  return true;
}

// Compacts the cells (reducing them) into the worker's arena and makes them
// row r's coefficients, code and positions; monic when asked, except a lone
// entry when want_no_renorm_cste is set.  False on an allocation failure.
bool store_cells(Shared& sh, Worker& w, u32 r, Cell* cells, u64 span, bool monic) {
  sALGO_Dpol* row = sh.rows[r];
  const u32 n = compact_sparse<u16>(cells, span, w.coef, w.pos, sh.mod);
  const u64 worst = lzw_worst_bytes(n);
  Dom* coef = reinterpret_cast<Dom*>(w.arena.take(u64(n) * sizeof(Dom)));
  const bool wide = n > 1 && Shared::wide_positions(w.pos + 1, n - 1);
  u8* offs = coef ? w.arena.take(Shared::offs_bytes(n, wide) + 4) : nullptr;
  u8* code = offs ? w.arena.take(worst) : nullptr;
  if (!code) {
    sh.fail("Cannot allocate memory !");
    return false;
  }
  std::memcpy(coef, w.coef, u64(n) * sizeof(Dom));
  if (!wide)
    for (u32 j = 1; j < n; ++j) reinterpret_cast<u16*>(offs)[j - 1] = u16(w.pos[j]);
  else
    std::memcpy(offs, w.pos + 1, u64(n - 1) * sizeof(u32));
  if (monic && n && coef[0] != 1 && !(n == 1 && QUOR_NAME(want_no_renorm_cste))) {
    if (coef[0] == 0) {
      sh.fail("non inversible !\n");
      return false;
    }
    scale_residues<u16>(coef, n, inv_Dom(coef[0], sh.mod.p), sh.mod);
  }
  u32 codes = 0;
  const u64 bytes = n < 2 ? 0 : lzw_encode(w.pos, n, code, worst, &codes);
  w.arena.shrink_last(worst, bytes);
  row->code = code;
  row->nb_codes = codes;
  row->coeffs[0] = coef;
  sh.dec[r] = Decoded{offs, coef + 1, n ? n - 1 : 0, wide};
  return true;
}

// Positions of the known pivots, decoded once for all their AXPYs, recorded
// by row and by column; a worker takes rows in chunks.  The records and codes
// lie all over memory: they are fetched a few rows ahead.
struct DecodePass {
  Shared& sh;
  const std::vector<u32>& pivots;
  std::atomic<u32> next{0};
  void run(Worker& w) {
    constexpr u32 kChunk = 64, kAhead = 8;
    const u32 npiv = u32(pivots.size());
    for (;;) {
      const u32 a = next.fetch_add(kChunk, std::memory_order_relaxed);
      if (a >= npiv) return;
      const u32 b = std::min(npiv, a + kChunk);
      for (u32 i = a; i < std::min(npiv, a + kAhead); ++i) __builtin_prefetch(sh.rows[pivots[i]]);
      for (u32 i = a; i < b; ++i) {
        if (i + kAhead < b) __builtin_prefetch(sh.rows[pivots[i + kAhead]]);
        if (i + kAhead / 2 < b) __builtin_prefetch(sh.rows[pivots[i + kAhead / 2]]->code);
        const sALGO_Dpol* row = sh.rows[pivots[i]];
        // Into the worker's scratch (a row has fewer entries than columns),
        // then stored as u16 when they fit.
        const u32 m = lzw_tail_positions_padded(row->code, row->nb_codes, w.pos);
        const bool wide = Shared::wide_positions(w.pos, m);
        u8* offs = w.arena.take(Shared::offs_bytes(m, wide) + 4);
        if (!offs) {
          sh.fail("Cannot allocate memory !");
          return;
        }
        if (wide) std::memcpy(offs, w.pos, u64(m) * sizeof(u32));
        else
          for (u32 j = 0; j < m; ++j) reinterpret_cast<u16*>(offs)[j] = u16(w.pos[j]);
        const Decoded d{offs, row->coeffs[0] + 1, m, wide};
        sh.dec[pivots[i]] = d;
        sh.col_dec[row->lead] = d;
      }
    }
  }
};

// The zero-row heuristic: which rows to reduce are admitted, in row order.
struct Collector {
  bool collecting = true;
  bool skip_phase = false;
  i64 skip = 0;         // rows to reduce still to pass over
  i64 consecutive = 0;  // consecutive vanished rows
  // The collection rule for the next row to reduce: true when it joins.
  bool admit() {
    if (!collecting) return false;
    if (skip > 0) {
      --skip;
      return false;
    }
    return true;
  }
  // Bookkeeping of a vanished row; true when it changed who is admitted.
  bool vanished() {
    if (!QUOR_NAME(want_aggressive)) return false;
    if (skip_phase) {
      skip = QUOR_NAME(want_skip_comput);
      return skip > 0;
    }
    if (consecutive >= QUOR_NAME(want_aggressive2)) {
      skip = QUOR_NAME(want_skip_comput);
      if (skip != 0) skip_phase = true;
      else collecting = false;
      return true;
    }
    ++consecutive;
    return false;
  }
  void survived() {
    consecutive = 0;
    skip_phase = false;
    skip = 0;
  }
};

// First pass of a threaded forward pass: every row to reduce against the
// known pivots alone, independently (no row waits for another), rewritten
// with what is left, or marked gone when nothing is.  The ordered pass then
// has only the new pivots to meet: it reduces what a sequential pass would,
// from rows that differ from the originals by known pivots only.
struct PrePass {
  Shared& sh;
  const std::vector<u32>& todo;
  u8* gone;
  u32 width;
  std::atomic<u32> next{0};

  // Wide blocks while every worker gets a few of them.
  void run(Worker& w) {
    if (todo.size() >= u64(4) * kWideBlock * width) run_as<kWideBlock>(w);
    else run_as<kBlock>(w);
  }
  template <u32 L>
  void run_as(Worker& w) {
    const u32 ntodo = u32(todo.size());
    const u32 nblocks = (ntodo + L - 1) / L;
    Live block[L];
    for (;;) {
      // Last blocks first: their leads lie furthest left, they cost the most,
      // and the cheap ones then even out the workers' ends.
      const u32 k = next.fetch_add(1, std::memory_order_relaxed);
      if (k >= nblocks || sh.abort.load(std::memory_order_relaxed)) return;
      const u32 j0 = (nblocks - 1 - k) * L;
      const u32 nb = std::min(L, ntodo - j0);
      reduce_block<L>(sh, todo.data() + j0, nb, w, block);
      for (u32 b = 0; b < nb; ++b) {
        const Live& lv = block[b];
        if (!lv.cur) {
          gone[lv.row] = 1;
          continue;
        }
        if (!store_cells(sh, w, lv.row, lv.cur, lv.span, false)) return;
        sALGO_Dpol* row = sh.rows[lv.row];
        row->lead = lv.lead;
        row->span = sh.ncols - lv.lead + 1;
      }
    }
  }
};

// Forward pass: state of the rows to reduce, taken in sorted order.
struct ForwardPass {
  Shared& sh;
  const std::vector<u32>& todo;  // rows to reduce, sorted order
  u32 width;
  std::atomic<u32> next{0};    // next position of todo to take
  std::atomic<u32> turn{0};    // position whose ordered step may run
  std::atomic<bool> closed{false};  // the zero-row heuristic admits no more rows
  // Written only in the ordered step:
  Collector col;
  ALGO_Dpol* out;
  u32* out_idx;  // row index of each new row
  u32 nnew = 0;
  u32 in_batch = 0;
  std::vector<u8> fates;          // per admitted row: 1 survived, 0 vanished
  std::vector<double> percents;   // progress messages, written after the pass
  u32 nreduce;

  ForwardPass(Shared& s, const std::vector<u32>& t, u32 wd, ALGO_Dpol* o, u32* oi, u32 nred)
      : sh(s), todo(t), width(wd), out(o), out_idx(oi), nreduce(nred) {}

  void end_batch(u32 seen) {
    in_batch = 0;
    if (QUOR_NAME(want_state_percent) && (++g_batches % 64) == 0 && nreduce)
      percents.push_back(100.0 * seen / nreduce);
  }

  void run(Worker& w) {
    const u32 ntodo = u32(todo.size());
    Live block[kBlock];
    for (;;) {
      const u32 j0 = next.fetch_add(kBlock, std::memory_order_relaxed);
      if (j0 >= ntodo || closed.load(std::memory_order_relaxed)) return;
      const u32 nb = std::min(kBlock, ntodo - j0);
      u32 stored = sh.stored.load(std::memory_order_acquire), met = 0;
      reduce_block<kBlock>(sh, todo.data() + j0, nb, w, block);
      Waiting waiting;
      bool ok = true;
      for (u32 b = 0; b < nb && ok; ++b) ok = step(w, j0 + b, block + b, nb - b, stored, met, &waiting);
      // The block's new rows leave the accumulators before the next block.
      if (!store_waiting(w, waiting) || !ok) return w.forget(sh.ncols);
    }
  }

  // New rows of a worker's block whose storage waits: while the turn stays
  // with the block, its next row takes its ordered step at once (the store
  // of a row costs more than most steps), and the stores follow when the
  // turn leaves, or when a row's lead meets one of them.
  struct Waiting {
    u32 n = 0;
    Live* rows[kBlock];
  };

  // Stores the new row on lv: its coefficients and code, then usable by
  // every worker.  False on an abort.
  bool store_new(Worker& w, const Live& lv) {
    sALGO_Dpol* row = sh.rows[lv.row];
    if (!lv.stands && !store_cells(sh, w, lv.row, lv.cur, lv.span, true)) return false;
    row->dense = 0;
    row->encoding = CODE_LZW;
    row->lead = lv.lead;
    row->span = sh.ncols - lv.lead + 1;
    sh.ready[lv.row].store(1, std::memory_order_release);
    sh.new_leads[sh.nleads.fetch_add(1, std::memory_order_relaxed)].store(lv.lead, std::memory_order_release);
    sh.stored.fetch_add(1, std::memory_order_release);
    return true;
  }

  bool store_waiting(Worker& w, Waiting& waiting) {
    for (u32 i = 0; i < waiting.n; ++i)
      if (!store_new(w, *waiting.rows[i])) return false;
    waiting.n = 0;
    return true;
  }

  // The rows as they stand, in order, on one worker: in a matrix of rows to
  // reduce that tails_meet_leads finds apart, each keeps its lead and tail.
  // A monic row without a zero coefficient is final already: it is not laid
  // out on an accumulator and coded again.
  void run_as_is(Worker& w) {
    u32 stored = 0, met = 0;
    for (u32 j = 0; j < todo.size(); ++j) {
      const sALGO_Dpol* row = sh.rows[todo[j]];
      Live lv{todo[j], nullptr, row->lead, sh.ncols - row->lead + 1, false};
      const Dom* c = row->coeffs[0];
      if (c[0] == 1) {
        const Dom* end = c + lzw_count_entries(row->code, row->nb_codes);
        lv.stands = std::find(c, end, Dom(0)) == end;
      }
      if (!lv.stands) {
        lv.cur = w.row_at(0, row->lead);
        lzw_scatter<u16>(lv.cur, row->code, row->nb_codes, c);
      }
      if (!step(w, j, &lv, 1, stored, met)) return w.forget(sh.ncols);
    }
  }

  // Whether a new row among the leads in slots [from, to) holds a non-zero
  // cell of the row on lv: only then may a pass do anything.
  bool meets(const Live& lv, u32 from, u32 to) const {
    for (u32 k = from; k < to; ++k) {
      const u32 c = sh.new_leads[k].load(std::memory_order_relaxed);
      if (c >= lv.lead && c - lv.lead < lv.span && lv.cur[c - lv.lead]) return true;
    }
    return false;
  }

  // The ordered step of the row at position j of todo (lv[0], followed by
  // the rest of its block), then its storage, at once or (waiting given)
  // with the block's; false when the worker must leave.  met: the slots of
  // new_leads the rest of the block has met.
  bool step(Worker& w, u32 j, Live* lv_rest, u32 nrest, u32& stored, u32& met, Waiting* waiting = nullptr) {
    const u32 r = todo[j];
    Live& lv = lv_rest[0];
    auto store_own = [&] { return !waiting || store_waiting(w, *waiting); };
    {
      // Another row has the turn: it may need this worker's new rows.
      if (turn.load(std::memory_order_acquire) != j && !store_own()) return false;
      // While the rows before it settle, the row and the rest of its block
      // meet the pivots they store: what is left to the ordered step is
      // only what was stored since.  Once the heuristic admits no more rows,
      // nobody waits for the later ones.
      for (u32 spins = 0; turn.load(std::memory_order_acquire) != j;) {
        if (closed.load(std::memory_order_relaxed)) return false;
        if (sh.abort.load(std::memory_order_relaxed)) return false;
        const u32 now = sh.stored.load(std::memory_order_acquire);
        if (now != stored) {
          stored = now;
          // A pass leaves every column of a usable pivot empty, and known
          // pivots stay as usable as they were: only the rows that hold the
          // lead of a new row stored since have a pass to make.
          const u32 taken = sh.nleads.load(std::memory_order_acquire);
          u32 upto = met;
          while (upto < taken && sh.new_leads[upto].load(std::memory_order_acquire)) ++upto;
          for (u32 b = 0; b < nrest; ++b)
            if (lv_rest[b].cur && meets(lv_rest[b], met, upto)) reduce_pass(sh, lv_rest[b]);
          met = upto;
          spins = 0;
        } else if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
          __builtin_ia32_pause();
#endif
        } else {
          std::this_thread::yield();
        }
      }
      // ---- ordered step ----
      bool admitted = col.admit();
      bool survived = false;
      // A row passed over leaves its cells empty all the same.
      if (!admitted && lv.cur) std::memset(static_cast<void*>(lv.cur), 0, lv.span * sizeof(Cell));
      if (admitted) {
        if (lv.cur && !settle(sh, lv, store_own)) return false;
        survived = lv.cur != nullptr || lv.stands;
        fates.push_back(survived ? 1 : 0);
        // Serialised by the turn: the stream sees the rows in sorted order.
        bus_row(nreduce ? 100.0 * (j + 1) / nreduce : 100.0);
        if (survived) {
          std::atomic_ref<i32>(sh.piv[lv.lead]).store(i32(r), std::memory_order_release);
          out_idx[nnew] = r;
          out[nnew++] = sh.rows[r];
          col.survived();
        } else {
          col.vanished();
        }
        if (++in_batch == width) end_batch(j + 1);
      }
      if ((j + 1 == todo.size() || !col.collecting) && in_batch) end_batch(j + 1);
      if (!col.collecting) closed.store(true, std::memory_order_relaxed);
      turn.store(j + 1, std::memory_order_release);
      // ---- the new row, stored while the next rows settle ----
      if (!survived) return true;
      if (!waiting) return store_new(w, lv);
      waiting->rows[waiting->n++] = &lv;
    }
    return true;
  }
};

// Back-reduction of the new rows (sorted by lead ascending) from the right:
// row i is reduced by every row above it, each already final, so one pass
// suffices; a worker takes the next row down and waits only for the few
// rows above it still in progress.  One product per cell and pivot row, at
// most one pivot row per column.
static_assert(kElimMaxColumns + 1 <= LzwCell<u16>::kMaxAdds,
              "64-bit cells absorb one product per new row between two reductions");
struct BackwardPass {
  Shared& sh;
  ALGO_Dpol* nr;
  const u32* idx;  // row index of each new row
  u32 n;
  std::atomic<u32> next{0};
  std::unique_ptr<std::atomic<u8>[]> done;

  u32* leads;  // of nr, read in every row's walk over the rows above it

  BackwardPass(Shared& s, ALGO_Dpol* rows, const u32* index, u32 count)
      : sh(s), nr(rows), idx(index), n(count), done(new std::atomic<u8>[count]),
        leads(static_cast<u32*>(QUOR_NAME(alloc64)((u64(count) + 1) * sizeof(u32)))) {
    for (u32 i = 0; i < n; ++i) {
      done[i].store(0, std::memory_order_relaxed);
      leads[i] = nr[i]->lead;
    }
    if (n) done[n - 1].store(1, std::memory_order_relaxed);
  }

  void run(Worker& w) {
    if (n < 2) return;
    const Mod& mod = sh.mod;
    for (;;) {
      const u32 k = next.fetch_add(1, std::memory_order_relaxed);
      if (k > n - 2) return;
      const u32 i = n - 2 - k;
      sALGO_Dpol* b = nr[i];
      Cell* cells = w.row_at(0, b->lead);
      lzw_scatter<u16>(cells, b->code, b->nb_codes, b->coeffs[0]);
      for (u32 q = n - 1; q > i; --q) {
        // A final row is empty in every other new row's lead column, so the
        // rows applied so far left this cell as it was: only a row that
        // takes it is waited for.
        Cell& cell = cells[leads[q] - b->lead];
        const u32 c = mod.residue(cell);
        cell = 0;
        if (!c) continue;
        if (!wait_for([&] { return done[q].load(std::memory_order_acquire) != 0; }, sh.abort))
          return;
        w.products += sh.axpy(&cell, mod.p - c, i32(idx[q]));
      }
      if (!store_cells(sh, w, idx[i], cells, b->span, false)) return;
      done[i].store(1, std::memory_order_release);
    }
  }
};

// Whether two of rows[0 .. n-1] share a lead, or a tail entry of one lies in
// the lead column of one of them.  When neither, the back-reduction has
// nothing to do (a basis that reduces itself and is already reduced), nor
// has the forward pass when they are all rows to reduce.  Reads the codes,
// far less than the passes read.
bool tails_meet_leads(const ALGO_Dpol* rows, u32 n, u32 ncols) {
  const u64 words = u64(ncols) / 64 + 1;
  u64* lead = static_cast<u64*>(QUOR_NAME(alloc64)(words * sizeof(u64)));
  std::memset(lead, 0, words * sizeof(u64));
  auto is_lead = [&](u64 c) { return (lead[c / 64] >> (c % 64)) & 1; };
  for (u32 i = 0; i < n; ++i) {
    if (is_lead(rows[i]->lead)) return true;
    lead[rows[i]->lead / 64] |= u64(1) << (rows[i]->lead % 64);
  }
  for (u32 i = 0; i < n; ++i) {
    const u64 l = rows[i]->lead;
    u64 meets = 0;
    lzw_walk(
        rows[i]->code, rows[i]->nb_codes, [&](u64 q) { meets |= is_lead(l + q); },
        [&](u64 q, u32 r) {
          for (u32 x = 0; x < r; ++x) meets |= is_lead(l + q + x);
        });
    if (meets) return true;
  }
  return false;
}

// Runs body(worker) on every thread of a team of width (on the caller alone
// for one), inside a no-raise region.
template <class Body>
void on_team(u32 width, std::vector<Worker>& workers, Body body) {
  if (width == 1) {
    body(workers[0]);
    return;
  }
  NoRaiseRegion guard;
#pragma omp parallel num_threads(width)
  body(workers[u32(omp_get_thread_num())]);
}

// Checks done on the master before any region, so that no region meets a
// row it cannot read.
void check_matrix(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, u32 p) {
  if (p < 2 || p > 0xFFFF) QUOR_NAME(Fatal)("Prime %u out of range\n", p);
  check_matrix_rows(rows, nrows, ncols, nreduce);
}

// n records of the call's buffers, each value-initialised.
template <class T>
T* zone_array(CallBuffers& buffers, u64 n) {
  T* a = static_cast<T*>(buffers.take(n * sizeof(T)));
  std::fill(a, a + n, T{});
  return a;
}

// Moves a row's code and coefficients from an arena into the current zone.
void to_zone(sALGO_Dpol* row) {
  const u64 n = lzw_count_entries(row->code, row->nb_codes);
  // The code length: the bytes of its codes.
  const u8* s = row->code;
  for (u32 i = 0; i < row->nb_codes; ++i) {
    const u32 b = *s++;
    if (b == 0xFF) s += *s == 0xFF ? 5 : 2;
  }
  const u64 bytes = u64(s - row->code);
  Dom* coef = static_cast<Dom*>(QUOR_NAME(alloc64)(n * sizeof(Dom)));
  std::memcpy(coef, row->coeffs[0], n * sizeof(Dom));
  u8* code = static_cast<u8*>(QUOR_NAME(alloc64)(bytes));
  if (bytes) std::memcpy(code, row->code, bytes);
  row->code = code;
  row->coeffs[0] = coef;
}

}  // namespace

u32 eliminate_sorted(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, ALGO_Dpol* out) {
  const u32 p = QUOR_NAME(Primes)[0];
  QUOR_NAME(Prime) = p;
  context_vectorize = 0;
  if (nrows == 0) return 0;
  check_matrix(rows, nrows, ncols, nreduce, p);
  bus_matrix(nrows, ncols);

  const u32 width = team_for(nreduce, ncols);
  Shared sh(rows, ncols, Mod(p));
  // The buffers of the call on one thread: the scratch chunks the symbolic
  // preprocessing gave back (they serve matrix after matrix).  A team's
  // stay in the zone: its workers' wide accumulators are touched only in
  // part, and in the zone each matrix finds them about where the last one
  // left them, their untouched pages still untouched, where pooled chunks
  // change hands and end up touched whole (noon-8 on eight threads peaked at
  // 339 MB instead of 193 MB).
  ScratchArena scratch{nb_threads <= 1};
  CallBuffers buffers{width > 1 ? nullptr : &scratch};
  i32* piv = static_cast<i32*>(buffers.take((u64(ncols) + 1) * sizeof(i32)));
  std::fill(piv, piv + u64(ncols) + 1, -1);
  for (u32 i = nrows; i-- > 0;)
    if (rows[i]->flag == 0) piv[rows[i]->lead] = i32(i);
  // A known pivot's column is contested when a row to reduce with the same
  // lead comes first: that row may take the column (then the known pivot is
  // passed over), so only the ordered step may use it.
  std::vector<u8> contested(u64(ncols) + 1, 0), reduce_first(u64(ncols) + 1, 0), known(nrows);
  std::vector<u32> todo;
  todo.reserve(nreduce);
  std::unique_ptr<std::atomic<u8>[]> ready(new std::atomic<u8>[nrows]);
  for (u32 i = 0; i < nrows; ++i) {
    const u32 l = rows[i]->lead;
    if (rows[i]->flag) {
      todo.push_back(i);
      reduce_first[l] = 1;
    } else if (piv[l] == i32(i) && reduce_first[l]) {
      contested[l] = 1;
    }
    known[i] = rows[i]->flag == 0;
    ready[i].store(known[i], std::memory_order_relaxed);
  }
  sh.piv = piv;
  sh.contested = contested.data();
  sh.ready = ready.get();
  sh.is_known = known.data();
  sh.dec = zone_array<Decoded>(buffers, nrows);
  std::vector<u32> pivots;
  for (u32 i = 0; i < nrows; ++i)
    if (rows[i]->flag == 0 && piv[rows[i]->lead] == i32(i)) pivots.push_back(i);
  std::vector<u32> out_idx(u64(nreduce) + 1);

  std::vector<Worker> workers(width);
  for (Worker& w : workers) w.take(ncols, width > 1 ? kWideBlock : kBlock, buffers);
  // On one thread the worker's rows go in the call's scratch, after its buffers.
  if (nb_threads <= 1) workers[0].arena.from = &scratch;
  sh.col_dec = zone_array<Decoded>(buffers, u64(ncols) + 1);
  DecodePass decode{sh, pivots};
  on_team(width, workers, [&](Worker& w) { decode.run(w); });
  if (sh.abort.load()) raise_kept_fatal();
  // Rows to reduce as they came, put back unless they become new rows.
  struct Original {
    u8* code;
    u32 nb_codes, lead, span;
    Dom* coef;
  };
  std::vector<Original> orig(todo.size());
  for (size_t j = 0; j < todo.size(); ++j) {
    const sALGO_Dpol* r = rows[todo[j]];
    orig[j] = Original{r->code, r->nb_codes, r->lead, r->span, r->coeffs[0]};
  }
  auto restore = [&](const std::vector<u8>& kept) {
    for (size_t j = 0; j < todo.size(); ++j) {
      if (kept[todo[j]]) continue;
      sALGO_Dpol* r = rows[todo[j]];
      r->code = orig[j].code, r->nb_codes = orig[j].nb_codes, r->coeffs[0] = orig[j].coef;
      r->lead = orig[j].lead, r->span = orig[j].span;
    }
  };
  // The first pass reduces every row to reduce; with the zero-row heuristic
  // on, rows it would pass over are better never reduced.
  std::vector<u8> gone;
  std::vector<u32> free_cols;
  const bool as_is = todo.size() == nrows && !tails_meet_leads(rows, nrows, ncols);
  if (width > 1 && !QUOR_NAME(want_aggressive) && !as_is) {
    gone.assign(nrows, 0);
    PrePass pre{sh, todo, gone.data(), width};
    on_team(width, workers, [&](Worker& w) { pre.run(w); });
    if (sh.abort.load()) {
      restore(std::vector<u8>(nrows, 0));
      raise_kept_fatal();
    }
    sh.gone = gone.data();
    // A known pivot sorted before every row to reduce that may hold its
    // column (each whose first lead is at or left of it) has cleared the
    // column in all of them, and no pivot applied from here on writes there:
    // the walks of the ordered pass may skip those columns.  A column that a
    // row to reduce may take (same lead, sorted first) stays in the walks.
    std::vector<u32> first_by_lead(u64(ncols) + 1, ~u32(0));
    for (size_t j = 0; j < todo.size(); ++j)
      first_by_lead[orig[j].lead] = std::min(first_by_lead[orig[j].lead], todo[j]);
    for (u32 c = 1, first = ~u32(0); c <= ncols; ++c) {
      first = std::min(first, first_by_lead[c]);
      if (piv[c] < 0 || u32(piv[c]) >= first) free_cols.push_back(c);
    }
    // The list pays where it leaves few columns: a dense scan reads eight cells at once.
    if (8 * u64(free_cols.size()) <= ncols) {
      sh.free_cols = free_cols.data();
      sh.nfree = u32(free_cols.size());
    }
  }
  std::unique_ptr<std::atomic<u32>[]> new_leads(new std::atomic<u32>[todo.size() + 1]);
  for (size_t k = 0; k <= todo.size(); ++k) new_leads[k].store(0, std::memory_order_relaxed);
  sh.new_leads = new_leads.get();
  ForwardPass fw(sh, todo, width, out, out_idx.data(), nreduce);
  if (as_is) fw.run_as_is(workers[0]);
  else on_team(width, workers, [&](Worker& w) { fw.run(w); });
  // The hooks and messages of the pass, in row order.
  for (u8 f : fw.fates) QUOR_NAME(mark_useless)(f);
  for (double x : fw.percents) QUOR_NAME(Stderr)("%.1f%%/", x);
  if (sh.abort.load()) raise_kept_fatal();
  bus_ok();
  const u32 nnew = fw.nnew;

  // New rows by lead ascending, equal leads by key descending.
  shell_sort_indices(
      nnew,
      [out](u32 a, u32 b) {
        return out[a]->lead > out[b]->lead ||
               (out[a]->lead == out[b]->lead && out[a]->key < out[b]->key);
      },
      [&](u32 a, u32 b) {
        std::swap(out[a], out[b]);
        std::swap(out_idx[a], out_idx[b]);
      });
  // Rows settled as they stand hold no lead of another: nothing to test again.
  if (!as_is && tails_meet_leads(out, nnew, ncols)) {
    BackwardPass bw(sh, out, out_idx.data(), nnew);
    on_team(width, workers, [&](Worker& w) { bw.run(w); });
    if (sh.abort.load()) raise_kept_fatal();
  }
  u64 products = 0;
  for (const Worker& w : workers) products += w.products;
  std::atomic_ref<u64>(complexite).fetch_add(products, std::memory_order_relaxed);
  for (u32 i = 0; i < nnew; ++i) to_zone(out[i]);
  std::vector<u8> kept(nrows, 0);
  for (u32 i = 0; i < nnew; ++i) kept[out_idx[i]] = 1;
  restore(kept);
  return nnew;
}

}  // namespace quor::QUOR_NS
