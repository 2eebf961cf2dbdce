// The degree-by-degree F4 main loop: all critical pairs of the lowest degree
// go into one matrix, the new polynomials feed the pair list and the basis,
// and at the end the basis is restricted, made minimal and inter-reduced.
//
// One call works for the current block of primes (integer build) or the one
// prime (prime-field build).  Everything it allocates lives in the working
// zone; the caller's arena mark releases it.  The new polynomials of each
// step survive the step's own mark because the elimination builds them in
// zone 2.
//
// The Hilbert-series entries (Quor_int_hilbert / Quor_hilbert) are declared
// in core/call_quor.h and defined with the loop; they hand the leading
// monomials to the Tesk bridge (engine/tesk_bridge.h).
#pragma once
#include "core/quor_build.h"

#include "core/crit.h"
#include "core/poly.h"

namespace quor {
// Degrees that have their own zero-row threshold in the prime-field build.
inline constexpr u32 kAggressiveDegrees = 1000;
// A step's lcm degree must fit the 15-bit exponent slots.
inline constexpr u32 kMaxPairDegree = 32767;
// The loop gives up after this many steps.
inline constexpr u64 kMaxSteps = 1000000000;
}  // namespace quor

namespace quor::QUOR_NS {

// ---- switches read by the loop (set by the drivers; all 0 at load except
// want_mingbasis_strong, which is 1) ----
extern i32 want_eliminated;        // keep only the polynomials free of block 1
extern i32 want_mingbasis;         // inter-reduce the minimal basis by one more step
extern i32 want_mingbasis_strong;  // final step with h set to 0 and the strong column order
extern i32 want_Lexico;            // the basis must be triangular (one polynomial per variable)
#if QUOR_INT
extern i32 want_rr;                // rational form of the triangular basis at the end
#endif
// A constant in the ideal ends the loop with the basis so far plus the constant.
QUOR_EXPORT i32 QUOR_NAME(want_ignore_cste);
// Quieter progress: "[d]" only when want_pipe2 is set, no closing newline.
QUOR_EXPORT i32 QUOR_NAME(want_very_quiet);
// Zero-row settings a step may change: the loop gives them back after every
// step, with want_aggressive (0 at load).
extern i32 want_aggressive2_degree;
extern i32 want_aggressive2_lim;
#if !QUOR_INT
// Zero-row threshold of the elimination per degree 0 .. 999 (filled by the strategy driver).
extern u32 aggressive_tab[kAggressiveDegrees];
// Wall seconds spent in the F4 steps of the current call.
extern double global_time_symbolic;
#endif

// The pair list and the basis (count entries; returns the new count) after
// the update of the main loop for news[0], news[1], ... news[k-1] in turn:
// the same pairs in the same order, the same basis, the same messages.
u32 update_with_step(Dpol* news, u32 k, Crit* pairs, Dpol* basis, u32 count);

// Reduced Groebner basis of inputs[0..n-1] (reordered in place; zero
// polynomials left out) into result[0..count-1] (room for quor_max_index);
// returns count, or 0 when n = 0, when every input is zero, or when the
// computation was stopped or the elimination gave up (elim_status() then
// says which); *t = CPU seconds of the call (untouched when n = 0).
u32 gbasis(Dpol* inputs, u32 n, Dpol* result, double* t);

// The degree-d selection of one step, exposed for the tests: takes every pair
// of degree d off the front of *pairs, writes the selected halves to
// halves[0..] (at most capacity of them; more is fatal) with their multipliers
// and flags in rel_Expos / rel_CBoolean from origin 0, recycles the pair
// records and the dropped multipliers, and returns the number of halves.
u32 select_pairs_of_degree(Crit* pairs, u32 d, Dpol* halves, u32 capacity);

// Keeps, in place, the polynomials of G[0..n-1] whose leading monomial no
// other one divides (h of the divisor ignored; of equal leads the last one
// stays), in their order; returns their number.
u32 minimal_basis(Dpol* G, u32 n);

}  // namespace quor::QUOR_NS
