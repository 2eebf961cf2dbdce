// Minimal polynomials of linearly recurrent sequences: Berlekamp-Massey and
// Pade approximation by the stopped extended Euclid.
#include "minpolyvgf/minpoly.h"

#include <algorithm>
#include <cstring>

#include "minpolyvgf/scratch.h"

namespace quor::QUOR_NS {

namespace {
using Ops = ResidueOps<Dom>;
inline u32 prime() { return *QUOR_NAME(modulo); }

void zero_fill(Dom* a, i32 from, i32 to) {
  for (i32 i = std::max(from, 0); i <= to; ++i) a[i] = 0;
}
}  // namespace

void berlekamp(const Dom* s, i32 n, Dom* K, i32* deg) {
  const u32 p = prime();
  K[0] = 1;
  i32 dk = 0;
  if (n < 1) {
    *deg = 0;
    return;
  }
  Scratch<Dom> B(n + 1), T(n + 1);
  B[0] = 1;
  i32 db = 0;
  i32 L = 0, m = 1;
  Dom neg_inv_b = Dom(p - 1);  // -1/b with b = 1
  for (i32 j = 0; j < n; ++j) {
    DotAcc<Dom> acc;
    acc.add(s[j]);
    const i32 top = std::min(L, dk);
    for (i32 i = 1; i <= top; ++i) acc.add(K[i], s[j - i]);
    const Dom d = Dom(acc.reduce(p));
    if (d == 0) {
      ++m;
      continue;
    }
    const Dom coef = Ops::mul(d, neg_inv_b, p);
    if (2 * L > j) {
      addmul_poly(K, B, m, coef, &dk, db);
      ++m;
    } else {
      std::memcpy(T.data(), K, sizeof(Dom) * std::size_t(dk + 1));
      const i32 dt = dk;
      addmul_poly(K, B, m, coef, &dk, db);
      std::memcpy(B.data(), T.data(), sizeof(Dom) * std::size_t(dt + 1));
      db = dt;
      L = j + 1 - L;
      neg_inv_b = Dom(p - INV_2args(d, p));
      m = 1;
    }
  }
  // The generator is X^L K(1/X): when its constant term is 0, deg K < L, and
  // reversing at deg K would lose the factor X.
  zero_fill(K, dk + 1, L);
  *deg = L;
}

i32 algo_AD_part1(const Dom* s, i32 N, Dom* out, i32* deg) {
  if (N < 0) {
    *deg = -1;
    return -1;
  }
  const u32 p = prime();
  const i32 n2 = 2 * N;
  Scratch<Dom> A(n2 + 1), B(n2 + 1);
  zero_fill(A, 0, n2 - 1);
  A[n2] = 1;
  if (n2 > 0) std::memcpy(B.data(), s, sizeof(Dom) * std::size_t(n2));
  i32 da = n2, db = exact_degree(B, n2 - 1);
  egcd(A, &da, B, &db, N - 1);
  // V B = R mod X^(2N) with deg R < N: the generator is V reversed at
  // L = max(deg V, deg R + 1), not at deg V (its constant term may be 0).
  const i32 dv = db;
  const i32 L = std::max(dv, da + 1);
  zero_fill(out, 0, N + 1);
  if (dv < 0 || B[0] == 0 || L > N) {
    *deg = -1;
    return -1;
  }
  const Dom inv = Dom(INV_2args(B[0], p));
  for (i32 i = 0; i <= dv; ++i) out[L - i] = Ops::mul(B[i], inv, p);
  *deg = L;
  return L;
}

namespace {
// egcd(X^(2N+1), B, stop N); on a remainder of degree N, out := V / lc(R)
// padded to N + 1 and true; otherwise *deg := the remainder degree.
bool pade_half(Dom* B, i32 N, Dom* out, i32* deg) {
  const u32 p = prime();
  const i32 top = 2 * N + 1;
  Scratch<Dom> A(top + 1);
  zero_fill(A, 0, top - 1);
  A[top] = 1;
  i32 da = top, db = exact_degree(B, top - 1);
  egcd(A, &da, B, &db, N);
  if (da != N) {
    *deg = da;
    return false;
  }
  const Dom inv = Dom(INV_2args(A[N], p));
  for (i32 i = 0; i <= db; ++i) out[i] = Ops::mul(B[i], inv, p);
  zero_fill(out, db + 1, N + 1);
  *deg = db;
  return true;
}
}  // namespace

i32 algo_AD(const Dom* s, i32 N, Dom* out1, i32* deg1, Dom* out2, i32* deg2) {
  if (N < 0) {
    *deg1 = -1;
    return 0;
  }
  const i32 top = 2 * N + 1;
  Scratch<Dom> B(top + 1);
  std::memcpy(B.data(), s, sizeof(Dom) * std::size_t(top));
  if (!pade_half(B, N, out1, deg1)) return 0;
  for (i32 j = 0; j < top; ++j) B[j] = s[2 * N - j];
  return pade_half(B, N, out2, deg2) ? 1 : 0;
}

void SOLVE(Dom* out, i32* degout, Dom* P, Dom* Q, i32 degQ, Dom* M, i32 degM) {
  const u32 p = prime();
  const i32 n = degM + 1;
  const Dom inv = Dom(INV_2args(P[0], p));
  Scratch<Dom> T1(n), T2(n);
  i32 d1, d2, dout;

  const i32 dm = reverse(M, degM);
  i32 dp = reverse(P, n);
  mul_tronquer(T1, &d1, P, dp, M, dm, n);
  mul_tronquer(T2, &d2, Q, degQ, M, dm, n);
  dp = reverse(P, n);
  d2 = reverse(T2, n - 1);
  mul_tronquer(out, &dout, T2, d2, P, dp, n);
  const i32 dq = reverse(Q, n);
  d1 = reverse(T1, n - 1);
  mul_tronquer(T2, &d2, T1, d1, Q, dq, n);
  reverse(Q, n);

  const i32 common = std::min(dout, d2);
  for (i32 i = 0; i <= common; ++i) out[i] = Dom(out[i] >= T2[i] ? out[i] - T2[i] : out[i] + p - T2[i]);
  if (d2 > dout) {
    for (i32 i = std::max(dout + 1, 0); i <= d2; ++i) out[i] = Dom(T2[i] == 0 ? 0 : p - T2[i]);
    dout = d2;
  } else if (d2 == dout) {
    dout = exact_degree(out, dout);
  }
  // A zero P[0] leaves no inverse: the numerator is then the zero polynomial.
  if (dout < 0 || inv == 0) {
    *degout = -1;
    return;
  }
  for (i32 i = 0; i <= dout; ++i) out[i] = Ops::mul(out[i], inv, p);
  *degout = dout;
}

}  // namespace quor::QUOR_NS
