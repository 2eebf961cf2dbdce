// Reduced bases computed through the stand-in host, held against the
// reference answers: <name>.txt (the system), <name>.qq.gb.txt and
// <name>.gf65521.gb.txt (one canonical polynomial a line), and for a
// two-block system <name>.{qq,gf65521}.elim.txt (the polynomials free of the
// first block).
#ifndef QUOR_TESTS_SUPPORT_REFERENCE_BASIS_H
#define QUOR_TESTS_SUPPORT_REFERENCE_BASIS_H

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "host/standin/host_session.h"

namespace quor::reftest {

using standin::Host;
using standin::Poly;
using standin::RequestEnd;
using standin::RequestOptions;
using standin::System;

constexpr long kPrime = 65521;

// Lines of a reference file, sorted (empty when it cannot be read).
inline std::vector<std::string> reference_lines(const std::string& path) {
  std::vector<std::string> v;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) {
    while (!l.empty() && (l.back() == '\r' || l.back() == ' ')) l.pop_back();
    if (!l.empty()) v.push_back(l);
  }
  std::sort(v.begin(), v.end());
  return v;
}

// Canonical lines of a basis, sorted.
inline std::vector<std::string> lines(const std::vector<Poly>& basis, const System& s) {
  std::vector<std::string> v;
  for (const Poly& p : basis) v.push_back(standin::poly_text(p, s.vars));
  std::sort(v.begin(), v.end());
  return v;
}

// a == b, or the sizes and the first line that differs (bases can be megabytes of text).
inline ::testing::AssertionResult same_lines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a == b) return ::testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  auto at = [&](const std::vector<std::string>& v) { return i < v.size() ? v[i].substr(0, 200) : "(end)"; };
  return ::testing::AssertionFailure() << a.size() << " lines against " << b.size() << "; first difference:\n  "
                                       << at(a) << "\n  " << at(b);
}

// The polynomials free of the first block's variables.
inline std::vector<Poly> eliminated(const std::vector<Poly>& basis, int first_block) {
  std::vector<Poly> out;
  for (const Poly& p : basis) {
    bool free = true;
    for (const standin::Term& t : p)
      for (int j = 0; j < first_block; ++j) free = free && t.e[std::size_t(j)] == 0;
    if (free) out.push_back(p);
  }
  return out;
}

// Each polynomial reduced modulo p and made monic (zero terms dropped, the order kept).
inline std::vector<Poly> monic_image(const std::vector<Poly>& basis, long p) {
  std::vector<Poly> out;
  standin::Big m(p), inv;
  for (const Poly& q : basis) {
    Poly r;
    for (const standin::Term& t : q) {
      standin::Term u;
      u.e = t.e;
      mpz_fdiv_r(u.c.get(), t.c.get(), m.get());
      if (mpz_sgn(u.c.get()) != 0) r.push_back(u);
    }
    if (!r.empty() && mpz_invert(inv.get(), r.front().c.get(), m.get()) != 0)
      for (standin::Term& u : r) {
        mpz_mul(u.c.get(), u.c.get(), inv.get());
        mpz_fdiv_r(u.c.get(), u.c.get(), m.get());
      }
    out.push_back(r);
  }
  return out;
}

// The basis of one request; fails the test (empty result) when the request does not end normally.
inline std::vector<Poly> basis_of(Host& h, const System& s, const RequestOptions& o) {
  try {
    standin::RequestResult r = standin::run_request(h, s, o);
    EXPECT_EQ(int(r.end), int(RequestEnd::done)) << s.name;
    EXPECT_TRUE(h.violations().empty()) << h.violations().front();
    return std::move(r.basis);
  } catch (const standin::RequestError& e) {
    ADD_FAILURE() << s.name << ": " << e.what();
    return {};
  }
}

// Both builds against the references in refs/ of the system in dir/<name>.txt.
inline void check_against_references(const std::string& dir, const std::string& refs, const std::string& name) {
  SCOPED_TRACE(name);
  const System s = standin::read_system(dir + "/" + name + ".txt");
  Host h;
  RequestOptions gf_opts;
  gf_opts.prime = kPrime;
  const std::vector<Poly> zz = basis_of(h, s, RequestOptions{});
  const std::vector<Poly> gf = basis_of(h, s, gf_opts);
  const std::string base = refs + "/" + name;
  const std::vector<std::string> ref_qq = reference_lines(base + ".qq.gb.txt");
  const std::vector<std::string> ref_gf = reference_lines(base + ".gf65521.gb.txt");
  ASSERT_FALSE(ref_qq.empty() || ref_gf.empty()) << "no reference for " << name;
  EXPECT_TRUE(same_lines(lines(zz, s), ref_qq)) << "integers";
  EXPECT_TRUE(same_lines(lines(gf, s), ref_gf)) << "modulo p";
  EXPECT_TRUE(same_lines(lines(monic_image(zz, kPrime), s), lines(gf, s))) << "the integer basis modulo p";
  if (s.blocks > 0) {
    EXPECT_TRUE(same_lines(lines(eliminated(zz, s.blocks), s), reference_lines(base + ".qq.elim.txt")));
    EXPECT_TRUE(same_lines(lines(eliminated(gf, s.blocks), s), reference_lines(base + ".gf65521.elim.txt")));
  }
}

}  // namespace quor::reftest

#endif  // QUOR_TESTS_SUPPORT_REFERENCE_BASIS_H
