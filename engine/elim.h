// Gaussian elimination of the engine's matrices.
//
// LINEAR_solve brings every row to reduce (flag 1) of a coded matrix into
// reduced echelon form against the known pivot rows (flag 0) and against each
// other, and returns the new pivot rows as polynomials (zone 2).
//   integer build      every prime slot of the block at once, on the calling
//                      thread; the first pass over primes records which rows
//                      vanish (the trace) and later passes replay it
//   prime-field build  one prime below 2^16, on nb_threads OpenMP threads;
//                      the result does not depend on the thread count
// Rows are sorted in place (lead column descending, equal leads by key
// ascending).  Everything else of a call lives in zone 1 after a mark that is
// restored before the return.
//
// Failures that the caller must handle are not fatal: LINEAR_solve returns 0
// and elim_status() says why (interrupted, or a prime that behaves unlike the
// others / unlike the recorded trace: the pass must be redone with other
// primes).  The main loop ends its computation when elim_status() is not
// kElimOk, exactly as after an interrupt.
#pragma once
#include "core/quor_build.h"

namespace quor {
// Outcome of the last elimination (and of the pass, until cleared).
enum ElimStatus : i32 {
  kElimOk = 0,
  kElimInterrupted = 1,  // the stop flag ended the elimination
  kElimBadPrime = 2,     // a prime disagrees with prime 0 or with the trace
};
}  // namespace quor


#include <cstdio>
#include "core/hashtable.h"
#include "core/poly.h"
#include "core/zone.h"
#include "engine/lzw_code.h"
#include "engine/symbolic.h"

namespace quor::QUOR_NS {

// New pivot rows of a matrix as polynomials made in zone 2, written to
// result (room for nreduce); returns their count, 0 also on a failure
// (see elim_status).  rows are sorted in place.
QUOR_EXPORT u32 QUOR_NAME(LINEAR_solve)(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, Dpol* result,
                            Table_de_Recherche t);

// When set, LINEAR_solve makes its new polynomials over what zone 2 holds
// above this mark, which the caller knows dead once the rows are eliminated
// (the last step, whose rows replace the basis held there), unless a new
// row's code or coefficients still lie there.  The caller clears it.
extern const GC_state* elim_results_over;

// The elimination proper, without the zone mark and the conversion: rows must
// already be sorted; the new rows (coded, fully reduced, in ascending lead
// order) are written to out (room for nreduce) in the current zone; returns
// their count (0 on a failure).
u32 eliminate_sorted(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce, ALGO_Dpol* out);

// Sorts rows by lead column descending, equal leads by key ascending (scratch from the current zone).
void sort_matrix_rows(ALGO_Dpol* rows, u32 nrows);

// Fatal unless every row is LZW-coded up to the last column, ncols fits and at most nreduce rows are flagged.
void check_matrix_rows(ALGO_Dpol* rows, u32 nrows, u32 ncols, u32 nreduce);

// Outcome of the last elimination; kept until elim_status_clear.
ElimStatus elim_status();
// Text of the last failure ("" when none).
const char* elim_status_text();
// Forgets the failure (the driver calls it before a pass).
void elim_status_clear();
// Records a failure (the first one is kept); writes text on the error channel when print.
void elim_fail(ElimStatus status, const char* text, bool print = true);

// Normalises n residues so that the first is 1 (modulo the current prime);
// nothing for none or a leading 1; fatal on a leading 0.
QUOR_EXPORT void QUOR_NAME(monic_d)(Dom* coefficients, u32 n);

// Empty statistics hooks of the main loop.
QUOR_EXPORT void QUOR_NAME(info_count_lzw)();

// Keep one-entry rows unnormalised when set (initially 0).
QUOR_EXPORT i32 QUOR_NAME(want_no_renorm_cste);
// Percentage progress on the error channel (initially 1).
QUOR_EXPORT i32 QUOR_NAME(want_state_percent);
// Zero-row heuristic of the prime-field elimination (the integer driver keeps
// it off): want_aggressive on, stop collecting after want_aggressive2
// consecutive vanished rows, or skip want_skip_comput rows when that is not 0.
QUOR_EXPORT i32 QUOR_NAME(want_aggressive);
QUOR_EXPORT i32 QUOR_NAME(want_aggressive2);
QUOR_EXPORT i32 QUOR_NAME(want_skip_comput);

// Progress stream set by a host program (null: none); never opened here.
QUOR_EXPORT std::FILE* QUOR_NAME(xwindow_bus);
// Start of a matrix on the progress stream: a stream at its end is closed
// (pclose) and forgotten, else "Mat RxC" is written.
void bus_matrix(u32 nrows, u32 ncols);
// One row reduced, percent of the rows to reduce done: every 10th row of the
// process writes the percentage on the progress stream.
void bus_row(double percent);
// End of the forward pass on the progress stream ("ok").
void bus_ok();

#if QUOR_INT

// ---- the elimination trace ----
// One record per matrix of a pass, keyed by the matrix's rank in the pass and
// checked against its shape, so that replay stays in step whatever the
// number of bases a pass computes; records grow as needed.
// 1: this pass writes the trace; 0: it replays the trace (initially 1).
extern i32 simul_write;
// Rows neither read nor compare with the trace (a writing pass still records).
QUOR_EXPORT i32 QUOR_NAME(want_ignore_simulin);
// Start of a pass: the next matrix is the pass's first; a writing pass
// forgets the recorded trace.
QUOR_EXPORT void QUOR_NAME(reset_simulation)();
// Matrices recorded by the writing pass.
u32 simulation_matrices();
// Gives back the room the eliminations of a pass keep from matrix to matrix.
void elim_give_back_room();
// Most u32 of pivots' coefficients held transposed for the vector kernels at
// once (beyond one row that needs more); past it they are made again.
extern u64 elim_transposed_budget;

// ---- prime slot context (shared with the parametrisation lift) ----
// floor((2^64 - p*2^32) / p) of the current prime.
extern u32 Prime_inv;
// Makes slot s current: context_vectorize, Quor_int_Prime and Prime_inv.
void make_slot_current(u32 s);
// (hi*2^32 + lo) mod p for hi < p, with v = Prime_inv of p.
u32 gmp_normal2(u32 hi, u32 lo, u32 p, u32 v);
// Residue of a 96-bit accumulator cell (w2 < p) modulo p, v = Prime_inv of p.
u32 cell_residue(const LzwCell96& c, u32 p, u32 v);
#else
// The team width is nb_threads (api/request.h); a region works with
// whatever team the runtime actually gives.
// Writes the multiplication count of the back-reductions on the error channel.
void info_complexite();
// Empty: this build keeps no trace.
QUOR_EXPORT void QUOR_NAME(reset_simulation)();
#endif

}  // namespace quor::QUOR_NS
