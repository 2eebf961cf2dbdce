// Calls from the core into the Tesk engine: Hilbert series, normal forms and
// the change of ordering.  The engine side of these calls is not part of this
// version of the library: each call ends in the build's fatal channel with a
// "not available" message, so that a request needing them fails clearly
// instead of returning an empty or wrong answer.
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

#if QUOR_INT
using HostDpol = Dpol_INT;  // the request's polynomials: integer coefficients
#else
using HostDpol = Dpol;
#endif

// Hilbert series of the ideal of the leading monomials of polys[0..n-1]:
// out[0] = numerator (univariate in slot 0), out[1] = dimension + 2; returns 2.
u32 lib_hilbert_compute(HostDpol* polys, u32 n, HostDpol* out);

// For each F[i], a normal form with respect to G up to a constant multiplier
// (univ = 1: F[i] first divided exactly by every H[j]); integer build: out[2i]
// = multiplier, out[2i+1] = normal form, returns 2 nF; prime field: nF forms.
u32 lib_normalForm(Dpol* F, u32 nF, Dpol* G, u32 nG, Dpol* H, u32 nH, i32 univ, Dpol* out);

// Integer build: lexicographic basis in shape position of the zero-dimensional
// reduced basis G[0..nG-1] into out, f(x_last) first (flag = 1: f alone;
// sqfr = 1: its square-free part; estimate: sequence length of f alone, <= 0
// for the quotient's dimension; dump unused); returns its size, 0 for a bad
// prime (elim_status).  Prime-field build: refused (fatal).
u32 lib_fast_chg_order(Dpol* G, u32 nG, Dpol* out, i32 sqfr, i32 flag, i32 estimate, i32 dump);

}  // namespace quor::QUOR_NS
