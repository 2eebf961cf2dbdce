// The change of ordering of the integer build's requests: the rational form
// against the matrix request, the minimal polynomials (square-free or not)
// against independent references, the shape basis of the radical of a
// system with a squared equation, and what is refused.  Results are read
// modulo 65521 and checked by reduction by reference bases.
#include <algorithm>
#include <set>
#include <string>

#include "engine/tesk_bridge.h"
#include "tests/support/zero_dim_refs.h"

QUOR_TEST_BEGIN
using namespace zero_dim_refs;

class QUOR_SUITE(ChangeOrder) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    Quor_verb_info = 4;  // progress lands in host_.output()
  }
  void TearDown() override {
    QUOR_NAME(reset_memory)();
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  static sf::System system(const std::string& name) { return sf::read_system(data_file(name + ".txt")); }
  // The request `code` on sys (with `nb` as _nb), its results.
  static std::vector<Api::Poly> run(const sf::System& sys, i32 code, i32 nb = 0) {
    std::vector<char*> names;
    for (const std::string& v : sys.vars) names.push_back(const_cast<char*>(v.c_str()));
    return request<Api>(sys.polys, names.data(), u32(names.size()), code, 0, nb);
  }
  static std::vector<ModPoly> images(const sf::System& sys, const std::vector<Api::Poly>& R) {
    std::vector<ModPoly> out;
    for (auto p : R) {
      ModPoly& f = out.emplace_back();
      for (auto& [m, c] : Api::residues(p, u32(sys.vars.size())))
        if (c) f[m] = c;
    }
    return out;
  }
  static Coeffs monic(const sf::System& sys, Api::Poly p) {
    return monic_univariate(Api::residues(p, u32(sys.vars.size())));
  }
  // A shape basis f, x_(n-1) + .., .., x_1 + .. (c x_j + B in rational
  // form): f square-free of degree d, every result in the ideal of `basis`.
  static void expect_shape_basis(const sf::System& sys, const std::vector<ModPoly>& R, u32 d,
                                 const std::string& basis, bool rational) {
    const u32 n = u32(sys.vars.size());
    ASSERT_EQ(R.size(), n);
    const Univ f = univariate_part(R[0], n);
    EXPECT_EQ(f.size(), d + 1) << "f has degree " << f.size() - 1;
    EXPECT_EQ(R[0].size(), size_t(std::count_if(f.begin(), f.end(), [](u64 c) { return c != 0; })))
        << "f is univariate";
    refgb::StaircaseNF nf(reference_basis(data_file(basis), sys), kP);
    EXPECT_EQ(nf.dim(), d) << "f is square-free of degree the number of solutions";
    for (u32 j = 0; j < n; ++j) {
      if (j > 0) {
        EXPECT_EQ(R[j].count(var(n, n - 1 - j)), 1u) << "result " << j << " is led by x" << n - j;
      }
      const ModPoly member = rational && j > 0 ? ideal_element(R[j], R[0], n) : R[j];
      EXPECT_TRUE(refgb::StaircaseNF::zero(nf.of(member))) << basis << ": result " << j << " is not in the ideal";
    }
  }
  static Mono var(u32 n, u32 j) {
    Mono m(n, 0);
    m[j] = 1;
    return m;
  }
  quor::standin::Host host_;
};

#if QUOR_INT
QTEST_F(ChangeOrder, RationalFormsEqualThoseOfTheMatrixRequest) {
  for (const char* name : {"katsura-6", "katsura-7"}) {
    const sf::System sys = system(name);
    const u32 n = u32(sys.vars.size());
    auto exact = [&](const std::vector<Api::Poly>& R) {
      std::set<IntPoly> s;
      for (auto p : R) s.insert(IntApi::exact(p, n));
      return s;
    };
    // (A request's results live until the next request.)
    const std::vector<Api::Poly> R = run(sys, QUOR_COMPUTE_RRFORM);
    ASSERT_EQ(R.size(), n) << name;
    // f comes first.
    EXPECT_EQ(monic(sys, R[0]).size(), (1u << (n - 1)) + 1) << name;
    const std::set<IntPoly> rr = exact(R);
    EXPECT_EQ(exact(run(sys, QUOR_COMPUTE_MATRIXN)), rr) << name;
    // The request without a second basis is the same.
    EXPECT_EQ(exact(run(sys, QUOR_COMPUTE_GBASIS_MULTI)), rr) << name;
  }
  EXPECT_NE(host_.output().find("Send polys to Tesk: "), std::string::npos);
  EXPECT_NE(host_.output().find("FGLM: "), std::string::npos);
  EXPECT_NE(host_.output().find("Receive polys from Tesk: "), std::string::npos);
}

QTEST_F(ChangeOrder, MinimalPolynomialsAreTheReferenceOnes) {
  // cyclic-5 is not in shape position: the minimal polynomial alone.
  for (const char* name : {"cyclic-5", "katsura-6"}) {
    const sf::System sys = system(name);
    const Coeffs want = reference_minpoly(data_file(std::string(name) + ".gf65521.minpoly.txt"), sys);
    for (i32 code : {QUOR_COMPUTE_MINPOLY, QUOR_COMPUTE_MINPOLY_SQFR}) {
      const std::vector<Api::Poly> R = run(sys, code);
      ASSERT_EQ(R.size(), 1u) << name;
      EXPECT_EQ(monic(sys, R[0]), want) << name << " " << strategy_name(code);
    }
  }
  const std::string refusal = fatal_text([&] { run(system("cyclic-5"), QUOR_COMPUTE_RRFORM); });
  EXPECT_NE(refusal.find("degree 15 for a quotient of dimension 70"), std::string::npos) << refusal;
}

QTEST_F(ChangeOrder, SquareFreePartsAndTheRadicalOfASquaredEquation) {
  // katsura-4 with an equation squared: 32 solutions counted with
  // multiplicity, 16 distinct ones.
  const sf::System sys = system("katsura-4-squared");
  const u32 n = u32(sys.vars.size());
  const Coeffs f2 = monic(sys, run(sys, QUOR_COMPUTE_MINPOLY).at(0));
  const Coeffs f = monic(sys, run(sys, QUOR_COMPUTE_MINPOLY_SQFR).at(0));
  ASSERT_EQ(f2.size(), 33u);
  ASSERT_EQ(f.size(), 17u);
  Coeffs sq(33, 0);
  for (u32 i = 0; i < 17; ++i)
    for (u32 j = 0; j < 17; ++j) sq[i + j] = (sq[i + j] + f[i] * f[j]) % kP;
  EXPECT_EQ(sq, f2) << "the minimal polynomial is the square of its square-free part";
  // The rational form needs f square-free; its square-free variant is the
  // shape basis of the radical.
  const std::string refusal = fatal_text([&] { run(sys, QUOR_COMPUTE_RRFORM); });
  EXPECT_NE(refusal.find("not square-free"), std::string::npos) << refusal;
  const std::vector<ModPoly> R = images(sys, run(sys, QUOR_COMPUTE_RRFORM_SQFR));
  expect_shape_basis(sys, R, 16, "katsura-4-squared.radical.gf65521.gb.txt", true);
  EXPECT_EQ(R.size(), n);
}

QTEST_F(ChangeOrder, RadicalStrategiesGiveTheShapeBasisOfTheRadical) {
  const std::string radical = "katsura-4-squared.radical.gf65521.gb.txt";
  sf::System sys = system("katsura-4-squared");
  // The normal form of the square-free f joins the system: its basis is
  // that of the radical (16 points), x_j + g_j(x5) for strategy 1, the
  // rational form for strategy 2.
  expect_shape_basis(sys, images(sys, run(sys, QUOR_COMPUTE_RADICAL_STRATEG1)), 16, radical, false);
  EXPECT_NE(host_.output().find("Reduction a done <>0\n"), std::string::npos);
  expect_shape_basis(sys, images(sys, run(sys, QUOR_COMPUTE_RADICAL_STRATEG2)), 16, radical, true);
  // Dividing f by x5 first leaves the solution with x5 = 0 out.
  sys.polys.push_back(sf::parse_poly_list("[x5]", sys, "divisor").at(0));
  expect_shape_basis(sys, images(sys, run(sys, QUOR_COMPUTE_RADICAL_STRATEG2, 1)), 15,
                     "katsura-4-squared.radical-x5.gf65521.gb.txt", true);
  EXPECT_NE(host_.output().find("Localilisation by 1 polynomes\n"), std::string::npos);
  // A divisor that does not divide f is a host error; the next request computes.
  sys.polys.back() = sf::parse_poly_list("[x5-7]", sys, "divisor").at(0);
  EXPECT_EQ(fatal_text([&] { run(sys, QUOR_COMPUTE_RADICAL_STRATEG2, 1); }), "Not an exact quotient !\n");
  EXPECT_NE(fatal_text([&] { run(sys, QUOR_COMPUTE_RADICAL_STRATEG2, i32(sys.polys.size())); }).find("_nb="),
            std::string::npos);
  // A radical system gains nothing: the shape basis of katsura-6.
  const sf::System k6 = system("katsura-6");
  expect_shape_basis(k6, images(k6, run(k6, QUOR_COMPUTE_RADICAL_STRATEG1)), 64, "katsura-6.gf65521.gb.txt", false);
  EXPECT_NE(host_.output().find("ne rajoute pas de polynome\n"), std::string::npos);
}
#else
QTEST_F(ChangeOrder, ThePrimeFieldBuildRefusesTheChangeOfOrdering) {
  const sf::System sys = system("katsura-6");
  for (i32 code : {2, 3, 4, 5, 8, 9, 11}) {
    host_.clear_output();
    EXPECT_EQ(fatal_text([&] { run(sys, code, 1); }),
              std::string("Strategy ") + strategy_name(code) + " is not available in this version\n");
    EXPECT_EQ(host_.output().find("Found dimension"), std::string::npos);
  }
  EXPECT_EQ(fatal_text([] { lib_fast_chg_order(nullptr, 0, nullptr, 0, 0, -1, 0); }),
            "Change of ordering: not available in the prime-field build\n");
  EXPECT_EQ(run(sys, QUOR_COMPUTE_MATRIXN).size(), sys.vars.size());  // the next request computes
}
#endif

QUOR_TEST_END
