// Minimal polynomials of the matrix request against independent reference
// answers modulo 65521: cyclic-5 (not in shape position: products over the
// staircase, minimal polynomial of degree 15 for 70 solutions) and the
// katsura systems; the integer build's answer is reduced modulo 65521.
// Small systems and answers come from tests/data, larger ones from the
// shared directory (skipped when it is absent).
#include <gmp.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "core/call_quor.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "host/standin/system_file.h"
#include "tests/dual_test.h"

namespace {
using quor::i32;
using quor::u32;
using quor::u64;
namespace sf = quor::standin;

constexpr u32 kP = 65521;
using Coeffs = std::vector<u64>;  // monic univariate polynomial, lowest degree first

std::string data_file(const std::string& name) { return std::string(QUOR_TEST_DATA_DIR) + "/" + name; }
std::string shared_file(const std::string& name) { return std::string(QUOR_SHARED_DIR) + "/" + name; }

// The reference minimal polynomial (one line, in the last variable of sys).
Coeffs reference_minpoly(const std::string& path, const sf::System& sys) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  const std::vector<sf::Poly> ps = sf::parse_poly_list("[" + line + "]", sys, path);
  Coeffs c;
  for (const sf::Term& t : ps.at(0)) {
    const u32 d = u32(t.e.back());
    if (c.size() <= d) c.resize(d + 1, 0);
    c[d] = mpz_fdiv_ui(t.c.get(), kP);
  }
  return c;
}

// The univariate polynomial sum c[t] x_last^d[t], made monic modulo kP.
Coeffs monic_univariate(const UI32* exps, u32 nvars, u32 nt, const std::function<u64(u32)>& coef) {
  Coeffs c;
  for (u32 t = 0; t < nt; ++t) {
    const u32 d = exps[t * nvars + nvars - 1];
    if (c.size() <= d) c.resize(d + 1, 0);
    c[d] = coef(t) % kP;
  }
  while (!c.empty() && c.back() == 0) c.pop_back();
  u64 inv = 1;
  for (u64 a = c.empty() ? 1 : c.back(), e = kP - 2; e; e >>= 1, a = a * a % kP)
    if (e & 1) inv = inv * a % kP;
  for (u64& x : c) x = x * inv % kP;
  return c;
}

struct IntApi {
  using Poly = QUOR_CQ_INPOLY;
  static void open(std::vector<char*>& names) {
    Quor_int_reset_memory();
    Quor_int_init_urgent(4, 2, "DRLDRL", 100000, 0);
    Quor_int_init(1, 1, 0, nullptr);
    Quor_int_internal_threads(1);
    Quor_int_reset_coeffs(1);
    Quor_int_reset_expos(0, u32(names.size()), names.data());
  }
  static Poly make(const sf::Poly& f) {
    Poly p = Quor_int_creat_poly(u32(f.size()));
    for (u32 i = 0; i < f.size(); ++i) {
      std::vector<I32> e(f[i].e.begin(), f[i].e.end());
      Quor_int_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_int_set_coeff_gmp_str(p, i, f[i].c.text().c_str());
    }
    Quor_int_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_int_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  static Coeffs univariate(Poly p, u32 nvars) {
    const u32 nt = Quor_int_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1);
    mpz_ptr* z = Quor_int_export_poly_INT_gmp(nvars, nt, exps.data(), p);
    return monic_univariate(exps.data(), nvars, nt, [&](u32 t) { return mpz_fdiv_ui(z[t], kP); });
  }
};

struct GfApi {
  using Poly = QUOR_CQ_GFPOLY;
  static void open(std::vector<char*>& names) {
    Quor_reset_memory();
    Quor_init_urgent(2, 2, "DRLDRL", 100000, 0);
    Quor_init(1, 1, 0, nullptr);
    Quor_internal_threads(1);
    const UI32 pr[] = {UI32(kP)};
    Quor_reset_coeffs(1, pr);
    Quor_reset_expos(0, u32(names.size()), names.data());
  }
  static Poly make(const sf::Poly& f) {
    Poly p = Quor_creat_poly(u32(f.size()));
    for (u32 i = 0; i < f.size(); ++i) {
      std::vector<I32> e(f[i].e.begin(), f[i].e.end());
      Quor_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_set_coeff_I32(p, i, I32(mpz_fdiv_ui(f[i].c.get(), kP)));
    }
    Quor_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  static Coeffs univariate(Poly p, u32 nvars) {
    const u32 nt = Quor_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1), c(nt + 1);
    Quor_export_poly(nvars, nt, exps.data(), c.data(), p);
    return monic_univariate(exps.data(), nvars, nt, [&](u32 t) { return u64(c[t]); });
  }
};

struct MinpolyOnly {  // MINPOLY in the environment for one scope
  MinpolyOnly() { setenv("MINPOLY", "1", 1); }
  ~MinpolyOnly() { unsetenv("MINPOLY"); }
};
}  // namespace

QUOR_TEST_BEGIN

#if QUOR_INT
using Api = IntApi;
#else
using Api = GfApi;
#endif

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
    Api::open(names);
    std::vector<Api::Poly> in;
    for (const sf::Poly& f : sys.polys) in.push_back(Api::make(f));
    std::vector<Api::Poly> out(100001, nullptr);
    sQUOR_Comp_Desc d{};
    d._compute = QUOR_COMPUTE_MATRIXN;
    d._aggressive2 = d._dlim = d._skip = -1;
    const u32 k = Api::groebner(in.data(), u32(in.size()), out.data(), &d);
    if (k > 0) *minpoly = Api::univariate(out[k - 1], u32(sys.vars.size()));
    return k;
  }
  static std::string fatal_text(const sf::System& sys) {
    try {
      Coeffs ignored;
      matrix_request(sys, &ignored);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "<no fatal>";
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
  const std::string refusal = fatal_text(sf::read_system(data_file("cyclic-5.txt")));
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
