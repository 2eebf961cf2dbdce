// Dense univariate arithmetic over Z/p.
#include "minpolyvgf/unipoly.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "minpolyvgf/scratch.h"

namespace quor::QUOR_NS {

namespace {
using Ops = ResidueOps<Dom>;
inline u32 prime() { return *QUOR_NAME(modulo); }
}  // namespace

i32 exact_degree(const Dom* a, i32 d) {
  while (d >= 0 && a[d] == 0) --d;
  return d;
}

void addmul_poly(Dom* A, const Dom* B, i32 k, Dom c, i32* degA, i32 degB) {
  if (degB < 0) return;  // adding zero
  const u32 p = prime();
  const i32 n = degB + k;
  const i32 d = *degA;
  if (d >= n) {
    for (i32 i = k; i <= n; ++i) A[i] = Ops::mul_add(c, B[i - k], A[i], p);
    if (d == n) {
      i32 top = n;
      while (top >= k && A[top] == 0) --top;
      *degA = top;  // k - 1 when the whole added range cancelled
    }
    return;
  }
  for (i32 i = k; i <= d; ++i) A[i] = Ops::mul_add(c, B[i - k], A[i], p);
  for (i32 i = std::max(d + 1, 0); i < k; ++i) A[i] = 0;
  for (i32 i = std::max(d + 1, k); i <= n; ++i) A[i] = Ops::mul(c, B[i - k], p);
  *degA = n;
}

void mul_tronquer(Dom* R, i32* degR, const Dom* A, i32 degA, const Dom* B, i32 degB, i32 n) {
  const u32 p = prime();
  const bool zero = degA < 0 || degB < 0;
  for (i32 k = n - 1; k >= 1; --k) {
    DotAcc<Dom> acc;
    if (!zero) {
      const i32 lo = std::max(0, k - degA), hi = std::min(degB, k);
      for (i32 j = lo; j <= hi; ++j) acc.add(A[k - j], B[j]);
    }
    R[k] = Dom(acc.reduce(p));
  }
  R[0] = zero ? Dom(0) : Ops::mul(A[0], B[0], p);
  *degR = exact_degree(R, std::max(n - 1, 0));
}

i32 reverse(Dom* A, i32 d) {
  if (d < 0) return -1;
  for (i32 i = 0, j = d; i < j; ++i, --j) std::swap(A[i], A[j]);
  return exact_degree(A, d);
}

i32 rem(const Dom* A, i32 degA, const Dom* B, i32 degB, Dom* R) {
  const u32 p = prime();
  if (degB <= 0) return -1;  // modulo a constant (monic: 1) everything vanishes
  Scratch<Dom> T(std::max(degA + 1, degB));
  if (degA >= 0) std::memcpy(T.data(), A, sizeof(Dom) * std::size_t(degA + 1));
  for (i32 i = std::max(degA + 1, 0); i < degB; ++i) T[i] = 0;
  for (i32 i = degA; i >= degB; --i) {
    const Dom c = T[i];
    if (c == 0) continue;
    const Dom m = Dom(p - c);
    Dom* t = T + (i - degB);
    for (i32 j = 0; j <= degB; ++j) t[j] = Ops::mul_add(m, B[j], t[j], p);
  }
  std::memcpy(R, T.data(), sizeof(Dom) * std::size_t(degB));
  return exact_degree(R, degB - 1);
}

i32 rem_d(Dom* A, i32 degA, const Dom* B, i32 degB) {
  Scratch<Dom> R(degB);
  const i32 r = rem(A, degA, B, degB, R);
  if (r >= 0) std::memcpy(A, R.data(), sizeof(Dom) * std::size_t(r + 1));
  return r;
}

u32 INV_2args(u32 a, u32 p) {
  // Extended Euclid on (p, a), keeping the Bezout coefficient of a in [0, p).
  u32 r0 = p, r1 = a % p;
  u64 t0 = 0, t1 = 1;
  if (r1 == 0) {
    std::fprintf(stderr, "Le facteur %u -> %u a ete trouve !\n", 0u, p);
    if constexpr (kIntBuild) QUOR_NAME(modulo_ok) = 0;
    return 0;
  }
  while (r1 != 0) {
    const u32 q = r0 / r1;
    const u32 r2 = r0 - q * r1;
    const u64 t2 = (t0 + p - (u64(q % p) * t1) % p) % p;
    r0 = r1;
    r1 = r2;
    t0 = t1;
    t1 = t2;
  }
  return u32(t0);
}

i32 QUOR_NAME(shift_X)(Dom* A, i32 d) {
  for (i32 i = d; i >= 0; --i) A[i + 1] = A[i];
  A[0] = 0;
  return d + 1;
}

i32 QUOR_NAME(combi_lin)(Dom* A, i32 degA, Dom c, const Dom* B, i32 degB) {
  i32 d = degA;
  addmul_poly(A, B, 0, c, &d, degB);
  return d;
}

}  // namespace quor::QUOR_NS
