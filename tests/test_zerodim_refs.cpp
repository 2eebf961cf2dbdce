// Minimal polynomials of the matrix request against independent reference
// answers modulo 65521: cyclic-5 (not in shape position: products over the
// staircase, minimal polynomial of degree 15 for 70 solutions) and the
// katsura systems; the integer build's answer is reduced modulo 65521.
// Small systems and answers come from tests/data, larger ones from the
// shared directory (skipped when it is absent).
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/public_api.h"

namespace {
using namespace quor_test;
namespace sf = quor::standin;
using Coeffs = std::vector<u64>;  // monic univariate polynomial, lowest degree first

std::string data_file(const std::string& name) { return std::string(QUOR_TEST_DATA_DIR) + "/" + name; }
std::string shared_file(const std::string& name) { return std::string(QUOR_SHARED_DIR) + "/" + name; }

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

// The reference minimal polynomial (one line, in the last variable of sys).
Coeffs reference_minpoly(const std::string& path, const sf::System& sys) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const std::vector<sf::Poly> ps = sf::parse_poly_list("[" + line + "]", sys, path);
  std::vector<std::pair<std::vector<std::int32_t>, u64>> terms;
  for (const sf::Term& t : ps.at(0))
    terms.push_back({t.e, mpz_fdiv_ui(t.c.get(), kP)});
  return monic_univariate(terms);
}
}  // namespace

QUOR_TEST_BEGIN

class QUOR_SUITE(ZeroDimRefs) : public ::testing::Test {
 protected:
  void SetUp() override { Host_kernel = host_.kernel(); }
  void TearDown() override {
    unsetenv("MINPOLY");
    QUOR_NAME(reset_memory)();
    Host_kernel = nullptr;
  }
  // The matrix request on the system; its results' count, and the last one
  // (the minimal polynomial) as coefficients.
  static u32 matrix_request(const sf::System& sys, Coeffs* minpoly) {
    std::vector<char*> names;
    for (const std::string& v : sys.vars) names.push_back(const_cast<char*>(v.c_str()));
    const auto out = request<Api>(sys.polys, names.data(), u32(names.size()), QUOR_COMPUTE_MATRIXN);
    if (!out.empty()) *minpoly = monic_univariate(Api::residues(out.back(), u32(names.size())));
    return u32(out.size());
  }
  static std::string refused(const sf::System& sys) {
    Coeffs ignored;
    return fatal_text([&] { matrix_request(sys, &ignored); });
  }
  // MINPOLY request, then (when shape) the full one: both end in the reference.
  void expect_reference(const std::string& system_path, const std::string& minpoly_path, bool shape) {
    const sf::System sys = sf::read_system(system_path);
    const Coeffs want = reference_minpoly(minpoly_path, sys);
    Coeffs got;
    {
      MinpolyOnly only;
      EXPECT_EQ(matrix_request(sys, &got), 1u) << system_path;
      EXPECT_EQ(got, want) << system_path << " (minimal polynomial only)";
    }
    if (!shape) return;
    got.clear();
    EXPECT_EQ(matrix_request(sys, &got), u32(sys.vars.size())) << system_path;
    EXPECT_EQ(got, want) << system_path;
  }
  quor::standin::Host host_;
};

QTEST_F(ZeroDimRefs, CyclicFiveMinimalPolynomialAndItsRefusedParametrisation) {
  expect_reference(data_file("cyclic-5.txt"), data_file("cyclic-5.gf65521.minpoly.txt"), false);
  // 70 solutions, a minimal polynomial of degree 15: no parametrisation.
  const std::string refusal = refused(sf::read_system(data_file("cyclic-5.txt")));
  EXPECT_NE(refusal.find("Not in shape position"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("degree 15 for a quotient of dimension 70"), std::string::npos) << refusal;
}

QTEST_F(ZeroDimRefs, KatsuraMinimalPolynomials) {
  expect_reference(data_file("katsura-6.txt"), data_file("katsura-6.gf65521.minpoly.txt"), true);
}

#if !QUOR_INT
// Larger staircases (katsura: 256 and 512; cyclic: 156 and 924, with many
// products over the staircase); the integer build's coefficients grow too
// large for a quick test there.
QTEST_F(ZeroDimRefs, LargerSystemsMinimalPolynomials) {
  for (const char* name : {"katsura-8", "katsura-9", "cyclic-6", "cyclic-7"}) {
    const std::string sys = shared_file(std::string("systems/") + name + ".txt");
    const std::string ref = shared_file(std::string("reference/") + name + ".gf65521.minpoly.txt");
    if (!std::filesystem::exists(sys) || !std::filesystem::exists(ref)) GTEST_SKIP() << "no " << sys;
    expect_reference(sys, ref, name[0] == 'k');
  }
}
#endif

QUOR_TEST_END
