// Zero-dimensional checks of the matrix stage and the change of ordering.
#include "engine/zerodim_checks.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/multmatrix.h"
#include "engine/staircase.h"
#include "host/C/host_services.h"
#include "minpolyvgf/fglm.h"
#if !QUOR_INT
#include "minpolyvgf/prime_sign.h"
#endif

namespace quor::QUOR_NS {

namespace {

bool has_constant_lead(Dpol* G, u32 count) {
  const u32 n = nb_of_affine_variables;
  for (u32 i = 0; i < count; ++i) {
    if (G[i]->nb_terms == 0) continue;
    bool constant = true;
    for (u32 v = 0; v < n && constant; ++v) constant = expos_slot(lead_Expos(G[i]), v) == 0;
    if (constant) return true;
  }
  return false;
}

[[noreturn]] void not_in_shape_position(i32 degree, u32 dim) {
  QUOR_NAME(Fatal)("Not in shape position: the minimal polynomial of the last variable has degree %d for a "
                   "quotient of dimension %u, so the other variables are not polynomials in it\n",
                   int(degree), dim);
}

// Degree of the certified minimal polynomial of x_last modulo the prime of
// each slot, from the sparse FGLM's minimal-polynomial path, slot 0 first,
// stopping at the first slot of degree dim; its scratch is released.  The
// parametrisation path cannot say why it fails on a matrix that is not
// cyclic, so a request for it asks this first.  The largest degree found;
// *first = the degree at slot 0.
i32 minimal_polynomial_degree(Dpol* G, u32 count, u32 dim, u32 slots, i32* first) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  MultMatrix M;
  build_mult_matrix(G, count, dim, &M);
  Dom** rows = new_row_table(M.nrows, M.stride);
  std::vector<i32> outdeg(M.n, -1);
  i32 best = -1;
  for (u32 k = 0; k < slots && best < i32(dim); ++k) {
    u32 p = QUOR_NAME(Primes)[k];
#if !QUOR_INT
    PrimeSign = i32(p);
    PrimeHalf = (PrimeSign - 1) / 2;
#endif
    fill_dense_rows(&M, k, p, rows);
    outdeg[M.n - 1] = -1;
    fglm_request(dim, M.pairs, M.dense, M.n, M.idx, rows, 1, outdeg.data(), &p, 0, 0, Liste_variables, 0, 1,
                      -1, -1, -1);
    best = std::max(best, outdeg[M.n - 1]);
    if (k == 0) *first = best;
  }
  QUOR_NAME(restore_GC_state)(&mark);
  return best;
}

}  // namespace

u32 zero_dim_quotient(Dpol* G, u32 count) {
  if (has_constant_lead(G, count))
    QUOR_NAME(Fatal)("The system has no solution (1 is in the ideal): no minimal polynomial\n");
  if (count == 0 || !is_zerodim(G, count)) QUOR_NAME(Fatal)("Not a zero-dimensional system\n");
  u32 dim = 0;
  (void)staircase(G, count, &dim);
  return dim;
}

bool shape_position_checked(Dpol* G, u32 count, u32 dim) {
#if QUOR_INT
  // Later passes see the same ideal modulo other primes.
  if (simul_write == 0) return true;
#endif
  // Modulo one prime two solutions can share their last coordinate: the
  // system is in shape position when another prime of the block says so.
  i32 d0 = -1;
  const i32 d = minimal_polynomial_degree(G, count, dim, QUOR_NAME(vectorize), &d0);
  if (d < i32(dim)) not_in_shape_position(d, dim);
  if (d0 < i32(dim)) {
    elim_fail(kElimBadPrime, "Not in shape position modulo one prime of the block\n");
    return false;
  }
  return true;
}

bool second_basis_in_shape(Dpol* G, u32 count) {
  const u32 n = nb_of_affine_variables;
  if (count == 1 && G[0]->nb_terms > 0 && degree_Expos(lead_Expos(G[0])) == 0) return true;
  // The checks sort their basis: the results keep the order of G.
  std::vector<Dpol> sorted(G, G + count);
  const u32 dim = zero_dim_quotient(sorted.data(), count);
  bool triangular = true;
  for (u32 i = 0; i < count && triangular; ++i) {
    if (G[i]->nb_terms == 0) continue;
    const u64* lead = lead_Expos(G[i]);
    const u32 last = expos_slot(lead, n - 1), degree = degree_Expos(lead);
    triangular = degree == last || degree == 1;
  }
  return triangular || shape_position_checked(sorted.data(), count, dim);
}

bool minimal_polynomial_sound(const sDpol* mu, u32 dim, bool minpoly_only, bool sqfr) {
  i32 lo = INT_MAX, hi = -1;
  for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) {
    const i32 d = slot_degree(mu, s);
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
  // Below this degree a slot with a parametrisation is impossible: it is a
  // prime where the system is not in shape position (or the FGLM failed).
  const i32 floor = sqfr ? 1 : i32(dim);
#if QUOR_INT
  // After the check (or in a pass replaying one that passed it) a slot
  // without parametrisation is a prime where the system is not in shape position.
  if (!minpoly_only && lo < floor) {
    elim_fail(kElimBadPrime, "Not in shape position modulo a prime of the block\n");
    return false;
  }
#endif
  if (hi < 1) QUOR_NAME(Fatal)("No minimal polynomial was computed\n");
  if (!minpoly_only && hi < floor) not_in_shape_position(hi, dim);
  if (lo != hi) {
    // The ideal is the same at every prime of the block: a lower degree at
    // some of them is their accident (or the sequence's), never the answer.
    elim_fail(kElimBadPrime, "The primes of the block disagree on the degree of the minimal polynomial\n");
    return false;
  }
  return true;
}

i32 slot_degree(const sDpol* mu, u32 k) {
  const u32 last = nb_of_affine_variables - 1;
  for (u32 t = 0; t < mu->nb_terms; ++t)
    if (mu->coeffs[k][t] != 0) return i32(expos_slot(mu->monoms[t] + 1, last));
  return -1;
}

#if QUOR_INT
SoftFglmFailure::SoftFglmFailure() { want_fglm_soft_failure = 1; }
SoftFglmFailure::~SoftFglmFailure() { want_fglm_soft_failure = 0; }
#else
SoftFglmFailure::SoftFglmFailure() {}
SoftFglmFailure::~SoftFglmFailure() {}
#endif

}  // namespace quor::QUOR_NS
