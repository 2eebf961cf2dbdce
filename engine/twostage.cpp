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
#include "engine/tesk_bridge.h"
#include "engine/zerodim_checks.h"
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

#if !QUOR_INT
[[noreturn]] void not_available(i32 code) {
  QUOR_NAME(Fatal)("Strategy %s is not available in this version\n", strategy_name(code));
}

// The strategy a change of ordering serves, by its two switches.
i32 change_of_ordering_code(u32 sqfr, i32 no_rr) {
  if (no_rr == 0) return sqfr ? QUOR_COMPUTE_RRFORM_SQFR : QUOR_COMPUTE_RRFORM;
  return sqfr ? QUOR_COMPUTE_MINPOLY_SQFR : QUOR_COMPUTE_MINPOLY;
}
#endif

// What this build cannot serve is refused before any basis is computed: in
// the prime-field build the normal forms, the radical strategies and the
// change of ordering, which have no result modulo one prime here.
void refuse_other_stages(u32 n_extra, u32 sqfr, i32 no_rr, u32 m2) {
#if QUOR_INT
  (void)n_extra, (void)sqfr, (void)no_rr, (void)m2;
#else
  if (n_extra > 0 && !want_radical_strateg1)
    not_available(want_add_equations ? QUOR_COMPUTE_GBASIS_NF_RECOMPUTE : QUOR_COMPUTE_GBASIS_NF);
  if (want_radical_strateg1)
    not_available(n_extra > 0 ? QUOR_COMPUTE_RADICAL_STRATEG2 : QUOR_COMPUTE_RADICAL_STRATEG1);
  if (!want_buildmatrix && m2 == 0) not_available(change_of_ordering_code(sqfr, no_rr));
#endif
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

// The matrix stage on the reduced basis G: minimal polynomial and
// parametrisation into result; returns their count (0 for a bad prime).
u32 matrix_stage(Dpol* G, u32 count, Dpol* result) {
  const u32 dim = zero_dim_quotient(G, count);
  const bool minpoly_only = std::getenv("MINPOLY") != nullptr;
  if (!minpoly_only && !shape_position_checked(G, count, dim)) return 0;
  // A prime at which the system is not in shape position fails the
  // parametrisation: reported as a bad prime below, not as the end of the request.
  SoftFglmFailure soft;
  const u32 k = build_last_matrix(G, count, result, dim);
  if (k == 0) QUOR_NAME(Fatal)("No minimal polynomial was computed\n");
  return minimal_polynomial_sound(result[k - 1], dim, minpoly_only, false) ? k : 0;
}

bool stopped_or_failed() { return stop_requested() || elim_status() != kElimOk; }

// The inputs of the first basis, sorted, their terms in the basis's order.
std::vector<Dpol> first_inputs(Dpol* polys, u32 n, u32 request_block) {
  std::vector<Dpol> inputs(polys, polys + n);
  if (var_second_block != request_block)
    for (Dpol& p : inputs) p = resorted_copy(p);
  resort_Dpol(inputs.data(), n);
  return inputs;
}

#if QUOR_INT
// A basis comes out affine (its homogenising slot cleared in records it
// shares): its polynomials enter another basis computation on records of
// their own, homogenised.
void entering_again(Dpol* P, u32 count) {
  for (u32 i = 0; i < count; ++i) {
    for (u32 t = 0; t < P[i]->nb_terms; ++t) in_place_copy_Expos(&P[i]->monoms[t]);
    homogenous_Dpol(P[i]);
  }
}

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
  entering_again(in.data(), count);
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

#if QUOR_INT
// Normal forms of extra[0..n_extra-1] by the basis G[0..count-1] (room for
// the table's size behind it).  Without want_add_equations the (multiplier,
// normal form) pairs are the results; with it the non-zero normal forms join
// the basis and the basis of the enlarged system is the result.  The count.
u32 normal_form_stage(Dpol* G, u32 count, Dpol* extra, u32 n_extra, Dpol* result, bool timing) {
  if (stopped_or_failed()) return 0;
  const double t1 = QUOR_NAME(cpu)();
  if (!want_add_equations) {
    const u32 k = lib_normalForm(extra, n_extra, G, count, nullptr, 0, 0, result);
    if (timing) QUOR_NAME(Stderr)("#C Second step time %.2f sec\n", QUOR_NAME(cpu)() - t1);
    return k;
  }
  std::vector<Dpol> pairs(2 * size_t(n_extra));
  const u32 k = lib_normalForm(extra, n_extra, G, count, nullptr, 0, 0, pairs.data());
  if (timing) QUOR_NAME(Stderr)("#C Second step time %.2f sec\n", QUOR_NAME(cpu)() - t1);
  if (stopped_or_failed()) return 0;
  // The multipliers are constants: only the non-zero normal forms add
  // anything to the ideal (a multiplier would make it the whole ring).
  u32 m = count;
  for (u32 i = 1; i < k; i += 2) {
    if (pairs[i]->nb_terms == 0) continue;
    if (u64(m) + 1 > kStageTable - 1) QUOR_NAME(Fatal)("Intermediate gbasis is too big !");
    G[m++] = pairs[i];
  }
  entering_again(G, m);
  QUOR_NAME(Stderr)("Add:");
  for (u32 i = count; i < m; ++i) QUOR_NAME(Stderr)(" %d", int(homogenous_Dpol(G[i])));
  QUOR_NAME(Stderr)("\n");
  want_automatique = 1;
  nb_of_renormed = 0;
  double time = 0;
  const u32 r = gbasis(G, m, result, &time);
  if (timing) QUOR_NAME(Stderr)("#C Second 3rt time %.2f sec\n", time);
  return r;
}

// The radical stage, after the change of ordering left the square-free f
// first in result: f (divided exactly by the n_div divisors first) is
// reduced by G; a non-zero normal form joins the system, whose basis is
// computed again and changed to the lexicographic order, square-free.  The
// count of results (0 for a bad prime or an interrupt).
u32 radical_stage(Dpol* G, u32 count, Dpol* result, Dpol* divisors, u32 n_div) {
  QUOR_NAME(Stderr)("Compute NF minpoly\n");
  if (n_div > 0) QUOR_NAME(Stderr)("Localilisation by %d polynomes\n", int(n_div));
  if (u64(count) + 2 > kStageTable - 1) QUOR_NAME(Fatal)("Intermediate gbasis is too big !");
  (void)lib_normalForm(result, 1, G, count, n_div > 0 ? divisors : nullptr, n_div, 1, G + count);
  if (stopped_or_failed()) return 0;
  const Dpol nf = G[count + 1];  // after the multiplier
  u32 m = count;
  if (nf->nb_terms > 0) {
    // Its leading coefficient vanishing at a prime makes that prime's system
    // another one: a bad prime.
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
      if (nf->coeffs[k][0] == 0) {
        elim_fail(kElimBadPrime, "The normal form of the minimal polynomial vanishes at a prime of the block\n");
        return 0;
      }
    QUOR_NAME(Stderr)("Reduction a done <>0\n");
    G[m++] = nf;
  } else {
    QUOR_NAME(Stderr)("ne rajoute pas de polynome\n");
  }
  QUOR_NAME(Stderr)("Recompute DRL avec %d pols ...\n", int(m));
  want_Lexico = 0;
  want_mingbasis_strong = 1;
  const u32 block = var_second_block;
  var_second_block = 0;
  set_Expos(nb_of_affine_variables);
  want_rr = 0;
  entering_again(G, m);
  std::vector<Dpol> in = first_inputs(G, m, block);
  const u32 room = std::max<u32>(kStageTable, quor_max_index + 1);
  Dpol* basis = static_cast<Dpol*>(QUOR_NAME(alloc64)(u64(room) * sizeof(Dpol)));
  double time = 0;
  const u32 k = gbasis(in.data(), m, basis, &time);
  want_automatique = 0;
  nb_of_renormed = 0;
  if (stopped_or_failed()) return 0;
  QUOR_NAME(Stderr)("Recompute RR with %d pols ... <2>\n", int(k));
  return lib_fast_chg_order(basis, k, result, 1, 0, -1, 0);
}
#endif

// Third stage after the basis G (nothing after an interrupt or a bad prime):
// the matrix stage, the change of ordering (square-free when sqfr; the
// minimal polynomial alone when no_rr or for the radical strategies, which
// go on with the radical stage), or the copy of a second basis; then, with
// no_rr = 0, the rational form (integer build).  Timing lines when
// `timing`.  The count of results.
u32 third_stage(Dpol* G, u32 count, Dpol* result, u32 sqfr, i32 no_rr, bool second, Dpol* extra, u32 n_extra,
                bool timing) {
  if (stopped_or_failed()) return 0;
  const double t2 = QUOR_NAME(cpu)();
  QUOR_NAME(want_state_percent) = 0;
  u32 k = 0;
  if (want_buildmatrix) {
    k = matrix_stage(G, count, result);
  } else if (!second) {
    QUOR_NAME(Stderr)("Compute RR with %d pols ...\n", int(count));
    k = lib_fast_chg_order(G, count, result, i32(sqfr), want_radical_strateg1 ? 1 : no_rr, -1, 0);
  } else {
    QUOR_NAME(Stderr)("Copy %d pols ...\n", int(count));
    // The rational form reads a second basis as the shape basis: one out of
    // shape position (x^2 - 1 for x^2 = y) would be taken for one.
    if (second_basis_in_shape(G, count)) {
      std::copy(G, G + count, result);
      k = count;
    }
  }
  if (timing) QUOR_NAME(Stderr)("#C Second step time %.2f sec\n", QUOR_NAME(cpu)() - t2);
#if QUOR_INT
  if (want_radical_strateg1 && k > 0 && !stopped_or_failed()) k = radical_stage(G, count, result, extra, n_extra);
#else
  (void)sqfr, (void)extra, (void)n_extra;
#endif
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

#if QUOR_INT
u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr, i32 first_gbasis, u32 bk1, u32 elim1, u32 m2, u32 bk2, u32 elim2) {
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
  if (n_extra > 0 && !want_radical_strateg1)
    return normal_form_stage(G, count, extra, n_extra, result, want_pipe2 != 0);
  return third_stage(G, count, result, sqfr, no_rr, m2 > 0, extra, n_extra, want_pipe2 != 0);
}

#else

u32 gbasis_universal_cmd(Dpol* polys, u32 n, Dpol* result, Dpol* extra, u32 n_extra, double* t, u32 sqfr,
                         i32 no_rr) {
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
  return third_stage(G, count, result, sqfr, no_rr, false, extra, n_extra, want_pipe2 != 0 && nb_threads == 1);
}

#endif

}  // namespace quor::QUOR_NS
