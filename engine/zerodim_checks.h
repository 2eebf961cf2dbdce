// Checks shared by the two zero-dimensional stages after a reduced basis (the
// multiplication matrix and the change of ordering): what is refused for
// good (a fatal error), and what only condemns a prime of the block (a bad
// prime: elim_status, the pass is computed again with other primes).
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

// The dimension of the quotient by the reduced basis G[0..count-1] (sorted in
// place); fatal when 1 is in the ideal or the system is not zero-dimensional.
u32 zero_dim_quotient(Dpol* G, u32 count);

// Whether the parametrisation may be asked of G in this pass: fatal when no
// prime of the block sees x_last's minimal polynomial of degree dim (not in
// shape position); false, with a bad prime, when only slot 0 misses it.
// Only the pass that fixes the results checks; later ones return true.
bool shape_position_checked(Dpol* G, u32 count, u32 dim);

// Whether the rational form may be asked of the second basis G[0..count-1]
// (reduced for the order in force): true when it is led by the variables but
// the last to the first power and by a power of the last, or is the basis 1
// of a system without solution (its own form); fatal as for the matrix
// request when the system is not zero-dimensional or not in shape position;
// false with a bad prime.  A basis of a system in shape position that the
// order leaves otherwise passes, for the rational form to name what is wrong.
bool second_basis_in_shape(Dpol* G, u32 count);

// Checks the minimal polynomial mu of a stage (its square-free part when
// sqfr).  False, with a bad prime, when the primes of the block disagree on
// its degree or a slot has no parametrisation; fatal when none was computed or
// a parametrisation was asked of a system not in shape position.
bool minimal_polynomial_sound(const sDpol* mu, u32 dim, bool minpoly_only, bool sqfr);

// Degree in x_last of the monic univariate polynomial mu in prime slot k
// (its first term with a non-zero slot-k coefficient); -1 when none.
i32 slot_degree(const sDpol* mu, u32 k);

// While alive, a prime at which the parametrisation finds no generator
// (integer build) leaves that slot without results instead of ending the
// request: the caller reports it as a bad prime.
struct SoftFglmFailure {
  SoftFglmFailure();
  ~SoftFglmFailure();
  SoftFglmFailure(const SoftFglmFailure&) = delete;
  SoftFglmFailure& operator=(const SoftFglmFailure&) = delete;
};

}  // namespace quor::QUOR_NS
