// Two-stage computations: a first Groebner basis, then what the request asks
// of it.  This version carries the stages that need no Tesk bridge:
//   the matrix path (want_buildmatrix, QUOR_COMPUTE_MATRIXN): the basis of a
//     zero-dimensional system gives the minimal polynomial of the last
//     variable and the parametrisation of the others by it
//     (engine/multmatrix.h), written to the caller's table as
//       result[j], j < n-1:  x_j + g_j(x_last)        (lexicographic shape basis)
//       result[n-1]:         the monic minimal polynomial of x_last
//     (with MINPOLY in the environment: result[0] = the minimal polynomial only);
//   a second basis (m2 > 0, QUOR_COMPUTE_GBASIS_MULTI) of the first one and
//     the m2 inputs kept back, for the block order bk2, copied to the table.
// With no_rr = 0 (the integer build's requests) the rational form follows
// (engine/rrform.h): every x_j + g_j becomes x_j + (g_j f'/d mod f); the
// prime-field build prints its two lines and changes nothing.
//
// Normal forms (integer build, n_extra > 0, engine/tesk_bridge.h): the
// (multiplier, normal form) pairs of the extra polynomials by the first
// basis, or with want_add_equations the basis of the first basis and the
// non-zero normal forms.  A basis that enters a new basis beside other
// polynomials is homogenised again first.
//
// Refused with a fatal error, before any work, in the prime-field build:
// the normal forms, the radical strategies and the change of ordering
// ("Strategy %s is not available in this version\n").  Refused after the
// first basis: a positive-dimensional system ("Not a zero-dimensional system\n"), one without
// solution, and, for a parametrisation, a system not in shape position
// (minimal polynomial of lower degree than the quotient); by the rational
// form, a second basis that is not triangular.  In the integer build a block
// whose primes disagree on that degree (one of them not in shape position
// while another is) is reported as a bad prime (elim_status), so the pass is
// done again with other primes.
//
// Memory: the first basis and all scratch of the working zone are given back
// on return; the results live in zone 2 (identity), which the caller releases
// after copying them.
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

#if QUOR_INT
// Basis of polys[0..n-1] (first_gbasis = 0: they already are one), then the
// stage the switches ask for, into result; returns the count written (0 after
// an interrupt or a bad prime); the first basis's CPU time is added to *t.
u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr, i32 first_gbasis, u32 bk1, u32 elim1, u32 m2, u32 bk2, u32 elim2);
#else
// The same, always computing the first basis of all n inputs.
u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr);
#endif

}  // namespace quor::QUOR_NS
