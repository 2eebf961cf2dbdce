// The F4 main loop: the selection of one degree's halves, the minimal basis,
// whole reduced bases of small systems against a naive Buchberger run here
// modulo each working prime, the end cases, and the Hilbert entry that must
// refuse while the Tesk engine is missing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/record.h"
#include "api/request.h"
#include "core/call_quor.h"
#include "core/channels.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/poly.h"
#include "core/reltable.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/mainloop.h"
#include "engine/symbolic.h"
#include "engine/tesk_bridge.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#if !QUOR_INT
#include <omp.h>
#endif

QUOR_TEST_BEGIN

namespace {
using Mono = std::vector<u32>;  // exponents of the affine variables
using Sys = std::vector<std::vector<std::pair<Mono, i64>>>;

template <class F>
std::string fatal_text(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "<fatal>";
  }
  return "";
}

// ---- reference: naive Buchberger over Z/p, grevlex x1 > x2 > ... ----
u32 total(const Mono& m) { return std::accumulate(m.begin(), m.end(), 0u); }
struct Grevlex {  // larger monomial first
  bool operator()(const Mono& a, const Mono& b) const {
    if (total(a) != total(b)) return total(a) > total(b);
    for (size_t i = a.size(); i-- > 0;)
      if (a[i] != b[i]) return a[i] < b[i];
    return false;
  }
};
using RPol = std::map<Mono, u64, Grevlex>;

u64 inv(u64 a, u64 p) {
  u64 r = 1;
  for (u64 e = p - 2; e; e >>= 1, a = a * a % p)
    if (e & 1) r = r * a % p;
  return r;
}
bool divides(const Mono& d, const Mono& m) {
  for (size_t i = 0; i < d.size(); ++i)
    if (d[i] > m[i]) return false;
  return true;
}
// f += c * x^(m - lead(g)) * g
void axpy(RPol& f, const RPol& g, u64 c, const Mono& m, u64 p) {
  const Mono& l = g.begin()->first;
  for (auto& [e, v] : g) {
    Mono s = e;
    for (size_t i = 0; i < s.size(); ++i) s[i] += m[i] - l[i];
    if (const u64 x = (f[s] + c * v) % p) f[s] = x;
    else f.erase(s);
  }
}
// f fully reduced by G (monic elements), made monic.
RPol reduce(RPol f, const std::vector<RPol>& G, u64 p) {
  RPol r;
  while (!f.empty()) {
    auto [m, v] = *f.begin();
    auto g = std::find_if(G.begin(), G.end(), [&](const RPol& g) { return divides(g.begin()->first, m); });
    if (g != G.end()) axpy(f, *g, p - v, m, p);
    else r[m] = v, f.erase(f.begin());
  }
  if (!r.empty())
    for (u64 c = inv(r.begin()->second, p); auto& [m, v] : r) v = v * c % p;
  return r;
}
std::set<RPol> reduced_gb(std::vector<RPol> G, u64 p) {
  for (auto& g : G) g = reduce(g, {}, p);
  for (size_t j = 1; j < G.size(); ++j)
    for (size_t i = 0; i < j; ++i) {
      Mono l = G[i].begin()->first;
      for (size_t k = 0; k < l.size(); ++k) l[k] = std::max(l[k], G[j].begin()->first[k]);
      RPol s;
      axpy(s, G[i], 1, l, p);
      axpy(s, G[j], p - 1, l, p);
      if (RPol r = reduce(s, G, p); !r.empty()) G.push_back(r);
    }
  std::set<RPol> out;
  for (size_t i = 0; i < G.size(); ++i) {
    std::vector<RPol> others;
    bool redundant = false;
    for (size_t j = 0; j < G.size(); ++j) {
      if (j == i) continue;
      const bool same = G[j].begin()->first == G[i].begin()->first;
      redundant |= divides(G[j].begin()->first, G[i].begin()->first) && (!same || j < i);
      if (!same) others.push_back(G[j]);
    }
    if (!redundant) out.insert(reduce(G[i], others, p));
  }
  return out;
}

// ---- engine side ----
u64 residue(i64 c, u32 p) { return u64(((c % i64(p)) + i64(p)) % i64(p)); }

// The homogenised polynomial of these terms, coefficients reduced mod each prime.
Dpol make_poly(const std::vector<std::pair<Mono, i64>>& terms) {
  u32 D = 0;
  for (auto& t : terms) D = std::max(D, total(t.first));
  std::vector<std::pair<u64*, i64>> s;
  for (auto& [m, c] : terms) {
    u64* r = QUOR_NAME(new_Expos)();
    std::fill(r + 1, r + 1 + nb_of_blocks_of_variables, 0);
    for (u32 i = 0; i < m.size(); ++i) expos_set_slot(r + 1, i, m[i]);
    expos_set_slot(r + 1, nb_of_affine_variables, D - total(m));
    r[0] = hash_Expos(r + 1);
    s.push_back({r, c});
  }
  std::sort(s.begin(), s.end(), [](auto& a, auto& b) { return comp_Expos(a.first + 1, b.first + 1) > 0; });
  Dpol p = new_Dpol(u32(s.size()));
  for (u32 t = 0; t < s.size(); ++t) {
    p->monoms[t] = s[t].first;
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) p->coeffs[k][t] = Dom(residue(s[t].second, QUOR_NAME(Primes)[k]));
  }
  return p;
}

// Slot k of a result polynomial (h must be 0) as a reference polynomial.
RPol as_rpol(const sDpol* p, u32 k) {
  RPol r;
  for (u32 t = 0; t < p->nb_terms; ++t) {
    Mono m(nb_of_affine_variables);
    for (u32 i = 0; i < m.size(); ++i) m[i] = expos_slot(p->monoms[t] + 1, i);
    EXPECT_EQ(expos_slot(p->monoms[t] + 1, nb_of_affine_variables), 0u);
    r[m] = p->coeffs[k][t];
  }
  return r;
}

Sys cyclic(u32 n) {
  Sys sys(n);
  for (u32 d = 1; d < n; ++d)
    for (u32 i = 0; i < n; ++i) {
      Mono m(n, 0);
      for (u32 j = 0; j < d; ++j) m[(i + j) % n] = 1;
      sys[d - 1].push_back({m, 1});
    }
  sys[n - 1] = {{Mono(n, 1), 1}, {Mono(n, 0), -1}};
  return sys;
}
Sys katsura3() {
  return {{{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 2}, {{0, 0, 1, 0}, 2}, {{0, 0, 0, 1}, 2}, {{0, 0, 0, 0}, -1}},
          {{{2, 0, 0, 0}, 1}, {{0, 2, 0, 0}, 2}, {{0, 0, 2, 0}, 2}, {{0, 0, 0, 2}, 2}, {{1, 0, 0, 0}, -1}},
          {{{1, 1, 0, 0}, 2}, {{0, 1, 1, 0}, 2}, {{0, 0, 1, 1}, 2}, {{0, 1, 0, 0}, -1}},
          {{{0, 2, 0, 0}, 1}, {{1, 0, 1, 0}, 2}, {{0, 1, 0, 1}, 2}, {{0, 0, 1, 0}, -1}}};
}
}  // namespace

class QUOR_SUITE(MainLoop) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    zone_reset_memory(0);
    zone_init_tables();
    root_of_Crit = nullptr;
    gen_sym_Dpol = 0;
    Quor_verb_info = 0;
    saved_index_ = quor_max_index;
    quor_max_index = 20000;
    set_hash_prime();
#if QUOR_INT
    QUOR_NAME(enter_INT)();
    QUOR_NAME(vectorize) = QUOR_NAME(maxi_vectorize) = 2;
    offset_primes = 0;
    init_Dom();
    simul_write = 1;
    QUOR_NAME(reset_simulation)();
#else
    set_field_prime(65521);
#endif
    QUOR_NAME(ptr_Base_Exposants) = dynamic_Table_de_Recherche();
    clear_Table_de_Recherche(QUOR_NAME(ptr_Base_Exposants));
    saved_quiet_ = QUOR_NAME(want_quiet);
    QUOR_NAME(want_quiet) = QUOR_NAME(want_very_quiet) = 1;
    want_pipe2 = 0;
    layout(3);
  }
  void TearDown() override {
#if QUOR_INT
    QUOR_NAME(exit_INT)();
#endif
    QUOR_NAME(want_quiet) = saved_quiet_;
    QUOR_NAME(stop_immediately_semaphore) = 0;
    QUOR_NAME(want_very_quiet) = QUOR_NAME(want_ignore_cste) = 0;
    want_Lexico = want_eliminated = want_mingbasis = want_automatique = 0;
    want_pipe2 = want_mingbasis_strong = 1;
    Dlim = 1000000000;
    quor_max_index = saved_index_;
    set_hash_prime();
    root_of_Crit = nullptr;
    forget_relative_tables();
    zone_reset_memory(0);
    Host_kernel = nullptr;
  }
  void layout(u32 n, u32 first_block = 0) {
    var_second_block = first_block;
    set_Expos(n);
  }
  u32 run(const Sys& sys) {
    inputs_.clear();
    for (auto& f : sys) inputs_.push_back(make_poly(f));
    result_.assign(quor_max_index, nullptr);
    return gbasis(inputs_.data(), u32(inputs_.size()), result_.data(), &t_);
  }
  // The result is the reduced basis of sys, modulo every working prime.
  void expect_reduced_basis(const Sys& sys, u32 count) {
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) {
      const u32 p = QUOR_NAME(Primes)[k];
      std::vector<RPol> in;
      for (auto& f : sys) {
        RPol r;
        for (auto& [m, c] : f) r[m] = residue(c, p);
        in.push_back(r);
      }
      std::set<RPol> got;
      for (u32 i = 0; i < count; ++i) got.insert(as_rpol(result_[i], k));
      EXPECT_EQ(got, reduced_gb(in, p)) << "prime slot " << k;
      EXPECT_EQ(got.size(), count);
    }
  }
  quor::standin::Host host_;
  int saved_quiet_ = 0;
  u32 saved_index_ = 0;
  double t_ = -1;
  std::vector<Dpol> inputs_, result_;
};

// ---------------------------------------------------------------- selection

QTEST_F(MainLoop, SelectionGroupsByLcmTakesEachPolynomialOnceAndPutsTheLcmOneFirst) {
  // x*y, x*z, y*z: three pairs of lcm x*y*z -> one group, each polynomial once.
  Dpol f[4] = {make_poly({{{1, 1, 0}, 1}}), make_poly({{{1, 0, 1}, 1}}), make_poly({{{0, 1, 1}, 1}}),
               make_poly({{{1, 1, 1}, 1}, {{0, 0, 3}, 1}})};
  Crit pairs = nullptr;
  for (u32 i = 1; i < 3; ++i) pairs = updatD(trier_Crit(QUOR_NAME(generate_Crit)(f[i], f, i)), pairs);
  Dpol halves[8] = {};
  forget_relative_tables();
  ASSERT_EQ(select_pairs_of_degree(&pairs, 3, halves, 8), 3u);
  EXPECT_EQ(pairs, nullptr);
  for (u32 i = 0; i < 3; ++i) {
    EXPECT_EQ(halves[i], f[i]);  // by id
    EXPECT_EQ(get_relative_CBoolean(i), i == 0 ? 0 : 1);
    EXPECT_EQ(expos_slot(get_relative_Expos(i), 2 - i), 1u);  // z, y, x
  }
  // With x*y*z itself in the group, it comes first with multiplier 1.
  for (u32 i = 1; i < 4; ++i) pairs = updatD(trier_Crit(QUOR_NAME(generate_Crit)(f[i], f, i)), pairs);
  ASSERT_EQ(select_pairs_of_degree(&pairs, 3, halves, 8), 4u);
  EXPECT_EQ(halves[0], f[3]);
  EXPECT_EQ(get_relative_Expos(0), nullptr);
  EXPECT_EQ(get_relative_CBoolean(0), 0);
  // Halves beyond the room are refused, not written.
  for (u32 i = 1; i < 3; ++i) pairs = updatD(trier_Crit(QUOR_NAME(generate_Crit)(f[i], f, i)), pairs);
  EXPECT_NE(fatal_text([&] { select_pairs_of_degree(&pairs, 3, halves, 2); }).find("table of reductors"),
            std::string::npos);
}

QTEST_F(MainLoop, MinimalBasisKeepsTheLastOfEqualLeadsAndDropsMultiples) {
  layout(2);
  Dpol G[4] = {make_poly({{{1, 0}, 1}}), make_poly({{{2, 1}, 1}}), make_poly({{{0, 2}, 1}}),
               make_poly({{{1, 0}, 1}, {{0, 1}, 1}})};
  Dpol c = G[2], d = G[3];
  ASSERT_EQ(minimal_basis(G, 4), 2u);
  EXPECT_EQ(G[0], c);
  EXPECT_EQ(G[1], d);
  // A multiple standing after its divisor goes too.
  Dpol H[3] = {c, d, make_poly({{{3, 0}, 1}})};
  ASSERT_EQ(minimal_basis(H, 3), 2u);
  EXPECT_EQ(H[1], d);
}

// ---------------------------------------------------------------- whole bases

QTEST_F(MainLoop, Cyclic3IsTheKnownBasis) {
  ASSERT_EQ(run(cyclic(3)), 3u);
  EXPECT_GE(t_, 0.0);
  expect_reduced_basis(cyclic(3), 3);  // x+y+z, y^2+y*z+z^2, z^3-1
  std::set<u32> lead_degrees;
  for (u32 i = 0; i < 3; ++i) lead_degrees.insert(degree_Expos(lead_Expos(result_[i])));
  EXPECT_EQ(lead_degrees, (std::set<u32>{1, 2, 3}));
}

QTEST_F(MainLoop, Cyclic4AndKatsura3WithAndWithoutTheInterReductionStep) {
  layout(4);
  for (i32 inter : {0, 1}) {
    want_mingbasis = inter;
    EXPECT_EQ(run(cyclic(4)), 7u);
    expect_reduced_basis(cyclic(4), 7);
    const u32 k = run(katsura3());
    ASSERT_GT(k, 0u);
    expect_reduced_basis(katsura3(), k);
  }
}

#if !QUOR_INT
QTEST_F(MainLoop, SeveralThreadsGiveTheSameBasis) {
  layout(4);
  const i32 saved = nb_threads;
  nb_threads = 3;
  omp_set_num_threads(3);
  const u32 k = run(cyclic(4));
  nb_threads = saved;
  omp_set_num_threads(saved);
  EXPECT_EQ(k, 7u);
  expect_reduced_basis(cyclic(4), k);
}
#endif

QTEST_F(MainLoop, EliminationKeepsOnlyThePolynomialsFreeOfTheFirstBlock) {
  layout(3, 1);  // x | y, z: (x - y, y^2 - z) restricted to y^2 - z
  want_eliminated = 1;
  ASSERT_EQ(run({{{{1, 0, 0}, 1}, {{0, 1, 0}, -1}}, {{{0, 2, 0}, 1}, {{0, 0, 1}, -1}}}), 1u);
  for (u32 t = 0; t < result_[0]->nb_terms; ++t) EXPECT_EQ(expos_slot(result_[0]->monoms[t] + 1, 0), 0u);
}

// ---------------------------------------------------------------- end cases

QTEST_F(MainLoop, EmptyZeroAndConstantInputs) {
  t_ = 42.0;
  EXPECT_EQ(gbasis(nullptr, 0, nullptr, &t_), 0u);
  EXPECT_EQ(t_, 42.0);  // untouched
  // Zero polynomials (no term) are left out; only zeros: the empty basis.
  Dpol zeros[2] = {new_Dpol(0), new_Dpol(0)};
  Dpol res[4] = {};
  EXPECT_EQ(gbasis(zeros, 2, res, &t_), 0u);
  inputs_ = {new_Dpol(0), make_poly({{{1, 0, 0}, 1}}), new_Dpol(0), make_poly({{{0, 1, 0}, 1}})};
  EXPECT_EQ(gbasis(inputs_.data(), 4, res, &t_), 2u);
  // A single constant is the basis, made monic.
  ASSERT_EQ(run({{{{0, 0, 0}, 5}}}), 1u);
  for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) EXPECT_EQ(result_[0]->coeffs[s][0], Dom(1));
}

QTEST_F(MainLoop, AConstantFoundByAStepEndsTheComputation) {
  // x*y - h^2 and x: the degree-2 step finds h^2, which the division by powers
  // of h (switched on here) makes the constant 1.
  const Sys sys = {{{{1, 1, 0}, 1}, {{0, 0, 0}, -1}}, {{{1, 0, 0}, 1}}};
  Quor_verb_info = 4;
  want_automatique = 1;
  ASSERT_EQ(run(sys), 1u);
  EXPECT_EQ(degree_Expos(lead_Expos(result_[0])), 0u);
  EXPECT_NE(host_.output().find("#C Dimension: -1, Degree: -1"), std::string::npos);
  // With the switch the basis so far comes back with the constant behind it.
  QUOR_NAME(want_ignore_cste) = want_automatique = 1;
  const u32 k = run(sys);
  ASSERT_GE(k, 2u);
  EXPECT_EQ(degree_Expos(lead_Expos(result_[k - 1])), 0u);
}

QTEST_F(MainLoop, DegreeLimitLeavesTheMinimalBasisOfTheInputs) {
  Dlim = 2;  // leads x^2, y^3, x^2*y: pairs of degree 3 and 5 only
  ASSERT_EQ(run({{{{2, 0, 0}, 1}, {{0, 1, 1}, 1}}, {{{0, 3, 0}, 1}, {{0, 0, 3}, 1}}, {{{2, 1, 0}, 1}}}), 2u);
  EXPECT_EQ(degree_Expos(lead_Expos(result_[0])) + degree_Expos(lead_Expos(result_[1])), 5u);
}

QTEST_F(MainLoop, TriangularCheckRefusesAWrongSizeButNotAStop) {
  layout(4);
  want_Lexico = 1;
  EXPECT_NE(fatal_text([&] { run(cyclic(4)); }).find("This is not a triangular system !"), std::string::npos);
  // Stopped: the call reports the stop (0 polynomials), not the check.
  QUOR_NAME(stop_immediately_semaphore) = 1;
  u32 k = 99;
  EXPECT_EQ(fatal_text([&] { k = run(cyclic(4)); }), "");
  EXPECT_EQ(k, 0u);
}

QTEST_F(MainLoop, AnInterruptInTheLastStepLeavesNoStepSwitchSet) {
  layout(4);
  host_.set_version(12);  // the host is asked, and its interrupt unwinds
  HostVersion_forget();
  // Count the polls of a whole run, then interrupt at the last poll inside the
  // final step (two polls follow it: after the inter-reduction and at the end).
  interrupt_counter = 1;
  ASSERT_EQ(run(cyclic(4)), 7u);
  const u32 polls = interrupt_counter - 1;
  ASSERT_GT(polls, 3u);
  interrupt_counter = 4096 - (polls - 2);
  host_.interrupt_after_polls(1);
  EXPECT_NE(fatal_text([&] { run(cyclic(4)); }), "");
  EXPECT_EQ(host_.interrupts_delivered(), 1);
  EXPECT_EQ(use_strong_order, 0);
#if QUOR_INT
  EXPECT_EQ(QUOR_NAME(want_ignore_simulin), 0);
#endif
  host_.interrupt_after_polls(0);
  HostVersion_forget();
}

QTEST_F(MainLoop, HilbertCallIsRecordedAndThenRefused) {
  HostDpol none[2] = {nullptr, nullptr};
  const i32 saved = libmode_record;
  QUOR_NAME(record)("close");
  libmode_record = 1;
  const std::string err = fatal_text([&] { QUOR_NAME(hilbert)(none, 3, none, 1, 0, &t_, 0, 8, 7); });
  libmode_record = saved;
  EXPECT_NE(err.find("not available in this version"), std::string::npos);
  const std::string path = record_file_name();
  QUOR_NAME(record)("close");
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  std::remove(path.c_str());
  EXPECT_NE(text.str().find("nb=QUOR(hilbert)(base,3,resultat,1,0,&t0,bk0,pas0,7);\n    if (want_display)"),
            std::string::npos);
  EXPECT_NE(text.str().find("  }\n  global_nb=0;\n"), std::string::npos);
}

QUOR_TEST_END
