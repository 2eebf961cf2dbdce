// Fixture of the zero-dimensional tests, for both builds: a request with two
// working primes (integer build) or p = 65521, polynomials from term lists
// (hand-made with h = 0, or reduced bases through the main loop) and a naive
// normal form modulo one prime slot.
#include "core/quor_build.h"
#if QUOR_INT
#ifndef QUOR_GUARD_TESTS_ZERO_DIM_FIXTURE_H_INT
#define QUOR_GUARD_TESTS_ZERO_DIM_FIXTURE_H_INT
#define QUOR_HDR_OPEN
#endif
#else
#ifndef QUOR_GUARD_TESTS_ZERO_DIM_FIXTURE_H_GF
#define QUOR_GUARD_TESTS_ZERO_DIM_FIXTURE_H_GF
#define QUOR_HDR_OPEN
#endif
#endif
#ifdef QUOR_HDR_OPEN
#undef QUOR_HDR_OPEN

#include <algorithm>
#include <cstring>
#include <exception>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "api/request.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/reltable.h"
#include "core/zone.h"
#include "engine/elim.h"
#include "engine/mainloop.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"

QUOR_TEST_BEGIN

using Mono = std::vector<u32>;  // exponents of the affine variables
using Terms = std::vector<std::pair<Mono, i64>>;
using Sys = std::vector<Terms>;
inline u32 deg(const Mono& m) { return std::accumulate(m.begin(), m.end(), 0u); }
struct Grevlex {  // x1 > x2 > ..., larger first
  bool operator()(const Mono& a, const Mono& b) const {
    if (deg(a) != deg(b)) return deg(a) > deg(b);
    for (size_t i = a.size(); i-- > 0;)
      if (a[i] != b[i]) return a[i] < b[i];
    return false;
  }
};
using RPol = std::map<Mono, u64, Grevlex>;

template <class F>
std::string fatal_text(F f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}
inline Mono mono_of(const u64* e) {
  Mono m(nb_of_affine_variables);
  for (u32 i = 0; i < m.size(); ++i) m[i] = expos_slot(e, i);
  return m;
}

class QUOR_SUITE(ZeroDim) : public ::testing::Test {
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
    QUOR_NAME(want_quiet) = QUOR_NAME(want_very_quiet) = 1;
    want_pipe2 = 0;
    layout(3);
  }
  void TearDown() override {
#if QUOR_INT
    QUOR_NAME(exit_INT)();
#endif
    QUOR_NAME(want_very_quiet) = 0;
    want_pipe2 = 1;
    quor_max_index = saved_index_;
    set_hash_prime();
    root_of_Crit = nullptr;
    forget_relative_tables();
    zone_reset_memory(0);
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  void layout(u32 n) {
    var_second_block = 0;
    set_Expos(n);
  }
  u32 V() const { return QUOR_NAME(vectorize); }
  u32 prime(u32 k) const { return QUOR_NAME(Primes)[k]; }

  // Terms in decreasing order, homogenised when h, coefficients mod every prime.
  Dpol poly(const Terms& terms, bool h = false) {
    u32 D = 0;
    for (auto& t : terms) D = std::max(D, deg(t.first));
    std::vector<std::pair<u64*, i64>> s;
    for (auto& [m, c] : terms) {
      u64* r = QUOR_NAME(new_Expos)();
      std::fill(r + 1, r + 1 + nb_of_blocks_of_variables, 0);
      for (u32 i = 0; i < m.size(); ++i) expos_set_slot(r + 1, i, m[i]);
      if (h) expos_set_slot(r + 1, nb_of_affine_variables, D - deg(m));
      r[0] = hash_Expos(r + 1);
      s.push_back({r, c});
    }
    std::sort(s.begin(), s.end(), [](auto& a, auto& b) { return comp5_Expos(a.first + 1, b.first + 1) > 0; });
    Dpol p = new_Dpol(u32(s.size()));
    for (u32 t = 0; t < s.size(); ++t) {
      p->monoms[t] = s[t].first;
      for (u32 k = 0; k < V(); ++k) p->coeffs[k][t] = Dom((s[t].second % i64(prime(k)) + prime(k)) % prime(k));
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
  static RPol as_rpol(const sDpol* p, u32 k) {
    RPol r;
    for (u32 t = 0; t < p->nb_terms; ++t)
      if (p->coeffs[k][t]) r[mono_of(p->monoms[t] + 1)] = p->coeffs[k][t];
    return r;
  }
  // Normal form of f modulo the monic basis G, prime slot k.
  RPol normal_form(RPol f, const std::vector<Dpol>& G, u32 k) {
    const u64 p = prime(k);
    RPol r;
    while (!f.empty()) {
      auto [m, v] = *f.begin();
      auto g = std::find_if(G.begin(), G.end(), [&](const sDpol* g) {
        const Mono l = mono_of(lead_Expos(g));
        for (size_t i = 0; i < l.size(); ++i)
          if (l[i] > m[i]) return false;
        return true;
      });
      if (g == G.end()) {
        r[m] = v;
        f.erase(f.begin());
        continue;
      }
      const Mono l = mono_of(lead_Expos(*g));
      for (u32 t = 0; t < (*g)->nb_terms; ++t) {
        Mono s = mono_of((*g)->monoms[t] + 1);
        for (size_t i = 0; i < s.size(); ++i) s[i] += m[i] - l[i];
        if (const u64 x = (f[s] + (p - v) * (*g)->coeffs[k][t]) % p) f[s] = x;
        else f.erase(s);
      }
    }
    return r;
  }

  quor::standin::Host host_;
  u32 saved_index_ = 0;
};

QUOR_TEST_END
#endif
