// Dense univariate arithmetic, extended Euclid, gcd and square-free part,
// checked against schoolbook arithmetic on random polynomials.
#include "tests/dual_test.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "minpolyvgf/euclid.h"
#include "minpolyvgf/unipoly.h"
#include "tests/support/naive_poly.h"

QUOR_TEST_BEGIN

using naive::Poly;
using Vec = std::vector<Dom>;

class QUOR_SUITE(Unipoly) : public ::testing::Test {
 protected:
  void SetUp() override { use_prime(primes()[0]); }
  void use_prime(u32 p) {
    prime_ = p;
    QUOR_NAME(Table_Primes) = &prime_;
    init_wiedemann();
  }
  static std::vector<u32> primes() {
    if constexpr (kIntBuild) return {4294967291u, 2147483659u, 1000003u};
    return {65521u, 40009u, 32003u};
  }
  // deg < 0 gives the zero polynomial.
  Poly random(int deg, bool monic = false) { return deg < 0 ? Poly{} : naive::random_poly(rng_, deg, prime_, monic); }
  static Vec dom(const Poly& a, std::size_t size = 1) {
    Vec r(std::max(size, a.size()), Dom(0));
    std::copy(a.begin(), a.end(), r.begin());
    return r;
  }
  static Poly poly(const Vec& a, i32 deg) { return naive::trim(Poly(a.begin(), a.begin() + (deg + 1))); }
  Poly derivative(const Poly& f) const {
    Poly d;
    for (std::size_t i = 1; i < f.size(); ++i) d.push_back(i % prime_ * f[i] % prime_);
    return naive::trim(d);
  }
  u32 prime_ = 0;
  std::mt19937_64 rng_{12345};
};

QTEST_F(Unipoly, ArithmeticMatchesReference) {
  for (u32 p : primes()) {
    use_prime(p);
    for (int trial = 0; trial < 300; ++trial) {
      const int da = int(rng_() % 14) - 1, db = int(rng_() % 10) - 1, k = int(rng_() % 6);
      const Poly a = random(da), b = random(db);
      // addmul_poly: A + c X^k B, in the three cases deg A >, =, < deg B + k.
      const Dom c = Dom(1 + rng_() % (p - 1));
      Vec A = dom(a, 32), B = dom(b, 32);
      i32 deg = da;
      addmul_poly(A.data(), B.data(), k, c, &deg, db);
      Poly xk(k + 1, 0);
      xk[k] = c;
      Poly want = naive::mul(b, xk, p);
      want.resize(std::max(want.size(), a.size()), 0);
      for (std::size_t i = 0; i < a.size(); ++i) want[i] = (want[i] + a[i]) % p;
      want = naive::trim(want);
      ASSERT_EQ(poly(A, deg), want) << da << " " << db << " " << k;
      if (db >= 0 && da != db + k) {
        ASSERT_EQ(deg, std::max(da, db + k));
      }
      // mul_tronquer: A B mod X^n, nothing written from n on.
      const i32 n = 1 + i32(rng_() % 20);
      Vec R(n + 1, Dom(7));
      i32 dr = -5;
      mul_tronquer(R.data(), &dr, dom(a).data(), da, dom(b).data(), db, n);
      want = naive::mul(a, b, p);
      want = naive::trim(Poly(want.begin(), want.begin() + std::min<std::size_t>(n, want.size())));
      ASSERT_EQ(dr, i32(want.size()) - 1);
      ASSERT_EQ(poly(R, n - 1), want);
      ASSERT_EQ(R[n], Dom(7));
      // rem / rem_d by a monic divisor.
      const int dm = 1 + int(rng_() % 8);
      const Poly m = random(dm, true);
      Vec Rm(dm), Am = dom(a);
      want = naive::mod(a, m, p);
      ASSERT_EQ(rem(Am.data(), da, dom(m).data(), dm, Rm.data()), i32(want.size()) - 1);
      ASSERT_EQ(poly(Rm, dm - 1), want);
      ASSERT_EQ(poly(Am, da), a);
      ASSERT_EQ(poly(Am, rem_d(Am.data(), da, dom(m).data(), dm)), want);
    }
    for (int t = 0; t < 300; ++t) {
      const u32 a = u32(1 + rng_() % (p - 1));
      ASSERT_EQ(u64(a) * INV_2args(a, p) % p, 1u) << a << " mod " << p;
    }
  }
}

QTEST_F(Unipoly, EdgeCases) {
  const u32 p = prime_;
  Vec A = {1, 9, 9, 9}, B = {1};
  i32 d = 0;
  addmul_poly(A.data(), B.data(), 3, Dom(5), &d, 0);  // 1 + 5 X^3: the gap is zero-filled
  EXPECT_EQ(d, 3);
  EXPECT_EQ(A, (Vec{1, 0, 0, 5}));
  A = {0, 0, 1, 1}, B = {Dom(p - 1), Dom(p - 1)}, d = 3;
  addmul_poly(A.data(), B.data(), 2, Dom(1), &d, 1);  // the added range cancels: k - 1
  EXPECT_EQ(d, 1);
  Vec a = {1, 2, 0};
  EXPECT_EQ(reverse(a.data(), 2), 2);
  EXPECT_EQ(a, (Vec{0, 2, 1}));
  a = {0, 2};
  EXPECT_EQ(reverse(a.data(), 1), 0);
  EXPECT_EQ(a, (Vec{2, 0}));
  EXPECT_EQ(reverse(a.data(), -1), -1);
  a = {3, 4, 0};
  EXPECT_EQ(QUOR_NAME(shift_X)(a.data(), 1), 2);
  EXPECT_EQ(a, (Vec{0, 3, 4}));
  Vec b = {1, 1, 1};
  EXPECT_EQ(QUOR_NAME(combi_lin)(a.data(), 2, Dom(2), b.data(), 2), 2);
  EXPECT_EQ(a, (Vec{2, 5, 6}));
  Vec x3 = {0, 0, 0, 1}, xm1 = {Dom(p - 1), 1}, r(1);
  EXPECT_EQ(rem(x3.data(), 3, xm1.data(), 1, r.data()), 0);  // X^3 mod X - 1 = 1
  EXPECT_EQ(r[0], Dom(1));
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(INV_2args(0, p), 0u);  // reported, not a division by zero
  ::testing::internal::GetCapturedStderr();
}

// f = prod (X - r_i)^m_i with distinct roots: gcd(f, f') = prod (X - r_i)^(m_i - 1),
// the cofactor and the square-free part are prod (X - r_i).
QTEST_F(Unipoly, GcdAndSquareFreePartOfRepeatedFactors) {
  for (u32 p : primes()) {
    use_prime(p);
    for (int trial = 0; trial < 40; ++trial) {
      Poly f = {1}, g = {1}, radical = {1};
      std::vector<u64> roots;
      const int count = 1 + int(rng_() % 6);
      while (int(roots.size()) < count) {
        const u64 r = rng_() % p;
        if (std::find(roots.begin(), roots.end(), r) != roots.end()) continue;
        roots.push_back(r);
        const int mult = trial == 0 ? 1 : 1 + int(rng_() % 4);
        const Poly x = {(p - r) % p, 1};
        radical = naive::mul(radical, x, p);
        for (int i = 0; i < mult; ++i) f = naive::mul(f, x, p);
        for (int i = 1; i < mult; ++i) g = naive::mul(g, x, p);
      }
      const i32 df = i32(f.size()) - 1;
      Vec F = dom(f), DF = dom(derivative(f), f.size());
      i32 dg = df, dc = df - 1;
      gcd(F.data(), &dg, DF.data(), &dc);
      ASSERT_EQ(naive::monic(poly(F, dg), p), g);
      ASSERT_EQ(naive::monic(poly(DF, dc), p), radical);
      Vec S = dom(f);
      i32 flag = 0;
      const i32 ds = sqr_free(S.data(), df, &flag);
      ASSERT_EQ(poly(S, ds), radical);
      ASSERT_EQ(flag, g.size() > 1 ? 1 : 0);
    }
  }
}

// When p divides deg f the derivative's top vanishes; its true degree is used.
QTEST_F(Unipoly, SquareFreeWhenPrimeDividesDegree) {
  use_prime(7);
  Poly f = {1}, want = {1};
  for (u64 r : {1, 1, 2, 3, 4, 5, 6}) f = naive::mul(f, Poly{7 - r, 1}, 7);
  for (u64 r : {1, 2, 3, 4, 5, 6}) want = naive::mul(want, Poly{7 - r, 1}, 7);
  Vec F = dom(f);
  i32 flag = 0;
  ::testing::internal::CaptureStderr();
  const i32 d = sqr_free(F.data(), 7, &flag);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // no inverse of 0 asked
  EXPECT_EQ(poly(F, d), want);
  EXPECT_EQ(flag, 1);
}

QTEST_F(Unipoly, StoppedEuclidGivesCofactorRelation) {
  for (u32 p : primes()) {
    use_prime(p);
    for (int trial = 0; trial < 60; ++trial) {
      const int da = 2 + int(rng_() % 20), db = int(rng_() % da), stop = int(rng_() % da) - 1;
      const Poly a = random(da), b = random(db);
      Vec A = dom(a), B = dom(b, da + 1);
      i32 dA = da, dB = db;
      egcd(A.data(), &dA, B.data(), &dB, stop);
      const Poly r = poly(A, dA), v = poly(B, dB);
      ASSERT_LE(dA, std::max(stop, -1));
      ASSERT_EQ(naive::mod(naive::mul(v, b, p), a, p), naive::mod(r, a, p));  // R = V B mod A
      if (db <= stop) {
        ASSERT_TRUE(r == b && v == Poly{1});  // no step
      }
    }
  }
}

// Degrees in the tens of thousands take no stack buffer of that size.
QTEST_F(Unipoly, LargeDegreesRunOffTheStack) {
  const u32 p = prime_;
  const i32 n = 60000;
  Vec A(n + 1), B(n + 1), R(n);
  for (auto& x : A) x = Dom(rng_() % p);
  for (auto& x : B) x = Dom(rng_() % p);
  A[n] = B[n] = 1;
  const i32 r = rem(A.data(), n, B.data(), n, R.data());  // A - B
  for (i32 i = 0; i <= r; ++i) ASSERT_EQ(R[i], Dom((u64(A[i]) + p - B[i]) % p));
}

QUOR_TEST_END
