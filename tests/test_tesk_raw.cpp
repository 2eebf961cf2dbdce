// The raw boundary between the core and the Tesk engine, in each build with
// its instance (integer build: BigDexp__VGF over the working primes,
// prime-field build: DRLDRL__GFC modulo 65521): the two orders agree on the
// same monomials, a polynomial goes core -> engine -> core exactly, and
// exponents the engine's type cannot hold are refused; the engine's
// generators build the systems of the test data as the core's text reader
// reads them (cyclic-5, katsura-6), up to the order of the polynomials, and
// the engine's plain text read by the core's text reader gives the same
// polynomials.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "api/reader.h"
#include "tesk/poly/examples.h"
#include "tesk/poly/print.h"
#include "tests/support/request_fixture.h"
#include "tests/support/tesk_poly_model.h"

QUOR_TEST_BEGIN

namespace {
#if QUOR_INT
using TI = ::tesk::poly::BigDexp__VGF;
#else
using TI = ::tesk::poly::DRLDRL__GFC;
#endif
using TM = ::tesk::poly::Dmp<TI>;
using TE = TI::E;
using ::tesk_poly_model::fatal_of;

Vec random_slots(std::mt19937_64& g, u32 n, u32 emax) {
  Vec v(n + 1, 0);
  for (u32 i = 0; i < n; ++i) v[i] = u32(g() % (emax + 1));
  return v;
}
// The engine's exponent words for the first n slots of v.
std::vector<TE> engine_exps(const Vec& v, u32 n) {
  std::vector<TE> e(::tesk::poly::kMaxExpoWords);
  TM::X::set_null(e.data());
  for (u32 i = 0; i < n; ++i) TM::X::ranger(e.data(), v[i], i);
  return e;
}
}  // namespace

class QUOR_SUITE(TeskRaw) : public CoreTest {
 protected:
  // n variables, the first k in block 1 (0: one block), in the core and the engine.
  void both(u32 n, u32 k) {
    layout(n, k);
    ::tesk::want_quiet = 1;
    TM::init();
#if QUOR_INT
    ::tesk::set_VGF(QUOR_NAME(vectorize), QUOR_NAME(Primes));
    TM::set(n, 0, 0);
#else
    ::tesk::gfc::set_module_GFC(65521);
    TM::set(n, k ? k : n, 0);
#endif
  }
  std::vector<std::pair<u32, u32>> shapes() const {
#if QUOR_INT
    return {{3, 0}, {7, 0}, {9, 0}};
#else
    return {{3, 0}, {6, 2}, {9, 4}};
#endif
  }
  std::mt19937_64 g_{2024};
};

QTEST_F(TeskRaw, OrdersAgreeWithTheCore) {
  for (auto [n, k] : shapes()) {
    both(n, k);
    for (int t = 0; t < 3000; ++t) {
      const Vec a = random_slots(g_, n, 4), b = t % 3 ? random_slots(g_, n, 4) : a;
      const i32 core = comp5_Expos(mono(a) + 1, mono(b) + 1);
      const int engine = TM::X::greater(engine_exps(a, n).data(), engine_exps(b, n).data());
      ASSERT_EQ(engine, core) << "n=" << n << " k=" << k << " t=" << t;
    }
  }
}

QTEST_F(TeskRaw, RoundTripIsExact) {
  const u32 V = QUOR_INT ? QUOR_NAME(vectorize) : 1;
  const u32 prime_gf = 65521;
  for (auto [n, k] : shapes()) {
    both(n, k);
    // Distinct monomials in the core's order, random non-zero residues.
    std::vector<u64*> mons;
    for (int t = 0; t < 60; ++t) mons.push_back(mono(random_slots(g_, n, 6)));
    std::sort(mons.begin(), mons.end(), [](u64* a, u64* b) { return comp5_Expos(a + 1, b + 1) > 0; });
    mons.erase(std::unique(mons.begin(), mons.end(), [](u64* a, u64* b) { return equal_Expos(a + 1, b + 1); }),
               mons.end());
    const u32 nt = u32(mons.size());
    Dpol src = new_Dpol(nt);
    for (u32 t = 0; t < nt; ++t) {
      src->monoms[t] = mons[t];
      for (u32 s = 0; s < V; ++s) {
        const u64 p = QUOR_INT ? QUOR_NAME(Primes)[s] : prime_gf;
        src->coeffs[s][t] = Dom(1 + g_() % (p - 1));
      }
    }
    // Core -> engine, terms in a shuffled order.
    std::vector<u32> order(nt);
    for (u32 t = 0; t < nt; ++t) order[t] = t;
    std::shuffle(order.begin(), order.end(), g_);
    TM::P* p = nullptr;
    for (u32 t : order) {
      std::vector<std::uint16_t> e(n);
      for (u32 i = 0; i < n; ++i) e[i] = std::uint16_t(expos_slot(src->monoms[t] + 1, i));
      std::vector<u32> r(V);
      for (u32 s = 0; s < V; ++s) r[s] = src->coeffs[s][t];
      p = TM::add_dd(p, TM::monom_raw(e.data(), r.data(), V));
    }
    // Engine -> core, term by term.
    auto* cell = TM::Lists::cons(p, nullptr);
    Dpol back = new_Dpol(nt);
    for (u32 t = 0; t < nt; ++t) {
      std::vector<std::uint16_t> e(n);
      std::vector<u32> r(V);
#if QUOR_INT
      TM::P* taken = TM::extract_raw_first_multi(cell, e.data(), r.data());
#else
      TM::P* taken = TM::extract_raw_first(cell, e.data(), r.data());
#endif
      TM::Terms::kill(taken);  // the caller owns the taken term
      Vec v(n + 1, 0);
      for (u32 i = 0; i < n; ++i) v[i] = e[i];
      back->monoms[t] = mono(v);
      for (u32 s = 0; s < V; ++s) back->coeffs[s][t] = Dom(r[s]);
    }
    EXPECT_EQ(cell->elt, nullptr);
    TM::Lists::kill(cell);
    for (u32 t = 0; t < nt; ++t) {
      ASSERT_TRUE(equal_Expos(back->monoms[t] + 1, src->monoms[t] + 1)) << t;
      for (u32 s = 0; s < V; ++s) ASSERT_EQ(back->coeffs[s][t], src->coeffs[s][t]) << t << " " << s;
    }
  }
}

QTEST_F(TeskRaw, ExponentsTheEngineCannotHoldAreRefused) {
  both(3, 0);
  const u32 top = TM::X::kMaxExp, deg = TM::X::kMaxDeg;
  std::vector<std::uint16_t> e = {std::uint16_t(top), 0, 0};
  TM::Terms::kill_all(TM::monom_raw(e.data(), 1u));  // the largest exponent fits
  e[1] = std::uint16_t(top + 1);
  const std::string said = fatal_of([&] { TM::monom_raw(e.data(), 1u); });
  EXPECT_NE(said.find("Exponent " + std::to_string(top + 1) + " of variable 2"), std::string::npos) << said;
  e = {std::uint16_t(top), std::uint16_t(top), std::uint16_t(top)};  // each fits, their degree does not
  EXPECT_NE(fatal_of([&] { TM::monom_raw(e.data(), 1u); }).find("Degree " + std::to_string(3 * top)),
            std::string::npos);
  EXPECT_GT(3 * top, deg);
}

// ---------------------------------------------------------------------------
class QUOR_SUITE(TeskExamples) : public ::testing::Test {
 protected:
  using Mo = ::tesk_poly_model::Model<TI>;
  void SetUp() override { Host_kernel = host_.kernel(); }
  void TearDown() override {
    QUOR_NAME(reset_memory)();
    Host_kernel = nullptr;
  }
  // A request over n variables (the first `first` in block 1) and the engine
  // set to the same variables and primes (the model's order follows it).
  void open(u32 n, u32 first) {
    open_request(first, n - first, 0, 2);
    ::tesk::want_quiet = 1;
    TM::init();
#if QUOR_INT
    ::tesk::set_VGF(QUOR_NAME(vectorize), QUOR_NAME(Primes));
#else
    ::tesk::gfc::set_module_GFC(65521);
#endif
    TM::set(n, first, 0);
  }
  // The core's polynomials t over n variables, in sorted order.
  static std::vector<Mo::Poly> model_of(const std::vector<Dpol>& t, u32 n) {
    std::vector<Mo::Poly> out;
    for (Dpol p : t) {
      Mo::Poly& q = out.emplace_back();
      for (u32 j = 0; j < p->nb_terms; ++j) {
        ::tesk_poly_model::Exps e(n);
        ::tesk_poly_model::Coef c;
        for (u32 i = 0; i < n; ++i) e[i] = expos_slot(p->monoms[j] + 1, i);
        for (u32 s = 0; s < QUOR_NAME(vectorize); ++s) c.push_back(u32(p->coeffs[s][j]));
        q.emplace(e, c);
      }
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // The file's list as the core reads it over n variables, in sorted order.
  std::vector<Mo::Poly> read(const std::string& file, u32 n) {
    open(n, n);
    std::vector<Dpol> t(kReaderMaxPolys);
    t.resize(parse_List_Dpol_file((std::string(QUOR_TEST_DATA_DIR) + "/" + file).c_str(), t.data()));
    return model_of(t, n);
  }
  static std::vector<Mo::Poly> engine(::tesk::poly::List<TI>* l) {
    std::vector<Mo::Poly> out;
    for (auto* c = l; c; c = c->next) out.push_back(Mo::take(c->elt));
    TM::Lists::free_all(l);
    std::sort(out.begin(), out.end());
    return out;
  }
  quor::standin::Host host_;
};

QTEST_F(TeskExamples, GeneratorsMatchTheStoredSystems) {
  auto want = read("cyclic-5.txt", 5);
  EXPECT_EQ(engine(::tesk::poly::Examples<TI>::cyclic(5, 0)), want);
  want = read("katsura-6.txt", 7);
  EXPECT_EQ(engine(::tesk::poly::Examples<TI>::katsura(7, 0)), want);
}

// Plain text (names x1 .. xn, coefficients 1 left out, "<r1 r2>" residues
// in the integer build) read back by the core's text reader.
QTEST_F(TeskExamples, PlainTextReadsBackThroughTheCoreReader) {
  std::mt19937_64 g(7);
  for (u32 n : {3u, 8u, 12u}) {
    open(n, QUOR_INT ? n : n / 2);
    std::vector<std::string> names;
    for (u32 i = 1; i <= n; ++i) names.push_back("x" + std::to_string(i));
    std::vector<char*> table;
    for (auto& s : names) table.push_back(s.data());
    // Random polynomials, a zero one, and x_n^2 + 1.
    std::vector<Mo::Poly> want(12);
    ::tesk_poly_model::Exps sq(n, 0);
    sq[n - 1] = 2;
    want[7] = {{sq, Mo::scalar(1)}, {::tesk_poly_model::Exps(n, 0), Mo::scalar(1)}};
    TM::Lst* l = nullptr;
    for (int i = 11; i >= 0; --i) {
      if (i != 5 && i != 7) want[i] = Mo::random(g, 1 + u32(g() % 25), 5);
      l = TM::Lists::cons(Mo::build(want[i]), l);
    }
    char* text = nullptr;
    size_t len = 0;
    ::tesk::global_List_variables = table.data();
    ::tesk::Fortran.attach(open_memstream(&text, &len));
    ::tesk::Fortran << l;
    std::fclose(::tesk::Fortran.detach());
    ::tesk::Fortran.attach(nullptr);
    ::tesk::global_List_variables = nullptr;
    std::vector<Dpol> back(64);
    back.resize(parse_List_Dpol_text(text, back.data(), u32(back.size())));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(model_of(back, n), want) << text;
    std::free(text);
    TM::Lists::kill_all(l);
  }
}

QUOR_TEST_END
