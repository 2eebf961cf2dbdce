// Extended Euclid with cofactors, gcd and square-free part over Z/p.
#include "minpolyvgf/euclid.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/channels.h"
#include "minpolyvgf/scratch.h"

namespace quor::QUOR_NS {

namespace {
using Ops = ResidueOps<Dom>;
inline u32 prime() { return *QUOR_NAME(modulo); }

void copy_poly(Dom* dst, const Dom* src, i32 deg) {
  if (deg >= 0) std::memmove(dst, src, sizeof(Dom) * std::size_t(deg + 1));
}
}  // namespace

void quo2(Dom* A, i32* degA, Dom* B, i32* degB, Dom* U, i32* degU, Dom* V, i32* degV) {
  const u32 p = prime();
  // A degree whose coefficient is zero would make the step divide by 0 and
  // return a wrong remainder: divide by the true leading term.
  const i32 db = exact_degree(B, *degB);
  *degB = db;
  if (db < 0) {
    std::FILE* s = QUOR_NAME(stderr) ? QUOR_NAME(stderr) : stderr;
    std::fprintf(s, "B=0 !!\n");
    return;
  }
  const i32 da = *degA, du = *degU, dv = *degV;
  const u32 inv = INV_2args(B[db], p);

  // T: the dividend becoming the remainder; P: U becoming U - Q V.
  Scratch<Dom> T(std::max(da + 1, db));
  copy_poly(T, A, da);
  for (i32 i = std::max(da + 1, 0); i < db; ++i) T[i] = 0;
  const i32 dp = std::max(du, dv + da - db);
  Scratch<Dom> P(dp + 1);
  copy_poly(P, U, du);
  for (i32 i = std::max(du + 1, 0); i <= dp; ++i) P[i] = 0;

  for (i32 i = da; i >= db; --i) {
    const Dom c = T[i];
    if (c == 0) continue;
    const Dom q = Ops::mul(c, Dom(inv), p);
    const Dom m = Dom(p - q);
    Dom* t = T + (i - db);
    for (i32 j = 0; j <= db; ++j) t[j] = Ops::mul_add(m, B[j], t[j], p);
    Dom* pp = P + (i - db);
    for (i32 j = 0; j <= dv; ++j) pp[j] = Ops::mul_add(m, V[j], pp[j], p);
  }

  copy_poly(A, B, db);
  *degA = db;
  copy_poly(U, V, dv);
  *degU = dv;
  std::memcpy(B, T.data(), sizeof(Dom) * std::size_t(db));
  *degB = exact_degree(B, db - 1);
  copy_poly(V, P, dp);
  *degV = exact_degree(V, dp);
}

namespace {
// Runs quo2 from (A, B, 0, 1) while the remainder degree exceeds stop, then
// hands back the remainder and its cofactor.
void euclid_run(Dom* A, i32* degA, Dom* B, i32* degB, i32 stop, bool want_last_nonzero) {
  const i32 da = *degA;
  const i32 db = *degB;
  const i32 size = std::max(std::max(da, db), 0) + 1;
  Scratch<Dom> R0(size), R1(size), U0(size), U1(size);
  i32 d0 = da, d1 = db, du0 = 0, du1 = 0;
  copy_poly(R0, A, da);
  copy_poly(R1, B, db);
  for (i32 i = std::max(db + 1, 0); i < size; ++i) R1[i] = 0;
  U0[0] = 0;
  U1[0] = 1;
  while (d1 > stop && d1 >= 0) quo2(R0, &d0, R1, &d1, U0, &du0, U1, &du1);
  if (want_last_nonzero) {
    copy_poly(A, R0, d0);
    *degA = d0;
  } else {
    copy_poly(A, R1, d1);
    *degA = d1;
  }
  copy_poly(B, U1, du1);
  *degB = du1;
}
}  // namespace

void egcd(Dom* A, i32* degA, Dom* B, i32* degB, i32 stop) {
  euclid_run(A, degA, B, degB, stop, false);
}

void gcd(Dom* A, i32* degA, Dom* B, i32* degB) { euclid_run(A, degA, B, degB, -1, true); }

i32 new_sqr_free(Dom* f, i32 d) {
  const u32 p = prime();
  Scratch<Dom> df(std::max(d, 0) + 1);
  for (i32 i = 1; i <= d; ++i) df[i - 1] = Ops::mul(Dom(u32(i) % p), f[i], p);
  // When p divides d the top of the derivative vanishes: use its true degree.
  i32 dc = exact_degree(df, d - 1);
  i32 dg = d;
  gcd(f, &dg, df, &dc);
  if (dc == 0) return dg;  // f was square-free: it holds a multiple of itself
  if (dc < 0) return dc;
  copy_poly(f, df, dc);
  return dc;
}

i32 sqr_free(Dom* f, i32 d, i32* flag) {
  const u32 p = prime();
  const i32 r = new_sqr_free(f, d);
  if (r >= 0) {
    const Dom inv = Dom(INV_2args(f[r], p));
    for (i32 i = 0; i <= r; ++i) f[i] = Ops::mul(f[i], inv, p);
  }
  if (r != d) *flag = 1;
  return r;
}

}  // namespace quor::QUOR_NS
