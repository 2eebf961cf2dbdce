// The public calls of each build behind one face, for tests that drive whole
// requests (and compare the builds): open a request, make polynomials from
// term lists, compute, read results back exactly or modulo kP.
#ifndef QUOR_TESTS_SUPPORT_PUBLIC_API_H
#define QUOR_TESTS_SUPPORT_PUBLIC_API_H
#include <gmp.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/call_quor.h"
#include "host/standin/system_file.h"
#include "tests/support/reference_gb.h"

namespace quor_test {
using quor::i32;
using quor::i64;
using quor::u32;
using quor::u64;
using refgb::Mono;

constexpr u64 kP = 65521;
using Residues = std::vector<std::pair<Mono, u64>>;  // terms of a result modulo kP
using IntPoly = refgb::Pol<std::string>;             // exact decimal coefficients

inline std::string decimal(i64 c) { return std::to_string(c); }
inline std::string decimal(const quor::standin::Big& c) { return c.text(); }
inline u64 residue(const std::string& c) {
  mpz_t z;
  mpz_init_set_str(z, c.c_str(), 10);
  const u64 r = mpz_fdiv_ui(z, kP);
  mpz_clear(z);
  return r;
}

struct IntApi {
  using Poly = QUOR_CQ_INPOLY;
  static void open(u32 first, u32 second, char** names) {
    Quor_int_reset_memory();
    Quor_int_init_urgent(4, 2, "DRLDRL", 100000, 0);
    Quor_int_init(1, 1, 0, nullptr);
    Quor_int_internal_threads(1);
    Quor_int_reset_coeffs(1);
    Quor_int_reset_expos(first, second, names);
  }
  // Terms with exponents t.e and integer coefficients t.c, any order.
  template <class Terms>
  static Poly make(const Terms& terms) {
    Poly p = Quor_int_creat_poly(u32(terms.size()));
    for (u32 i = 0; i < terms.size(); ++i) {
      std::vector<I32> e(terms[i].e.begin(), terms[i].e.end());
      Quor_int_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_int_set_coeff_gmp_str(p, i, decimal(terms[i].c).c_str());
    }
    Quor_int_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_int_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  static IntPoly exact(Poly p, u32 nvars) {
    const u32 nt = Quor_int_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1);
    mpz_ptr* z = Quor_int_export_poly_INT_gmp(nvars, nt, exps.data(), p);
    IntPoly f;
    for (u32 t = 0; t < nt; ++t) {
      std::string s(mpz_sizeinbase(z[t], 10) + 2, '\0');
      f[Mono(exps.begin() + t * nvars, exps.begin() + (t + 1) * nvars)] = mpz_get_str(s.data(), 10, z[t]);
    }
    return f;
  }
  static Residues residues(Poly p, u32 nvars) {
    Residues r;
    for (auto& [m, c] : exact(p, nvars)) r.push_back({m, residue(c)});
    return r;
  }
};

struct GfApi {
  using Poly = QUOR_CQ_GFPOLY;
  static void open(u32 first, u32 second, char** names) {
    Quor_reset_memory();
    Quor_init_urgent(2, 2, "DRLDRL", 100000, 0);
    Quor_init(1, 1, 0, nullptr);
    Quor_internal_threads(1);
    const UI32 pr[] = {UI32(kP)};
    Quor_reset_coeffs(1, pr);
    Quor_reset_expos(first, second, names);
  }
  template <class Terms>
  static Poly make(const Terms& terms) {
    Poly p = Quor_creat_poly(u32(terms.size()));
    for (u32 i = 0; i < terms.size(); ++i) {
      std::vector<I32> e(terms[i].e.begin(), terms[i].e.end());
      Quor_set_expos2(p, i, e.data(), u32(e.size()));
      Quor_set_coeff_I32(p, i, I32(residue(decimal(terms[i].c))));
    }
    Quor_full_sort_poly2(p);
    return p;
  }
  static UI32 groebner(Poly* in, u32 n, Poly* out, sQUOR_Comp_Desc* d) {
    double t = 0;
    return Quor_groebner(in, n, out, 1, 0, &t, 0, -1, 0, d);
  }
  static Residues residues(Poly p, u32 nvars) {
    const u32 nt = Quor_nb_terms(p);
    std::vector<UI32> exps(size_t(nt) * nvars + 1), c(nt + 1);
    Quor_export_poly(nvars, nt, exps.data(), c.data(), p);
    Residues r;
    for (u32 t = 0; t < nt; ++t) r.push_back({Mono(exps.begin() + t * nvars, exps.begin() + (t + 1) * nvars), c[t] % kP});
    return r;
  }
};

#if QUOR_INT
using Api = IntApi;  // the calls of the build this file is compiled for
#else
using Api = GfApi;
#endif

// One request of `code` on the polynomials sys (names: one per variable, the
// first `first_block` in block 1; nb: _nb and _nb2, bk2: _bk2); the results.
template <class Api, class Sys>
std::vector<typename Api::Poly> request(const Sys& sys, char** names, u32 nvars, i32 code, u32 first_block = 0,
                                        i32 nb = 0, i32 bk2 = 0) {
  Api::open(first_block, nvars - first_block, names);
  std::vector<typename Api::Poly> in;
  for (auto& f : sys) in.push_back(Api::make(f));
  std::vector<typename Api::Poly> out(100001, nullptr);
  sQUOR_Comp_Desc d{};
  d._compute = code;
  d._aggressive2 = d._dlim = d._skip = -1;
  d._nb = d._nb2 = nb;
  d._bk2 = bk2;
  out.resize(Api::groebner(in.data(), u32(in.size()), out.data(), &d));
  return out;
}

struct MinpolyOnly {  // MINPOLY in the environment for one scope
  MinpolyOnly() { setenv("MINPOLY", "1", 1); }
  ~MinpolyOnly() { unsetenv("MINPOLY"); }
};
}  // namespace quor_test
#endif
