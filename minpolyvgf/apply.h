// Application of the multiplication matrix T of the sparse linear-algebra
// library (y = T x) and two measurements of its dense part, one copy per
// build.  The matrix lives in the globals below, set by the entry points.
//
// Matrix layout (n = QUOR_NAME(align_vector_size)(D)):
//   w_sparse   pair form: i32 pairs (dst, src), y[dst] := x[src], ended by a
//              negative dst; shift form (apply only): i32 dst entries,
//              y[dst] := x[dst + 1], ended by a negative entry, at most D read
//   w_nosp     dense row list: i32 pairs (row index, unused word), ended by a
//              negative row index, in the order of the dense rows
//   w_cfs      dense rows as one contiguous block, row r at r * n
//   w_cfs_tab  dense rows through a table, entry r -> row r (both builds; the
//              sparse FGLM's form)
// Every dense row is 16-byte aligned and zero from D up to n.  Prime-field
// build: entries are signed 16-bit words in [-(p-1)/2, (p-1)/2] in the table
// form, residues in [0, p) in the contiguous form; integer build: residues.
// x and y are distinct arrays; x has room for n words.  Entries of y that are
// neither a copy destination nor a dense row are not written.
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/session.h"

namespace quor::QUOR_NS {

// The matrix of the current entry (caller-owned; see the layout above).
QUOR_EXPORT QUOR_FGLM_LOCAL i32* QUOR_NAME(w_sparse);
QUOR_EXPORT QUOR_FGLM_LOCAL i32* QUOR_NAME(w_nosp);
QUOR_EXPORT QUOR_FGLM_LOCAL Dom* QUOR_NAME(w_cfs);
extern QUOR_FGLM_LOCAL Dom** w_cfs_tab;
QUOR_EXPORT QUOR_FGLM_LOCAL i32 QUOR_NAME(wid_size_matrix);

// Checks the copy list (pair form, or shift form: y[dst] := x[dst + 1]) and
// the dense row list of the globals against D, fatal on an index outside the
// matrix (who names the entry); returns the number of dense rows.
i32 check_matrix_lists(i32 D, bool shift_form, const char* who);
// Copy pass (pair form), then y[list[r]] := w_cfs_tab[r] . x for r < count
// (prime-field build: threaded, symmetric results; integer build: serial).
QUOR_EXPORT void QUOR_NAME(apply2v)(Dom* y, const Dom* x, i32 D, const i32* list, i32 count);
// Copy pass (pair form), then the contiguous rows w_cfs along w_nosp (residues).
QUOR_EXPORT void QUOR_NAME(apply2)(Dom* y, const Dom* x, i32 D);
// Copy pass (shift form), then as apply2.
QUOR_EXPORT void QUOR_NAME(apply)(Dom* y, const Dom* x, i32 D);
// Non-zero entries among the first D of the rows of w_cfs_tab listed in w_nosp.
QUOR_EXPORT u32 QUOR_NAME(sparsity_align)(i32 D);
// *out := sum mod p of each w_cfs_tab row's entry at its own row index.
QUOR_EXPORT void QUOR_NAME(compute_trace2)(Dom* out, i32 D);

}  // namespace quor::QUOR_NS
