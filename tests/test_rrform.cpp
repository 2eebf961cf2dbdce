// The rational form of a triangular basis (integer build): the product by
// f'/d modulo f against a naive one (both kernels), the rewriting of a
// basis in every prime slot, what it refuses; and the lift of a rational
// function from runs of evaluation points.
#include <unistd.h>

#include <cstdio>
#include <random>
#include <utility>
#include <string>

#include "engine/paramlift.h"
#include "engine/reconstruct.h"
#include "engine/rrform.h"
#include "engine/tesk_bridge.h"
#include "tests/support/fmat_reader.h"
#include "tests/support/zero_dim_fixture.h"

QUOR_TEST_BEGIN

#if QUOR_INT
namespace {
// (v dp) mod f over Z/p, f monic of degree d given by f[0..d-1].
std::vector<u32> naive_mulmod(const std::vector<u32>& f, const std::vector<u32>& dp, const std::vector<u32>& v,
                              u64 p) {
  const u32 d = u32(f.size());
  std::vector<u64> t(2 * d, 0);
  for (u32 i = 0; i < d; ++i)
    for (u32 j = 0; j < d; ++j) t[i + j] = (t[i + j] + u64(v[i]) * dp[j]) % p;
  for (u32 top = 2 * d - 1; top-- > d;) {
    const u64 c = t[top];
    t[top] = 0;
    for (u32 j = 0; j < d; ++j) t[top - d + j] = (t[top - d + j] + (p - c) * f[j]) % p;
  }
  return std::vector<u32>(t.begin(), t.begin() + d);
}
}  // namespace

class QUOR_SUITE(RationalForm) : public QUOR_SUITE(ZeroDim) {
 protected:
  void TearDown() override {
    elim_status_clear();
    QUOR_SUITE(ZeroDim)::TearDown();
  }
};

QTEST_F(RationalForm, TheProductModuloFMatchesTheNaiveOneInBothKernels) {
  std::mt19937_64 rng(7);
  const u32 p = prime(1);
  for (u32 d : {1u, 5u, 64u, 130u}) {
    std::vector<u32> f(d), dp(d), v(d);
    for (u32 i = 0; i < d; ++i) f[i] = u32(rng() % p), dp[i] = u32(rng() % p), v[i] = u32(rng() % p);
    v[0] = p - 1;  // the largest residue everywhere it can sit
    const std::vector<u32> want = naive_mulmod(f, dp, v, p);
    for (bool simd : {false, true}) {
      if (simd && !rr_simd_available()) continue;
      std::vector<u32> got(d);
      const u32* in = v.data();
      u32* out = got.data();
      mul_mod_monic(p, f.data(), dp.data(), d, &in, &out, 1, simd);
      EXPECT_EQ(got, want) << "d = " << d << (simd ? " (AVX2)" : "");
    }
    // The exported entry: same product, slot 1 current afterwards.
    std::vector<u32> got(d);
    QUOR_NAME(Pprime)(1, f.data(), dp.data(), v.data(), got.data(), d);
    EXPECT_EQ(got, want);
    EXPECT_EQ(QUOR_NAME(Prime), p);
  }
}

QTEST_F(RationalForm, TailsAreMultipliedByTheHalvedDerivativeInEverySlot) {
  layout(2);
  // x1 - x2 - 1 over f = x2^2 - 2: (-x2 - 1) x2 = -x2 - 2 mod f.
  auto G = hand({{{{1, 0}, 1}, {{0, 1}, -1}, {{0, 0}, -1}}, {{{0, 2}, 1}, {{0, 0}, -2}}});
  const Dpol f = G[1];
  apply_rr(G.data(), 2);
  EXPECT_EQ(G[1], f);
  for (u32 k = 0; k < V(); ++k)
    EXPECT_EQ(as_rpol(G[0], k), (RPol{{{1, 0}, 1}, {{0, 1}, prime(k) - 1}, {{0, 0}, prime(k) - 2}})) << k;

  // A result term exists where any slot has it: (3 x2 + a) x2 = a x2 + 6
  // with a = 0 in slot 0 only.
  G = hand({{{{1, 0}, 1}, {{0, 1}, 3}, {{0, 0}, 1}}, {{{0, 2}, 1}, {{0, 0}, -2}}});
  G[0]->coeffs[0][2] = 0;
  apply_rr(G.data(), 2);
  EXPECT_EQ(as_rpol(G[0], 0), (RPol{{{1, 0}, 1}, {{0, 0}, 6}}));
  EXPECT_EQ(as_rpol(G[0], 1), (RPol{{{1, 0}, 1}, {{0, 1}, 1}, {{0, 0}, 6}}));
  EXPECT_EQ(G[0]->nb_terms, 3u);

  // f alone, and the constant 1 (d = 0), stay as they are.
  G = hand({{{{0, 2}, 1}, {{0, 0}, -2}}});
  const Dpol alone = G[0];
  apply_rr(G.data(), 1);
  EXPECT_EQ(G[0], alone);
  G = hand({{{{0, 0}, 1}}});
  apply_rr(G.data(), 1);
  EXPECT_EQ(as_rpol(G[0], 0), (RPol{{{0, 0}, 1}}));
}

QTEST_F(RationalForm, BasesItCannotRewriteAreRefusedUntouched) {
  layout(3, 2);  // blocks x1, x2 | x3: x1 leads x1 + x3^2
  char* const kept[3] = {Liste_variables[0], Liste_variables[1], Liste_variables[2]};
  char x1[] = "x1", x2[] = "x2", x3[] = "x3";
  Liste_variables[0] = x1, Liste_variables[1] = x2, Liste_variables[2] = x3;
  const Terms f = {{{0, 0, 2}, 1}, {{0, 0, 0}, -2}};
  // A tail with another variable, a tail of degree d, a second polynomial in
  // x3 alone, a lead that is not a variable (x1^2 = x3 is not x1 = ...): not
  // a triangular basis, and the refusal says where.
  const std::pair<Terms, const char*> bad[] = {
      {{{{1, 0, 0}, 1}, {{0, 1, 1}, 1}}, "polynomial 1 of 2 has the term x2*x3, not a power of x3 below 2, the degree "
                                         "of the univariate polynomial 2"},
      {{{{1, 0, 0}, 1}, {{0, 0, 2}, 1}}, "polynomial 1 of 2 has the term x3^2, not a power of x3 below 2, the degree of the "
                                         "univariate polynomial 2"},
      {{{{0, 0, 1}, 1}, {{0, 0, 0}, 1}}, "polynomial 2 of 2 is led by x3^2, in x3 alone like polynomial 1"},
      {{{{2, 0, 0}, 1}, {{0, 0, 1}, -1}}, "polynomial 1 of 2 is led by x1^2, not by a variable other than x3 to the "
                                          "first power"}};
  for (const auto& [g, what] : bad) {
    auto G = hand({g, f});
    const std::vector<Dpol> before = G;
    EXPECT_EQ(fatal_text([&] { apply_rr(G.data(), 2); }), std::string("Pas une base reduite: ") + what + "\n");
    EXPECT_EQ(G, before);
  }
  auto G = hand({{{{1, 0, 0}, 1}, {{0, 1, 0}, 1}}});
  EXPECT_EQ(fatal_text([&] { apply_rr(G.data(), 1); }),
            "Cannot find the univariate polynomial ! No polynomial of the basis (1) is in x3 alone\n");
  EXPECT_EQ(fatal_text([&] { apply_rr(G.data(), 0); }), "Cannot find the univariate polynomial ! The basis is empty\n");
  for (u32 v = 0; v < 3; ++v) Liste_variables[v] = kept[v];

  // f = x3^2: the form is 0/0 at the double root.
  G = hand({{{{1, 0, 0}, 1}, {{0, 0, 1}, 1}}, {{{0, 0, 2}, 1}}});
  const std::string text = fatal_text([&] { apply_rr(G.data(), 2); });
  EXPECT_NE(text.find("The univariate polynomial is not square-free"), std::string::npos) << text;
  EXPECT_NE(text.find("minimal polynomial of the last variable, of degree 2; the radical strategies or a request "
                      "modulo a prime give an answer"),
            std::string::npos)
      << text;
  // Square-free at one prime only: a bad prime, G unchanged.
  G = hand({{{{1, 0, 0}, 1}, {{0, 0, 1}, 1}}, f});
  G[1]->coeffs[0][1] = 0;
  const std::vector<Dpol> before = G;
  apply_rr(G.data(), 2);
  EXPECT_EQ(elim_status(), kElimBadPrime);
  EXPECT_EQ(G, before);
}

// ---- the change of ordering on hand-made bases ----

QTEST_F(RationalForm, TheChangeOfOrderingListsFFirstAndReportsDisagreeingPrimes) {
  layout(2);
  std::vector<Dpol> out(2, nullptr);
  // x1 - x2 - 1, x2^2 - 2: f, then x1 + g(x2); f alone with flag 1.
  auto G = hand({{{{1, 0}, 1}, {{0, 1}, -1}, {{0, 0}, -1}}, {{{0, 2}, 1}, {{0, 0}, -2}}});
  ASSERT_EQ(lib_fast_chg_order(G.data(), 2, out.data(), 0, 0, -1, 0), 2u);
  for (u32 k = 0; k < V(); ++k) {
    EXPECT_EQ(as_rpol(out[0], k), (RPol{{{0, 2}, 1}, {{0, 0}, prime(k) - 2}})) << k;
    EXPECT_EQ(as_rpol(out[1], k), (RPol{{{1, 0}, 1}, {{0, 1}, prime(k) - 1}, {{0, 0}, prime(k) - 1}})) << k;
  }
  EXPECT_EQ(lib_fast_chg_order(G.data(), 2, out.data(), 0, 1, -1, 0), 1u);
  EXPECT_EQ(as_rpol(out[0], 0), (RPol{{{0, 2}, 1}, {{0, 0}, prime(0) - 2}}));
  // Asked for, the matrix of x2 on the staircase 1, x2 goes to the dump too.
  const std::string dump = "/tmp/fmat" + std::to_string(getpid());
  std::remove(dump.c_str());
  ASSERT_EQ(lib_fast_chg_order(G.data(), 2, out.data(), 0, 0, -1, 1), 2u);
  const tesk::algo::Mult_Matrix M = quor_test::read_fmat(dump);
  std::remove(dump.c_str());
  ASSERT_EQ(M.dim, 2u);
  EXPECT_EQ(M.var, 1u);
  ASSERT_EQ(M.primes.size(), V());
  for (u32 k = 0; k < V(); ++k) {
    EXPECT_EQ(M.primes[k], prime(k));
    EXPECT_EQ(std::vector<u32>(M.a.begin() + 4 * k, M.a.begin() + 4 * k + 4), (std::vector<u32>{0, 1, 2, 0})) << k;
  }
  EXPECT_EQ(as_rpol(out[0], 0), (RPol{{{0, 2}, 1}, {{0, 0}, prime(0) - 2}}));

  // x1 - x2, x2^2 (one double point): square-free, f = x2 and x1 = 0 mod f.
  G = hand({{{{1, 0}, 1}, {{0, 1}, -1}}, {{{0, 2}, 1}}});
  ASSERT_EQ(lib_fast_chg_order(G.data(), 2, out.data(), 1, 0, -1, 0), 2u);
  EXPECT_EQ(as_rpol(out[0], 1), (RPol{{{0, 1}, 1}}));
  EXPECT_EQ(as_rpol(out[1], 1), (RPol{{{1, 0}, 1}}));
  EXPECT_EQ(elim_status(), kElimOk);

  // x2^2 - 2 x2 + c with c = 1 (a double root) modulo the first prime only:
  // its square-free part disagrees between the primes, a bad prime.
  G = hand({{{{1, 0}, 1}, {{0, 1}, -1}}, {{{0, 2}, 1}, {{0, 1}, -2}, {{0, 0}, 3}}});
  G[1]->coeffs[0][2] = 1;
  EXPECT_EQ(lib_fast_chg_order(G.data(), 2, out.data(), 1, 1, -1, 0), 0u);
  EXPECT_EQ(elim_status(), kElimBadPrime);
}

// ---- lift of a rational function ----

class QUOR_SUITE(ParamLift) : public QUOR_SUITE(ZeroDim) {
 protected:
  void SetUp() override {
    QUOR_SUITE(ZeroDim)::SetUp();
    saved_primes_ = Primes_ori;
    saved_slots_ = QUOR_NAME(maxi_vectorize);
    Quor_verb_info = 4;
  }
  void TearDown() override {
    Primes_ori = saved_primes_;
    QUOR_NAME(maxi_vectorize) = saved_slots_;
    QUOR_SUITE(ZeroDim)::TearDown();
  }
  using Coeffs = std::vector<i64>;  // lowest degree first
  static u64 eval(const Coeffs& c, u64 x, u64 p) {
    u64 r = 0;
    for (auto it = c.rbegin(); it != c.rend(); ++it) r = (r * x + residue(*it, p)) % p;
    return r;
  }
  // `runs` runs of `len` slots, each run its own prime and its own points;
  // values of N/Q, or of N2/Q2 in the run `odd` (when >= 0).
  void fill(u32 runs, u32 len, const Coeffs& N, const Coeffs& Q, i32 odd = -1, const Coeffs& N2 = {}) {
    const u32* table = default_primes32();
    primes_.clear(), x_.clear(), y_.clear();
    std::mt19937_64 rng(11);
    for (u32 r = 0; r < runs; ++r) {
      const u64 p = table[100 + 7 * r];
      for (u32 i = 0; i < len; ++i) {
        u64 x, q;
        do x = rng() % p, q = eval(Q, x, p);
        while (q == 0 || std::find(x_.end() - i, x_.end(), x) != x_.end());
        const u64 n = eval(i32(r) == odd ? N2 : N, x, p);
        primes_.push_back(u32(p));
        x_.push_back(u32(x));
        y_.push_back(u32(n * inv_Dom(u32(q), u32(p)) % p));
      }
    }
    Primes_ori = primes_.data();
    QUOR_NAME(maxi_vectorize) = u32(primes_.size());
  }
  // The text printed by one call and its result.
  std::pair<std::string, int> lift() {
    host_.clear_output();
    const int ok = QUOR_NAME(param_lift)(x_.data(), y_.data());
    std::string out = host_.output();
    // Progress marks "[0]" and the like come on the same channel.
    for (std::size_t b; (b = out.find('[')) != std::string::npos;) out.erase(b, out.find(']', b) - b + 1);
    return {out, ok};
  }
  std::vector<u32> primes_, x_, y_;
  u32* saved_primes_ = nullptr;
  u32 saved_slots_ = 0;
};

QTEST_F(ParamLift, RationalFunctionsComeBackFromFourRunsOfSixteenPoints) {
  const INT block = QUOR_NAME(product_of_primes);
  struct Case {
    Coeffs N, Q;
    std::string text;
  };
  for (const Case& c : {Case{{1, -1, 3}, {1}, "3*z^2-z+1"}, Case{{2, 1}, {-3, 1}, "(z+2)/(z-3)"},
                        Case{{1}, {1, 0, 1}, "1/(z^2+1)"}, Case{{5}, {1}, "5"},
                        Case{{1, 1}, {1, 2}, "((1/2)*z+(1/2))/(z+(1/2))"},
                        Case{{-1, 0, 12345678901}, {7, -1}, "(-12345678901*z^2+1)/(z-7)"}}) {
    fill(4, 16, c.N, c.Q);
    EXPECT_EQ(lift(), std::make_pair(c.text, 1));
  }
  // The block's lifting constants are the block's again.
  EXPECT_EQ(mpz_cmp(&QUOR_NAME(product_of_primes), &block), 0);
  EXPECT_EQ(valid_Primes, QUOR_NAME(listOfPrimes)());
  QUOR_NAME(want_denom_coeff_only) = 1;
  fill(4, 16, {2, 1}, {-3, 1});
  EXPECT_EQ(lift(), std::make_pair(std::string("z-3"), 1));
  QUOR_NAME(want_denom_coeff_only) = 0;
}

QTEST_F(ParamLift, WhatDoesNotFitTheRunsIsNotPrinted) {
  // Degree 20 needs more than 16 points; runs that disagree on the degrees.
  Coeffs z20(21, 0);
  z20[20] = 1;
  fill(4, 16, z20, {1});
  EXPECT_EQ(lift(), std::make_pair(std::string("NYA"), 0));
  fill(4, 16, {0, 0, 1}, {1}, 2, {0, 1});
  EXPECT_EQ(lift(), std::make_pair(std::string("NYA"), 0));

  // Runs of 4 and 5 slots.
  fill(2, 5, {5}, {1});
  primes_[4] = primes_[5];
  EXPECT_EQ(fatal_text([&] { lift(); }), "Cas pas fait dans param_lift\n");
  // One prime for two runs: its residues cannot be combined.
  fill(3, 5, {5}, {1});
  std::fill(primes_.begin() + 10, primes_.end(), primes_[0]);
  EXPECT_NE(fatal_text([&] { lift(); }).find("makes two runs"), std::string::npos);
  // Two equal points in a run, refused at every call.
  fill(4, 16, {1, 1}, {1});
  x_[3] = x_[2];
  for (int call = 0; call < 2; ++call)
    EXPECT_EQ(fatal_text([&] { lift(); }), "incoherence dans data: " + std::to_string(x_[2]) + " = " +
                                               std::to_string(x_[2]) + "\n");
}
#endif

QUOR_TEST_END
