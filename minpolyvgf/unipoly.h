// Dense univariate polynomials over Z/p, one copy per build.
//
// A polynomial is a caller-owned array of Dom residues indexed by exponent
// (entry i is the coefficient of X^i) with a separate signed 32-bit degree,
// -1 for the zero polynomial.  Entries above the degree are not part of the
// value; an operation that writes up to degree n needs n + 1 entries.  The
// prime is read at each use through QUOR_NAME(modulo) (set by init_wiedemann).
// Inputs are residues in [0, p); every result coefficient is in [0, p).
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/session.h"

namespace quor::QUOR_NS {

// A := A + c X^k B (k >= 0); *degA updated (exact unless the new top cancels
// below it: then the highest touched index, or k - 1).  B zero: no change.
void addmul_poly(Dom* A, const Dom* B, i32 k, Dom c, i32* degA, i32 degB);
// R := A B mod X^n (entries 0..n-1; only R[0] for n <= 0); *degR exact.
void mul_tronquer(Dom* R, i32* degR, const Dom* A, i32 degA, const Dom* B, i32 degB, i32 n);
// A[0..d] := X^d A(1/X) in place; returns the exact degree (-1 for d < 0).
i32 reverse(Dom* A, i32 d);
// R := A mod B, B monic of degree degB >= 0 (entries 0..degB-1); exact degree.
i32 rem(const Dom* A, i32 degA, const Dom* B, i32 degB, Dom* R);
// A := A mod B in place (B monic); returns the exact degree.
i32 rem_d(Dom* A, i32 degA, const Dom* B, i32 degB);
// Inverse of a modulo p; 0 (after a message on standard error) when a = 0 mod p.
u32 INV_2args(u32 a, u32 p);
// A := X A in place (A needs d + 2 entries); returns d + 1.
QUOR_EXPORT i32 QUOR_NAME(shift_X)(Dom* A, i32 d);
// A := A + c B; returns the new degree of A (as addmul_poly with k = 0).
QUOR_EXPORT i32 QUOR_NAME(combi_lin)(Dom* A, i32 degA, Dom c, const Dom* B, i32 degB);
// Highest index i <= d with a[i] != 0, else -1.
i32 exact_degree(const Dom* a, i32 d);

}  // namespace quor::QUOR_NS
