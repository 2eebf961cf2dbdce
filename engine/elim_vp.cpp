// Elimination over a block of primes (integer build), on the calling thread.
//
// The column pattern of a row is found with prime slot 0; every other slot
// must find the same lead and the same pattern, or the block holds a bad
// prime.  Such a disagreement, a trace that does not match the pass, or an
// interrupt ends the elimination with 0 and a status for the caller
// (elim_status): the pass is redone or abandoned by the driver, nothing here
// ends the process.
//
// Arithmetic: 32-bit residues accumulate in 64-bit cells that wrap modulo
// 2^64 - p^2 (WrapMod, engine/elim_kernels.h).  Slot 0 decides alone, in a
// writing pass, whether a row survives and where its entries lie, kLanes
// rows at a time (Batch below); the slots are then reduced kGroup at a time
// on one walk of the row over an interleaved accumulator, full groups on the
// AVX2 kernel when the processor has it.  A replay already knows the row survives and takes slot 0 with the
// first group.
//
// Trace: the writing pass records, for every matrix of the pass (keyed by its
// rank in the pass, with its shape), the fate of each row to reduce in sorted
// order: 0 when it vanished, else its span.  Later passes replay it and skip
// the vanished rows without computing them.  Records grow with the matrices,
// and a matrix whose rows are not compared (want_ignore_simulin) still takes
// its rank, so replay stays in step over any number of bases per pass.
#include "engine/elim.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "engine/elim_kernels.h"
#include "engine/elim_vp_kernels.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {

i32 simul_write = 1;
i32 QUOR_NAME(want_ignore_simulin) = 0;
u32 Prime_inv = 0;

void make_slot_current(u32 s) {
  const u32 p = QUOR_NAME(Primes)[s];
  context_vectorize = s;
  QUOR_NAME(Prime) = p;
  Prime_inv = CellMod<u32>(p).v;
}

u32 gmp_normal2(u32 hi, u32 lo, u32 p, u32 v) { return normal2_step(hi, lo, p, v); }

u32 cell_residue(const LzwCell96& c, u32 p, u32 v) { return CellMod<u32>(p, v).residue(c); }

namespace {

// Accumulator cells wrap modulo 2^64 - p^2 (WrapMod): no count of products
// limits a cell between two reductions.
using Mod = WrapMod;
using Cell = u64;
constexpr u32 kNone = ~u32(0);

struct TraceMatrix {
  u32 nrows = 0, ncols = 0, nreduce = 0;
  std::vector<u32> items;  // per row to reduce: 0 vanished, else its span
};
std::vector<TraceMatrix> g_trace;
u32 g_matrix = 0;  // rank of the next matrix in the pass

bool g_banner = false;
bool g_mesg2 = false;
u32 g_percent_rows = 0;

bool stop_now() { return QUOR_NAME(stop_immediately)() != 0; }

// Room of the pivots' transposed coefficients for one group of 8 slots:
// emptied at each group, its chunks kept from matrix to matrix of a pass
// (their pages stay resident) and given back at the pass's end.  It holds at
// most elim_transposed_budget u32 (beyond one row that needs more): then the
// rows it holds are dropped, and made again at their next use.  Consecutive
// rows need mostly the same pivots, so few are made twice, where holding
// every pivot of a large matrix took 34 MB (katsura-10).
}  // namespace

u64 elim_transposed_budget = u64(1) << 17;

namespace {

struct TransposedRoom {
  static constexpr u64 kChunk = u64(1) << 18;   // u32 per chunk at least
  std::vector<std::unique_ptr<u32[]>> chunks;
  std::vector<u64> sizes;
  u32 cur = 0;   // chunk being filled
  u64 used = 0;  // its u32 in use
  u64 held = 0;  // u32 handed out since the last clear
  std::vector<u32> owners;  // the pivot of each piece handed out since then
  // Room for n u32 for pivot e, after dropping (with their entries of tr)
  // the rows held when they and n would exceed the budget.
  u32* take(u64 n, u32 e, const u32** tr) {
    n = (n + 15) & ~u64(15);
    if (held + n > elim_transposed_budget && !owners.empty()) {
      for (const u32 x : owners) tr[x] = nullptr;
      clear();
    }
    while (cur < chunks.size() && used + n > sizes[cur]) ++cur, used = 0;
    if (cur == chunks.size()) {
      const u64 size = std::max(kChunk, n);
      u32* c = new (std::nothrow) u32[size];
      if (!c) QUOR_NAME(Fatal)("Cannot allocate the transposed coefficients\n");
      chunks.emplace_back(c);
      sizes.push_back(size);
      used = 0;
    }
    u32* p = chunks[cur].get() + used;
    used += n;
    held += n;
    owners.push_back(e);
    return p;
  }
  void clear() { cur = 0, used = 0, held = 0, owners.clear(); }
};
TransposedRoom g_tr_room;

// The trace record of the current matrix, read or written.
struct TraceCursor {
  TraceMatrix* rec = nullptr;
  bool writing = false, reading = false;
  u64 pos = 0;
};

// Takes the matrix's rank; false when a replay finds no matching record.
bool trace_open(TraceCursor& tc, u32 nrows, u32 ncols, u32 nreduce) {
  const u32 k = g_matrix++;
  try {
    if (simul_write) {
      if (g_trace.size() <= k) g_trace.resize(k + 1);
      tc.rec = &g_trace[k];
      tc.rec->nrows = nrows, tc.rec->ncols = ncols, tc.rec->nreduce = nreduce;
      tc.rec->items.clear();
      tc.writing = true;
      return true;
    }
  } catch (const std::bad_alloc&) {
    QUOR_NAME(Fatal)("Cannot allocate simul_string\n");
  }
  if (QUOR_NAME(want_ignore_simulin)) return true;
  if (k >= g_trace.size() || g_trace[k].nrows != nrows || g_trace[k].ncols != ncols ||
      g_trace[k].nreduce != nreduce)
    return false;
  tc.rec = &g_trace[k];
  tc.reading = true;
  return true;
}

void trace_put(TraceCursor& tc, u32 item) {
  if (!tc.writing) return;
  try {
    tc.rec->items.push_back(item);
  } catch (const std::bad_alloc&) {
    QUOR_NAME(Fatal)("Cannot allocate simul_string\n");
  }
}

void fail_text(ElimStatus st, bool print, const char* fmt, ...) QUOR_PRINTF(3, 4);
void fail_text(ElimStatus st, bool print, const char* fmt, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  elim_fail(st, buf, print);
}

struct Work {
  ALGO_Dpol* rows;
  u32 ncols;
  u32* piv;  // ncols + 1 entries: row index of the pivot of a column, kNone for none
  Cell* acc;
  // Pivot coefficients transposed for the vector kernel, for the group of 8
  // slots being reduced, made on first use: row e's at tr[e], null until
  // then; each holds the row's entries times 8 slots, entry-major (in
  // g_tr_room, emptied with tr at each group).
  const u32** tr = nullptr;
  // Positions of each pivot's entries after its lead (relative to it),
  // decoded on first use; scratch holds ncols positions for the decoding.
  // c0 caches slot 0's coefficients after the lead (the one-slot walk's
  // only other load).
  struct Tail {
    const u32* pos;
    const u32* c0;
    u32 n;
  }* tails;
  u32* scratch;
  // Last slot of the block: a group of 8 slots past it repeats its prime and
  // coefficients (the repeats are computed, never kept), so that every group
  // takes the vector kernels.
  u32 last_slot = 0;
};

// Coefficients of slot s of row r (the last slot's for a repeat).
const Dom* slot_coeffs(const Work& w, const sALGO_Dpol* r, u32 s) { return r->coeffs[std::min(s, w.last_slot)]; }

// Decoded positions of pivot row e (a flagged row only once it is reduced).
const Work::Tail& tail(const Work& w, u32 e) {
  Work::Tail& t = w.tails[e];
  if (t.pos) return t;
  const sALGO_Dpol* r = w.rows[e];
  t.n = lzw_tail_positions(r->code, r->nb_codes, w.scratch);
  u32* pos = static_cast<u32*>(QUOR_NAME(alloc64)((u64(t.n) + 1) * sizeof(u32)));
  std::memcpy(pos, w.scratch, u64(t.n) * sizeof(u32));
  t.pos = pos;
  t.c0 = r->coeffs[0] + 1;
  return t;
}

// Transposed coefficients of pivot row e for the 8 slots from s0 (a multiple
// of 8: the group being reduced).
const u32* transposed(const Work& w, u32 e, u32 s0) {
  const u32** slot = &w.tr[e];
  if (*slot) return *slot;
  const sALGO_Dpol* r = w.rows[e];
  const u64 n = u64(tail(w, e).n) + 1;
  u32* t = g_tr_room.take(n * 8, e, w.tr);
  const Dom* c[8];
  for (u32 g = 0; g < 8; ++g) c[g] = slot_coeffs(w, r, s0 + g);
  // Entry-major: the output is written once, in order.
  for (u64 j = 0; j < n; ++j)
    for (u32 g = 0; g < 8; ++g) t[8 * j + g] = c[g][j];
  *slot = t;
  return t;
}

enum class Fate { kSurvived, kVanished, kStopped };

// Reduces row i for slot 0 on the accumulator against the pivots of index
// below i: cells from *cur on, lead and span of the result.  Reduction is
// delayed to inspection (WrapMod cells take any number of products).
Fate reduce_row(const Work& w, u32 i, const Mod& mod, Cell** out, u32* lead_out,
                u64* span_out) {
  const sALGO_Dpol* row = w.rows[i];
  wrap_expand(w.acc, row->span, row->code, row->nb_codes, row->coeffs[0]);
  u32 lead = row->lead;
  u64 span = row->span;
  Cell* cur = w.acc;
  for (;;) {
    const u32 e = w.piv[lead];
    if (e == kNone || e >= i) break;
    if (stop_now()) return Fate::kStopped;
    const u32 c = mod.residue(cur[0]);
    if (c) {
      const Work::Tail& t = tail(w, e);
      wrap_axpy_at(cur, mod.p - c, t.pos, t.c0, t.n, mod);
    }
    const u64 k = next_lead<u32, Mod>(cur, span, mod);
    if (!k) return Fate::kVanished;
    cur += k, lead += u32(k), span -= k;
  }
  for (u64 k = first_nonzero_cell(cur, 1, span); k < span; k = first_nonzero_cell(cur, k + 1, span)) {
    const u32 c = reduce_cell<u32, Mod>(cur[k], mod);
    if (!c) continue;
    const u32 e = w.piv[lead + k];
    if (e == kNone || e >= i) continue;
    if (stop_now()) return Fate::kStopped;
    Mod::set(cur[k], 0);
    const Work::Tail& t = tail(w, e);
    wrap_axpy_at(cur + k, mod.p - c, t.pos, t.c0, t.n, mod);
  }
  *out = cur, *lead_out = lead, *span_out = span;
  return Fate::kSurvived;
}

// Rows to reduce whose fate is not known yet (a writing pass) are reduced
// for slot 0 kLanes at a time, as the lanes of one interleaved accumulator:
// consecutive rows need mostly the same pivots, and each pivot is applied
// to all of them on one walk.  The columns are taken left to right, so a
// lane's entry is final once its column is passed.  At a column, lane g
// (row index[g]) is eliminated by the pivot e when e < index[g]; a lane
// without pivot there and without lead yet takes the column as its lead,
// and the later lanes with an entry there are eliminated by it at once (the
// row of index[g] is their pivot in the row-by-row order; its current,
// partly reduced cells give the same normal form).  Each lane ends exactly
// as reduce_row would leave it: the normal form of a row against a set of
// pivots with distinct leads does not depend on the order of the AXPYs.
struct Batch {
  u32 n = 0, next = 0;     // lanes, next lane to hand out
  u32 index[kLanes];       // their rows, ascending
  u32 lead[kLanes];        // lead column of each lane's result, kNone when it vanished
  u32 count[kLanes];       // its entries
  Dom* coef[kLanes];       // its residues (ncols each)
  u32* pos[kLanes];        // their positions relative to the lead (ncols each)
  Cell* acc = nullptr;     // (ncols + 1) * kLanes cells
};

// Lanes with f[h] != 0 take away f[h] / r times the owner lane from column
// k + 1 on, r being the owner's entry at k; the owner's cells are reduced on the way.
void eliminate_by_lane(Cell* acc, u64 k, u64 span, u32 owner, const u32* f, const Mod& mod) {
  const u32 inv = inv_Dom(u32(acc[k * kLanes + owner]), mod.p);
  u64 mult[kLanes];
  for (u32 h = 0; h < kLanes; ++h) mult[h] = f[h] ? mod.p - mod.mul(f[h], inv) : 0;
  for (u64 t = k + 1; t < span; ++t) {
    Cell* c = acc + t * kLanes;
    if (Mod::zero(c[owner])) continue;
    const u32 r = mod.residue(c[owner]);
    c[owner] = r;
    if (!r) continue;
    for (u32 h = 0; h < kLanes; ++h) c[h] = mod.add(c[h], mult[h] * r);
  }
}

// Reduces the b.n rows of b.index for slot 0 (see Batch) and compacts each
// lane; kStopped on an interrupt, else kSurvived.
Fate reduce_batch(const Work& w, Batch& b, const Mod& mod) {
  u32 base = kNone;
  for (u32 g = 0; g < b.n; ++g) base = std::min(base, w.rows[b.index[g]]->lead);
  const u64 span = u64(w.ncols) - base + 1;
  Cell* acc = b.acc;
  std::memset(static_cast<void*>(acc), 0, span * kLanes * sizeof(Cell));
  for (u32 g = 0; g < b.n; ++g) {
    const sALGO_Dpol* row = w.rows[b.index[g]];
    Cell* lane = acc + u64(row->lead - base) * kLanes + g;
    const Dom* cf = row->coeffs[0];
    lane[0] = *cf++;
    lzw_walk(
        row->code, row->nb_codes, [&](u64 p) { lane[p * kLanes] = *cf++; },
        [&](u64 p, u32 r) {
          for (u32 t = 0; t < r; ++t) lane[(p + t) * kLanes] = cf[t];
          cf += r;
        });
    b.lead[g] = kNone;
  }
  const bool simd = wrap_simd_available(), wide = wrap_avx512_available();
  u64 p8[kLanes], v8[kLanes], res[kLanes];
  for (u32 g = 0; g < kLanes; ++g) p8[g] = mod.p, v8[g] = mod.v;
  for (u64 k = 0; k < span; ++k) {
    Cell* cell = acc + k * kLanes;
    Cell any_cell = 0;
    for (u32 g = 0; g < kLanes; ++g) any_cell |= cell[g];
    if (!any_cell) continue;
    const u32 col = base + u32(k);
    const u32 e = w.piv[col];
    u32 owner = kNone, f[kLanes] = {};
    u64 m[kLanes] = {};
    bool by_pivot = false, by_owner = false;
    if (wide)
      wrap8_residues(cell, p8, v8, res);
    else
      for (u32 g = 0; g < b.n; ++g) res[g] = Mod::zero(cell[g]) ? 0 : mod.residue(cell[g]);
    for (u32 g = 0; g < b.n; ++g) {
      const u32 r = u32(res[g]);
      cell[g] = r;
      if (!r) continue;
      if (owner != kNone) {
        f[g] = r, cell[g] = 0, by_owner = true;
      } else if (e != kNone && e < b.index[g]) {
        m[g] = mod.p - r, cell[g] = 0, by_pivot = true;
      } else if (b.lead[g] == kNone) {
        owner = g, b.lead[g] = col;
      }
    }
    if ((by_pivot || by_owner) && stop_now()) return Fate::kStopped;
    if (by_pivot) {
      const Work::Tail& t = tail(w, e);
      if (wide)
        wrap_axpy_lanes_avx512(cell, m, t.pos, t.n, t.c0, mod);
      else if (simd)
        wrap_axpy_lanes_avx2(cell, m, t.pos, t.n, t.c0, mod);
      else
        wrap_axpy_lanes_at(cell, m, t.pos, t.n, t.c0, mod);
    }
    if (by_owner) eliminate_by_lane(acc, k, span, owner, f, mod);
  }
  // Every cell is a residue now: each was reduced when its column was passed.
  for (u32 g = 0; g < b.n; ++g) {
    if (b.lead[g] == kNone) continue;
    u32 n = 0;
    for (u64 k = b.lead[g] - base; k < span; ++k) {
      const Cell c = acc[k * kLanes + g];
      if (c) b.coef[g][n] = Dom(c), b.pos[g][n++] = u32(k - (b.lead[g] - base));
    }
    b.count[g] = n;
  }
  return Fate::kSurvived;
}

// Slots reduced together on one walk of a row (interleaved accumulator):
// the walk, the pivot lookups and the code are shared by the group.
constexpr u32 kGroup = 8;

// Reduces row i for the G slots s0 .. s0+G-1 at once on the interleaved
// accumulator acc (row->span groups of G cells): every column of the row
// whose pivot has an index below i is eliminated in every slot (a slot
// whose entry there is 0 takes a zero multiplier).  The result of each slot
// is the same fully reduced row as reduce_row's; the cells are not reduced.
template <u32 G>
Fate reduce_row_group(const Work& w, u32 i, u32 s0, const Mod* mods, Cell* acc) {
  const sALGO_Dpol* row = w.rows[i];
  const u64 span = row->span;
  std::memset(static_cast<void*>(acc), 0, span * G * sizeof(Cell));
  for (u32 g = 0; g < G; ++g) {
    const Dom* cf = slot_coeffs(w, row, s0 + g);
    acc[g] = cf[0];
    ++cf;
    lzw_walk(
        row->code, row->nb_codes, [&](u64 p) { acc[p * G + g] = *cf++; },
        [&](u64 p, u32 r) {
          for (u32 t = 0; t < r; ++t) acc[(p + t) * G + g] = cf[t];
          cf += r;
        });
  }
  const u32* piv = w.piv + row->lead;
  const bool wide = G == 8 && wrap_avx512_available();
  u64 p8[8] = {}, v8[8] = {};
  for (u32 g = 0; g < G; ++g) p8[g] = mods[g].p, v8[g] = mods[g].v;
  for (u64 k = 0; k < span; ++k) {
    const u32 e = piv[k];
    if (e == kNone || e >= i) continue;
    if (stop_now()) return Fate::kStopped;
    Cell* cell = acc + k * G;
    u64 m[G];
    u64 any = 0;
    if (wide) {
      wrap8_residues(cell, p8, v8, m);
      for (u32 g = 0; g < G; ++g) any |= m[g], m[g] = m[g] ? mods[g].p - m[g] : 0;
    } else {
      for (u32 g = 0; g < G; ++g) {
        const u32 c = Mod::zero(cell[g]) ? 0 : mods[g].residue(cell[g]);
        m[g] = c ? mods[g].p - c : 0;
        any |= c;
      }
    }
    for (u32 g = 0; g < G; ++g) cell[g] = 0;
    if (!any) continue;
    const Work::Tail& t = tail(w, e);
    if (G == 8 && w.tr && wrap_avx512_available()) {
      wrap_axpy8_at_avx512(cell, m, t.pos, t.n, transposed(w, e, s0) + 8, mods);
    } else if (G == 8 && w.tr) {
      wrap_axpy8_at_avx2(cell, m, t.pos, t.n, transposed(w, e, s0) + 8, mods);
    } else {
      const u32* cf[G];
      for (u32 g = 0; g < G; ++g) cf[g] = slot_coeffs(w, w.rows[e], s0 + g) + 1;
      wrap_axpy_group_at<G>(cell, m, t.pos, t.n, cf, mods);
    }
  }
  return Fate::kSurvived;
}

Fate reduce_group(u32 g, const Work& w, u32 i, u32 s0, const Mod* mods, Cell* acc) {
  switch (g) {
    case 1: return reduce_row_group<1>(w, i, s0, mods, acc);
    case 2: return reduce_row_group<2>(w, i, s0, mods, acc);
    case 3: return reduce_row_group<3>(w, i, s0, mods, acc);
    case 4: return reduce_row_group<4>(w, i, s0, mods, acc);
    case 5: return reduce_row_group<5>(w, i, s0, mods, acc);
    case 6: return reduce_row_group<6>(w, i, s0, mods, acc);
    case 7: return reduce_row_group<7>(w, i, s0, mods, acc);
    default: return reduce_row_group<kGroup>(w, i, s0, mods, acc);
  }
}

// Rows known to survive, with their leads known (from slot 0's batch, or
// from the trace in a replay), are reduced kRows at a time over each full
// group of 8 slots: one load of a pivot's coefficients then serves every
// row that needs it, where the row-by-row walk fetched them once per row.
// Columns are taken left to right as in reduce_batch; at a row's expected
// lead the later rows are eliminated by it (its row is their pivot there in
// the row-by-row order).  Each row ends as reduce_row_group leaves it as
// long as the rows before it end with their expected leads in every slot,
// which their own checks establish before the later rows are used.
constexpr u32 kRows = 8;
// Bytes of the row groups' cells of one matrix: fewer rows per group when
// the matrix is wide or the block has many groups of 8 slots.
constexpr u64 kRowGroupBytes = u64(16) << 20;


// The fields of a row that its reduction replaces.
struct RowFields {
  u8* code = nullptr;
  u32 lead = 0, span = 0, dense = 0, nb_codes = 0, encoding = 0;
  static RowFields of(const sALGO_Dpol* r) { return {r->code, r->lead, r->span, r->dense, r->nb_codes, r->encoding}; }
  void put(sALGO_Dpol* r) const {
    r->code = code, r->lead = lead, r->span = span, r->dense = dense, r->nb_codes = nb_codes, r->encoding = encoding;
  }
};
// A surviving row of a matrix: its index, its fields as given and as reduced.
struct Kept {
  u32 i;
  RowFields orig, red;
};

struct RowGroup {
  u32 n = 0, next = 0;   // rows, next row to hand out
  u32 cap = 0;           // most rows of a group (at most kRows)
  u32 stride = 0;        // cells per column: cap * 8
  u32 index[kRows];      // their rows, ascending, consecutive survivors
  u32 lead[kRows];       // their expected lead columns
  u32 base = 0;          // smallest first column of the rows
  Cell** acc = nullptr;  // per full group: cell (k, r, g) at acc[q][k * stride + r * 8 + g]
};

// The AXPY of pivot e into the nr rows at offsets roff (multipliers m, 8 per row).
void rows_axpy(const Work& w, u32 e, u32 s0, Cell* cells, u64 stride, u32 nr, const u32* roff, const u64* m,
               const Mod* mods) {
  const Work::Tail& t = tail(w, e);
  const u32* tc = transposed(w, e, s0) + 8;
  switch (nr) {
    case 1: return wrap_axpy8_rows_avx512<1>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 2: return wrap_axpy8_rows_avx512<2>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 3: return wrap_axpy8_rows_avx512<3>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 4: return wrap_axpy8_rows_avx512<4>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 5: return wrap_axpy8_rows_avx512<5>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 6: return wrap_axpy8_rows_avx512<6>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    case 7: return wrap_axpy8_rows_avx512<7>(cells, stride, roff, m, t.pos, t.n, tc, mods);
    default: return wrap_axpy8_rows_avx512<kRows>(cells, stride, roff, m, t.pos, t.n, tc, mods);
  }
}

// Reduces the rows of b over the 8 slots from s0 into acc (see RowGroup);
// kStopped on an interrupt, else kSurvived.  Every cell is left reduced.
// A row eliminated by an earlier row at that row's lead takes the multiple
// of it column by column as the walk goes on, from the earlier row's cells
// once they are final there: one walk of the accumulator for every row.
__attribute__((target("avx512f"))) Fate reduce_rows_group(const Work& w, const RowGroup& b, u32 s0,
                                                          const Mod* mods, Cell* acc) {
  const u64 span = u64(w.ncols) - b.base + 1;
  std::memset(static_cast<void*>(acc), 0, span * b.stride * sizeof(Cell));
  for (u32 r = 0; r < b.n; ++r) {
    const sALGO_Dpol* row = w.rows[b.index[r]];
    Cell* first = acc + u64(row->lead - b.base) * b.stride + r * 8;
    for (u32 g = 0; g < 8; ++g) {
      const Dom* cf = slot_coeffs(w, row, s0 + g);
      first[g] = *cf++;
      lzw_walk(
          row->code, row->nb_codes, [&](u64 p) { first[p * b.stride + g] = *cf++; },
          [&](u64 p, u32 n) {
            for (u32 t = 0; t < n; ++t) first[(p + t) * b.stride + g] = cf[t];
            cf += n;
          });
    }
  }
  u64 p8[8], v8[8], c28[8];
  for (u32 g = 0; g < 8; ++g) p8[g] = mods[g].p, v8[g] = mods[g].v, c28[g] = mods[g].c2;
  const __m512i pv = _mm512_loadu_si512(p8), vv = _mm512_loadu_si512(v8), c2v = _mm512_loadu_si512(c28);
  // Row r takes mult[o][r] times row o at every later column, o in from[r].
  __m512i mult[kRows][kRows];
  u32 from[kRows] = {};
  for (u64 k = 0; k < span; ++k) {
    Cell* col = acc + k * b.stride;
    const u32 c = b.base + u32(k);
    const u32 e = w.piv[c];
    u32 owner = kNone;
    for (u32 r = 0; r < b.n && owner == kNone; ++r)
      if (b.lead[r] == c) owner = r;
    alignas(64) u64 m[kRows * 8];
    alignas(64) u64 inv[8] = {};
    u32 roff[kRows];
    u32 nr = 0;
    for (u32 r = 0; r < b.n; ++r) {
      Cell* q = col + r * 8;
      __m512i x = _mm512_loadu_si512(q);
      for (u32 f = from[r]; f; f &= f - 1) {
        const u32 o = u32(__builtin_ctz(f));
        x = wrap8_madd512(x, _mm512_loadu_si512(col + o * 8), mult[o][r], c2v);
      }
      if (!_mm512_test_epi64_mask(x, x)) continue;
      const __m512i res = wrap8_residues512(x, pv, vv);
      const __mmask8 nz = _mm512_test_epi64_mask(res, res);
      if (nz && owner != kNone && r > owner) {
        // Eliminated by the owner: r - res / (owner's lead) times it.
        alignas(64) u64 rr[8], mr[8];
        _mm512_store_si512(rr, res);
        for (u32 g = 0; g < 8; ++g) mr[g] = rr[g] && inv[g] ? mods[g].p - mods[g].mul(u32(rr[g]), u32(inv[g])) : 0;
        mult[owner][r] = _mm512_load_si512(mr);
        from[r] |= 1u << owner;
        _mm512_storeu_si512(q, _mm512_setzero_si512());
      } else if (nz && e != kNone && e < b.index[r]) {
        _mm512_store_si512(m + 8 * nr, _mm512_maskz_sub_epi64(nz, pv, res));
        roff[nr++] = r * 8;
        _mm512_storeu_si512(q, _mm512_setzero_si512());
      } else {
        _mm512_storeu_si512(q, res);
        if (r == owner) {
          // A slot whose lead entry is 0 eliminates nothing: the owner then
          // fails its own check, and the later rows are never taken.
          alignas(64) u64 rr[8];
          _mm512_store_si512(rr, res);
          for (u32 g = 0; g < 8; ++g) inv[g] = rr[g] ? inv_Dom(u32(rr[g]), mods[g].p) : 0;
        }
      }
    }
    if (nr && stop_now()) return Fate::kStopped;
    if (nr) rows_axpy(w, e, s0, col, b.stride, nr, roff, m, mods);
  }
  return Fate::kSurvived;
}

// Residue of a cell of a reduced group: the row groups leave residues,
// which cost one compare.
inline u32 cell_value(Cell c, const Mod& mod) { return c < mod.p ? u32(c) : mod.residue(c); }

// Position of the first cell of slot g (of a group reduced by
// reduce_row_group) with a non-zero residue; span when there is none.
u64 first_nonzero(const Cell* acc, u32 G, u32 g, u64 span, const Mod& mod) {
  for (u64 k = 0; k < span; ++k) {
    const Cell c = acc[k * G + g];
    if (c && cell_value(c, mod)) return k;
  }
  return span;
}

// Compacts slot g of a group from its lead at off: the non-zero residues
// into coef, their positions relative to the lead into pos; returns their count.
u32 compact_group_lead(const Cell* acc, u32 G, u32 g, u64 span, u64 off, Dom* coef, u32* pos, const Mod& mod) {
  u32 n = 0;
  for (u64 k = off; k < span; ++k) {
    const Cell c = acc[k * G + g];
    const u32 r = cell_value(c, mod);
    if (r) coef[n] = Dom(r), pos[n++] = u32(k - off);
  }
  return n;
}

// Slots g0 .. G-1 of a group (column k of slot g at acc[k * stride + g]),
// reduced: the lead of each must lie at off (slot 0's lead, relative to the
// row's), then its residues are compacted onto slot 0's n positions pat
// (relative to the lead) into coef[g].  st[g] is 0 when the slot agrees, 1
// when it vanished, 2 when its lead differs, and 3 when it has entries
// outside the pattern (outside[g] of them); zeros[g] counts the pattern
// positions whose residue is 0.  One walk of the columns serves every slot
// (a column's cells share a cache line).
void compact_group_slots(const Cell* acc, u32 stride, u32 g0, u32 G, u64 span, u64 off, const u32* pat, u32 n,
                         Dom* const* coef, const Mod* mods, u32* st, u32* zeros, u32* outside) {
  u64 first[kGroup];
  for (u32 g = g0; g < G; ++g) first[g] = span, zeros[g] = outside[g] = 0;
  u32 j = 0;
  for (u64 k = 0; k < span; ++k) {
    const Cell* c = acc + k * stride;
    const bool in_pat = k >= off && j < n && pat[j] == k - off;
    for (u32 g = g0; g < G; ++g) {
      const u32 r = c[g] ? cell_value(c[g], mods[g]) : 0;
      if (r && first[g] == span) first[g] = k;
      if (in_pat) {
        coef[g][j] = Dom(r);
        if (!r) ++zeros[g];
      } else if (r && k >= off) {
        ++outside[g];
      }
    }
    if (in_pat) ++j;
  }
  for (u32 g = g0; g < G; ++g) st[g] = first[g] == span ? 1 : first[g] != off ? 2 : outside[g] ? 3 : 0;
}

// n residues into a fresh zone array, made monic unless a lone entry stays as it is.
Dom* store_coefficients(const Dom* src, u32 n) {
  Dom* c = static_cast<Dom*>(QUOR_NAME(alloc64)(u64(n) * sizeof(Dom)));
  std::memcpy(c, src, u64(n) * sizeof(Dom));
  if (!(n == 1 && QUOR_NAME(want_no_renorm_cste))) QUOR_NAME(monic_d)(c, n);
  return c;
}

// Progress of one reduced row on the progress stream and the error channel.
void progress(u32 done, u32 nreduce) {
  const double pc = nreduce ? 100.0 * done / nreduce : 100.0;
  bus_row(pc);
  if (QUOR_NAME(want_state_percent) && (++g_percent_rows % 64) == 0)
    QUOR_NAME(Stderr)("%.1f%%/", pc);
}

// compact_onto (cells reduced on the way) the same way: coef[j] is the
// residue at pat[j]; returns the count of non-zero residues outside pat.
// Every cell is left empty.
u32 compact_onto_sparse(Cell* cells, u64 span, const u32* pat, u32 n, Dom* coef, const Mod& mod) {
  for (u32 j = 0; j < n; ++j) coef[j] = Dom(cells[pat[j]] ? mod.residue(cells[pat[j]]) : 0);
  u32 outside = 0, j = 0;
  for (u64 k = first_nonzero_cell(cells, 0, span); k < span; k = first_nonzero_cell(cells, k + 1, span)) {
    while (j < n && pat[j] < k) ++j;
    if (!(j < n && pat[j] == k) && mod.residue(cells[k])) ++outside;
    cells[k] = 0;
  }
  return outside;
}

// Back-reduction of the new rows (sorted by lead ascending), every slot;
// false when it was interrupted or a slot disagreed.
bool backward(ALGO_Dpol* nr, u32 n, u32 ncols, Cell* acc, u32 V) {
  if (n < 2) return true;
  std::vector<u32> pos(ncols);
  std::vector<Dom> coef(ncols);
  std::vector<Mod> mods;
  for (u32 s = 0; s < V; ++s) mods.emplace_back(QUOR_NAME(Primes)[s]);
  // The compactions leave the accumulator empty, so a row is written into
  // it without clearing its span first (wrap_expand clears one cell).
  std::memset(static_cast<void*>(acc), 0, u64(ncols) * sizeof(Cell));
  for (i64 t = i64(n) - 2; t >= 0; --t) {
    if (stop_now()) {
      elim_fail(kElimInterrupted, "", false);
      return false;
    }
    sALGO_Dpol* b = nr[t];
    if (b->encoding != CODE_LZW) QUOR_NAME(Fatal)("code <> CODE_LZW");
    // The row's own arrays, dead once expanded, take its new coefficients
    // when they fit: a copy of every slot of the basis is not kept.
    const u32 had = 1 + lzw_tail_positions(b->code, b->nb_codes, pos.data());
    u32 m = 0;
    for (u32 s = V; s-- > 0;) {
      make_slot_current(s);
      const Mod& mod = mods[s];
      wrap_expand(acc, 1, b->code, b->nb_codes, b->coeffs[s]);
      for (i64 q = i64(n) - 1; q > t; --q) {
        const sALGO_Dpol* pq = nr[q];
        Cell& cell = acc[pq->lead - b->lead];
        const u32 c = mod.residue(cell);
        if (c) wrap_axpy(&cell, mod.p - c, pq->code, pq->coeffs[s], pq->nb_codes, mod);
        Mod::set(cell, 0);
      }
      if (s == V - 1) {
        m = compact_sparse<Dom>(acc, b->span, coef.data(), pos.data(), mod);
      } else {
        if (compact_onto_sparse(acc, b->span, pos.data(), m, coef.data(), mod)) {
          make_slot_current(0);
          elim_fail(kElimBadPrime, "NOT DONE in size_compact_row2_long_Dom\n");
          return false;
        }
      }
      // The lead stays 1: every later row's lead lies right of it.
      Dom* c = m <= had ? b->coeffs[s] : static_cast<Dom*>(QUOR_NAME(alloc64)(u64(m) * sizeof(Dom)));
      std::memcpy(c, coef.data(), u64(m) * sizeof(Dom));
      b->coeffs[s] = c;
    }
    u32 codes = 0;
    u64 bytes = 0;
    b->code = compress_lzw(pos.data(), m, &codes, &bytes);
    b->nb_codes = codes;
  }
  make_slot_current(0);
  return true;
}

}  // namespace

void QUOR_NAME(reset_simulation)() {
  g_matrix = 0;
  if (simul_write) g_trace.clear();
  elim_give_back_room();
}

void elim_give_back_room() { g_tr_room = TransposedRoom{}; }

u32 simulation_matrices() { return u32(g_trace.size()); }

u32 eliminate_sorted(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, ALGO_Dpol* out) {
  const u32 V = QUOR_NAME(vectorize);
  make_slot_current(0);
  TraceCursor tc;
  if (!trace_open(tc, nrows, ncols, nreduce)) {
    fail_text(kElimBadPrime, true, "Trace out of step (matrix %u)\n", g_matrix - 1);
    return 0;
  }
  if (nrows == 0) return 0;
  check_matrix_rows(rows, nrows, ncols, nreduce);

  u32* piv = static_cast<u32*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * sizeof(u32)));
  std::fill(piv, piv + u64(ncols) + 1, kNone);
  for (u32 i = nrows; i-- > 0;)
    if (rows[i]->flag == 0) piv[rows[i]->lead] = i;
  Cell* acc = static_cast<Cell*>(QUOR_NAME(alloc64)(u64(ncols) * sizeof(Cell)));
  Cell* gacc = V > 1 ? static_cast<Cell*>(QUOR_NAME(alloc64)(u64(ncols) * kGroup * sizeof(Cell))) : nullptr;
  Work w{rows, ncols, piv, acc, nullptr, nullptr, nullptr, V - 1};
  w.tails = static_cast<Work::Tail*>(QUOR_NAME(alloc64)(u64(nrows) * sizeof(Work::Tail)));
  std::fill(w.tails, w.tails + nrows, Work::Tail{nullptr, nullptr, 0});
  w.scratch = static_cast<u32*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * sizeof(u32)));
  if (V >= kGroup && kGroup == 8 && wrap_simd_available()) {
    w.tr = static_cast<const u32**>(QUOR_NAME(alloc64)(u64(nrows) * sizeof(u32*)));
    std::fill(w.tr, w.tr + nrows, nullptr);
    g_tr_room.clear();
  }
  if (!g_banner) {
    g_banner = true;
    QUOR_NAME(Stderr)("COMPACT_NEW_LINES=%d BACKWARD=%d\n", 1, 1);
  }
  bus_matrix(nrows, ncols);

  std::vector<Mod> mods;
  for (u32 s = 0; s < V; ++s) mods.emplace_back(QUOR_NAME(Primes)[s]);
  // With the vector kernels, a last group of fewer than 8 slots is filled
  // with repeats of the last slot (see Work::last_slot).
  const bool pad = w.tr != nullptr;
  while (pad && mods.size() % kGroup) mods.push_back(mods.back());
  const u32 full_groups = pad ? (V + kGroup - 1) / kGroup : V / kGroup;
  std::vector<u32> pos0(ncols);
  std::vector<Dom> coef(ncols);
  std::vector<Dom*> arrays(V);
  std::vector<Dom> slot_coef_room(u64(kGroup) * (u64(ncols) + 1));
  std::vector<Dom*> slot_coef(kGroup);
  for (u32 g = 0; g < kGroup; ++g) slot_coef[g] = slot_coef_room.data() + u64(g) * (u64(ncols) + 1);
  Batch batch;
  if (!tc.reading) {
    batch.acc = static_cast<Cell*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * kLanes * sizeof(Cell)));
    for (u32 g = 0; g < kLanes; ++g) {
      batch.coef[g] = static_cast<Dom*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * sizeof(Dom)));
      batch.pos[g] = static_cast<u32*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * sizeof(u32)));
    }
  }
  // One group of 8 slots is reduced at a time (below), so one accumulator
  // serves every group; its rows per group are those the budget gives when
  // it is shared by all the groups, as before.
  RowGroup rg;
  const u64 row_bytes = (u64(ncols) + 1) * std::max(1u, full_groups) * 8 * sizeof(Cell);
  rg.cap = u32(std::min<u64>(kRows, kRowGroupBytes / row_bytes));
  rg.stride = rg.cap * 8;
  const bool row_groups = V >= kGroup && w.tr && wrap_avx512_available() && rg.cap >= 2;
  std::vector<Cell*> rg_acc(row_groups ? 1 : 0);
  for (Cell*& a : rg_acc) a = static_cast<Cell*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * rg.stride * sizeof(Cell)));
  rg.acc = rg_acc.data();
  // The cells of the slots s0 .. s0+G-1 of the row being stored: from the
  // row group when it covers them, else reduced into gacc.
  Cell* gv = gacc;
  u32 gstride = kGroup;
  // Checks the slots g0 .. G-1 of the group from s0 of row i (cells gv, the
  // row's span from its first column, slot 0's lead at off) against slot
  // 0's pattern pat (n0 positions) and stores their coefficients in arrays;
  // false, the status set, on a bad prime.
  auto store_slots = [&](u32 i, u32 s0, u32 G, u32 g0, u64 span, u64 off, const u32* pat, u32 n0) -> bool {
    u32 sts[kGroup], zero_counts[kGroup], outsides[kGroup];
    compact_group_slots(gv, gstride, g0, G, span, off, pat, n0, slot_coef.data(), mods.data() + s0, sts, zero_counts,
                        outsides);
    for (u32 g = g0; g < G; ++g) {
      const u32 s = s0 + g;
      const u32 p = QUOR_NAME(Primes)[s];
      const u32 st = sts[g], zeros = zero_counts[g], outside = outsides[g];
      if (st == 1) {
        fail_text(kElimBadPrime, true, "Bad prime number bp=%u\n", p);
        return false;
      }
      if (st == 2) {
        fail_text(kElimBadPrime, true, "Cas complique line %d for p[%d]=%u\n", int(i), int(s), p);
        return false;
      }
      if (st == 3) {
        fail_text(kElimBadPrime, true, "Probably a bad prime ! (sz=%d sz0=%d)\n", int(n0), int(n0 + outside));
        return false;
      }
      for (u32 z = 0; z < zeros; ++z)
        QUOR_NAME(Stderr)("%s\nWarning: new experimental implementation of size_compact_row_adaptative\n",
                          "======================================================================");
      make_slot_current(s);
      arrays[s] = store_coefficients(slot_coef[g], n0);
      make_slot_current(0);
    }
    return true;
  };
  // The first walk over the rows decides their fates and reduces the first
  // group of slots; each later group of 8 slots takes its own walk over the
  // surviving rows (below), so that the pivots' transposed coefficients are
  // held for 8 slots at a time.  A surviving row keeps its fields as given
  // (orig) for those walks beside the reduced ones (red).
  const u32 first_slots = std::min(V, kGroup);
  std::vector<Kept> kept;
  u32 nnew = 0, done = 0;
  for (u32 i = 0; i < nrows; ++i) {
    if (stop_now()) {
      elim_fail(kElimInterrupted, "", false);
      return 0;
    }
    sALGO_Dpol* row = rows[i];
    if (row->flag == 0) continue;
    progress(++done, nreduce);
    u32 expected = 1;
    if (tc.reading) {
      if (tc.pos >= tc.rec->items.size()) {
        fail_text(kElimBadPrime, true, "Trace out of step (matrix %u)\n", g_matrix - 1);
        return 0;
      }
      expected = tc.rec->items[tc.pos++];
      if (expected == 0) continue;  // known to vanish: not computed
    }
    // A replay knows the row survives: slot 0 is computed with the first
    // full group, on the vector kernel, and checked against the trace there.
    const bool group0 = tc.reading && V >= kGroup;
    Cell* cur = nullptr;
    u32 lead = 0;
    u64 span = 0;
    Fate f0 = Fate::kVanished;
    u32 lane = kNone;
    // The row's place in the row group (kNone: none); the group is made at
    // the first row it covers, from the next rows known to survive.
    u32 rgr = kNone;
    auto take_row_group = [&]() -> Fate {
      if (!row_groups) return Fate::kSurvived;
      if (rg.next == rg.n) {
        rg.n = rg.next = 0;
        if (tc.reading) {
          u64 p = tc.pos - 1;
          for (u32 r = i; r < nrows && rg.n < rg.cap && p < tc.rec->items.size(); ++r) {
            if (rows[r]->flag == 0) continue;
            const u32 item = tc.rec->items[p++];
            if (item) rg.index[rg.n] = r, rg.lead[rg.n++] = ncols + 1 - item;
          }
        } else {
          for (u32 l = lane; l < batch.n && rg.n < rg.cap; ++l)
            if (batch.lead[l] != kNone) rg.index[rg.n] = batch.index[l], rg.lead[rg.n++] = batch.lead[l];
        }
        if (rg.n < 2) {
          rg.n = 0;
          return Fate::kSurvived;
        }
        rg.base = kNone;
        for (u32 r = 0; r < rg.n; ++r) rg.base = std::min(rg.base, rows[rg.index[r]]->lead);
        if (reduce_rows_group(w, rg, 0, mods.data(), rg.acc[0]) == Fate::kStopped) return Fate::kStopped;
      }
      if (rg.next < rg.n && rg.index[rg.next] == i) rgr = rg.next++;
      return Fate::kSurvived;
    };
    auto group_view = [&](u32 s0, u32 G) -> Fate {
      if (rgr != kNone && G == kGroup) {
        gv = rg.acc[0] + u64(row->lead - rg.base) * rg.stride + rgr * 8;
        gstride = rg.stride;
        return Fate::kSurvived;
      }
      gv = gacc, gstride = G;
      return reduce_group(G, w, i, s0, mods.data() + s0, gacc);
    };
    if (tc.reading && take_row_group() == Fate::kStopped) {
      elim_fail(kElimInterrupted, "", false);
      return 0;
    }
    if (!tc.reading) {
      if (batch.next == batch.n) {
        batch.n = batch.next = 0;
        for (u32 r = i; r < nrows && batch.n < kLanes; ++r)
          if (rows[r]->flag != 0) batch.index[batch.n++] = r;
        f0 = reduce_batch(w, batch, mods[0]);
      }
      lane = batch.next++;
      if (f0 != Fate::kStopped) {
        lead = batch.lead[lane];
        f0 = lead == kNone ? Fate::kVanished : Fate::kSurvived;
        span = u64(ncols) - lead + 1;
      }
    } else if (group0) {
      f0 = group_view(0, kGroup);
      if (f0 == Fate::kSurvived) {
        const u64 k0 = first_nonzero(gv, gstride, 0, row->span, mods[0]);
        if (k0 == row->span) f0 = Fate::kVanished;
        lead = row->lead + u32(k0);
        span = row->span - k0;
      }
    } else {
      f0 = reduce_row(w, i, mods[0], &cur, &lead, &span);
    }
    if (f0 == Fate::kStopped) {
      elim_fail(kElimInterrupted, "", false);
      return 0;
    }
    if (f0 == Fate::kVanished && !tc.reading) {
      QUOR_NAME(mark_useless)(0);
      trace_put(tc, 0);
      continue;
    }
    // A replayed row must survive with the recorded span.
    if (tc.reading && (f0 == Fate::kVanished || expected != span)) {
      fail_text(kElimBadPrime, !g_mesg2, "Bad prime p=%u (Mesg 2)\n", QUOR_NAME(Prime));
      g_mesg2 = true;
      return 0;
    }
    if (!tc.reading && take_row_group() == Fate::kStopped) {
      elim_fail(kElimInterrupted, "", false);
      return 0;
    }
    QUOR_NAME(mark_useless)(1);
    piv[lead] = i;
    trace_put(tc, u32(span));
    u32 n0 = 0;
    const u32* pat = pos0.data();
    if (lane != kNone) {
      n0 = batch.count[lane], pat = batch.pos[lane];
      arrays[0] = store_coefficients(batch.coef[lane], n0);
    } else {
      n0 = group0 ? compact_group_lead(gv, gstride, 0, row->span, lead - row->lead, coef.data(), pos0.data(),
                                       mods[0])
                  : compact_reduced<u32, Mod>(cur, span, coef.data(), pos0.data());
      arrays[0] = store_coefficients(coef.data(), n0);
    }
    // The first group of slots on one walk of the row.  With a full group
    // or more it starts at slot 0 (recomputed, not compacted again), so
    // that whole groups use the vector kernel.
    const u64 off = lead - row->lead;
    if (const u32 s0 = V >= kGroup ? 0 : 1; s0 < V) {
      const u32 G = std::min(kGroup, V - s0);
      if (!(group0 && s0 == 0) && group_view(s0, pad ? kGroup : G) == Fate::kStopped) {
        elim_fail(kElimInterrupted, "", false);
        return 0;
      }
      if (!store_slots(i, s0, G, s0 == 0 ? 1 : 0, row->span, off, pat, n0)) return 0;
    }
    if (V > first_slots) kept.push_back(Kept{i, RowFields::of(row), {}});
    u32 codes = 0;
    u64 bytes = 0;
    row->code = compress_lzw(pat, n0, &codes, &bytes);
    row->nb_codes = codes;
    for (u32 s = 0; s < first_slots; ++s) row->coeffs[s] = arrays[s];
    row->dense = 0;
    row->encoding = CODE_LZW;
    row->lead = lead;
    row->span = ncols - lead + 1;
    if (V > first_slots) kept.back().red = RowFields::of(row);
    out[nnew++] = row;
  }

  // The later groups of slots.  A row is reduced with its given fields and
  // coefficients of the group against the pivots before it, which then hold
  // their reduced fields and the group's reduced coefficients: the same
  // pivots, by the same indices, as on the first walk.
  for (u32 s0 = kGroup; s0 < V; s0 += kGroup) {
    const u32 G = std::min(kGroup, V - s0);
    if (w.tr) {
      std::fill(w.tr, w.tr + nrows, nullptr);
      g_tr_room.clear();
    }
    rg.n = rg.next = 0;
    for (u64 k = 0; k < kept.size(); ++k) {
      if (stop_now()) {
        elim_fail(kElimInterrupted, "", false);
        return 0;
      }
      const Kept& kp = kept[k];
      const u32 i = kp.i;
      sALGO_Dpol* row = rows[i];
      // Slot 0's pattern, from the reduced row's code.
      pos0[0] = 0;
      const u32 n0 = 1 + lzw_tail_positions(kp.red.code, kp.red.nb_codes, pos0.data() + 1);
      u32 rgr = kNone;
      if (row_groups && rg.next == rg.n) {
        rg.n = rg.next = 0;
        for (u64 r = k; r < kept.size() && rg.n < rg.cap; ++r)
          rg.index[rg.n] = kept[r].i, rg.lead[rg.n++] = kept[r].red.lead;
        if (rg.n < 2) {
          rg.n = 0;
        } else {
          rg.base = kNone;
          for (u32 r = 0; r < rg.n; ++r) {
            kept[k + r].orig.put(rows[rg.index[r]]);
            rg.base = std::min(rg.base, kept[k + r].orig.lead);
          }
          const Fate f = reduce_rows_group(w, rg, s0, mods.data() + s0, rg.acc[0]);
          for (u32 r = 0; r < rg.n; ++r) kept[k + r].red.put(rows[rg.index[r]]);
          if (f == Fate::kStopped) {
            elim_fail(kElimInterrupted, "", false);
            return 0;
          }
        }
      }
      if (rg.next < rg.n && rg.index[rg.next] == i) rgr = rg.next++;
      const RowFields& given = kp.orig;
      if (rgr != kNone) {
        gv = rg.acc[0] + u64(given.lead - rg.base) * rg.stride + rgr * 8;
        gstride = rg.stride;
      } else {
        gv = gacc, gstride = pad ? kGroup : G;
        given.put(row);
        const Fate f = reduce_group(gstride, w, i, s0, mods.data() + s0, gacc);
        kp.red.put(row);
        if (f == Fate::kStopped) {
          elim_fail(kElimInterrupted, "", false);
          return 0;
        }
      }
      if (!store_slots(i, s0, G, 0, given.span, kp.red.lead - given.lead, pos0.data(), n0)) return 0;
      for (u32 s = s0; s < s0 + G; ++s) row->coeffs[s] = arrays[s];
    }
  }
  bus_ok();

  shell_sort_indices(
      nnew,
      [out](u32 a, u32 b) {
        return out[a]->lead > out[b]->lead ||
               (out[a]->lead == out[b]->lead && out[a]->key < out[b]->key);
      },
      [out](u32 a, u32 b) { std::swap(out[a], out[b]); });
  if (!backward(out, nnew, ncols, acc, V)) return 0;
  return nnew;
}

}  // namespace quor::QUOR_NS
