// Lift of a rational function of one parameter (integer build): R(z) =
// N(z)/Q(z) with integer coefficients, rebuilt from its values at points
// modulo several primes and printed on the output channel.
//
// The working-prime table (Primes_ori, maxi_vectorize slots) is read as runs
// of equal primes: each run stands for one prime and holds, slot by slot,
// one point x_i and one value y_i = R(x_i) modulo that prime.  Per run,
// Thiele's continued fraction (reciprocal differences) interpolates R
// modulo the prime; Q is made monic, so that every run gives the same
// residues of one rational N/Q whatever its points; then every coefficient
// is lifted over the runs' primes (Chinese remaindering, rational
// reconstruction) and N/Q printed, the parameter named
// Quor_int_param_variable.
#pragma once
#include "core/quor_build.h"

#if QUOR_INT
namespace quor::QUOR_NS {

// 1 with N[0..dN], Q[0..dQ] (residues modulo p, lowest degree first, Q
// monic) when the continued fraction of the n points ends within them; 0
// when it does not (or n <= 3).  Fatal when two points are equal.  N and Q
// need n entries.
int internal_param_lift(const u32* x, const u32* y, u32 n, u32 p, u32* N, u32* Q, i32* dN, i32* dQ);
// Fatal "incoherence dans data: %u = %u\n" when two of a[0..n-1] are equal.
void verifier_coherence(const u32* a, u32 n);
// Prints sum_e c_e name^e, e = d .. 0, coefficient e lifted from the
// residues c[e + r L], r < runs (under the current lifting constants);
// terms whose first-run residue is 0 are skipped.
void display_univ(const u32* c, i32 d, u32 L, u32 runs, const char* name);

}  // namespace quor::QUOR_NS

// The name printed for the parameter ("z" at start).
QUOR_EXPORT const char* QUOR_NAME(param_variable);
// 1: print the denominator Q only (0 at start).
QUOR_EXPORT quor::i32 QUOR_NAME(want_denom_coeff_only);
// points[i], values[i]: slot i of the working primes (see above).  1 when
// N/Q was printed; 0 after "NYA" (a run that does not converge, or runs
// that disagree on the degrees).  Fatal "Cas pas fait dans param_lift\n"
// when two runs differ in length.
QUOR_EXPORT int QUOR_NAME(param_lift)(const quor::u32* points, const quor::u32* values);
#endif
