// Lift of a rational function of one parameter (integer build).
#include "engine/paramlift.h"

#include <algorithm>
#include <vector>

#include "core/bigint.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/poly.h"
#include "core/zone.h"
#include "engine/reconstruct.h"

using namespace quor;
using namespace quor::QUOR_NS;

const char* QUOR_NAME(param_variable) = "z";
i32 QUOR_NAME(want_denom_coeff_only) = 0;

namespace quor::QUOR_NS {

namespace {

template <class T>
T* zone_array(u64 n) {
  return static_cast<T*>(QUOR_NAME(alloc64)((n ? n : 1) * sizeof(T)));
}

// Exact degree of c[0..d] (-1 for zero).
i32 trimmed(const u32* c, i32 d) {
  while (d >= 0 && c[d] == 0) --d;
  return d;
}

// Convergent step cur := a cur + (z - xk) old, old := the previous cur
// (arrays of room entries, degrees by pointer).
void convergent_step(u32* cur, i32* dcur, u32* old, i32* dold, u32 a, u32 xk, u32 p, u32 room, u32* tmp) {
  const i32 top = std::min<i32>(std::max(*dcur, *dold + 1), i32(room) - 1);
  for (i32 j = 0; j <= top; ++j) {
    u32 v = j <= *dcur ? mul_mod(a, cur[j], p) : 0;
    if (j <= *dold) v = sub_mod(v, mul_mod(xk, old[j], p), p);
    if (j >= 1 && j - 1 <= *dold) v = add_mod(v, old[j - 1], p);
    tmp[j] = v;
  }
  std::copy(cur, cur + (*dcur + 1), old);
  *dold = *dcur;
  std::copy(tmp, tmp + (top + 1), cur);
  *dcur = trimmed(cur, top);
}

}  // namespace

void verifier_coherence(const u32* a, u32 n) {
  std::vector<u32> c(a, a + n);
  shell_sort_indices(
      n, [&](u32 i, u32 j) { return c[i] > c[j]; }, [&](u32 i, u32 j) { std::swap(c[i], c[j]); });
  for (u32 i = 1; i < n; ++i)
    if (c[i] == c[i - 1]) QUOR_NAME(Fatal)("incoherence dans data: %u = %u\n", c[i - 1], c[i]);
}

int internal_param_lift(const u32* x, const u32* y, u32 n, u32 p, u32* N, u32* Q, i32* dN, i32* dQ) {
  // Every call: the points of one run need not be those of another.
  verifier_coherence(x, n);
  *dN = *dQ = 0;
  if (n == 0) return 0;
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  const u32 room = n + 1;
  u32* rho = zone_array<u32>(n);
  u32* sig = zone_array<u32>(n);
  u32* Pm = zone_array<u32>(room);  // P_{k-2}, Q_{k-2}
  u32* Qm = zone_array<u32>(room);
  u32* tmp = zone_array<u32>(room);
  for (u32 i = 0; i < n; ++i) rho[i] = y[i] % p, sig[i] = 0;
  std::fill(N, N + n, 0u);
  std::fill(Q, Q + n, 0u);
  N[0] = y[0] % p;
  Q[0] = 1;
  Pm[0] = 1;
  i32 dPm = 0, dQm = -1, dn = trimmed(N, 0), dq = 0;
  int ok = 0;
  if (n > 3) {
    for (u32 k = 1;; ++k) {
      if ((k & 127) == 1) QUOR_NAME(Stderr)("[%d]", int(k - 1));
      const u32 s = sig[0];
      bool ended = false;
      for (u32 i = 0; i + k + 2 <= n; ++i) {
        sig[i] = rho[i];
        const u32 d = sub_mod(rho[i + 1], rho[i], p);
        if (d == 0) {
          ended = true;
          break;
        }
        rho[i] = add_mod(mul_mod(sub_mod(x[i + k] % p, x[i] % p, p), inv_Dom(d, p), p), sig[i + 1], p);
      }
      if (ended) {
        if (QUOR_NAME(taille_maxi) < double(k)) QUOR_NAME(taille_maxi) = double(k);
        ok = dq >= 0 ? 1 : 0;
        break;
      }
      const u32 a = sub_mod(rho[0], s, p);
      const u32 xk = x[k - 1] % p;
      convergent_step(N, &dn, Pm, &dPm, a, xk, p, n, tmp);
      convergent_step(Q, &dq, Qm, &dQm, a, xk, p, n, tmp);
      if (k + 3 >= n) break;
    }
  }
  if (ok) {
    // Q monic: the same N/Q whatever the points of the run.
    const u64 il = inv_Dom(Q[dq], p);
    for (i32 j = 0; j <= dn; ++j) N[j] = u32(N[j] * il % p);
    for (i32 j = 0; j <= dq; ++j) Q[j] = u32(Q[j] * il % p);
    *dN = dn;
    *dQ = dq;
  }
  QUOR_NAME(restore_GC_state)(&mark);
  return ok;
}

void display_univ(const u32* c, i32 d, u32 L, u32 runs, const char* name) {
  std::vector<u32> res(runs);
  bool printed = false;
  for (i32 e = d; e >= 0; --e) {
    // A coefficient vanishes only when it does modulo every run's prime.
    bool zero = true;
    for (u32 r = 0; r < runs; ++r) zero &= (res[r] = c[u64(e) + u64(r) * L]) == 0;
    if (zero) continue;
    GC_state mark;
    QUOR_NAME(save_GC_state)(&mark);
    INT v[2];
    bool unit = false;
    if (!QUOR_NAME(lift_one_INT)(res.data(), v)) {
      QUOR_NAME(Output)(printed ? "+NYA" : "NYA");
      if (e) QUOR_NAME(Output)("*");
    } else if (QUOR_NAME(is_one_INT)(v[1])) {
      if (printed && QUOR_NAME(GetSign_Int)(v[0]) > 0) QUOR_NAME(Output)("+");
      if (QUOR_NAME(is_one_INT)(v[0])) {
        unit = true;
      } else if (QUOR_NAME(is_neg_one_INT)(v[0])) {
        QUOR_NAME(Output)("-");
        unit = true;
      } else {
        QUOR_NAME(see_INT)(v[0]);
        if (e) QUOR_NAME(Output)("*");
      }
    } else {
      QUOR_NAME(Output)(printed ? "+(" : "(");
      QUOR_NAME(see_INT)(v[0]);
      QUOR_NAME(Output)("/");
      QUOR_NAME(see_INT)(v[1]);
      QUOR_NAME(Output)(")");
      if (e) QUOR_NAME(Output)("*");
    }
    if (e == 1) QUOR_NAME(Output)("%s", name);
    else if (e >= 2) QUOR_NAME(Output)("%s^%u", name, unsigned(e));
    else if (unit) QUOR_NAME(Output)("1");
    printed = true;
    QUOR_NAME(restore_GC_state)(&mark);
  }
}

}  // namespace quor::QUOR_NS

int QUOR_NAME(param_lift)(const u32* points, const u32* values) {
  const u32 V = QUOR_NAME(maxi_vectorize);
  const u32* primes = Primes_ori;
  if (points == nullptr || values == nullptr || primes == nullptr || V == 0)
    QUOR_NAME(Fatal)("Quor interface error: no points, values or working primes for param_lift\n");
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u32* N = zone_array<u32>(V);
  u32* Q = zone_array<u32>(V);
  u32* run_primes = zone_array<u32>(V);
  std::fill(N, N + V, 0u);
  std::fill(Q, Q + V, 0u);
  u32 L = 0, runs = 0;
  i32 dN = -1, dQ = -1;
  int ok = 1;
  for (u32 s = 0; s < V && ok;) {
    u32 e = s;
    while (e < V && primes[e] == primes[s]) ++e;
    if (runs == 0) L = e - s;
    else if (e - s != L) QUOR_NAME(Fatal)("Cas pas fait dans param_lift\n");
    for (u32 r = 0; r < runs; ++r)
      if (run_primes[r] == primes[s])
        QUOR_NAME(Fatal)("Quor interface error: the prime %u makes two runs in param_lift\n", primes[s]);
    i32 dn = -1, dq = -1;
    ok = internal_param_lift(points + s, values + s, L, primes[s], N + s, Q + s, &dn, &dq);
    // Every run must find the same degrees: one N/Q.
    if (ok && runs > 0 && (dn != dN || dq != dQ)) ok = 0;
    dN = dn;
    dQ = dq;
    run_primes[runs++] = primes[s];
    s = e;
  }
  if (!ok) {
    QUOR_NAME(Output)("NYA");
    QUOR_NAME(restore_GC_state)(&mark);
    return 0;
  }
  // The coefficients lift over the runs' primes, one per run.
  const LiftContext block = lift_context();
  init_Lift_over(run_primes, runs);
  const char* name = QUOR_NAME(param_variable) ? QUOR_NAME(param_variable) : "z";
  if (QUOR_NAME(want_denom_coeff_only)) {
    display_univ(Q, dQ, L, runs, name);
  } else if (dQ < 1 && Q[0] == 1) {
    display_univ(N, dN, L, runs, name);
  } else if (dN < 1 && N[0] == 1) {
    QUOR_NAME(Output)("1/(");
    display_univ(Q, dQ, L, runs, name);
    QUOR_NAME(Output)(")");
  } else {
    QUOR_NAME(Output)("(");
    display_univ(N, dN, L, runs, name);
    QUOR_NAME(Output)(")/(");
    display_univ(Q, dQ, L, runs, name);
    QUOR_NAME(Output)(")");
  }
  set_lift_context(block);
  QUOR_NAME(restore_GC_state)(&mark);
  return 1;
}
