// Reference Groebner bases for checking the engine: polynomials as maps from
// exponent vectors (grevlex, x1 > x2 > ..., larger first) to coefficients of
// a field K, full reduction and a naive Buchberger run. K provides
//   using T; T add(T, T); T mul(T, T); T neg(T); T inv(T); bool zero(T).
#ifndef QUOR_TESTS_SUPPORT_REFERENCE_GB_H
#define QUOR_TESTS_SUPPORT_REFERENCE_GB_H
#include <algorithm>
#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <utility>
#include <vector>

namespace refgb {
using Mono = std::vector<std::uint32_t>;  // exponents of the affine variables
inline std::uint32_t deg(const Mono& m) { return std::accumulate(m.begin(), m.end(), 0u); }
struct Grevlex {
  bool operator()(const Mono& a, const Mono& b) const {
    if (deg(a) != deg(b)) return deg(a) > deg(b);
    for (std::size_t i = a.size(); i-- > 0;)
      if (a[i] != b[i]) return a[i] < b[i];
    return false;
  }
};
template <class T>
using Pol = std::map<Mono, T, Grevlex>;  // begin() is the leading term
inline bool divides(const Mono& d, const Mono& m) {
  for (std::size_t i = 0; i < d.size(); ++i)
    if (d[i] > m[i]) return false;
  return true;
}

// Z/p, p < 2^32.
struct Zp {
  using T = std::uint64_t;
  std::uint64_t p;
  T add(T a, T b) const { return (a + b) % p; }
  T mul(T a, T b) const { return a * b % p; }
  T neg(T a) const { return (p - a) % p; }
  T inv(T a) const {
    T r = 1;
    for (T e = p - 2; e; e >>= 1, a = a * a % p)
      if (e & 1) r = r * a % p;
    return r;
  }
  bool zero(T a) const { return a == 0; }
};

// f += c * x^(m - lead(g)) * g
template <class K, class T = typename K::T>
void axpy(const K& k, Pol<T>& f, const Pol<T>& g, const T& c, const Mono& m) {
  const Mono& l = g.begin()->first;
  for (auto& [e, v] : g) {
    Mono s = e;
    for (std::size_t i = 0; i < s.size(); ++i) s[i] += m[i] - l[i];
    T& x = f[s];
    x = k.add(x, k.mul(c, v));
    if (k.zero(x)) f.erase(s);
  }
}
// f fully reduced by the monic G (any order); made monic when asked.
template <class K, class T = typename K::T>
Pol<T> reduce(const K& k, Pol<T> f, const std::vector<Pol<T>>& G, bool make_monic = true) {
  Pol<T> r;
  while (!f.empty()) {
    const auto m = f.begin()->first;
    const auto v = f.begin()->second;
    auto g = std::find_if(G.begin(), G.end(), [&](const Pol<T>& g) { return divides(g.begin()->first, m); });
    if (g != G.end()) axpy(k, f, *g, k.neg(v), m);
    else r[m] = v, f.erase(f.begin());
  }
  if (make_monic && !r.empty())
    for (T c = k.inv(r.begin()->second); auto& [m, v] : r) v = k.mul(v, c);
  return r;
}
// The reduced basis of the ideal of G.
template <class K, class T = typename K::T>
std::set<Pol<T>> reduced_gb(const K& k, std::vector<Pol<T>> G) {
  for (auto& g : G) g = reduce(k, g, {});
  for (std::size_t j = 1; j < G.size(); ++j)
    for (std::size_t i = 0; i < j; ++i) {
      Mono l = G[i].begin()->first;
      for (std::size_t v = 0; v < l.size(); ++v) l[v] = std::max(l[v], G[j].begin()->first[v]);
      Pol<T> s;
      const T one = G[i].begin()->second;  // every element is monic
      axpy(k, s, G[i], one, l);
      axpy(k, s, G[j], k.neg(one), l);
      if (Pol<T> r = reduce(k, s, G); !r.empty()) G.push_back(r);
    }
  std::set<Pol<T>> out;
  for (std::size_t i = 0; i < G.size(); ++i) {
    std::vector<Pol<T>> others;
    bool redundant = false;
    for (std::size_t j = 0; j < G.size(); ++j) {
      if (j == i) continue;
      const bool same = G[j].begin()->first == G[i].begin()->first;
      redundant |= divides(G[j].begin()->first, G[i].begin()->first) && (!same || j < i);
      if (!same) others.push_back(G[j]);
    }
    if (!redundant) out.insert(reduce(k, G[i], others));
  }
  return out;
}

// Small systems with integer coefficients (n variables for cyclic-n, 4 for katsura-3).
using IntSys = std::vector<std::vector<std::pair<Mono, std::int64_t>>>;
inline IntSys cyclic(std::uint32_t n) {
  IntSys sys(n);
  for (std::uint32_t d = 1; d < n; ++d)
    for (std::uint32_t i = 0; i < n; ++i) {
      Mono m(n, 0);
      for (std::uint32_t j = 0; j < d; ++j) m[(i + j) % n] = 1;
      sys[d - 1].push_back({m, 1});
    }
  sys[n - 1] = {{Mono(n, 1), 1}, {Mono(n, 0), -1}};
  return sys;
}
inline IntSys katsura3() {
  return {{{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 2}, {{0, 0, 1, 0}, 2}, {{0, 0, 0, 1}, 2}, {{0, 0, 0, 0}, -1}},
          {{{2, 0, 0, 0}, 1}, {{0, 2, 0, 0}, 2}, {{0, 0, 2, 0}, 2}, {{0, 0, 0, 2}, 2}, {{1, 0, 0, 0}, -1}},
          {{{1, 1, 0, 0}, 2}, {{0, 1, 1, 0}, 2}, {{0, 0, 1, 1}, 2}, {{0, 1, 0, 0}, -1}},
          {{{0, 2, 0, 0}, 1}, {{1, 0, 1, 0}, 2}, {{0, 1, 0, 1}, 2}, {{0, 0, 1, 0}, -1}}};
}
}  // namespace refgb
#endif
