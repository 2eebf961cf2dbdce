// Zero-dimensional requests through the stand-in host against independent
// reference answers modulo 65521: the minimal polynomial of the matrix
// request and, in shape position, the membership of every parametrisation in
// the ideal (reduction by the reference basis; for the integer build's
// rational form, of the ideal element it stands for).  The integer build's
// answers are reduced modulo 65521.  Used by the quick and the slow reference tests.
#pragma once
#include "core/quor_build.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/public_api.h"
#include "tests/support/rational_form.h"
#include "tests/support/staircase_nf.h"

#ifndef QUOR_TESTS_ZERO_DIM_REFS_COMMON
#define QUOR_TESTS_ZERO_DIM_REFS_COMMON
namespace zero_dim_refs {
using namespace quor_test;
namespace sf = quor::standin;
using Coeffs = std::vector<u64>;  // monic univariate polynomial, lowest degree first

inline std::string data_file(const std::string& name) { return std::string(QUOR_TEST_DATA_DIR) + "/" + name; }
inline std::string shared_file(const std::string& name) { return std::string(QUOR_SHARED_DIR) + "/" + name; }

// The polynomial sum r x_last^d over the terms (exponents, residue r), made monic modulo kP.
template <class Terms>
Coeffs monic_univariate(const Terms& terms) {
  Coeffs c;
  for (const auto& [e, r] : terms) {
    const u32 d = u32(e.back());
    if (c.size() <= d) c.resize(d + 1, 0);
    c[d] = r % kP;
  }
  while (!c.empty() && c.back() == 0) c.pop_back();
  const u64 inv = c.empty() ? 1 : refgb::Zp{kP}.inv(c.back());
  for (u64& x : c) x = x * inv % kP;
  return c;
}

// The polynomials of a reference file (one a line, the variables of sys).
inline std::vector<sf::Poly> reference_polys(const std::string& path, const sf::System& sys) {
  std::ifstream in(path);
  std::vector<sf::Poly> ps;
  for (std::string line; std::getline(in, line);)
    if (!line.empty())
      for (sf::Poly& p : sf::parse_poly_list("[" + line + "]", sys, path)) ps.push_back(std::move(p));
  return ps;
}

// A reference basis modulo kP.
inline std::vector<ModPoly> reference_basis(const std::string& path, const sf::System& sys) {
  std::vector<ModPoly> G;
  for (const sf::Poly& p : reference_polys(path, sys)) {
    ModPoly& g = G.emplace_back();
    for (const sf::Term& t : p)
      if (const u64 c = mpz_fdiv_ui(t.c.get(), kP)) g[Mono(t.e.begin(), t.e.end())] = c;
  }
  return G;
}

// The reference minimal polynomial (one line, in the last variable of sys).
inline Coeffs reference_minpoly(const std::string& path, const sf::System& sys) {
  const std::vector<sf::Poly> ps = reference_polys(path, sys);
  std::vector<std::pair<std::vector<std::int32_t>, u64>> terms;
  for (const sf::Term& t : ps.at(0))
    terms.push_back({{t.e.begin(), t.e.end()}, mpz_fdiv_ui(t.c.get(), kP)});
  return monic_univariate(terms);
}
}  // namespace zero_dim_refs
#endif

QUOR_TEST_BEGIN
using namespace zero_dim_refs;

class QUOR_SUITE(ZeroDimRefs) : public ::testing::Test {
 protected:
  void SetUp() override { Host_kernel = host_.kernel(); }
  void TearDown() override {
    unsetenv("MINPOLY");
    QUOR_NAME(reset_memory)();
    Host_kernel = nullptr;
  }
  // The matrix request on the system: its results modulo kP (the last one,
  // the minimal polynomial, also as monic coefficients).
  static std::vector<ModPoly> matrix_request(const sf::System& sys, Coeffs* minpoly) {
    std::vector<char*> names;
    for (const std::string& v : sys.vars) names.push_back(const_cast<char*>(v.c_str()));
    const auto out = request<Api>(sys.polys, names.data(), u32(names.size()), QUOR_COMPUTE_MATRIXN);
    std::vector<ModPoly> images;
    for (auto p : out) {
      ModPoly& f = images.emplace_back();
      for (auto& [m, c] : Api::residues(p, u32(names.size())))
        if (c) f[m] = c;
    }
    if (!out.empty()) *minpoly = monic_univariate(Api::residues(out.back(), u32(names.size())));
    return images;
  }
  static std::string refused(const sf::System& sys) {
    Coeffs ignored;
    return fatal_text([&] { matrix_request(sys, &ignored); });
  }
  // MINPOLY request, then (given the reference basis) the full one: the
  // minimal polynomial is the reference one, and every result x_j + g_j(x_last)
  // reduces to zero by the reference basis.
  void expect_reference(const std::string& system_path, const std::string& minpoly_path,
                        const std::string& basis_path = "") {
    const sf::System sys = sf::read_system(system_path);
    const Coeffs want = reference_minpoly(minpoly_path, sys);
    Coeffs got;
    {
      MinpolyOnly only;
      EXPECT_EQ(matrix_request(sys, &got).size(), 1u) << system_path;
      EXPECT_EQ(got, want) << system_path << " (minimal polynomial only)";
    }
    if (basis_path.empty()) return;
    got.clear();
    const std::vector<ModPoly> R = matrix_request(sys, &got);
    EXPECT_EQ(R.size(), sys.vars.size()) << system_path;
    EXPECT_EQ(got, want) << system_path;
    const std::vector<ModPoly> G = reference_basis(basis_path, sys);
    ASSERT_FALSE(G.empty()) << basis_path;
    refgb::StaircaseNF nf(G, kP);
    const u32 n = u32(R.size());
    for (u32 j = 0; j < n; ++j) {
      // The integer build's c x_j + B stands for c F' x_j + d lc(F) B.
      const ModPoly member = QUOR_INT && j + 1 < n ? ideal_element(R[j], R[n - 1], n) : R[j];
      EXPECT_TRUE(refgb::StaircaseNF::zero(nf.of(member))) << system_path << ": result " << j << " is not in the ideal";
    }
  }
  quor::standin::Host host_;
};

QUOR_TEST_END
