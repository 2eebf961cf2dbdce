// The integer build's parametrisations in rational form, read modulo kP:
// with F the result in x_last alone (lc(F) f, of degree d), a result
// c x_j + B stands for the ideal element c F' x_j + d lc(F) B; and the
// rational form x_j + (g f'/d mod f) of a parametrisation x_j + g, for
// comparing with the prime-field build.
#pragma once
#include <vector>

#include "tests/support/public_api.h"

namespace quor_test {
using ModPoly = refgb::Pol<u64>;
using Univ = std::vector<u64>;  // coefficients by power of x_last, modulo kP

inline bool in_x_last(const Mono& m, u32 n) {
  for (u32 v = 0; v + 1 < n; ++v)
    if (m[v]) return false;
  return true;
}
inline Mono x_last_power(u32 n, u64 e) {
  Mono m(n, 0);
  m[n - 1] = u32(e);
  return m;
}
inline void add_term(ModPoly& p, const Mono& m, u64 c) {
  const u64 v = ((p.count(m) ? p[m] : 0) + c % kP) % kP;
  if (v) p[m] = v;
  else p.erase(m);
}

// The x_last part of p by exponent.
inline Univ univariate_part(const ModPoly& p, u32 n) {
  Univ u;
  for (auto& [m, c] : p) {
    if (!in_x_last(m, n)) continue;
    if (u.size() <= m[n - 1]) u.resize(m[n - 1] + 1, 0);
    u[m[n - 1]] = c;
  }
  return u;
}

// c F' x_j + d lc(F) B for the result c x_j + B.
inline ModPoly ideal_element(const ModPoly& param, const ModPoly& F, u32 n) {
  const Univ f = univariate_part(F, n), b = univariate_part(param, n);
  const u64 d = f.size() - 1, lc = f.back();
  ModPoly out;
  for (auto& [m, c] : param) {
    if (in_x_last(m, n)) continue;
    for (u64 e = 1; e <= d; ++e) {
      Mono t = m;
      t[n - 1] += u32(e - 1);
      add_term(out, t, c * (e * f[e] % kP));
    }
  }
  for (u64 e = 0; e < b.size(); ++e) add_term(out, x_last_power(n, e), d * lc % kP * b[e]);
  return out;
}

// x_j + (g f'/d mod f), made monic, for the parametrisation c (x_j + g)
// and the monic f.
inline ModPoly rational_form(const ModPoly& param, const ModPoly& f_poly, u32 n) {
  const Univ f = univariate_part(f_poly, n);
  Univ g = univariate_part(param, n);
  const u64 d = f.size() - 1;
  const refgb::Zp k{kP};
  for (auto& [m, c] : param)
    if (!in_x_last(m, n))
      for (u64& x : g) x = x * k.inv(c) % kP;
  const u64 inv_d = k.inv(d % kP);
  Univ t(2 * d + 1, 0);
  for (u64 i = 0; i < g.size(); ++i)
    for (u64 e = 1; e <= d; ++e) t[i + e - 1] = (t[i + e - 1] + g[i] * (e * f[e] % kP) % kP * inv_d) % kP;
  for (u64 top = t.size(); top-- > d;)
    for (u64 k = 0; k < d; ++k) t[top - d + k] = (t[top - d + k] + (kP - t[top]) * f[k]) % kP;
  ModPoly out;
  for (auto& [m, c] : param)
    if (!in_x_last(m, n)) out[m] = 1;
  for (u64 e = 0; e < d; ++e) add_term(out, x_last_power(n, e), t[e]);
  return refgb::reduce(k, out, {});
}
}  // namespace quor_test
