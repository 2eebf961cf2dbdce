// Hilbert-series and normal-form requests on small fuzzed systems, made
// through the host entry points as a host makes them: the Hilbert series in
// both builds (of the inputs as they are, or of their basis), and the
// integer build's normal forms and recomputed basis, by a basis the same
// host computed first or by the inputs as they are.  Besides a crash, a
// sanitizer report or a broken host rule, a fault is an answer that is not
// one: a Hilbert series of the wrong shape or whose dimension is out of
// range, a normal form with a term a leading monomial of the basis divides,
// a recomputed basis other than the basis of all the inputs.  A refusal is
// an answer; long computations are cut by an interrupt.
#include <gmp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/standin/host_session.h"
#include "tests/fuzz/fuzz_host.h"

namespace {

using quor::standin::Big;
using quor::standin::Host;
using quor::standin::Poly;
using quor::standin::RequestEnd;
using quor::standin::RequestError;
using quor::standin::RequestOptions;
using quor::standin::RequestResult;
using quor::standin::System;

// Host polls (each one 4096 of the library's) before the interrupt.
constexpr long kPolls = 4;
// A small monomial table: the default one takes most of an input's time.
constexpr std::int32_t kTable = 8192;

[[noreturn]] void fault(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "fault: %s %s\n", what, detail.c_str());
  std::abort();
}

Big coefficient(quor_fuzz::Bytes& in) {
  const std::uint8_t k = in.u8();
  Big c(long(k % 21) - 10);
  if (k >= 200) mpz_set_ui(c.get(), in.u32());
  if (k >= 240) mpz_mul_2exp(c.get(), c.get(), 32 + in.u8() % 100);
  if (k >= 200 && (in.u8() & 1)) mpz_neg(c.get(), c.get());
  return c;
}

System fuzzed_system(quor_fuzz::Bytes& in, std::size_t n, int blocks) {
  System s;
  for (std::size_t v = 0; v < n; ++v) s.vars.push_back("x" + std::to_string(v + 1));
  s.blocks = blocks;
  const unsigned np = 1 + in.u8() % 4;
  for (unsigned i = 0; i < np; ++i) {
    Poly p(1 + in.u8() % 4);
    for (auto& t : p) {
      t.c = coefficient(in);
      t.e.assign(n, 0);
      for (std::size_t v = 0; v < n; ++v) {
        const std::uint8_t k = in.u8();
        t.e[v] = k < 240 ? k % 3 : k % 24;
      }
    }
    s.polys.push_back(std::move(p));
  }
  return s;
}

bool divides(const quor::standin::Exponents& a, const quor::standin::Exponents& b) {
  for (std::size_t v = 0; v < a.size(); ++v)
    if (a[v] > b[v]) return false;
  return true;
}

bool constant(const Poly& p) {
  return p.size() == 1 && std::all_of(p[0].e.begin(), p[0].e.end(), [](std::int32_t e) { return e == 0; });
}

std::string text(const Poly& p) {
  std::string s;
  for (const auto& t : p) {
    s += " " + t.c.text() + "*[";
    for (std::int32_t e : t.e) s += std::to_string(e) + ",";
    s += "]";
  }
  return s;
}

// The request, or nothing when it was refused or interrupted.
template <class F>
bool attempt(const F& f) {
  try {
    return f();
  } catch (const RequestError&) {
    return false;
  }
}

RequestOptions options(long prime, const char* strategy, std::int32_t nb = 0) {
  RequestOptions o;
  o.prime = prime;
  o.strategy = strategy;
  o.nb = nb;
  o.extra = {0, kTable};
  return o;
}

// The basis of s (integer build), or false.
bool basis_of(Host& h, const System& s, std::vector<Poly>& out) {
  return attempt([&] {
    RequestResult r = quor::standin::run_request(h, s, options(0, "QUOR_COMPUTE_GBASIS"));
    if (r.end != RequestEnd::done) return false;
    out = std::move(r.basis);
    return true;
  });
}

// The Hilbert series of s (of its basis first when `basis`), in the build of
// `prime`: two results, h(t) in the first variable alone and the constant
// dim + 2, with -1 <= dim <= n; h = 0 exactly for the whole ring.
void hilbert(Host& h, const System& s, long prime, bool basis) {
  const std::size_t n = s.vars.size();
  std::vector<Poly> res;
  std::vector<Poly> gb;
  const bool done = attempt([&] {
    const RequestOptions o = options(prime, "QUOR_COMPUTE_GBASIS");
    quor::standin::open_request(h, s, o);
    if (basis) {
      RequestResult b = quor::standin::compute_request(h, s, o);
      if (b.end != RequestEnd::done) return false;
      gb = std::move(b.basis);
    }
    RequestResult r = quor::standin::hilbert_request(h, s, o);
    if (r.end != RequestEnd::done) return false;
    res = std::move(r.basis);
    return true;
  });
  if (!done) return;
  if (res.size() != 2) fault("hilbert: results", std::to_string(res.size()));
  for (const auto& t : res[0])
    for (std::size_t v = 1; v < n; ++v)
      if (t.e[v] != 0) fault("hilbert: h(t) not in the first variable", text(res[0]));
  // Modulo a prime at most n + 2 the constant is ambiguous, and may vanish
  // (the zero polynomial, without terms).
  const bool ambiguous = prime != 0 && prime <= long(n) + 2;
  if (!constant(res[1]) && !(ambiguous && res[1].empty())) fault("hilbert: dim + 2 not a constant", text(res[1]));
  if (ambiguous) return;
  const long dim = mpz_get_si(res[1][0].c.get()) - 2;
  if (dim < -1 || dim > long(n)) fault("hilbert: dim", std::to_string(dim));
  if ((dim == -1) != res[0].empty()) fault("hilbert: h and dim disagree", std::to_string(dim) + text(res[0]));
  // Of a basis: dim = -1 exactly for the basis 1.
  if (basis && (dim == -1) != (gb.size() == 1 && constant(gb[0])))
    fault("hilbert: the whole ring", std::to_string(dim));
  if (prime == 0 && dim >= 0) {
    mpz_t at1;
    mpz_init(at1);
    for (const auto& t : res[0]) mpz_add(at1, at1, t.c.get());
    const bool positive = mpz_sgn(at1) > 0;
    mpz_clear(at1);
    if (!positive) fault("hilbert: h(1) <= 0", text(res[0]));
  }
}

// s for one block: the normal forms are those of the degree reverse
// lexicographic order, whatever blocks the request has.
System one_block(System s) {
  s.blocks = 0;
  return s;
}

// Normal forms (integer build) of the first nb polynomials by the rest: the
// basis of `rest` when `by_basis`, else rest as it is.
void normal_forms(Host& h, const System& first, const System& rest, bool by_basis, bool recompute) {
  System s = first;
  std::vector<Poly> gb;
  if (by_basis) {
    if (!basis_of(h, one_block(rest), gb)) return;
    for (const Poly& g : gb) s.polys.push_back(g);
  } else {
    for (const Poly& g : rest.polys) s.polys.push_back(g);
  }
  const std::int32_t nb = std::int32_t(first.polys.size());
  std::vector<Poly> res;
  const char* strategy = recompute ? "QUOR_COMPUTE_GBASIS_NF_RECOMPUTE" : "QUOR_COMPUTE_GBASIS_NF";
  const bool done = attempt([&] {
    RequestResult r = quor::standin::run_request(h, s, options(0, strategy, nb));
    if (r.end != RequestEnd::done) return false;
    res = std::move(r.basis);
    return true;
  });
  if (!done) return;
  if (recompute) {
    // The basis of the inputs and the normal forms is the basis of all the inputs.
    System all = first;
    for (const Poly& g : rest.polys) all.polys.push_back(g);
    std::vector<Poly> want;
    if (!basis_of(h, one_block(all), want)) return;
    auto key = [](const std::vector<Poly>& B) {
      std::vector<std::string> k;
      for (const Poly& p : B) k.push_back(text(p));
      std::sort(k.begin(), k.end());
      return k;
    };
    if (key(res) != key(want)) fault("recompute: not the basis of the inputs", std::to_string(res.size()));
    return;
  }
  if (res.size() != 2 * first.polys.size()) fault("normal forms: results", std::to_string(res.size()));
  for (std::size_t i = 0; i < res.size(); i += 2) {
    if (!constant(res[i]) || mpz_sgn(res[i][0].c.get()) <= 0) fault("normal forms: multiplier", text(res[i]));
    if (!by_basis) continue;
    for (const auto& t : res[i + 1])
      for (const Poly& g : gb)
        if (!g.empty() && divides(g[0].e, t.e)) fault("normal forms: a reducible term", text(res[i + 1]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Host& h = quor_fuzz::fresh_host();
  quor_fuzz::Bytes in(data, size);
  h.interrupt_after_polls(kPolls);
  const std::uint8_t mode = in.u8();
  const std::size_t n = 1 + in.u8() % 4;
  const std::uint8_t b = in.u8();
  // Two blocks now and then (the Hilbert series takes them; the normal forms ignore them).
  const int blocks = b >= 224 ? int(1 + b % n) : 0;
  static const long kPrimes[] = {65521, 32003, 7, 3, 2, 65519};
  const long prime = kPrimes[in.u8() % 6];
  const int kind = (mode & 0x0F) % 5;
  switch (kind) {
    case 0:
    case 1: {
      const System s = fuzzed_system(in, n, blocks);
      hilbert(h, s, kind == 0 ? 0 : prime, mode & 0x80);
      break;
    }
    default: {
      const System first = fuzzed_system(in, n, blocks);
      const System rest = fuzzed_system(in, n, blocks);
      if (mode & 0x40) {
        // The prime-field build has no normal forms: a refusal, whatever the system.
        System s = first;
        for (const Poly& g : rest.polys) s.polys.push_back(g);
        const std::int32_t nb = std::int32_t(first.polys.size());
        if (attempt([&] {
              return quor::standin::run_request(h, s, options(prime, "QUOR_COMPUTE_GBASIS_NF", nb)).end ==
                     RequestEnd::done;
            }))
          fault("normal forms modulo a prime: not refused");
        break;
      }
      normal_forms(h, first, rest, mode & 0x80, kind == 4);
      break;
    }
  }
  quor_fuzz::check_host();
  h.clear_output();
  h.clear_user_info();
  return 0;
}
