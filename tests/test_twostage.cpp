// The multiplication-matrix requests through the public call: the minimal
// polynomial and the parametrisation lie in the ideal (naive reduction by the
// basis of the same request, modulo 65521), exact integer forms, the two
// builds agree, and every request the driver cannot serve soundly is refused.
#include <gmp.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "core/call_quor.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"

namespace {
using quor::u32;
using quor::u64;
using quor::i64;
using quor::i32;

constexpr u64 kP = 65521;
using Mono = std::vector<u32>;
struct Term {
  Mono e;
  i64 c;
};
using Sys = std::vector<std::vector<Term>>;

u32 total(const Mono& m) { return std::accumulate(m.begin(), m.end(), 0u); }
struct Grevlex {  // x1 > x2 > ..., larger first
  bool operator()(const Mono& a, const Mono& b) const {
    if (total(a) != total(b)) return total(a) > total(b);
    for (size_t i = a.size(); i-- > 0;)
      if (a[i] != b[i]) return a[i] < b[i];
    return false;
  }
};
using ModPoly = std::map<Mono, u64, Grevlex>;  // monic modulo kP
using IntPoly = std::map<Mono, std::string, Grevlex>;

u64 inv(u64 a) {
  u64 r = 1;
  for (u64 e = kP - 2; e; e >>= 1, a = a * a % kP)
    if (e & 1) r = r * a % kP;
  return r;
}
ModPoly monic(ModPoly f) {
  if (f.empty()) return f;
  const u64 il = inv(f.begin()->second);
  for (auto& [m, c] : f) c = c * il % kP;
  return f;
}
bool divides(const Mono& d, const Mono& m) {
  for (size_t i = 0; i < d.size(); ++i)
    if (d[i] > m[i]) return false;
  return true;
}
// Remainder of f by the monic basis G (any order of G).
ModPoly reduce(ModPoly f, const std::vector<ModPoly>& G) {
  ModPoly r;
  while (!f.empty()) {
    const auto [m, v] = *f.begin();
    auto g = std::find_if(G.begin(), G.end(), [&](const ModPoly& g) { return divides(g.begin()->first, m); });
    if (g == G.end()) {
      r[m] = v;
      f.erase(f.begin());
      continue;
    }
    const Mono& l = g->begin()->first;
    for (auto& [e, c] : *g) {
      Mono s = e;
      for (size_t i = 0; i < s.size(); ++i) s[i] += m[i] - l[i];
      if (const u64 x = (f[s] + (kP - v) * c) % kP) f[s] = x;
      else f.erase(s);
    }
  }
  return r;
}

char* names[] = {const_cast<char*>("x1"), const_cast<char*>("x2"), const_cast<char*>("x3"),
                 const_cast<char*>("x4"), const_cast<char*>("x5")};

// The public calls of each build.
struct IntApi {
  using Poly = QUOR_CQ_INPOLY;
  static void open(u32 first, u32 second) {
    Quor_int_reset_memory();
    Quor_int_init_urgent(4, 2, "DRLDRL", 100000, 0);
    Quor_int_init(1, 1, 0, nullptr);
    Quor_int_internal_threads(1);
    Quor_int_reset_coeffs(1);
    Quor_int_reset_expos(first, second, names);
  }
  static Poly make(const std::vector<Term>& terms) {
    Poly p = Quor_int_creat_poly(u32(terms.size()));
    for (u32 i = 0; i < terms.size(); ++i) {
      std::vector<I32> e(terms[i].e.begin(), terms[i].e.end());
      Quor_int_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_int_set_coeff_gmp_str(p, i, std::to_string(terms[i].c).c_str());
    }
    Quor_int_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_int_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  // Terms of p with conv(coefficient) for each.
  template <class T, class Conv>
  static std::map<Mono, T, Grevlex> read(Poly p, u32 nvars, Conv conv) {
    const u32 nt = Quor_int_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1);
    mpz_ptr* z = Quor_int_export_poly_INT_gmp(nvars, nt, exps.data(), p);
    std::map<Mono, T, Grevlex> f;
    for (u32 t = 0; t < nt; ++t) f[Mono(exps.begin() + t * nvars, exps.begin() + (t + 1) * nvars)] = conv(z[t]);
    return f;
  }
  static IntPoly exact(Poly p, u32 nvars) {
    return read<std::string>(p, nvars, [](mpz_ptr z) {
      std::string s(mpz_sizeinbase(z, 10) + 2, '\0');
      return std::string(mpz_get_str(s.data(), 10, z));
    });
  }
  static ModPoly image(Poly p, u32 nvars) {
    ModPoly f = read<u64>(p, nvars, [](mpz_ptr z) { return u64(mpz_fdiv_ui(z, kP)); });
    std::erase_if(f, [](auto& t) { return t.second == 0; });
    return monic(f);
  }
};

struct GfApi {
  using Poly = QUOR_CQ_GFPOLY;
  static void open(u32 first, u32 second) {
    Quor_reset_memory();
    Quor_init_urgent(2, 2, "DRLDRL", 100000, 0);
    Quor_init(1, 1, 0, nullptr);
    Quor_internal_threads(1);
    const UI32 pr[] = {UI32(kP)};
    Quor_reset_coeffs(1, pr);
    Quor_reset_expos(first, second, names);
  }
  static Poly make(const std::vector<Term>& terms) {
    Poly p = Quor_creat_poly(u32(terms.size()));
    for (u32 i = 0; i < terms.size(); ++i) {
      std::vector<I32> e(terms[i].e.begin(), terms[i].e.end());
      Quor_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_set_coeff_I32(p, i, I32(((terms[i].c % i64(kP)) + i64(kP)) % i64(kP)));
    }
    Quor_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  static ModPoly image(Poly p, u32 nvars) {
    const u32 nt = Quor_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1), c(nt + 1);
    Quor_export_poly(nvars, nt, exps.data(), c.data(), p);
    ModPoly f;
    for (u32 t = 0; t < nt; ++t)
      if (c[t] % kP) f[Mono(exps.begin() + t * nvars, exps.begin() + (t + 1) * nvars)] = c[t] % kP;
    return monic(f);
  }
};

// One request of `code` on sys; the results as the converter gives them.
template <class Api, class Out, class Conv>
std::vector<Out> request(const Sys& sys, i32 code, Conv conv, u32 first_block = 0, i32 nb = 0) {
  const u32 nvars = u32(sys[0][0].e.size());
  Api::open(first_block, nvars - first_block);
  std::vector<typename Api::Poly> in;
  for (auto& f : sys) in.push_back(Api::make(f));
  std::vector<typename Api::Poly> out(100001, nullptr);
  sQUOR_Comp_Desc d{};
  d._compute = code;
  d._aggressive2 = d._dlim = d._skip = -1;
  d._nb = d._nb2 = nb;
  const u32 k = Api::groebner(in.data(), u32(in.size()), out.data(), &d);
  std::vector<Out> r;
  for (u32 i = 0; i < k; ++i) r.push_back(conv(out[i], nvars));
  return r;
}
template <class Api>
std::vector<ModPoly> images(const Sys& sys, i32 code, u32 first_block = 0, i32 nb = 0) {
  return request<Api, ModPoly>(sys, code, Api::image, first_block, nb);
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
  template <class F>
  static std::string fatal_text(F f) {
    try {
      f();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "<no fatal>";
  }
  // MATRIXN results checked against the basis of the same build: n results,
  // x_j + g_j(x_last) then the minimal polynomial of degree dim, all in the ideal.
  std::vector<ModPoly> check_shape_basis(const Sys& sys, u32 dim) {
    const u32 n = u32(sys[0][0].e.size());
    const std::vector<ModPoly> G = images<Api>(sys, QUOR_COMPUTE_GBASIS);
    const std::vector<ModPoly> R = images<Api>(sys, QUOR_COMPUTE_MATRIXN);
    EXPECT_FALSE(G.empty());
    EXPECT_EQ(R.size(), n);
    if (R.size() != n) return R;
    for (u32 j = 0; j < n; ++j) {
      const ModPoly& f = R[j];
      EXPECT_TRUE(reduce(f, G).empty()) << "result " << j << " is not in the ideal";
      const bool minpoly = j + 1 == n;
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
  EXPECT_EQ(fatal_text([] { EXPECT_TRUE(images<Api>(katsura(4), QUOR_COMPUTE_MATRIXN).empty()); }), "<no fatal>");
  QUOR_NAME(stop_immediately_semaphore) = 0;
  // The request after a refusal computes.
  EXPECT_EQ(images<Api>(three_points(), QUOR_COMPUTE_MATRIXN).size(), 2u);
}

#if QUOR_INT
QTEST_F(TwoStage, IntegerFormsAndTheOtherBuildAgree) {
  // Exact primitive forms: 3 x1 - 4 x2^2 - 2 x2 - 9 and x2^3 + x2^2 - 2 x2.
  const auto R = request<IntApi, IntPoly>(three_points(), QUOR_COMPUTE_MATRIXN, IntApi::exact);
  ASSERT_EQ(R.size(), 2u);
  EXPECT_EQ(R[0], (IntPoly{{{1, 0}, "3"}, {{0, 2}, "-4"}, {{0, 1}, "-2"}, {{0, 0}, "-9"}}));
  EXPECT_EQ(R[1], (IntPoly{{{0, 3}, "1"}, {{0, 2}, "1"}, {{0, 1}, "-2"}}));
  for (const Sys& sys : {three_points(), katsura(4), katsura(5)})
    EXPECT_EQ(images<IntApi>(sys, QUOR_COMPUTE_MATRIXN), images<GfApi>(sys, QUOR_COMPUTE_MATRIXN));
  MinpolyOnly only;
  EXPECT_EQ(images<IntApi>(corner(), QUOR_COMPUTE_MATRIXN), images<GfApi>(corner(), QUOR_COMPUTE_MATRIXN));
}

QTEST_F(TwoStage, StagesOfLaterVersionsAreRefusedBeforeAnyWork) {
  for (i32 code : {2, 3, 4, 5, 8, 9, 11}) {
    host_.clear_output();
    // One extra polynomial (normal forms, localisation) or one for the second basis.
    EXPECT_EQ(fatal_text([&] { images<IntApi>(three_points(), code, 0, 1); }),
              std::string("Strategy ") + quor::strategy_name(code) + " is not available in this version\n");
    EXPECT_EQ(host_.output().find("Found dimension"), std::string::npos);
  }
}
#endif

QUOR_TEST_END
