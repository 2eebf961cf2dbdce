// Schoolbook polynomials over Z/p for checking the dense polynomial code:
// coefficient vectors (index = exponent), no trailing zeros, empty = 0.
#ifndef QUOR_TESTS_SUPPORT_NAIVE_POLY_H
#define QUOR_TESTS_SUPPORT_NAIVE_POLY_H
#include <cstdint>
#include <random>
#include <vector>

namespace naive {
using Poly = std::vector<std::uint64_t>;

inline Poly trim(Poly a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
  return a;
}
inline std::uint64_t pw(std::uint64_t a, std::uint64_t e, std::uint64_t p) {
  std::uint64_t r = 1 % p;
  for (a %= p; e; e >>= 1, a = a * a % p)
    if (e & 1) r = r * a % p;
  return r;
}
inline std::uint64_t inv(std::uint64_t a, std::uint64_t p) { return pw(a, p - 2, p); }
inline Poly mul(const Poly& a, const Poly& b, std::uint64_t p) {
  if (a.empty() || b.empty()) return {};
  Poly r(a.size() + b.size() - 1, 0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) r[i + j] = (r[i + j] + a[i] * b[j]) % p;
  return trim(r);
}
// Remainder of a by b (b nonzero).
inline Poly mod(Poly a, const Poly& b, std::uint64_t p) {
  a = trim(a);
  const std::uint64_t il = inv(b.back(), p);
  while (a.size() >= b.size()) {
    const std::uint64_t q = a.back() * il % p;
    const std::size_t s = a.size() - b.size();
    for (std::size_t j = 0; j < b.size(); ++j) a[s + j] = (a[s + j] + (p - q) * b[j]) % p;
    a = trim(a);
  }
  return a;
}
inline Poly monic(Poly a, std::uint64_t p) {
  a = trim(a);
  if (a.empty()) return a;
  const std::uint64_t il = inv(a.back(), p);
  for (auto& c : a) c = c * il % p;
  return a;
}
inline Poly gcd(Poly a, Poly b, std::uint64_t p) {
  a = trim(a);
  b = trim(b);
  while (!b.empty()) {
    Poly r = mod(a, b, p);
    a = b;
    b = r;
  }
  return monic(a, p);
}
inline std::uint64_t eval(const Poly& a, std::uint64_t x, std::uint64_t p) {
  std::uint64_t r = 0;
  for (std::size_t i = a.size(); i-- > 0;) r = (r * x + a[i]) % p;
  return r;
}
inline Poly random_poly(std::mt19937_64& rng, int deg, std::uint64_t p, bool make_monic) {
  Poly a(deg + 1);
  for (auto& c : a) c = rng() % p;
  if (make_monic) a[deg] = 1;
  else if (a[deg] == 0) a[deg] = 1 + rng() % (p - 1);
  return a;
}
}  // namespace naive
#endif
