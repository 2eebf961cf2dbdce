// Threaded elimination modulo one prime below 2^16 (prime-field build).
//
// Forward pass: the rows to reduce are taken in sorted order in batches of
// nb_threads rows.  Region 1 reduces every row of a batch, each on its own
// accumulator, against the pivots known before the batch; the master then
// resolves the leads that an earlier row of the same batch took, in batch
// order, and turns each survivor into a new pivot row.  Backward pass: the new
// rows are back-reduced in waves of nb_threads rows from the right.
//
// The result is the reduced echelon form of the rows to reduce against the
// known pivots, so it does not depend on the number of threads: a row's fate
// (vanish, or its final lead) depends only on the rows before it in sorted
// order, and the zero-row heuristic is applied in the master in the row
// order a single thread would see.  Regions work with the team the runtime
// actually gives; nothing fatal is raised inside a region, and everything
// that allocates or rewrites shared rows runs on the master between regions.
#include "engine/elim.h"

#if !QUOR_INT
#include <omp.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "api/request.h"
#include "core/zone.h"
#include "engine/elim_kernels.h"
#include "host/C/host_services.h"

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

// Cells reduced by one thread before region 2 is worth its fork.
constexpr u64 kParallelReduceCells = 1u << 14;

// Percentage counter of the batches, kept for the process.
u32 g_batches = 0;

// Accumulator rows, one per batch slot, from the system allocator.
struct Accumulators {
  std::vector<Cell*> rows;
  u64 ncols = 0;
  ~Accumulators() {
    for (Cell* r : rows) std::free(r);
  }
  // Slot s exists after this (master only: fatal on failure).
  Cell* get(u32 s) {
    while (rows.size() <= s) {
      void* p = std::aligned_alloc(64, ((ncols * sizeof(Cell)) + 63) & ~u64(63));
      if (!p) QUOR_NAME(Fatal)("Cannot allocate memory !");
      rows.push_back(static_cast<Cell*>(p));
    }
    return rows[s];
  }
};

struct Forward {
  ALGO_Dpol* rows;
  u32 ncols;
  i32* piv;  // ncols + 1 entries: row index of the pivot of a column, -1 none
  Mod mod;
};

// One row of a batch after region 1.
struct SlotResult {
  u32 row;
  Cell* cur;  // accumulator at the row's lead, null when the row vanished
  u32 lead;
  u64 span;
};

// Team size asked for: the batch and wave width.
u32 team_width() { return nb_threads > 1 ? u32(std::min(nb_threads, 1024)) : 1u; }

// Region 1 body: reduces row r on acc against every pivot of index below r
// that the table knows (read-only).
void forward_row(const Forward& f, u32 r, Cell* acc, SlotResult& res) {
  const sALGO_Dpol* row = f.rows[r];
  lzw_expand<u16>(acc, row->span, row->code, row->nb_codes, row->coeffs[0]);
  u32 lead = row->lead;
  u64 span = row->span;
  Cell* cur = acc;
  u64 products = 0;
  res.row = r;
  res.cur = nullptr;
  for (;;) {
    const i32 e = f.piv[lead];
    if (e < 0 || u32(e) >= r) break;
    const sALGO_Dpol* pv = f.rows[e];
    const u64 k = eliminate_lead<u16>(cur, span, pv->code, pv->coeffs[0], pv->nb_codes, f.mod,
                                      &products);
    if (!k) return;
    cur += k, lead += u32(k), span -= k;
  }
  for (u64 k = 1; k < span; ++k) {
    const u32 c = reduce_cell<u16>(cur[k], f.mod);
    if (!c) continue;
    const i32 e = f.piv[lead + k];
    if (e < 0 || u32(e) >= r) continue;
    const sALGO_Dpol* pv = f.rows[e];
    cur[k] = 0;
    lzw_axpy<u16>(cur + k, f.mod.p - c, pv->code, pv->coeffs[0], pv->nb_codes);
  }
  res.cur = cur, res.lead = lead, res.span = span;
}

// Region 2: cells 1 .. span-1 reduced modulo p in one contiguous block per thread.
void reduce_tail(Cell* cur, u64 span, const Mod& mod, u32 width) {
  if (span < 2) return;
  if (width == 1 || span - 1 < kParallelReduceCells) {
    for (u64 k = 1; k < span; ++k) reduce_cell<u16>(cur[k], mod);
    return;
  }
  NoRaiseRegion guard;
#pragma omp parallel num_threads(width)
  {
    const u64 T = u64(omp_get_num_threads()), t = u64(omp_get_thread_num());
    const u64 B = (span - 1 + T - 1) / T;
    const u64 lo = 1 + t * B, hi = std::min(span - 1, (t + 1) * B);
    for (u64 k = lo; k <= hi; ++k) reduce_cell<u16>(cur[k], mod);
  }
}

// Compaction buffers of the master (ncols entries each).
struct Scratch {
  std::vector<u32> pos;
  std::vector<Dom> coef;
};

// Makes row a new pivot row from its reduced cells: coefficients (zone),
// monic unless a lone entry is to stay as it is, code, lead and span.
void store_row(sALGO_Dpol* row, const Cell* cur, u32 lead, u64 span, u32 ncols, Scratch& sc) {
  const u32 n = compact_reduced<u16>(cur, span, sc.coef.data(), sc.pos.data());
  Dom* coef = static_cast<Dom*>(QUOR_NAME(alloc64)(u64(n) * sizeof(Dom)));
  std::memcpy(coef, sc.coef.data(), u64(n) * sizeof(Dom));
  if (!(n == 1 && QUOR_NAME(want_no_renorm_cste))) QUOR_NAME(monic_d)(coef, n);
  u32 codes = 0;
  u64 bytes = 0;
  row->code = compress_lzw(sc.pos.data(), n, &codes, &bytes);
  row->nb_codes = codes;
  row->coeffs[0] = coef;
  row->dense = 0;
  row->encoding = CODE_LZW;
  row->lead = lead;
  row->span = ncols - lead + 1;
}

// Row of a zero-row heuristic: who joins the next batch.
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
  // Bookkeeping of a vanished row; true when it changed who joins.
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

// Back-reduction of the new rows (sorted by lead ascending) in waves.
void backward(ALGO_Dpol* nr, u32 n, u32 ncols, const Mod& mod, Accumulators& acc, Scratch& sc,
              u32 width) {
  if (n < 2) return;
  std::vector<u64> products(width, 0);
  u64 master_products = 0;
  // Reduces the expanded row b (cells from its lead) by the final row q.
  auto by = [&](Cell* cells, const sALGO_Dpol* b, const sALGO_Dpol* q, u64* prod) {
    Cell& cell = cells[q->lead - b->lead];
    const u32 c = mod.residue(cell);
    if (c) *prod += lzw_axpy<u16>(&cell, mod.p - c, q->code, q->coeffs[0], q->nb_codes);
    cell = 0;
  };
  for (i64 top = i64(n) - 2; top >= 0; top -= width) {
    const i64 bottom = std::max<i64>(0, top - i64(width) + 1);
    const u32 cnt = u32(top - bottom + 1);
    for (u32 t = 0; t < cnt; ++t) acc.get(t);
    // Rows above the block are final: read-only in the region.
    auto body = [&](u32 t, u64* prod) {
      const sALGO_Dpol* b = nr[top - t];
      Cell* cells = acc.rows[t];
      lzw_expand<u16>(cells, b->span, b->code, b->nb_codes, b->coeffs[0]);
      for (i64 q = i64(n) - 1; q > top; --q) by(cells, b, nr[q], prod);
    };
    if (width == 1 || cnt == 1) {
      for (u32 t = 0; t < cnt; ++t) body(t, &master_products);
    } else {
      NoRaiseRegion guard;
#pragma omp parallel num_threads(width)
      {
        const u32 T = u32(omp_get_num_threads()), id = u32(omp_get_thread_num());
        for (u32 t = id; t < cnt; t += T) body(t, &products[id]);
      }
    }
    // The block itself, from its top row down, on the master.
    for (u32 t = 0; t < cnt; ++t) {
      sALGO_Dpol* b = nr[top - t];
      Cell* cells = acc.rows[t];
      for (i64 q = top; q > top - i64(t); --q) by(cells, b, nr[q], &master_products);
      const u32 m = compact_long<u16>(cells, b->span, sc.coef.data(), sc.pos.data(), mod);
      Dom* coef = static_cast<Dom*>(QUOR_NAME(alloc64)(u64(m) * sizeof(Dom)));
      std::memcpy(coef, sc.coef.data(), u64(m) * sizeof(Dom));
      u32 codes = 0;
      u64 bytes = 0;
      b->code = compress_lzw(sc.pos.data(), m, &codes, &bytes);
      b->nb_codes = codes;
      b->coeffs[0] = coef;
    }
  }
  for (u64 x : products) master_products += x;
  std::atomic_ref<u64>(complexite).fetch_add(master_products, std::memory_order_relaxed);
}

// Checks done on the master before any region, so that no region meets a
// row it cannot read.
void check_matrix(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, u32 p) {
  if (p < 2 || p > 0xFFFF) QUOR_NAME(Fatal)("Prime %u out of range\n", p);
  if (u64(ncols) > kElimMaxColumns)
    QUOR_NAME(Fatal)("Sorry max number of columns is set to %u in quor linear algebra package (5) !%s",
                     u32(kElimMaxColumns), "\n");
  u32 nred = 0;
  for (u32 i = 0; i < nrows; ++i) {
    const sALGO_Dpol* r = rows[i];
    if (r->encoding != CODE_LZW || r->dense) QUOR_NAME(Fatal)("code <> CODE_LZW");
    if (r->lead < 1 || r->lead > ncols || r->span != ncols - r->lead + 1)
      QUOR_NAME(Fatal)("Bad matrix row %u\n", i);
    if (r->flag) ++nred;
  }
  if (nred > nreduce) QUOR_NAME(Fatal)("Bad matrix row %u\n", nred);
}

}  // namespace

u32 eliminate_sorted(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, ALGO_Dpol* out) {
  const u32 p = QUOR_NAME(Primes)[0];
  QUOR_NAME(Prime) = p;
  context_vectorize = 0;
  if (nrows == 0) return 0;
  check_matrix(rows, nrows, ncols, nreduce, p);

  const u32 width = team_width();
  const Mod mod(p);
  i32* piv = static_cast<i32*>(QUOR_NAME(alloc64)((u64(ncols) + 1) * sizeof(i32)));
  std::fill(piv, piv + u64(ncols) + 1, -1);
  for (u32 i = nrows; i-- > 0;)
    if (rows[i]->flag == 0) piv[rows[i]->lead] = i32(i);
  Forward f{rows, ncols, piv, mod};
  Accumulators acc;
  acc.ncols = ncols;
  Scratch sc;
  sc.pos.resize(ncols);
  sc.coef.resize(ncols);

  Collector col;
  std::vector<u32> batch;
  batch.reserve(width);
  std::vector<SlotResult> res(width);
  u32 nnew = 0, seen = 0;
  for (u32 i = 0; i < nrows; ++i) {
    if (rows[i]->flag != 0) {
      ++seen;
      if (col.admit()) batch.push_back(i);
    }
    if (batch.size() < width && i + 1 < nrows) continue;
    if (batch.empty()) continue;
    const u32 cnt = u32(batch.size());
    for (u32 s = 0; s < cnt; ++s) acc.get(s);
    if (width == 1 || cnt == 1) {
      for (u32 s = 0; s < cnt; ++s) forward_row(f, batch[s], acc.rows[s], res[s]);
    } else {
      NoRaiseRegion guard;
#pragma omp parallel num_threads(width)
      {
        const u32 T = u32(omp_get_num_threads()), id = u32(omp_get_thread_num());
        for (u32 s = id; s < cnt; s += T) forward_row(f, batch[s], acc.rows[s], res[s]);
      }
    }
    // Master: batch order is row order.
    bool changed = false;
    for (u32 s = 0; s < cnt; ++s) {
      // After a heuristic change in this batch, the later rows face the
      // collection rule a single thread would have applied to them.
      if (changed && !col.admit()) continue;
      SlotResult& r = res[s];
      Cell* cur = r.cur;
      u32 lead = r.lead;
      u64 span = r.span;
      if (cur) {
        bool conflict = false;
        u64 products = 0;
        for (;;) {
          const i32 e = piv[lead];
          if (e < 0 || u32(e) >= r.row) break;
          conflict = true;
          const sALGO_Dpol* pv = rows[e];
          const u64 k =
              eliminate_lead<u16>(cur, span, pv->code, pv->coeffs[0], pv->nb_codes, mod, &products);
          if (!k) {
            cur = nullptr;
            break;
          }
          cur += k, lead += u32(k), span -= k;
        }
        if (cur) {
          piv[lead] = i32(r.row);
          if (conflict) reduce_tail(cur, span, mod, width);
        }
      }
      if (!cur) {
        if (col.vanished()) changed = true;
        continue;
      }
      store_row(rows[r.row], cur, lead, span, ncols, sc);
      out[nnew++] = rows[r.row];
      col.survived();
    }
    batch.clear();
    if (QUOR_NAME(want_state_percent) && (++g_batches % 64) == 0 && nreduce)
      QUOR_NAME(Stderr)("%.1f%%/", 100.0 * seen / nreduce);
  }

  // New rows by lead ascending, equal leads by key descending.
  shell_sort_indices(
      nnew,
      [out](u32 a, u32 b) {
        return out[a]->lead > out[b]->lead ||
               (out[a]->lead == out[b]->lead && out[a]->key < out[b]->key);
      },
      [out](u32 a, u32 b) { std::swap(out[a], out[b]); });
  backward(out, nnew, ncols, mod, acc, sc, width);
  return nnew;
}

u32 QUOR_NAME(LINEAR_solve)(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, Dpol* result,
                            Table_de_Recherche t) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  sort_matrix_rows(rows, nrows);
  const double t0 = omp_get_wtime();
  ALGO_Dpol* nr =
      static_cast<ALGO_Dpol*>(QUOR_NAME(alloc64)((u64(nreduce) + 1) * sizeof(ALGO_Dpol)));
  const u32 n = eliminate_sorted(rows, nrows, ncols, nreduce, nr);
  u32 count = 0;
  if (nrows) {
    QUOR_NAME(swap_zone)();
    for (u32 i = 0; i < n; ++i) {
      Dpol d = QUOR_NAME(clone_lzw_ALGO_Dpol)(nr[i], t, ncols - nr[i]->lead);
      if (d) result[count++] = d;
    }
    QUOR_NAME(swap_zone)();
    if (QUOR_NAME(want_state_percent)) QUOR_NAME(Stderr)("100%%/");
  }
  const double dt = omp_get_wtime() - t0;
  if (dt > 1.0) QUOR_NAME(Stderr)("{L=%.2f sec}", dt);
  QUOR_NAME(restore_GC_state)(&mark);
  return count;
}

}  // namespace quor::QUOR_NS
#endif
