// The multiplication-matrix requests through the public call: the minimal
// polynomial and the parametrisation lie in the ideal (naive reduction by the
// basis of the same request, modulo 65521), exact integer forms, the two
// builds agree, and every request the driver cannot serve soundly is refused.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/dispatch.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/public_api.h"
#include "tests/support/rational_form.h"

namespace {
using namespace quor_test;
struct Term {
  Mono e;
  i64 c;
};
using Sys = std::vector<std::vector<Term>>;

char* names[] = {const_cast<char*>("x1"), const_cast<char*>("x2"), const_cast<char*>("x3"), const_cast<char*>("x4"),
                 const_cast<char*>("x5"), const_cast<char*>("x6"), const_cast<char*>("x7")};

template <class Api>
std::vector<typename Api::Poly> results(const Sys& sys, i32 code, u32 first_block = 0, i32 nb = 0, i32 bk2 = 0) {
  return request<Api>(sys, names, u32(sys[0][0].e.size()), code, first_block, nb, bk2);
}
// The results made monic modulo kP.
template <class Api>
std::vector<ModPoly> images(const Sys& sys, i32 code, u32 first_block = 0, i32 nb = 0) {
  std::vector<ModPoly> r;
  for (auto p : results<Api>(sys, code, first_block, nb)) {
    ModPoly& f = r.emplace_back();
    for (auto& [m, c] : Api::residues(p, u32(sys[0][0].e.size())))
      if (c) f[m] = c;
    f = refgb::reduce(refgb::Zp{kP}, f, {});
  }
  return r;
}

Mono var(u32 n, u32 j, u32 e = 1) {
  Mono m(n, 0);
  m[j] = e;
  return m;
}
Sys katsura(u32 n) {  // variables u0 .. u_{n-1}
  Sys sys;
  std::vector<Term> lin;
  for (u32 i = 0; i < n; ++i) lin.push_back({var(n, i), i ? 2 : 1});
  lin.push_back({Mono(n, 0), -1});
  sys.push_back(lin);
  for (i64 m = 0; m + 1 < n; ++m) {  // sum_{l=-(n-1)}^{n-1} u_|l| u_|m-l| = u_m
    std::map<Mono, i64> f;
    for (i64 l = -i64(n) + 1; l < i64(n); ++l) {
      const i64 a = std::abs(l), b = std::abs(m - l);
      if (b >= i64(n)) continue;
      Mono e(n, 0);
      e[a] += 1;
      e[b] += 1;
      f[e] += 1;
    }
    f[var(n, u32(m))] -= 1;
    std::vector<Term> t;
    for (auto& [e, c] : f)
      if (c) t.push_back({e, c});
    sys.push_back(t);
  }
  return sys;
}
// Solutions (x1, x2) = (3, 0), (5, 1), (7, -2): x2^3 + x2^2 - 2 x2 = 0 and
// 3 x1 = 4 x2^2 + 2 x2 + 9, given as {l, m + x2 l}.
Sys three_points() {
  return {{{{1, 0}, 3}, {{0, 2}, -4}, {{0, 1}, -2}, {{0, 0}, -9}},
          {{{0, 3}, 1}, {{0, 2}, 1}, {{0, 1}, -2}, {{1, 1}, 3}, {{0, 3}, -4}, {{0, 2}, -2}, {{0, 1}, -9}}};
}

// Solutions (0, 0), (1, 0), (0, 1): x2 does not separate them, its minimal
// polynomial x2^2 - x2 has degree 2 for 3 solutions.
Sys corner() {
  return {{{{2, 0}, 1}, {{1, 0}, -1}, {{1, 1}, 1}}, {{{1, 1}, 1}}, {{{0, 2}, 1}, {{0, 1}, -1}, {{1, 1}, 1}}};
}

}  // namespace

QUOR_TEST_BEGIN

class QUOR_SUITE(TwoStage) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    Quor_verb_info = 4;  // progress lands in host_.output()
  }
  void TearDown() override {
    unsetenv("MINPOLY");
    QUOR_NAME(stop_immediately_semaphore) = 0;
    QUOR_NAME(reset_memory)();
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  // MATRIXN results checked against the basis of the same build: n results,
  // x_j + g_j(x_last) then the minimal polynomial of degree dim, all in the
  // ideal (the integer build's rational form through its ideal element).
  std::vector<ModPoly> check_shape_basis(const Sys& sys, u32 dim) {
    const u32 n = u32(sys[0][0].e.size());
    const std::vector<ModPoly> G = images<Api>(sys, QUOR_COMPUTE_GBASIS);
    const std::vector<ModPoly> R = images<Api>(sys, QUOR_COMPUTE_MATRIXN);
    EXPECT_FALSE(G.empty());
    EXPECT_EQ(R.size(), n);
    if (R.size() != n) return R;
    for (u32 j = 0; j < n; ++j) {
      const ModPoly& f = R[j];
      const bool minpoly = j + 1 == n;
      const ModPoly member = QUOR_INT && !minpoly ? ideal_element(f, R[n - 1], n) : f;
      EXPECT_TRUE(refgb::reduce(refgb::Zp{kP}, member, G, false).empty()) << "result " << j << " is not in the ideal";
      EXPECT_EQ(f.count(minpoly ? var(n, n - 1, dim) : var(n, j)), 1u) << "result " << j;
      for (auto& [m, c] : f) {
        if (!minpoly && m == var(n, j)) continue;
        EXPECT_EQ(m, var(n, n - 1, m[n - 1])) << "result " << j << ": a term not in x_last";
        EXPECT_LE(m[n - 1], minpoly ? dim : dim - 1) << "result " << j;
      }
    }
    return R;
  }
  quor::standin::Host host_;
};

QTEST_F(TwoStage, ShapeBasesLieInTheIdeal) {
  check_shape_basis(katsura(4), 8);
  check_shape_basis(katsura(5), 16);
  const std::vector<ModPoly> R = check_shape_basis(three_points(), 3);
  // The solution with x2 = 0 keeps the factor X: no constant term.
  ASSERT_EQ(R.size(), 2u);
  EXPECT_EQ(R[1], (ModPoly{{{0, 3}, 1}, {{0, 2}, 1}, {{0, 1}, kP - 2}}));
  EXPECT_NE(host_.output().find("Found dimension: 3\n"), std::string::npos);
  EXPECT_NE(host_.output().find("#C a faire: 2\n"), std::string::npos);
}

QTEST_F(TwoStage, ResultsDoNotDependOnTheRequestsBlocks) {
  // A request for two blocks: the driver's basis is for one block, its
  // inputs are re-sorted for it.
  EXPECT_EQ(images<Api>(three_points(), QUOR_COMPUTE_MATRIXN, 1),
            images<Api>(three_points(), QUOR_COMPUTE_MATRIXN, 0));
  // Over several passes (integer build) too: each pass starts from the
  // request's order, in which its inputs are sorted (it crashed).
  EXPECT_EQ(images<Api>(katsura(7), QUOR_COMPUTE_MATRIXN, 3), images<Api>(katsura(7), QUOR_COMPUTE_MATRIXN, 0));
#if QUOR_INT
  EXPECT_EQ(images<Api>(katsura(7), QUOR_COMPUTE_RRFORM, 1), images<Api>(katsura(7), QUOR_COMPUTE_RRFORM, 0));
#endif
}

QTEST_F(TwoStage, MinimalPolynomialOnlyWithoutShapePosition) {
  const std::string refusal = fatal_text([&] { images<Api>(corner(), QUOR_COMPUTE_MATRIXN); });
  EXPECT_NE(refusal.find("Not in shape position"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("degree 2 for a quotient of dimension 3"), std::string::npos) << refusal;
  MinpolyOnly only;
  EXPECT_EQ(images<Api>(corner(), QUOR_COMPUTE_MATRIXN), (std::vector<ModPoly>{{{{0, 2}, 1}, {{0, 1}, kP - 1}}}));
  // In shape position too, only the minimal polynomial comes back.
  EXPECT_EQ(images<Api>(three_points(), QUOR_COMPUTE_MATRIXN),
            (std::vector<ModPoly>{{{{0, 3}, 1}, {{0, 2}, 1}, {{0, 1}, kP - 2}}}));
}

QTEST_F(TwoStage, SystemsWithoutFinitelyManySolutionsAreRefused) {
  EXPECT_EQ(fatal_text([] { images<Api>({{{{1, 0}, 1}, {{0, 1}, -1}}}, QUOR_COMPUTE_MATRIXN); }),
            "Not a zero-dimensional system\n");
  EXPECT_EQ(fatal_text([] { images<Api>({{{{1, 0}, 0}}, {{{0, 0}, 0}}}, QUOR_COMPUTE_MATRIXN); }),
            "Not a zero-dimensional system\n");
  EXPECT_EQ(fatal_text([] { images<Api>({{{{1, 0}, 1}}, {{{1, 0}, 1}, {{0, 0}, -1}}}, QUOR_COMPUTE_MATRIXN); }),
            "The system has no solution (1 is in the ideal): no minimal polynomial\n");
  // An interrupted request returns no polynomial, without an error.
  QUOR_NAME(stop_immediately_semaphore) = 1;
  EXPECT_EQ(fatal_text([] { EXPECT_TRUE(images<Api>(katsura(4), QUOR_COMPUTE_MATRIXN).empty()); }), "");
  QUOR_NAME(stop_immediately_semaphore) = 0;
  // The request after a refusal computes.
  EXPECT_EQ(images<Api>(three_points(), QUOR_COMPUTE_MATRIXN).size(), 2u);
}

#if QUOR_INT
QTEST_F(TwoStage, IntegerFormsAndTheOtherBuildAgree) {
  // Exact primitive forms: x2^3 + x2^2 - 2 x2 and, for 3 x1 - 4 x2^2 - 2 x2 - 9,
  // the rational form x1 - 5 x2^2 - 2 x2 + 2 (x1 = -3 (-5 x2^2 - 2 x2 + 2) / F').
  const auto R = results<IntApi>(three_points(), QUOR_COMPUTE_MATRIXN);
  ASSERT_EQ(R.size(), 2u);
  EXPECT_EQ(IntApi::exact(R[0], 2), (IntPoly{{{1, 0}, "1"}, {{0, 2}, "-5"}, {{0, 1}, "-2"}, {{0, 0}, "2"}}));
  EXPECT_EQ(IntApi::exact(R[1], 2), (IntPoly{{{0, 3}, "1"}, {{0, 2}, "1"}, {{0, 1}, "-2"}}));
  // Modulo kP the rational form of the prime-field build's parametrisation.
  for (const Sys& sys : {three_points(), katsura(4), katsura(5)}) {
    const u32 n = u32(sys[0][0].e.size());
    std::vector<ModPoly> gf = images<GfApi>(sys, QUOR_COMPUTE_MATRIXN);
    for (u32 j = 0; j + 1 < gf.size(); ++j) gf[j] = rational_form(gf[j], gf.back(), n);
    EXPECT_EQ(images<IntApi>(sys, QUOR_COMPUTE_MATRIXN), gf);
  }
  MinpolyOnly only;
  EXPECT_EQ(images<IntApi>(corner(), QUOR_COMPUTE_MATRIXN), images<GfApi>(corner(), QUOR_COMPUTE_MATRIXN));
}

QTEST_F(TwoStage, ASecondBasisInShapeTakesTheRationalFormToo) {
  // katsura-6: every input kept for a second basis whose first block holds
  // all variables but the last one: the shape basis, in rational form.
  const Sys sys = katsura(7);
  const i32 n = 7;
  auto exact = [&](const std::vector<IntApi::Poly>& R) {
    std::set<IntPoly> s;
    for (auto p : R) s.insert(IntApi::exact(p, n));
    return s;
  };
  const std::set<IntPoly> matrix = exact(results<IntApi>(sys, QUOR_COMPUTE_MATRIXN));
  EXPECT_EQ(matrix.size(), 7u);
  EXPECT_EQ(exact(results<IntApi>(sys, QUOR_COMPUTE_GBASIS_MULTI, 0, n, n - 1)), matrix);
  EXPECT_NE(host_.output().find("Copy 7 pols"), std::string::npos);
  // A degree order for the second basis: not triangular.
  const std::string refusal = fatal_text([&] { results<IntApi>(sys, QUOR_COMPUTE_GBASIS_MULTI, 0, n, 0); });
  EXPECT_EQ(refusal, "Cannot find the univariate polynomial ! No polynomial of the basis (41) is in x7 alone\n");
  // Without a second basis: the change of ordering, then the same form.
  EXPECT_EQ(exact(results<IntApi>(sys, QUOR_COMPUTE_GBASIS_MULTI)), matrix);
  EXPECT_NE(host_.output().find("Compute RR with"), std::string::npos);
}

QTEST_F(TwoStage, APrimeDividingALeadOfTheSecondOrderIsABadPrime) {
  // 4294967291 x1 + x4^2 - 7: x4^2 leads for the degree order, x1 for the
  // second basis's blocks x1..x3 | x4, and 4294967291 is a prime of the
  // first block: that pass is done again with other primes.
  auto m = [](u32 a, u32 b, u32 c, u32 d) { return Mono{a, b, c, d}; };
  const Sys sys = {{{m(1, 0, 0, 0), 4294967291}, {m(0, 0, 0, 2), 1}, {m(0, 0, 0, 0), -7}},
                   {{m(0, 1, 0, 0), 1}, {m(0, 0, 0, 2), -1}, {m(0, 0, 0, 0), -1}},
                   {{m(0, 0, 1, 0), 1}, {m(0, 1, 0, 1), 1}, {m(0, 0, 0, 3), -1}},
                   {{m(0, 0, 0, 5), 1}, {m(0, 0, 0, 1), -3}, {m(0, 0, 0, 0), 1}}};
  auto exact = [&](const std::vector<IntApi::Poly>& R) {
    std::set<IntPoly> s;
    for (auto p : R) s.insert(IntApi::exact(p, 4));
    return s;
  };
  const std::set<IntPoly> matrix = exact(results<IntApi>(sys, QUOR_COMPUTE_MATRIXN));
  EXPECT_EQ(matrix.size(), 4u);
  EXPECT_EQ(exact(results<IntApi>(sys, QUOR_COMPUTE_GBASIS_MULTI, 0, 4, 3)), matrix);
}

QTEST_F(TwoStage, TheZeroIdealIsRefusedByEveryZeroDimensionalStrategy) {
  const Sys zero = {{{{1, 0}, 0}}};
  for (i32 code : {QUOR_COMPUTE_RRFORM, QUOR_COMPUTE_RRFORM_SQFR, QUOR_COMPUTE_MINPOLY, QUOR_COMPUTE_MINPOLY_SQFR,
                   QUOR_COMPUTE_RADICAL_STRATEG1, QUOR_COMPUTE_RADICAL_STRATEG2, QUOR_COMPUTE_GBASIS_MULTI,
                   QUOR_COMPUTE_MATRIXN})
    EXPECT_EQ(fatal_text([&] { results<IntApi>(zero, code); }), "Not a zero-dimensional system\n")
        << strategy_name(code);
  EXPECT_EQ(fatal_text([&] { results<IntApi>(zero, QUOR_COMPUTE_GBASIS_MULTI, 0, 1, 1); }),
            "Not a zero-dimensional system\n");
}

QTEST_F(TwoStage, ASecondBasisOutOfShapePositionIsRefusedAsTheMatrixRequestIs) {
  // x1^2 = x2, x2^2 = 1: four solutions, two values of x2.  The second basis
  // for the blocks x1 | x2 is the input, which the rational form would have
  // read as x1^2 - 1, x2^2 - 1 (x1 = +-1).
  const Sys sys = {{{{2, 0}, 1}, {{0, 1}, -1}}, {{{0, 2}, 1}, {{0, 0}, -1}}};
  const std::string matrix = fatal_text([&] { results<IntApi>(sys, QUOR_COMPUTE_MATRIXN); });
  EXPECT_NE(matrix.find("degree 2 for a quotient of dimension 4"), std::string::npos) << matrix;
  EXPECT_EQ(fatal_text([&] { results<IntApi>(sys, QUOR_COMPUTE_GBASIS_MULTI, 0, 2, 1); }), matrix);
  EXPECT_EQ(fatal_text([&] { results<IntApi>(corner(), QUOR_COMPUTE_GBASIS_MULTI, 0, 3, 0); }),
            fatal_text([&] { results<IntApi>(corner(), QUOR_COMPUTE_MATRIXN); }));
  // No solution: the second basis is 1, which is its own rational form.
  const Sys none = {{{{1, 0}, 1}}, {{{1, 0}, 1}, {{0, 0}, -1}}};
  const auto R = results<IntApi>(none, QUOR_COMPUTE_GBASIS_MULTI, 0, 2, 1);
  ASSERT_EQ(R.size(), 1u);
  EXPECT_EQ(IntApi::exact(R[0], 2), (IntPoly{{{0, 0}, "1"}}));
}

QTEST_F(TwoStage, TheRadicalSwitchHoldsForItsRequestOnly) {
  // three_points is radical: nothing joins it.  A change of ordering after
  // the radical request runs no radical stage, and gives the same form.
  const std::vector<ModPoly> radical = images<IntApi>(three_points(), QUOR_COMPUTE_RADICAL_STRATEG2, 0, 0);
  EXPECT_NE(host_.output().find("ne rajoute pas de polynome\n"), std::string::npos);
  host_.clear_output();
  EXPECT_EQ(images<IntApi>(three_points(), QUOR_COMPUTE_RRFORM), radical);
  EXPECT_EQ(host_.output().find("Compute NF minpoly"), std::string::npos);
  EXPECT_EQ(want_radical_strateg1, 0);
}
#endif

QUOR_TEST_END
