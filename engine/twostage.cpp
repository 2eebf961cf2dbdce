// Two-stage driver: first basis, second basis, then the multiplication-matrix
// stage or the copy, and the rational form.
//
// Zones: the first-basis table is taken in the working zone (identity 1),
// whose mark is kept; then the zones are swapped, so the engine's new
// polynomials, the first basis among them, also land in zone 1, while the
// matrix stage allocates in zone 2, where the results stay.  The release
// swaps back and returns zone 1 to its mark; the caller copies the results
// and releases zone 2.
#include "engine/twostage.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/mainloop.h"
#include "engine/multmatrix.h"
#include "engine/rrform.h"
#include "engine/staircase.h"
#include "host/C/host_services.h"
#include "minpolyvgf/fglm.h"
#if QUOR_INT
#include "engine/reconstruct.h"
#else
#include <omp.h>

#include "minpolyvgf/prime_sign.h"
#endif

namespace quor::QUOR_NS {

// Strategy switches of the request (defined with the dispatch).
extern i32 want_buildmatrix;
extern i32 want_radical_strateg1;
extern i32 want_add_equations;

namespace {

// Room of the first-basis table (the engine may write up to quor_max_index).
constexpr u32 kStageTable = 100000;

[[noreturn]] void not_available(i32 code) {
  QUOR_NAME(Fatal)("Strategy %s is not available in this version\n", strategy_name(code));
}

// The strategy a change of ordering serves, by its two switches.
i32 change_of_ordering_code(u32 sqfr, i32 no_rr) {
  if (no_rr == 0) return sqfr ? QUOR_COMPUTE_RRFORM_SQFR : QUOR_COMPUTE_RRFORM;
  return sqfr ? QUOR_COMPUTE_MINPOLY_SQFR : QUOR_COMPUTE_MINPOLY;
}

// The normal forms, the radical strategies and the change of ordering need
// the Tesk bridge, which this version lacks: refuse them before any basis is
// computed.  The matrix stage and the copy of a second basis need no bridge.
void refuse_other_stages(u32 n_extra, u32 sqfr, i32 no_rr, u32 m2) {
  if (n_extra > 0 && !want_radical_strateg1)
    not_available(want_add_equations ? QUOR_COMPUTE_GBASIS_NF_RECOMPUTE : QUOR_COMPUTE_GBASIS_NF);
  if (want_radical_strateg1)
    not_available(n_extra > 0 ? QUOR_COMPUTE_RADICAL_STRATEG2 : QUOR_COMPUTE_RADICAL_STRATEG1);
  if (!want_buildmatrix && m2 == 0) not_available(change_of_ordering_code(sqfr, no_rr));
}

// Waits for a debugger to attach and clear the hold (QUORDEBUG).
void wait_for_debugger() {
  volatile int hold = 1;
  while (hold) sleep(1);
}

// The stage's zones, swapped in at construction; on every way out (a fatal
// error unwinds through here too) the zones are released and the switches
// take their end-of-call values.
class StageScope {
 public:
  StageScope() {
    QUOR_NAME(save_GC_state)(&entry_);
    QUOR_NAME(swap_zone)();
  }
  ~StageScope() {
    QUOR_NAME(swap_zone)();
    QUOR_NAME(restore_GC_state)(&entry_);
    QUOR_NAME(want_raw_output) = 1;
#if QUOR_INT
    QUOR_NAME(want_lift) = 1;
    QUOR_NAME(maxi_vectorize) = QUOR_NAME(vectorize);
#endif
  }
  StageScope(const StageScope&) = delete;
  StageScope& operator=(const StageScope&) = delete;

 private:
  GC_state entry_{};
};

// A copy of p (current zone, monomials shared) with its terms in the order of
// the current layout: inputs sorted for another block order would otherwise
// enter the basis with wrong leading terms.
Dpol resorted_copy(const sDpol* p) {
  const u32 nt = p->nb_terms, V = QUOR_NAME(vectorize);
  std::vector<u32> perm(nt);
  for (u32 t = 0; t < nt; ++t) perm[t] = t;
  shell_sort_indices(
      nt, [&](u32 i, u32 j) { return comp5_Expos(p->monoms[perm[i]] + 1, p->monoms[perm[j]] + 1) < 0; },
      [&](u32 i, u32 j) { std::swap(perm[i], perm[j]); });
  Dpol q = raw_new_Dpol(nt);
  q->id = p->id;
  q->new_flag = p->new_flag;
  q->row_flag = p->row_flag;
  q->input_flag = p->input_flag;
  q->property = p->property;
  for (u32 t = 0; t < nt; ++t) {
    q->monoms[t] = p->monoms[perm[t]];
    for (u32 k = 0; k < V; ++k) q->coeffs[k][t] = p->coeffs[k][perm[t]];
  }
  return q;
}

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

// Checks the minimal polynomial (last result) of the matrix stage.  Returns
// false when the primes of the block disagree on its degree (a bad prime);
// fatal when a parametrisation was asked of a system not in shape position.
bool minimal_polynomial_sound(Dpol* result, u32 k, u32 dim, bool minpoly_only) {
  if (k == 0) QUOR_NAME(Fatal)("No minimal polynomial was computed\n");
  const sDpol* mu = result[k - 1];
  i32 lo = INT_MAX, hi = -1;
  for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) {
    const i32 d = slot_degree(mu, s);
    lo = std::min(lo, d);
    hi = std::max(hi, d);
  }
#if QUOR_INT
  // After the check (or in a pass replaying one that passed it) a slot
  // without parametrisation is a prime where the system is not in shape position.
  if (!minpoly_only && lo < i32(dim)) {
    elim_fail(kElimBadPrime, "Not in shape position modulo a prime of the block\n");
    return false;
  }
#endif
  if (hi < 1) QUOR_NAME(Fatal)("No minimal polynomial was computed\n");
  if (!minpoly_only && hi < i32(dim)) not_in_shape_position(hi, dim);
  if (lo != hi) {
    // The ideal is the same at every prime of the block: a lower degree at
    // some of them is their accident (or the sequence's), never the answer.
    elim_fail(kElimBadPrime, "The primes of the block disagree on the degree of the minimal polynomial\n");
    return false;
  }
  return true;
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
    QUOR_NAME(w_fglm)(dim, M.pairs, M.dense, M.n, M.idx, rows, 1, outdeg.data(), &p, 0, 0, Liste_variables, 0, 1,
                      -1, -1, -1);
    best = std::max(best, outdeg[M.n - 1]);
    if (k == 0) *first = best;
  }
  QUOR_NAME(restore_GC_state)(&mark);
  return best;
}

// The matrix stage on the reduced basis G: minimal polynomial and
// parametrisation into result; returns their count (0 for a bad prime).
u32 matrix_stage(Dpol* G, u32 count, Dpol* result) {
  if (has_constant_lead(G, count))
    QUOR_NAME(Fatal)("The system has no solution (1 is in the ideal): no minimal polynomial\n");
  if (count == 0 || !is_zerodim(G, count)) QUOR_NAME(Fatal)("Not a zero-dimensional system\n");
  u32 dim = 0;
  (void)staircase(G, count, &dim);
  const bool minpoly_only = std::getenv("MINPOLY") != nullptr;
  // Integer build: the pass that fixes the results checks; later passes see
  // the same ideal modulo other primes.
#if QUOR_INT
  const bool check = !minpoly_only && simul_write != 0;
#else
  const bool check = !minpoly_only;
#endif
  if (check) {
    // Modulo one prime two solutions can share their last coordinate: the
    // system is in shape position when another prime of the block says so.
    i32 d0 = -1;
    const i32 d = minimal_polynomial_degree(G, count, dim, QUOR_NAME(vectorize), &d0);
    if (d < i32(dim)) not_in_shape_position(d, dim);
    if (d0 < i32(dim)) {
      elim_fail(kElimBadPrime, "Not in shape position modulo one prime of the block\n");
      return 0;
    }
  }
#if QUOR_INT
  // A prime at which the system is not in shape position fails the
  // parametrisation: reported as a bad prime below, not as the end of the request.
  struct SoftFailure {
    SoftFailure() { want_fglm_soft_failure = 1; }
    ~SoftFailure() { want_fglm_soft_failure = 0; }
  } soft;
#endif
  const u32 k = build_last_matrix(G, count, result, dim);
  return minimal_polynomial_sound(result, k, dim, minpoly_only) ? k : 0;
}

bool stopped_or_failed() { return QUOR_NAME(stop_immediately_semaphore) != 0 || elim_status() != kElimOk; }

// The inputs of the first basis, sorted, their terms in the basis's order.
std::vector<Dpol> first_inputs(Dpol* polys, u32 n, u32 request_block) {
  std::vector<Dpol> inputs(polys, polys + n);
  if (var_second_block != request_block)
    for (Dpol& p : inputs) p = resorted_copy(p);
  resort_Dpol(inputs.data(), n);
  return inputs;
}

#if QUOR_INT
// Second basis, for the block order bk2 (elimination elim2), of the first
// basis G[0..count-1] and the m2 inputs kept back; written back to G (room
// for the table's size).  Its count.
u32 second_basis(Dpol* G, u32 count, Dpol* kept, u32 m2, u32 bk2, u32 elim2) {
  if (u64(count) + m2 > kStageTable - 1) QUOR_NAME(Fatal)("Intermediate gbasis is too big !");
  const u32 room = std::max<u32>(kStageTable, quor_max_index + 1);
  Dpol* second = static_cast<Dpol*>(QUOR_NAME(alloc64)(u64(room) * sizeof(Dpol)));
  want_Lexico = 0;
  want_mingbasis_strong = 1;
  var_second_block = bk2;
  want_eliminated = i32(elim2);
  set_Expos(nb_of_affine_variables);
  want_rr = 0;
  // The first basis is sorted for the first order: every polynomial takes
  // the second order's term order before it enters.
  std::vector<Dpol> in(G, G + count);
  // The first basis comes out affine (its homogenising slot cleared in
  // records it shares): it enters again on records of its own, homogenised.
  for (Dpol& p : in) {
    for (u32 t = 0; t < p->nb_terms; ++t) in_place_copy_Expos(&p->monoms[t]);
    homogenous_Dpol(p);
  }
  in.insert(in.end(), kept, kept + m2);
  for (Dpol& p : in) p = resorted_copy(p);
  resort_Dpol(in.data(), u32(in.size()));
  QUOR_NAME(Stderr)("\nStart 2nd gbasis: bk2=%d for %d polys\n", int(bk2), int(in.size()));
  double time = 0;
  const u32 k = gbasis(in.data(), u32(in.size()), second, &time);
  QUOR_NAME(Stderr)("\nDRL gbasis: %.2f sec\n", time);
  std::copy(second, second + k, G);
  want_automatique = 0;
  nb_of_renormed = 0;
  return k;
}
#endif

// Third stage after the basis G (nothing after an interrupt or a bad prime):
// the matrix stage, or the copy of G; then, with no_rr = 0, the rational
// form (integer build).  Timing lines when `timing`.  The count of results.
u32 third_stage(Dpol* G, u32 count, Dpol* result, i32 no_rr, bool timing) {
  if (stopped_or_failed()) return 0;
  const double t2 = QUOR_NAME(cpu)();
  QUOR_NAME(want_state_percent) = 0;
  u32 k = 0;
  if (want_buildmatrix) {
    k = matrix_stage(G, count, result);
  } else {
    QUOR_NAME(Stderr)("Copy %d pols ...\n", int(count));
    std::copy(G, G + count, result);
    k = count;
  }
  if (timing) QUOR_NAME(Stderr)("#C Second step time %.2f sec\n", QUOR_NAME(cpu)() - t2);
  QUOR_NAME(Stderr)("#C a faire: %d\n", int(k));
  if (no_rr == 0) {
    QUOR_NAME(Stderr)("#C avant rr\n");
#if QUOR_INT
    // Nothing to rewrite after a bad prime (k = 0).
    if (k > 0) apply_rr(result, k);
#endif
    QUOR_NAME(Stderr)("#C apres rr\n");
  }
  if (timing) QUOR_NAME(Stderr)("#C Third step time (total) %.2f sec\n", QUOR_NAME(cpu)());
  return k;
}

}  // namespace

i32 slot_degree(const sDpol* mu, u32 k) {
  const u32 last = nb_of_affine_variables - 1;
  for (u32 t = 0; t < mu->nb_terms; ++t)
    if (mu->coeffs[k][t] != 0) return i32(expos_slot(mu->monoms[t] + 1, last));
  return -1;
}

#if QUOR_INT
u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr, i32 first_gbasis, u32 bk1, u32 elim1, u32 m2, u32 bk2, u32 elim2) {
  (void)extra;
  if (n < m2) QUOR_NAME(Fatal)("Too many polynomials for 2nd computation (m=%d,m2=%d)\n", int(n), int(m2));
  refuse_other_stages(n_extra, sqfr, no_rr, m2);
  if (std::getenv("QUORDEBUG")) wait_for_debugger();

  const u32 first_count = n - m2;
  const u32 room = std::max<u32>(kStageTable, quor_max_index + 1);
  Dpol* G = static_cast<Dpol*>(QUOR_NAME(alloc64)(u64(room) * sizeof(Dpol)));
  StageScope scope;
  const u32 request_block = var_second_block;
  QUOR_NAME(want_raw_output) = 1;
  QUOR_NAME(want_lift) = 0;
  want_automatique = 0;
  nb_of_renormed = 0;
  QUOR_NAME(want_state_percent) = 1;
  want_Lexico = 0;
  QUOR_NAME(maxi_vectorize) = QUOR_NAME(vectorize);
  var_second_block = bk1;
  want_eliminated = i32(elim1);
  want_mingbasis_strong = 1;
  set_Expos(nb_of_affine_variables);
  want_rr = 0;

  // ---- first basis ----
  std::vector<Dpol> inputs = first_inputs(polys, first_count, request_block);
  u32 count = 0;
  double first_time = 0;
  if (first_gbasis) {
    count = gbasis(inputs.data(), first_count, G, &first_time);
  } else {
    std::copy(inputs.begin(), inputs.end(), G);
    count = first_count;
  }
  want_automatique = 0;
  nb_of_renormed = 0;
  if (t) *t += first_time;
  if (m2 > 0 && !stopped_or_failed()) count = second_basis(G, count, polys + first_count, m2, bk2, elim2);
  return third_stage(G, count, result, no_rr, want_pipe2 != 0);
}

#else

u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr) {
  (void)extra;
  refuse_other_stages(n_extra, sqfr, no_rr, 0);
  if (std::getenv("QUORDEBUG")) wait_for_debugger();

  const u32 room = std::max<u32>(kStageTable, quor_max_index + 1);
  Dpol* G = static_cast<Dpol*>(QUOR_NAME(alloc64)(u64(room) * sizeof(Dpol)));
  StageScope scope;
  const u32 request_block = var_second_block;
  QUOR_NAME(want_raw_output) = 1;
  want_automatique = 0;
  nb_of_renormed = 0;
  QUOR_NAME(want_state_percent) = 1;
  want_Lexico = 0;
  var_second_block = 0;
  want_eliminated = 0;
  want_mingbasis_strong = 1;
  set_Expos(nb_of_affine_variables);

  // ---- first basis ----
  std::vector<Dpol> inputs = first_inputs(polys, n, request_block);
  double first_time = 0;
  const double wall0 = omp_get_wtime();
  const u32 count = gbasis(inputs.data(), n, G, &first_time);
  QUOR_NAME(Stderr)("Elapsed time DRL: %.2f sec\n", omp_get_wtime() - wall0);
  info_complexite();
  want_automatique = 0;
  nb_of_renormed = 0;
  if (t) *t += first_time;
  return third_stage(G, count, result, no_rr, want_pipe2 != 0 && nb_threads == 1);
}

#endif

}  // namespace quor::QUOR_NS
