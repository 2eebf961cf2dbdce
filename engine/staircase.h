// Zero-dimensionality and the staircase of a Groebner basis: the monomials
// that no leading monomial divides, i.e. the monomial basis of the quotient.
// Only leading monomials are read, never coefficients.
#pragma once
#include "core/quor_build.h"

#include "core/monomial.h"
#include "core/poly.h"

namespace quor::QUOR_NS {

// 1 when every variable 0 .. nb_of_affine_variables-1 has a pure power among the
// leading monomials of G[0..n-1] (homogenising slot not looked at), else 0; n = 0 gives 1.
u32 is_zerodim(Dpol* G, u32 n);

// The monomial 1 and every monomial no leading monomial of G divides, largest
// first (comp4_Expos), as cells of fresh records; *count their number; G is
// sorted in place by leading total degree.  n = 0: empty list, count 0.  A
// basis that is not zero-dimensional (and holds no constant) is fatal.
List_Expos staircase(Dpol* G, u32 n, u32* count);

// The same monomials in order of discovery, 1 first, as records with their
// header (hash not set) in a zone array; *count their number; G sorted as
// above.  cap > 0 bounds the count: one more is fatal with "bug2 in
// build_last_matrix\n" (the caller promised the size).
u64** staircase_records(Dpol* G, u32 n, u32 cap, u32* count);

}  // namespace quor::QUOR_NS
