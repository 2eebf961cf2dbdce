// Parts of the elimination common to both builds: switches, the failure
// record, the row sort and checks, the monic normalisation and the solve
// around each build's elimination.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#if !QUOR_INT
#include <omp.h>
#endif

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/poly.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"
#include "engine/radix_sort.h"

namespace quor::QUOR_NS {

i32 QUOR_NAME(want_no_renorm_cste) = 0;
i32 QUOR_NAME(want_state_percent) = 1;
i32 QUOR_NAME(want_aggressive) = 0;
i32 QUOR_NAME(want_aggressive2) = 0;
i32 QUOR_NAME(want_skip_comput) = 0;
std::FILE* QUOR_NAME(xwindow_bus) = nullptr;

namespace {
ElimStatus g_status = kElimOk;
char g_status_text[256] = "";
u32 g_bus_rows = 0;  // rows reduced while the progress stream was set
// Codes of the new rows from which their polynomials are made on a team.
[[maybe_unused]] constexpr u64 kCloneCodesPerTeam = u64(1) << 16;
}  // namespace

void bus_matrix(u32 nrows, u32 ncols) {
  std::FILE* bus = QUOR_NAME(xwindow_bus);
  if (!bus) return;
  if (std::feof(bus)) {
    pclose(bus);
    QUOR_NAME(xwindow_bus) = nullptr;
    return;
  }
  std::fprintf(bus, "Mat %ux%u\n", nrows, ncols);
  std::fflush(bus);
}

void bus_row(double percent) {
  std::FILE* bus = QUOR_NAME(xwindow_bus);
  if (!bus || (++g_bus_rows % 10) != 0) return;
  std::fprintf(bus, "%.3f\n", percent);
  std::fflush(bus);
}

void bus_ok() {
  std::FILE* bus = QUOR_NAME(xwindow_bus);
  if (!bus || std::feof(bus)) return;
  std::fprintf(bus, "ok\n");
  std::fflush(bus);
}

ElimStatus elim_status() { return g_status; }
const char* elim_status_text() { return g_status_text; }
void elim_status_clear() {
  g_status = kElimOk;
  g_status_text[0] = 0;
}

void elim_fail(ElimStatus status, const char* text, bool print) {
  if (g_status == kElimOk) {
    g_status = status;
    std::snprintf(g_status_text, sizeof g_status_text, "%s", text);
  }
  if (print) QUOR_NAME(Stderr)("%s", text);
}

void sort_matrix_rows(ALGO_Dpol* rows, u32 nrows) {
  // Every pass must find the same order: the trace is indexed by it.  With
  // no two rows alike in lead and key the order is the one total order, and
  // a sort of packed keys finds it; rows alike keep the Shell sort's order.
  if (nrows > 1) {
    struct Keyed {
      u64 k;
      ALGO_Dpol row;
    };
    // Zone memory: its pages serve the matrices of every step.
    Keyed* v = static_cast<Keyed*>(QUOR_NAME(alloc64)(u64(nrows) * sizeof(Keyed)));
    for (u32 i = 0; i < nrows; ++i) v[i] = {(u64(~rows[i]->lead) << 32) | rows[i]->key, rows[i]};
    if (nrows < kRadixSortFrom) {
      std::sort(v, v + nrows, [](const Keyed& a, const Keyed& b) { return a.k < b.k; });
    } else {
      Keyed* scratch = static_cast<Keyed*>(QUOR_NAME(alloc64)(u64(nrows) * sizeof(Keyed)));
      radix_sort(v, scratch, nrows, 1, [](const Keyed& a, u32) { return a.k; });
    }
    bool alike = false;
    for (u32 i = 1; i < nrows && !alike; ++i) alike = v[i].k == v[i - 1].k;
    if (!alike) {
      for (u32 i = 0; i < nrows; ++i) rows[i] = v[i].row;
      return;
    }
  }
  shell_sort_indices(
      nrows,
      [rows](u32 a, u32 b) {
        return rows[a]->lead < rows[b]->lead ||
               (rows[a]->lead == rows[b]->lead && rows[a]->key > rows[b]->key);
      },
      [rows](u32 a, u32 b) { std::swap(rows[a], rows[b]); });
}

void check_matrix_rows(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce) {
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

void QUOR_NAME(monic_d)(Dom* c, u32 n) {
  if (!c || n == 0 || c[0] == 1) return;
  const u32 p = QUOR_NAME(Prime);
#if QUOR_INT
  if (c[0] == 0) QUOR_NAME(Fatal)("non inversible pour p=%lu!\n", (unsigned long)p);
#endif
  // inv_Dom is fatal with "non inversible !\n" on 0.
  scale_residues<Dom>(c, n, inv_Dom(c[0], p), CellMod<Dom>(p));
}

const GC_state* elim_results_over = nullptr;

namespace {
// Whether no new row reads its code or coefficients from zone 2 above m.
bool rows_clear_of(const ALGO_Dpol* rows, u32 n, const GC_state* m) {
  const u32 V = QUOR_NAME(vectorize);
  for (u32 i = 0; i < n; ++i) {
    if (zone2_holds_above(m, rows[i]->code)) return false;
    for (u32 k = 0; k < V; ++k)
      if (zone2_holds_above(m, rows[i]->coeffs[k])) return false;
  }
  return true;
}
}  // namespace

u32 QUOR_NAME(LINEAR_solve)(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, Dpol* result,
                            Table_de_Recherche t) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  sort_matrix_rows(rows, nrows);
  ALGO_Dpol* nr =
      static_cast<ALGO_Dpol*>(QUOR_NAME(alloc64)((u64(nreduce) + 1) * sizeof(ALGO_Dpol)));
#if !QUOR_INT
  const double t0 = omp_get_wtime();
#endif
  // On a failure nothing comes back (n = 0) and elim_status says why.
  const u32 n = eliminate_sorted(rows, nrows, ncols, nreduce, nr);
#if !QUOR_INT
  const double dt = omp_get_wtime() - t0;
#endif
  // Each term of a new polynomial reads its record through two table slots,
  // scattered over the table: where the new rows have more terms than the
  // matrix has columns, the records are read once per column instead.
  u64 codes = 0;
  for (u32 i = 0; i < n; ++i) codes += nr[i]->nb_codes + 1;
  u64** records = n > 0 && codes >= ncols ? records_by_position(t, ncols) : nullptr;
#if !QUOR_INT
  const u32 width = nb_threads > 1 && codes >= kCloneCodesPerTeam ? u32(std::min(nb_threads, 1024)) : 1;
#else
  const u32 width = 1;
#endif
  // Scratch of this zone, given back with the rest at the end.
  u32* count = static_cast<u32*>(QUOR_NAME(alloc64)(u64(n) * sizeof(u32) + 8));
  if (elim_results_over && rows_clear_of(nr, n, elim_results_over)) QUOR_NAME(restore_tesk_state_z2)(elim_results_over);
  QUOR_NAME(swap_zone)();
  clone_lzw_rows(nr, n, ncols, t, records, result, count, width);
  QUOR_NAME(swap_zone)();
  if (QUOR_NAME(want_state_percent) && nrows) QUOR_NAME(Stderr)("100%%/");
#if !QUOR_INT
  // The threaded prime-field elimination reports a long run.
  if (dt > 1.0) QUOR_NAME(Stderr)("{L=%.2f sec}", dt);
#endif
  QUOR_NAME(restore_GC_state)(&mark);
  return n;
}

void QUOR_NAME(info_count_lzw)() {}

}  // namespace quor::QUOR_NS
