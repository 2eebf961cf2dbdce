// Calls from the core into the Tesk engine: Hilbert series, normal forms and
// the change of ordering.  A fatal condition inside the engine reaches the
// host as the build's host error; the next request works.
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

#if QUOR_INT
using HostDpol = Dpol_INT;  // the request's polynomials: integer coefficients
#else
using HostDpol = Dpol;
#endif

// Hilbert series h(t) / (1 - t)^dim (lowest terms) of the ideal of the
// leading monomials of polys[0..n-1]: out[0] = h (univariate in slot 0, exact
// integers; prime field: modulo each working prime), out[1] = the constant
// dim + 2 (dim = -1 for the whole ring, h = 0 then); zone 3; returns 2.
// A numerator of degree above kHilbertMaxDegree, which its exponent slot
// cannot hold, is refused (host error).
inline constexpr u32 kHilbertMaxDegree = 0xFFFF;
u32 lib_hilbert_compute(HostDpol* polys, u32 n, HostDpol* out);

// For each F[i], the exact normal form with respect to G (made monic modulo
// each prime), multiplier 1 (univ = 1: F[i] first divided exactly by every
// H[j]; not exact: host error); integer build: out[2i] = multiplier, out[2i+1]
// = normal form, returns 2 nF, or 0 with a bad prime when a leading
// coefficient of G or H vanishes modulo a prime; prime field: nF forms.
// Degree reverse lexicographic order only (integer build); results have h = 0.
u32 lib_normalForm(Dpol* F, u32 nF, Dpol* G, u32 nG, Dpol* H, u32 nH, i32 univ, Dpol* out);

// Integer build: lexicographic basis in shape position of the zero-dimensional
// reduced basis G[0..nG-1] into out, f(x_last) first (flag = 1: f alone;
// sqfr = 1: its square-free part; estimate: sequence length of f alone, <= 0
// for the quotient's dimension; dump != 0: the multiplication matrix by
// x_last also goes to "/tmp/fmat<pid>", see lib_dump_mult_matrix); returns its
// size, 0 for a bad prime (elim_status).  Fatal, as for the matrix request,
// when G is not the basis of a zero-dimensional system (the empty basis of
// the zero ideal included) or of one with solutions.  Prime-field build:
// refused (fatal).
u32 lib_fast_chg_order(Dpol* G, u32 nG, Dpol* out, i32 sqfr, i32 flag, i32 estimate, i32 dump);

#if QUOR_INT
// The engine's multiplication matrix by x_last for the zero-dimensional
// reduced basis G, one matrix per working prime, written in binary to
// "/tmp/fmat<pid>" (the name said on the diagnostic stream); a dump that
// cannot be made is said there too and changes nothing else.
void lib_dump_mult_matrix(Dpol* G, u32 nG);
#endif

}  // namespace quor::QUOR_NS
