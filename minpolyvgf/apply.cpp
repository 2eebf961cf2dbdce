// y = T x for the sparse multiplication matrix: one copy pass for the rows
// that hold a single 1, one dot product per dense row.
#include "minpolyvgf/apply.h"

#include <algorithm>
#include <cstdint>

#include "core/channels.h"
#include "core/zone.h"
#include "minpolyvgf/wiedemann_lowlevel.h"

namespace quor::QUOR_NS {

QUOR_FGLM_LOCAL i32* QUOR_NAME(w_sparse) = nullptr;
QUOR_FGLM_LOCAL i32* QUOR_NAME(w_nosp) = nullptr;
QUOR_FGLM_LOCAL Dom* QUOR_NAME(w_cfs) = nullptr;
QUOR_FGLM_LOCAL Dom** w_cfs_tab = nullptr;
QUOR_FGLM_LOCAL i32 QUOR_NAME(wid_size_matrix) = 0;

namespace {

// Pair form: each pair is tested before it is used, so the list may end at
// any pair; eight pairs per step keep the loop test off the copy path.
inline void copy_pairs(Dom* y, const Dom* x, const i32* s) {
  for (;; s += 16) {
    for (int k = 0; k < 16; k += 2) {
      if (s[k] < 0) return;
      y[s[k]] = x[s[k + 1]];
    }
  }
}

// Shift form: y[dst] := x[dst + 1], at most D entries.
inline void copy_shift(Dom* y, const Dom* x, const i32* s, i32 D) {
  for (i32 i = 0; i < D && s[i] >= 0; ++i) y[s[i]] = x[s[i] + 1];
}

[[maybe_unused]] inline u32 prime() { return *QUOR_NAME(modulo); }

}  // namespace

i32 check_matrix_lists(i32 D, bool shift_form, const char* who) {
  const i32* s = QUOR_NAME(w_sparse);
  if (shift_form)
    for (i32 i = 0; s && i < D && s[i] >= 0; ++i) {
      if (s[i] + 1 >= D) QUOR_NAME(Fatal)("Bad copy row %d in %s (D=%d)\n", s[i], who, D);
    }
  else
    for (; s && s[0] >= 0; s += 2)
      if (s[0] >= D || s[1] < 0 || s[1] >= D) QUOR_NAME(Fatal)("Bad copy pair (%d,%d) in %s (D=%d)\n", s[0], s[1], who, D);
  i32 count = 0;
  for (const i32* r = QUOR_NAME(w_nosp); r && r[0] >= 0; r += 2, ++count)
    if (r[0] >= D) QUOR_NAME(Fatal)("Bad dense row %d in %s (D=%d)\n", r[0], who, D);
  return count;
}

void QUOR_NAME(apply2v)(Dom* y, const Dom* x, i32 D, const i32* list, i32 count) {
  if (QUOR_NAME(w_sparse)) copy_pairs(y, x, QUOR_NAME(w_sparse));
  if (count <= 0) return;
#if QUOR_INT
  // No threads in this build: one plain dot product per row of the table.
  for (i32 r = 0; r < count; ++r) QUOR_NAME(dot_product_dense)(&y[list[r]], w_cfs_tab[r], x, D);
#else
  dense_matrix_I32_align_vect_openmp(y, x, D, list, count, w_cfs_tab);
#endif
}

void QUOR_NAME(apply2)(Dom* y, const Dom* x, i32 D) {
  if (QUOR_NAME(w_sparse)) copy_pairs(y, x, QUOR_NAME(w_sparse));
  if (QUOR_NAME(w_nosp)) QUOR_NAME(dense_matrix_I32_align)(y, x, D, QUOR_NAME(w_nosp), QUOR_NAME(w_cfs));
}

void QUOR_NAME(apply)(Dom* y, const Dom* x, i32 D) {
  if (QUOR_NAME(w_sparse)) copy_shift(y, x, QUOR_NAME(w_sparse), D);
  if (QUOR_NAME(w_nosp)) QUOR_NAME(dense_matrix_I32_align)(y, x, D, QUOR_NAME(w_nosp), QUOR_NAME(w_cfs));
}

u32 QUOR_NAME(sparsity_align)(i32 D) {
  const i32* list = QUOR_NAME(w_nosp);
  if (list == nullptr) return 0;
#if QUOR_INT
  u32 count = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r)
    for (i32 i = 0; i < D; ++i) count += w_cfs_tab[r][i] != 0;
  return count;
#else
  return sparsity_align2_openmp(D, list, w_cfs_tab);
#endif
}

void QUOR_NAME(compute_trace2)(Dom* out, i32 D) {
  const i32* list = QUOR_NAME(w_nosp);
  *out = 0;
  if (list == nullptr) return;
#if QUOR_INT
  const u32 p = prime();
  u64 sum = 0;
  for (std::size_t r = 0; list[2 * r] >= 0; ++r) {
    sum += w_cfs_tab[r][list[2 * r]] % p;
    if (sum >= p) sum -= p;
    *out = Dom(sum);
  }
#else
  dense_trace_I32_align_openmp(out, D, list, w_cfs_tab);
#endif
}

}  // namespace quor::QUOR_NS
