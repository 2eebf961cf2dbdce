// Sparse FGLM: from the multiplication matrix T by the last variable on the D
// basis monomials of a zero-dimensional quotient, modulo one prime p, the
// minimal polynomial of the last variable and, for each other variable x_j
// that is a basis monomial, g_j with x_j + g_j(x_last) in the ideal.
//
// Arguments of the entry, in order (matrix layout: minpolyvgf/apply.h):
//   D          size of T
//   pairs      copy pairs (dst, src), ended by a negative dst
//   nosp       dense row list (row index, 0), ended by a negative index
//   nvars      number of variables, >= 1; the last one is x_last
//   idx        nvars entries: coordinate of the basis monomial x_j, negative
//              when x_j is not a basis monomial; idx[nvars-1] = coordinate of 1
//   rows       table of row pointers, in both builds: entry r -> dense row r of
//              T (16-byte aligned, D coefficients then zeros to the aligned
//              length; prime-field build: symmetric signed 16-bit words,
//              integer build: residues).  With print == 0 the same table
//              receives the results: it needs max(dense rows, nvars) entries,
//              each row with room for D + 1 coefficients; T is overwritten.
//   version    must be 1 (anything else is a fatal caller error)
//   outdeg     nvars degrees (out)
//   prime      pointer to p
//   verbose    non-zero: timings and progress on the diagnostic stream
//   print      0: results into rows/outdeg; non-zero: printed with the names
//   names      nvars variable names (the last names x_last in printed output)
//   sqfr       non-zero: x_last's polynomial made square-free, numerators
//              reduced modulo it
//   minpoly_only  non-zero: only the minimal polynomial
//   N          minimal-polynomial-only path: 2N sequence terms (<= 0 or >= D: D);
//              the parametrisation path always uses 2D terms
//   P          > 0: session mode (only the session file of process P, whose
//              start vector is the P-th one drawn after b projection vectors
//              common to all processes)
//   b          session block size (values per vector: the projections of the
//              Krylov vector on those b vectors); ignored without P > 0
//
// Results with print == 0, residues in [0, p), lowest degree first:
//   rows[nvars-1], outdeg[nvars-1]: the monic minimal polynomial of x_last;
//   rows[j], outdeg[j] for j < nvars-1 with idx[j] >= 0 (not with
//   minpoly_only): g_j (outdeg[j] = -1 when g_j = 0, i.e. x_j lies in the
//   ideal); only outdeg + 1 entries of a row are written.
//   A variable with idx[j] < 0 gets NOTHING: rows[j] and outdeg[j] keep what
//   the caller put there.  Such an x_j has no parametrisation here (it is not
//   a basis monomial); the caller recognises it by its own negative idx[j]
//   (or by presetting outdeg[j] to a value the driver never writes, below -1).
//
// The minimal polynomial alone is certified: the lcm of the generators of
// the sequences of successive start vectors, until it is of degree D or
// annihilates T on a random vector (a single sequence can miss a factor).
//
// Failures are fatal through the build's fatal channel and never return:
// a wrong version, a sequence from which no generator can be had even after
// a few random start vectors (then T is not cyclic: the ideal is not in
// shape position for x_last), and a minimal polynomial that no few start
// vectors complete (T whose coordinate of 1 does not see all of it).  No
// failure leaves results that look valid.  With want_fglm_soft_failure set,
// the parametrisation's "no generator" returns instead, results untouched
// (outdeg[nvars-1] keeps what the caller put there).
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/apply.h"

// The entry (interface version 1); arguments and results as above.
QUOR_EXPORT void QUOR_NAME(w_fglm)(quor::u32 D, quor::i32* pairs, quor::i32* nosp, quor::u32 nvars,
                                   quor::i32* idx, quor::QUOR_NS::Dom** rows, quor::i32 version,
                                   quor::i32* outdeg, quor::u32* prime, quor::i32 verbose, quor::i32 print,
                                   char** names, quor::i32 sqfr, quor::i32 minpoly_only, quor::i32 N,
                                   quor::i32 P, quor::i32 b);

namespace quor::QUOR_NS {

// Interface version the entry accepts.
inline constexpr i32 kFglmVersion = 1;
// Start vectors tried before a sequence without generator is fatal.
inline constexpr i32 kFglmAttempts = 4;

// 1: a parametrisation without generator returns instead of failing (for a
// caller that redoes the computation with another prime); initially 0.
extern i32 want_fglm_soft_failure;

// The entry's body without its guard: what the library's own callers use
// (the engine, and the integer build's team of primes, whose threads must
// not touch the host call's guard).
void fglm_request(u32 D, i32* pairs, i32* nosp, u32 nvars, i32* idx, Dom** rows, i32 version, i32* outdeg,
                  u32* prime, i32 verbose, i32 print, char** names, i32 sqfr, i32 minpoly_only, i32 N, i32 P, i32 b);

// The driver on the matrix globals (prime set by init_wiedemann): results
// into out/outdeg when out is non-null, else printed with names.
void fglm_sparse(i32 D, i32 verbose, i32 nvars, const i32* idx, Dom** out, i32* outdeg, char** names,
                 i32 sqfr, i32 minpoly_only, i32 N, i32 P, i32 b);

}  // namespace quor::QUOR_NS
