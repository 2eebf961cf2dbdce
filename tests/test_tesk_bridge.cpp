// The bridge into the Tesk engine, in both builds: normal forms by a basis
// against the naive reduction modulo every working prime (and a failure of
// the engine that the next call survives), Hilbert series of whole requests
// against an independent system, and, in the integer build, the normal-form
// strategies against an independent system and the plain basis.
#include <gmock/gmock.h>
#include <gmp.h>

#include <fstream>
#include <map>
#include <sstream>

#include "engine/tesk_bridge.h"
#include "tesk/base/runtime.h"
#include "tests/support/reference_basis.h"
#include "tests/support/zero_dim_fixture.h"

QUOR_TEST_BEGIN
namespace {

using refgb::katsura3;
using quor::standin::RequestResult;

constexpr bool kGf = !kIntBuild;
const std::string kData = QUOR_TEST_DATA_DIR;

class QUOR_SUITE(TeskBridge) : public QUOR_SUITE(ZeroDim) {
 protected:
  // The normal forms of F by G written by the bridge (the integer build
  // checks that every multiplier is 1 and keeps the normal forms only).
  std::vector<Dpol> normal_forms(std::vector<Dpol> F, std::vector<Dpol> G, std::vector<Dpol> H = {}) {
    std::vector<Dpol> out(2 * F.size() + 1, nullptr);
    const u32 k = lib_normalForm(F.data(), u32(F.size()), G.data(), u32(G.size()), H.data(), u32(H.size()),
                                 H.empty() ? 0 : 1, out.data());
    std::vector<Dpol> nf;
    if (!kIntBuild) {
      EXPECT_EQ(k, F.size());
      nf.assign(out.begin(), out.begin() + k);
      return nf;
    }
    EXPECT_EQ(k, k == 0 ? 0 : 2 * F.size());
    for (u32 i = 0; i + 1 < k; i += 2) {
      EXPECT_EQ(out[i]->nb_terms, 1u);
      for (u32 s = 0; s < V(); ++s) EXPECT_EQ(out[i]->coeffs[s][0], 1u);
      nf.push_back(out[i + 1]);
    }
    return nf;
  }
  // Each normal form equals the naive one of f (made monic nowhere) in every slot.
  void expect_normal_forms(const Sys& F, const std::vector<Dpol>& nf, const std::vector<Dpol>& G) {
    ASSERT_EQ(nf.size(), F.size());
    for (u32 k = 0; k < V(); ++k) {
      const std::vector<RPol> f = as_rpols(F, k);
      for (u32 i = 0; i < F.size(); ++i) EXPECT_EQ(as_rpol(nf[i], k), normal_form(f[i], G, k)) << i << " slot " << k;
    }
  }
};

Sys katsura3_extras() {
  return {{{{3, 0, 0, 1}, 1}},
          {{{1, 2, 1, 0}, 5}, {{0, 0, 2, 3}, -3}, {{0, 0, 0, 0}, 7}},
          {},
          {{{0, 2, 0, 0}, 2}, {{1, 0, 0, 0}, 1}}};
}

QTEST_F(TeskBridge, NormalFormsAreTheExactOnesModuloEveryPrime) {
  layout(4);
  const std::vector<Dpol> G = basis(katsura3());
  ASSERT_GT(G.size(), 1u);
  const Sys F = katsura3_extras();
  expect_normal_forms(F, normal_forms(hand(F), G), G);
  // A basis that is not monic gives the same normal forms: each prime makes it monic.
  std::vector<Dpol> scaled;
  for (const sDpol* g : G) {
    Dpol q = new_Dpol(g->nb_terms);
    for (u32 t = 0; t < g->nb_terms; ++t) {
      q->monoms[t] = g->monoms[t];
      for (u32 k = 0; k < V(); ++k) q->coeffs[k][t] = Dom(u64(g->coeffs[k][t]) * 7 % prime(k));
    }
    scaled.push_back(q);
  }
  expect_normal_forms(F, normal_forms(hand(F), scaled), G);
}

#if QUOR_INT
QTEST_F(TeskBridge, ALeadingCoefficientVanishingModuloAPrimeIsABadPrime) {
  // (In the prime-field build a zero residue is no term at all.)
  layout(4);
  std::vector<Dpol> G = basis(katsura3());
  G[0]->coeffs[V() - 1][0] = 0;
  elim_status_clear();
  // The pass is computed again with other primes.
  EXPECT_TRUE(normal_forms(hand(katsura3_extras()), G).empty());
  EXPECT_EQ(elim_status(), kElimBadPrime);
  elim_status_clear();
}
#endif

QTEST_F(TeskBridge, AFailureInsideTheEngineIsAHostErrorAndTheNextCallWorks) {
  layout(4);
  const std::vector<Dpol> G = basis(katsura3());
  const u32 last = nb_of_affine_variables - 1;
  Mono x(nb_of_affine_variables, 0), one = x;
  x[last] = 1;
  Mono x2 = x;
  x2[last] = 2;
  // (x^2 - 1) / (x + 5) is not exact: the engine's fatal end becomes the host error.
  const Sys F = {{{x2, 1}, {one, -1}}};
  EXPECT_EQ(fatal_text([&] { normal_forms(hand(F), G, hand({{{x, 1}, {one, 5}}})); }), "Not an exact quotient !\n");
  EXPECT_EQ(tesk::Fatal_loop, 0);
  // (x^2 - 1) / (x + 1) = x - 1, then reduced by G.
  const std::vector<Dpol> nf = normal_forms(hand(F), G, hand({{{x, 1}, {one, 1}}}));
  expect_normal_forms({{{x, 1}, {one, -1}}}, nf, G);
  expect_normal_forms(F, normal_forms(hand(F), G), G);
}

#if !QUOR_INT
QTEST_F(TeskBridge, ExponentsTheEngineCannotHoldAreRefused) {
  // The prime-field engine packs exponents in 8 bits.
  layout(4);
  const std::vector<Dpol> G = basis(katsura3());
  Mono big(nb_of_affine_variables, 0);
  big[0] = 200;
  EXPECT_FALSE(fatal_text([&] { normal_forms(hand({{{big, 1}}}), G); }).empty());
  expect_normal_forms(katsura3_extras(), normal_forms(hand(katsura3_extras()), G), G);
}
#endif

// ---------------------------------------------------------------- whole requests

using namespace quor::reftest;

System system_named(const std::string& name) { return quor::standin::read_system(kData + "/" + name + ".txt"); }

RequestOptions this_build() {
  RequestOptions o;
  if (kGf) o.prime = kPrime;
  return o;
}

// Coefficient of t^i of the numerator, as the host reads it (residues modulo kPrime in the prime-field build).
std::map<i32, std::string> series_terms(const Poly& p) {
  std::map<i32, std::string> m;
  for (const auto& t : p) m[t.e[0]] = t.c.text();
  return m;
}

QTEST(TeskBridgeRequests, HilbertSeriesOfTheStandardSystemsAreTheIndependentOnes) {
  std::ifstream in(kData + "/hilbert-series.txt");
  ASSERT_TRUE(in) << "hilbert-series.txt";
  u32 systems = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ls(line);
    std::string name;
    long dim = 0;
    ls >> name >> dim;
    std::map<i32, std::string> want;
    long c = 0;
    for (i32 i = 0; ls >> c; ++i) {
      if (c == 0) continue;
      want[i] = std::to_string(kGf ? (c % kPrime + kPrime) % kPrime : c);
    }
    const System s = system_named(name);
    Host h;
    run_request(h, s, this_build());
    const RequestResult r = quor::standin::hilbert_request(h, s, this_build());
    ASSERT_EQ(r.end, RequestEnd::done) << name;
    ASSERT_EQ(r.basis.size(), 2u) << name;
    EXPECT_EQ(series_terms(r.basis[0]), want) << name;
    ASSERT_EQ(r.basis[1].size(), 1u) << name;
    EXPECT_EQ(r.basis[1][0].c.text(), std::to_string(dim + 2)) << name;
    EXPECT_TRUE(h.violations().empty()) << name;
    ++systems;
  }
  EXPECT_EQ(systems, 4u);
}

QTEST(TeskBridgeRequests, HilbertSeriesOfTheWholeRingAndOfNoRing) {
  System s = system_named("katsura-6");
  Host h;
  const u32 n = u32(s.vars.size());
  // No polynomial: 1 / (1 - t)^n.
  System empty = s;
  empty.polys.clear();
  quor::standin::open_request(h, empty, this_build());
  RequestResult r = quor::standin::hilbert_request(h, empty, this_build());
  ASSERT_EQ(r.basis.size(), 2u);
  EXPECT_EQ(series_terms(r.basis[0]), (std::map<i32, std::string>{{0, "1"}}));
  EXPECT_EQ(r.basis[1][0].c.text(), std::to_string(n + 2));
  // The unit ideal: the series is 0 (dimension -1).
  System unit = s;
  unit.polys.assign(1, Poly(1));
  mpz_set_ui(unit.polys[0][0].c.get(), 1);
  unit.polys[0][0].e.assign(n, 0);
  quor::standin::open_request(h, unit, this_build());
  r = quor::standin::hilbert_request(h, unit, this_build());
  ASSERT_EQ(r.basis.size(), 2u);
  EXPECT_TRUE(r.basis[0].empty());
  EXPECT_EQ(r.basis[1][0].c.text(), "1");
}

// The numerator of [x^a, y^b, z^c] is the product of the 1 + t + ... +
// t^(e-1): degree a + b + c - 3.  Up to 65535 it comes back whole; above, its
// powers would wrap in the exponent slot, and the request is refused.
QTEST(TeskBridgeRequests, ANumeratorBeyondTheExponentSlotIsRefused) {
  auto pure_powers = [](i32 c) {
    return dense(quor::standin::read_sparse_system_text(
        "# vars: x,y,z\n[x^32767, y^32767, z^" + std::to_string(c) + "]\n", "pure powers"));
  };
  Host h;
  System s = pure_powers(4);
  run_request(h, s, this_build());
  RequestResult r = quor::standin::hilbert_request(h, s, this_build());
  ASSERT_EQ(r.basis.size(), 2u);
  // Leading term t^65535, coefficient 1; the symmetric numerator ends in 1 too.
  const std::map<i32, std::string> terms = series_terms(r.basis[0]);
  if (!kGf) {  // (modulo the prime some vanish)
    EXPECT_EQ(terms.size(), 65536u);
  }
  EXPECT_EQ(terms.rbegin()->first, 65535);
  EXPECT_EQ(terms.rbegin()->second, "1");
  EXPECT_EQ(terms.begin()->second, "1");
  EXPECT_EQ(r.basis[1][0].c.text(), "2");
  for (i32 c : {5, 30000}) {
    s = pure_powers(c);
    run_request(h, s, this_build());
    try {
      quor::standin::hilbert_request(h, s, this_build());
      ADD_FAILURE() << "z^" << c << ": a numerator of degree " << 65531 + c << " was returned";
    } catch (const quor::standin::RequestError& e) {
      EXPECT_THAT(e.what(), ::testing::HasSubstr("Hilbert series: the numerator has degree " +
                                                 std::to_string(65531 + c) +
                                                 ", beyond the 65535 the Hilbert entry returns"));
    }
  }
  // The next request works.
  s = pure_powers(4);
  run_request(h, s, this_build());
  EXPECT_EQ(quor::standin::hilbert_request(h, s, this_build()).basis.size(), 2u);
  EXPECT_TRUE(h.violations().empty());
}

// Every quadric of 62 variables: h = 1 + 62 t, while the first numerator on
// the way reaches about 62 C(62, 31).  Only a series whose own coefficients
// pass the 64 bits the Hilbert entry returns is refused.
QTEST(TeskBridgeRequests, NumbersPast64BitsOnTheWayStillGiveTheSeries) {
  Host h;
  std::string vars, gens;
  for (u32 i = 1; i <= 62; ++i) {
    vars += (i > 1 ? ",x" : "x") + std::to_string(i);
    for (u32 j = i; j <= 62; ++j) gens += (gens.empty() ? "x" : ", x") + std::to_string(i) + "*x" + std::to_string(j);
  }
  System s = dense(quor::standin::read_sparse_system_text("# vars: " + vars + "\n[" + gens + "]\n", "quadrics"));
  quor::standin::open_request(h, s, this_build());
  RequestResult r = quor::standin::hilbert_request(h, s, this_build());
  ASSERT_EQ(r.basis.size(), 2u);
  EXPECT_EQ(series_terms(r.basis[0]), (std::map<i32, std::string>{{0, "1"}, {1, "62"}}));
  EXPECT_EQ(r.basis[1][0].c.text(), "2");
  // y^2, the x_i^2 and the y*x_i for 67 x_i: h = (1 + t)^67 + t, C(67, 33) > 2^63.
  gens = "y^2";
  for (u32 i = 1; i <= 67; ++i) gens += ", x" + std::to_string(i) + "^2, x" + std::to_string(i) + "*y";
  s = dense(quor::standin::read_sparse_system_text("# vars: " + vars + ",x63,x64,x65,x66,x67,y\n[" + gens + "]\n", "star"));
  quor::standin::open_request(h, s, this_build());
  try {
    quor::standin::hilbert_request(h, s, this_build());
    ADD_FAILURE() << "a numerator past 64 bits was returned";
  } catch (const quor::standin::RequestError& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("Hilbert series: a coefficient of the numerator does not fit in 64 bits"));
  }
  EXPECT_TRUE(h.violations().empty());
}

#if QUOR_INT
// Term maps of polynomials, for comparisons that ignore the order of terms.
std::map<std::vector<i32>, std::string> terms(const Poly& p) {
  std::map<std::vector<i32>, std::string> m;
  for (const auto& t : p) m[{t.e.begin(), t.e.end()}] = t.c.text();
  return m;
}

QTEST(TeskBridgeRequests, NormalFormsComeInPairsOfTheLcmOfTheDenominatorsAndTheIntegerForm) {
  const System s = system_named("katsura-6.nf");
  const System want = system_named("katsura-6.nf.expected");
  RequestOptions o = this_build();
  o.strategy = "QUOR_COMPUTE_GBASIS_NF";
  o.nb = 5;
  Host h;
  const RequestResult r = run_request(h, s, o);
  ASSERT_EQ(r.end, RequestEnd::done);
  ASSERT_EQ(r.basis.size(), want.polys.size());
  for (size_t i = 0; i < want.polys.size(); ++i) EXPECT_EQ(terms(r.basis[i]), terms(want.polys[i])) << i;
  EXPECT_TRUE(h.violations().empty());
  // Only polynomials to reduce is no request.
  o.nb = i32(s.polys.size()) + 1;
  EXPECT_THROW(run_request(h, s, o), quor::standin::RequestError);
}

// The first k polynomials of a, then the polynomials of b.
System joined(const System& a, size_t k, const System& b) {
  System s = b;
  s.polys.assign(a.polys.begin(), a.polys.begin() + long(k));
  s.polys.insert(s.polys.end(), b.polys.begin(), b.polys.end());
  return s;
}

QTEST(TeskBridgeRequests, RecomputedBasesAreTheBasesOfTheEnlargedSystems) {
  const System nf = system_named("katsura-6.nf");
  const System k6 = system_named("katsura-6");
  // The last two extra polynomials vanish on part of the variety; the first
  // reduces to 0 by the basis of the enlarged system, and adds nothing.
  System extras = nf;
  extras.polys = {nf.polys[3], nf.polys[4]};
  const System by_nf = joined(extras, 2, k6);
  System plain = k6;
  plain.polys.insert(plain.polys.end(), extras.polys.begin(), extras.polys.end());
  Host h;
  const std::vector<std::string> want = lines(run_request(h, plain, this_build()).basis, plain);
  ASSERT_GT(want.size(), 1u);
  RequestOptions o = this_build();
  o.strategy = "QUOR_COMPUTE_GBASIS_NF_RECOMPUTE";
  o.nb = 2;
  EXPECT_TRUE(same_lines(lines(run_request(h, by_nf, o).basis, by_nf), want));
  // A basis kept for a second basis with more polynomials: the same basis.
  RequestOptions multi = this_build();
  multi.strategy = "QUOR_COMPUTE_GBASIS_MULTI";
  multi.extra = {0, 0, 0, 0, 2, 0};
  EXPECT_TRUE(same_lines(lines(run_request(h, plain, multi).basis, plain), want));
  EXPECT_TRUE(h.violations().empty());
}
#endif

}  // namespace
QUOR_TEST_END
