// Parts of the elimination common to both builds: switches, the failure
// record, the row sort and the monic normalisation.
#include <cstdio>
#include <cstring>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/poly.h"
#include "engine/elim.h"
#include "engine/elim_kernels.h"

namespace quor::QUOR_NS {

i32 QUOR_NAME(want_no_renorm_cste) = 0;
i32 QUOR_NAME(want_state_percent) = 1;
i32 QUOR_NAME(want_aggressive) = 0;
i32 QUOR_NAME(want_aggressive2) = 0;
i32 QUOR_NAME(want_skip_comput) = 0;

namespace {
ElimStatus g_status = kElimOk;
char g_status_text[256] = "";
}  // namespace

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
  // Every pass must find the same order: the trace is indexed by it.
  shell_sort_indices(
      nrows,
      [rows](u32 a, u32 b) {
        return rows[a]->lead < rows[b]->lead ||
               (rows[a]->lead == rows[b]->lead && rows[a]->key > rows[b]->key);
      },
      [rows](u32 a, u32 b) { std::swap(rows[a], rows[b]); });
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

void QUOR_NAME(info_count_lzw)() {}

}  // namespace quor::QUOR_NS
