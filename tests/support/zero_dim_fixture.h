// Fixture of the zero-dimensional and main-loop tests, for both builds: two
// working primes (integer build) or p = 65521, polynomials from term lists
// (hand-made with h = 0, or reduced bases through the main loop) and their
// reference images modulo one prime slot. Builds on request_fixture.h
// (CoreTest, mono, layout, fatal_text) and reference_gb.h.
#pragma once
#include "core/quor_build.h"

#include <algorithm>
#include <vector>

#include "core/reltable.h"
#include "engine/elim.h"
#include "engine/mainloop.h"
#include "tests/support/reference_gb.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

using Mono = refgb::Mono;
using Terms = std::vector<std::pair<Mono, i64>>;
using Sys = std::vector<Terms>;
using RPol = refgb::Pol<u64>;
using refgb::deg;
inline Mono mono_of(const u64* e) {
  Mono m(nb_of_affine_variables);
  for (u32 i = 0; i < m.size(); ++i) m[i] = expos_slot(e, i);
  return m;
}
inline u64 residue(i64 c, u64 p) { return u64((c % i64(p) + i64(p)) % i64(p)); }

// CoreTest with two working primes, the relative tables, a quiet main loop.
class QUOR_SUITE(ZeroDim) : public CoreTest {
 protected:
  void SetUp() override {
    saved_index_ = quor_max_index;
    quor_max_index = 20000;
    set_hash_prime();
    slots_ = 2;
    CoreTest::SetUp();
#if QUOR_INT
    simul_write = 1;
    QUOR_NAME(reset_simulation)();
#endif
    QUOR_NAME(ptr_Base_Exposants) = dynamic_Table_de_Recherche();
    clear_Table_de_Recherche(QUOR_NAME(ptr_Base_Exposants));
    QUOR_NAME(want_very_quiet) = 1;
    want_pipe2 = 0;
  }
  void TearDown() override {
    QUOR_NAME(want_very_quiet) = 0;
    want_pipe2 = 1;
    quor_max_index = saved_index_;
    set_hash_prime();
    forget_relative_tables();
    CoreTest::TearDown();
  }
  u32 V() const { return QUOR_NAME(vectorize); }
  u32 prime(u32 k) const { return QUOR_NAME(Primes)[k]; }

  // Terms in decreasing order, homogenised when h, coefficients mod every prime.
  Dpol poly(const Terms& terms, bool h = false) {
    u32 D = 0;
    for (auto& t : terms) D = std::max(D, deg(t.first));
    std::vector<std::pair<u64*, i64>> s;
    for (auto& [m, c] : terms) {
      Mono e = m;
      if (h) e.push_back(D - deg(m));
      s.push_back({mono(e), c});
    }
    std::sort(s.begin(), s.end(), [](auto& a, auto& b) { return comp5_Expos(a.first + 1, b.first + 1) > 0; });
    Dpol p = new_Dpol(u32(s.size()));
    for (u32 t = 0; t < s.size(); ++t) {
      p->monoms[t] = s[t].first;
      for (u32 k = 0; k < V(); ++k) p->coeffs[k][t] = Dom(residue(s[t].second, prime(k)));
    }
    return p;
  }
  std::vector<Dpol> hand(const Sys& sys) {
    std::vector<Dpol> G;
    for (auto& f : sys) G.push_back(poly(f));
    return G;
  }
  // Reduced basis through the main loop.
  std::vector<Dpol> basis(const Sys& sys) {
    std::vector<Dpol> in, out(quor_max_index, nullptr);
    for (auto& f : sys) in.push_back(poly(f, true));
    double t = 0;
    out.resize(gbasis(in.data(), u32(in.size()), out.data(), &t));
    return out;
  }
  // Prime slot k of an affine polynomial (h = 0).
  static RPol as_rpol(const sDpol* p, u32 k) {
    RPol r;
    for (u32 t = 0; t < p->nb_terms; ++t) {
      EXPECT_EQ(expos_slot(p->monoms[t] + 1, nb_of_affine_variables), 0u);
      if (p->coeffs[k][t]) r[mono_of(p->monoms[t] + 1)] = p->coeffs[k][t];
    }
    return r;
  }
  // Slot k of sys, reduced mod the prime.
  std::vector<RPol> as_rpols(const Sys& sys, u32 k) const {
    std::vector<RPol> in;
    for (auto& f : sys) {
      RPol& r = in.emplace_back();
      for (auto& [m, c] : f)
        if (u64 x = residue(c, prime(k))) r[m] = x;
    }
    return in;
  }
  // Normal form of f modulo the monic basis G, prime slot k.
  RPol normal_form(const RPol& f, const std::vector<Dpol>& G, u32 k) const {
    std::vector<RPol> g;
    for (const sDpol* q : G) g.push_back(as_rpol(q, k));
    return refgb::reduce(refgb::Zp{prime(k)}, f, g, false);
  }

  u32 saved_index_ = 0;
};

QUOR_TEST_END
