// Computation requests through the public call, against an exact Buchberger
// run over Q here (integer build: primitive forms; prime field: the forms
// modulo 65521): several passes, bad primes, the no-op strategy, results
// that outlive the engine's scratch, refusals, interrupts, the record text.
#include <gmpxx.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "api/record.h"
#include "api/request.h"
#include "core/coeffs.h"
#include "core/crit.h"
#include "core/hashtable.h"
#include "core/monomial.h"
#include "core/zone.h"
#include "engine/dispatch.h"
#include "engine/mainloop.h"
#include "host/C/host_services.h"
#include "host/standin/standin.h"
#include "tests/dual_test.h"
#include "tests/support/fatal_exit.h"
#include "tests/support/text_file.h"
#include "tests/support/reference_gb.h"

QUOR_TEST_BEGIN

namespace {
constexpr u32 kPrime = 65521;
using refgb::Mono;
struct Term {
  Mono e;
  std::string c;  // decimal integer
};
using Sys = std::vector<std::vector<Term>>;
using IntForm = std::map<Mono, std::string>;  // primitive integer polynomial
using ModForm = std::map<Mono, u64>;          // monic polynomial modulo kPrime

using quor_test::fatal_text;

// ---- reference: Buchberger over Q, primitive integer forms ----
struct Q {
  using T = mpq_class;
  T add(const T& a, const T& b) const { return a + b; }
  T mul(const T& a, const T& b) const { return a * b; }
  T neg(const T& a) const { return -a; }
  T inv(const T& a) const { return 1 / a; }
  bool zero(const T& a) const { return a == 0; }
};
std::set<IntForm> primitive_reference(const Sys& sys) {
  std::vector<refgb::Pol<mpq_class>> in;
  for (auto& f : sys) {
    auto& q = in.emplace_back();
    for (auto& t : f) q[t.e] += mpq_class(mpz_class(t.c));
  }
  std::set<IntForm> out;
  for (const auto& g : refgb::reduced_gb(Q{}, in)) {
    mpz_class L = 1, c = 0;
    for (auto& [m, v] : g) L = lcm(L, mpz_class(v.get_den()));
    for (auto& [m, v] : g) c = gcd(c, mpz_class(v.get_num() * (L / v.get_den())));
    IntForm f;
    for (auto& [m, v] : g) f[m] = mpz_class(v.get_num() * (L / v.get_den()) / c).get_str();
    out.insert(f);
  }
  return out;
}
u64 residue(const mpz_class& z) {
  mpz_class r = z % kPrime;
  if (r < 0) r += kPrime;
  return r.get_ui();
}
std::set<ModForm> modular_image(const std::set<IntForm>& forms) {
  std::set<ModForm> out;
  for (const IntForm& f : forms) {
    const auto lead = std::min_element(f.begin(), f.end(), [](auto& a, auto& b) { return refgb::Grevlex()(a.first, b.first); });
    const u64 il = refgb::Zp{kPrime}.inv(residue(mpz_class(lead->second)));
    ModForm m;
    for (auto& [e, c] : f) m[e] = residue(mpz_class(c)) * il % kPrime;
    out.insert(m);
  }
  return out;
}

// ---- systems ----
Sys decimal(const refgb::IntSys& s) {
  Sys r;
  for (auto& f : s)
    for (auto& g = r.emplace_back(); auto& [e, c] : f) g.push_back({e, std::to_string(c)});
  return r;
}
Sys cyclic(u32 n) { return decimal(refgb::cyclic(n)); }
Sys katsura3() { return decimal(refgb::katsura3()); }
// Two conics with ~90-bit coefficients: the basis holds rationals of ~100 digits.
Sys big_conics() {
  return {{{{2, 0}, "123456789012345678901234567"}, {{0, 1}, "98765432109876543210"}, {{1, 1}, "-7"},
           {{0, 0}, "31415926535897932384626"}},
          {{{1, 1}, "27182818284590452353602874"}, {{0, 2}, "-16180339887498948482045"},
           {{1, 0}, "-11111111111111111111"}, {{0, 0}, "5"}}};
}

sQUOR_Comp_Desc descriptor(i32 code) {
  sQUOR_Comp_Desc d{};
  d._compute = code;
  d._aggressive2 = d._dlim = d._skip = -1;
  return d;
}
char* variable_names[] = {const_cast<char*>("x1"), const_cast<char*>("x2"), const_cast<char*>("x3"),
                          const_cast<char*>("x4")};
#if QUOR_INT
constexpr u32 kDom = 4;
using Poly = Dpol_INT;
using Form = IntForm;
#else
constexpr u32 kDom = 2;
using Poly = Dpol;
using Form = ModForm;
#endif
}  // namespace

class QUOR_SUITE(Dispatch) : public ::testing::Test {
 protected:
  void SetUp() override {
    Host_kernel = host_.kernel();
    Quor_verb_info = 4;  // the driver's progress lands in host_.output()
  }
  void TearDown() override {
    QUOR_NAME(record)("close");
    libmode_record = 0;
    if (!record_.empty()) std::remove(record_.c_str());
    QUOR_NAME(stop_immediately_semaphore) = 0;
    QUOR_NAME(reset_memory)();
    Quor_verb_info = 0;
    Host_kernel = nullptr;
  }
  void open_request(u32 nvars, i32 record = 0, u32 first_block = 0) {
    QUOR_NAME(reset_memory)();
    QUOR_NAME(init_urgent)(kDom, 2, "DRLDRL", 100000, record);
    QUOR_NAME(init)(1, 1, 0, nullptr);
#if QUOR_INT
    QUOR_NAME(reset_coeffs)(1);
#else
    const UI32 pr[] = {kPrime};
    QUOR_NAME(reset_coeffs)(1, pr);
#endif
    QUOR_NAME(reset_expos)(first_block, nvars - first_block, variable_names);
    nvars_ = nvars;
  }
  Poly make(const std::vector<Term>& terms) {
    Poly p = QUOR_NAME(creat_poly)(u32(terms.size()));
    for (u32 i = 0; i < terms.size(); ++i) {
      std::vector<I32> e(terms[i].e.begin(), terms[i].e.end());
      QUOR_NAME(set_expos2)(p, i, e.data(), u32(e.size()));
#if QUOR_INT
      Quor_int_set_coeff_gmp_str(p, i, terms[i].c.c_str());
#else
      QUOR_NAME(set_coeff_I32)(p, i, I32(residue(mpz_class(terms[i].c))));
#endif
    }
    QUOR_NAME(full_sort_poly2)(p);
    return p;
  }
  std::vector<Poly> make_all(const Sys& sys) {
    std::vector<Poly> in;
    for (auto& f : sys) in.push_back(make(f));
    return in;
  }
  // Opens a request for sys and computes; the results go to out_.
  u32 compute(const Sys& sys, i32 code = QUOR_COMPUTE_GBASIS, i32 pas0 = -1, i32 off = 0, u32 first_block = 0,
              i32 final_restrict = 0) {
    open_request(u32(sys[0][0].e.size()), 0, first_block);
    std::vector<Poly> in = make_all(sys);
    sQUOR_Comp_Desc d = descriptor(code);
    d._off = off;
    return compute_on(in, d, pas0, final_restrict);
  }
  u32 compute_on(std::vector<Poly>& in, sQUOR_Comp_Desc d, i32 pas0 = -1, i32 final_restrict = 0) {
    out_.assign(kMaxiBase, nullptr);
    t_ = -1;
    return QUOR_NAME(groebner)(in.data(), u32(in.size()), out_.data(), 1, 0, &t_, 0, pas0, final_restrict, &d);
  }
  // The results as forms; bases are affine (h = 0), the no-op keeps the homogenised inputs.
  std::set<Form> forms(u32 count, bool affine = true) const {
    std::set<Form> s;
    for (u32 i = 0; i < count; ++i) {
      Form f;
      for (u32 j = 0; j < out_[i]->nb_terms; ++j) {
        const u64* e = out_[i]->monoms[j] + 1;
        Mono m(nvars_);
        for (u32 v = 0; v < nvars_; ++v) m[v] = expos_slot(e, v);
        if (affine) {
          EXPECT_EQ(expos_slot(e, nvars_), 0u);
        }
#if QUOR_INT
        EXPECT_EQ(out_[i]->complete_flag, 1u);
        std::string c(mpz_sizeinbase(&out_[i]->coeffs[j], 10) + 2, '\0');
        f[m] = mpz_get_str(c.data(), 10, &out_[i]->coeffs[j]);
#else
        f[m] = out_[i]->coeffs[0][j];
#endif
      }
      s.insert(f);
    }
    return s;
  }
  static std::set<Form> expected(const Sys& sys) {
#if QUOR_INT
    return primitive_reference(sys);
#else
    return modular_image(primitive_reference(sys));
#endif
  }
  u32 passes() const {
    u32 k = 0;
    for (size_t at = host_.output().find("/S:"); at != std::string::npos; at = host_.output().find("/S:", at + 1)) ++k;
    return k;
  }
  bool said(const char* text) const { return host_.output().find(text) != std::string::npos; }

  quor::standin::Host host_;
  std::string record_;
  std::vector<Poly> out_;
  double t_ = -1;
  u32 nvars_ = 0;
};

QTEST_F(Dispatch, ReducedBasesOfSmallSystemsInAnyInputOrder) {
  for (Sys sys : {cyclic(3), cyclic(4), katsura3(), big_conics()}) {
    const auto want = expected(sys);
    EXPECT_EQ(forms(compute(sys)), want);
    EXPECT_GE(t_, 0.0);
    std::reverse(sys.begin(), sys.end());
    for (auto& f : sys) std::reverse(f.begin(), f.end());
    EXPECT_EQ(forms(compute(sys)), want);
  }
  host_.clear_output();
  EXPECT_EQ(compute(cyclic(3)), 3u);
#if QUOR_INT
  EXPECT_TRUE(forms(3).count(IntForm{{{0, 0, 3}, "1"}, {{0, 0, 0}, "-1"}}));
  EXPECT_EQ(passes(), 1u);  // small coefficients reconstruct in the first pass
#endif
}

QTEST_F(Dispatch, ResultsOutliveTheEngineScratch) {
  auto scribble = [] {
    for (int z = 0; z < 2; ++z) {
      if (z) QUOR_NAME(swap_zone)();
      for (int k = 0; k < 8; ++k) std::memset(QUOR_NAME(alloc64)(1 << 20), 0xA5, 1 << 20);
      if (z) QUOR_NAME(swap_zone)();
    }
  };
  const u32 k = compute(katsura3());
  scribble();
  EXPECT_EQ(forms(k), expected(katsura3()));
#if QUOR_INT
  // The no-op returns its (homogenised) inputs, also after more work in the zones.
  const Sys sys = {{{{2, 1}, "-6"}, {{0, 0}, "4"}}, {{{1, 0}, "123456789012345678901234567890"}, {{0, 1}, "-1"}}};
  ASSERT_EQ(compute(sys, QUOR_COMPUTE_NOP), 2u);
  scribble();
  EXPECT_EQ(forms(2, false), (std::set<IntForm>{IntForm{{{2, 1}, "-6"}, {{0, 0}, "4"}},
                                                IntForm{{{1, 0}, "123456789012345678901234567890"}, {{0, 1}, "-1"}}}));
#endif
}

QTEST_F(Dispatch, OptionsOfTheDescriptor) {
  const u32 saved_index = quor_max_index;
  open_request(4);
  std::vector<Poly> in = make_all(katsura3());
  sQUOR_Comp_Desc d = descriptor(QUOR_COMPUTE_GBASIS);
  d._memory = 3;
  d._index = 20000;
  EXPECT_EQ(forms(compute_on(in, d)), expected(katsura3()));
  EXPECT_GE(dynamic_max_garbages, 3 * kZoneTableUnit);
  EXPECT_EQ(quor_max_index, 20000u);
  EXPECT_EQ(Dlim, 1000000000u);
#if QUOR_INT
  EXPECT_EQ(QUOR_NAME(vectorize), 1u);  // the request's own block again
#endif
  // The tables never shrink; a degree limit stops before the basis is complete.
  const u32 grown = dynamic_max_garbages;
  open_request(4);
  in = make_all(katsura3());
  d._memory = 1;
  d._index = 0;
  d._dlim = 2;
  EXPECT_NE(forms(compute_on(in, d)), expected(katsura3()));
  EXPECT_EQ(dynamic_max_garbages, grown);
  Dlim = 1000000000u;
  quor_max_index = saved_index;
  set_hash_prime();
  // Restricted to the polynomials free of the first block {x1}: exactly those of the whole basis.
  const Sys sys = {{{{1, 0, 0}, "1"}, {{0, 1, 0}, "-1"}, {{0, 0, 1}, "-2"}},
                   {{{1, 1, 0}, "1"}, {{0, 0, 2}, "-3"}},
                   {{{0, 1, 1}, "1"}, {{0, 0, 0}, "-5"}}};
  std::set<Form> all = forms(compute(sys, QUOR_COMPUTE_GBASIS, -1, 0, 1)), free_of_x1;
  for (auto& f : all)
    if (std::all_of(f.begin(), f.end(), [](auto& t) { return t.first[0] == 0; })) free_of_x1.insert(f);
  EXPECT_FALSE(free_of_x1.empty());
  EXPECT_LT(free_of_x1.size(), all.size());
  EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_GBASIS, -1, 0, 1, 1)), free_of_x1);
}

QTEST_F(Dispatch, MatrixStrategyGivesTheShapeBasisAndClearsItsSwitch) {
  // x2 = (x1 + 7) / 5 with 2 x1^2 = 3: x1 - 5 x2 + 7 and 10 x2^2 - 28 x2 + 19;
  // over the integers the rational form: (-5 x2 + 7)(x2 - 7/5) = -3/10 mod f.
  const Sys sys = {{{{2, 0}, "2"}, {{0, 0}, "-3"}}, {{{0, 1}, "5"}, {{1, 0}, "-1"}, {{0, 0}, "-7"}}};
  const std::set<IntForm> shape = {IntForm{{{1, 0}, "1"}, {{0, 1}, "-5"}, {{0, 0}, "7"}},
                                   IntForm{{{0, 2}, "10"}, {{0, 1}, "-28"}, {{0, 0}, "19"}}};
#if QUOR_INT
  EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_MATRIXN)),
            (std::set<IntForm>{IntForm{{{1, 0}, "10"}, {{0, 0}, "-3"}},
                               IntForm{{{0, 2}, "10"}, {{0, 1}, "-28"}, {{0, 0}, "19"}}}));
  // Large rationals: the same shape basis whatever the blocks of primes.
  host_.clear_output();
  const auto big = forms(compute(big_conics(), QUOR_COMPUTE_MATRIXN));
  EXPECT_EQ(big.size(), 2u);
  EXPECT_GT(passes(), 1u);
  EXPECT_EQ(forms(compute(big_conics(), QUOR_COMPUTE_MATRIXN, 2)), big);
#else
  EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_MATRIXN)), modular_image(shape));
#endif
  EXPECT_EQ(want_buildmatrix, 0);
  EXPECT_EQ(forms(compute(sys)), expected(sys));  // the next request computes a basis again
}

QTEST_F(Dispatch, RefusedStrategiesEndFatallyAndLeaveNoSwitchSet) {
  open_request(2);
  std::vector<Poly> in{make({{{1, 0}, "1"}, {{0, 1}, "-1"}})};
  EXPECT_EQ(fatal_text([&] { compute_on(in, descriptor(13)); }), "Unknown strategy code 13\n");
  EXPECT_EQ(fatal_text([&] { compute_on(in, descriptor(0)); }), "Unknown strategy code 0\n");
  for (i32 code = QUOR_COMPUTE_RRFORM; code <= QUOR_COMPUTE_GBASIS_MULTI; ++code) {
    if (QUOR_INT && code == QUOR_COMPUTE_NOP) continue;
    if (QUOR_INT && (code == QUOR_COMPUTE_GBASIS_NF || code == QUOR_COMPUTE_GBASIS_NF_RECOMPUTE)) {
      // Computed, but not without a polynomial to reduce.
      EXPECT_EQ(fatal_text([&] { compute_on(in, descriptor(code)); }),
                std::string("Strategy ") + strategy_name(code) +
                    " reduces the first _nb of the 1 polynomials: _nb=0 should be in 1 .. 1\n");
      continue;
    }
    // The integer build changes the ordering of zero-dimensional systems only.
    const bool changes_ordering = code <= QUOR_COMPUTE_MINPOLY_SQFR || code == QUOR_COMPUTE_GBASIS_MULTI ||
                                  code == QUOR_COMPUTE_RADICAL_STRATEG1 || code == QUOR_COMPUTE_RADICAL_STRATEG2;
    EXPECT_EQ(fatal_text([&] { compute_on(in, descriptor(code)); }),
              QUOR_INT && changes_ordering
                  ? std::string("Not a zero-dimensional system\n")
                  : std::string("Strategy ") + strategy_name(code) + " is not available in this version\n");
  }
#if QUOR_INT
  // No polynomial: the zero ideal, refused as by the strategies above.
  EXPECT_EQ(fatal_text([] { QUOR_NAME(gbasis_rr_form)(nullptr, 0, nullptr, nullptr); }),
            "Not a zero-dimensional system\n");
#else
  EXPECT_EQ(fatal_text([] { QUOR_NAME(gbasis_rr_form)(nullptr, 0, nullptr, nullptr); }),
            "Strategy QUOR_COMPUTE_RRFORM is not available in this version\n");
#endif
  EXPECT_EQ(want_buildmatrix | want_radical_strateg1 | want_add_equations, 0);
  EXPECT_EQ(cur_id_garbage, 1u);
  EXPECT_EQ(compute_on(in, descriptor(QUOR_COMPUTE_GBASIS)), 1u);  // the request still computes
  char when[64];
  const int written = QUOR_NAME(recompute)(when, sizeof when);
  EXPECT_EQ(written, int(std::strlen(when)));
  EXPECT_GE(written, 15);
}

QTEST_F(Dispatch, InterruptsReturnNoPolynomialsOrUnwindCleanly) {
  open_request(4);
  std::vector<Poly> in = make_all(cyclic(4));
  QUOR_NAME(stop_immediately_semaphore) = 1;  // an older host's SIGINT
  EXPECT_EQ(compute_on(in, descriptor(QUOR_COMPUTE_GBASIS)), 0u);
  QUOR_NAME(stop_immediately_semaphore) = 0;
  in = make_all(cyclic(4));
  // The poll asks the host on every 4096th call: the third poll from here does.
  interrupt_counter = 4096 * 8 - 3;
  host_.interrupt_after_polls(host_.polls() + 1);
  EXPECT_EQ(fatal_text([&] { compute_on(in, descriptor(QUOR_COMPUTE_GBASIS)); }), "interrupted");
  host_.interrupt_after_polls(0);
  EXPECT_EQ(want_eliminated, 0);
  EXPECT_EQ(cur_id_garbage, 1u);
  EXPECT_EQ(forms(compute(cyclic(4))), expected(cyclic(4)));
}

#if QUOR_INT
QTEST_F(Dispatch, LargeRationalsNeedSeveralPassesWhateverTheFirstBlock) {
  const auto want = expected(big_conics());
  for (i32 pas0 : {-1, 0, 1, 3}) {  // 0: still one prime per block
    host_.clear_output();
    EXPECT_EQ(forms(compute(big_conics(), QUOR_COMPUTE_GBASIS, pas0)), want) << pas0;
    EXPECT_GT(passes(), 1u) << pas0;
    EXPECT_FALSE(said("Bad primes"));
    // Each pass ends by handing its scratch zone over, and says so.
    size_t swaps = 0;
    for (size_t at = host_.output().find("SWAP Z1/2 "); at != std::string::npos;
         at = host_.output().find("SWAP Z1/2 ", at + 1))
      ++swaps;
    EXPECT_EQ(swaps, passes()) << pas0;
  }
}

// The last blocks of the table: the primes that are left, then a clear end.
QTEST_F(Dispatch, RunningOutOfPrimesEndsClearly) {
  EXPECT_EQ(block_in_table(39000, 256), 256u);
  EXPECT_EQ(block_in_table(39900, 256), 100u);
  const std::string text = fatal_text([] { block_in_table(40000, 256); });
  EXPECT_EQ(text, "No primes left: the results need more than the 40000 primes of the table\n");
}

QTEST_F(Dispatch, IntegerResultModuloThePrimeIsThePrimeFieldResult) {
  for (const Sys& sys : {katsura3(), big_conics()}) {
    const std::set<ModForm> reduced = modular_image(forms(compute(sys)));
    // A reset of either build ends both builds' results: the forms are taken first.
    Quor_reset_memory();
    Quor_init_urgent(2, 2, "DRLDRL", 100000, 0);
    Quor_init(1, 1, 0, nullptr);
    const UI32 pr[] = {kPrime};
    Quor_reset_coeffs(1, pr);
    Quor_reset_expos(0, nvars_, variable_names);
    std::vector<QUOR_CQ_GFPOLY> in, out(kMaxiBase);
    for (auto& f : sys) {
      in.push_back(Quor_creat_poly(u32(f.size())));
      for (u32 i = 0; i < f.size(); ++i) {
        std::vector<I32> e(f[i].e.begin(), f[i].e.end());
        Quor_set_expos2(in.back(), i, e.data(), u32(e.size()));
        Quor_set_coeff_I32(in.back(), i, I32(residue(mpz_class(f[i].c))));
      }
      Quor_full_sort_poly2(in.back());
    }
    sQUOR_Comp_Desc d = descriptor(QUOR_COMPUTE_GBASIS);
    double t = 0;
    const u32 m = Quor_groebner(in.data(), u32(in.size()), out.data(), 1, 0, &t, 0, -1, 0, &d);
    std::set<ModForm> gf;
    for (u32 i = 0; i < m; ++i) {
      const u32 nt = Quor_nb_terms(out[i]);
      std::vector<UI32> exps(u64(nt) * nvars_ + 1), coeffs(nt + 1);
      ASSERT_EQ(Quor_export_poly(nvars_, nt, exps.data(), coeffs.data(), out[i]), 1);
      ModForm f;
      for (u32 j = 0; j < nt; ++j) f[Mono(exps.begin() + j * nvars_, exps.begin() + (j + 1) * nvars_)] = coeffs[j];
      gf.insert(f);
    }
    EXPECT_EQ(gf, reduced);
    Quor_reset_memory();
  }
}

QTEST_F(Dispatch, BadPrimesAreReplacedAndValuesSharingThemWaitForMore) {
  // Offset 0, blocks of 8: pass 1 takes prime(i) for i < 8, the next blocks i < 16, i < 24, ...
  auto prime = [](u32 i) { return u64(default_primes32()[kDefaultPrimesCount - 1 - i]); };
  // A prime of the first block divides a leading coefficient.
  const std::string p = std::to_string(prime(3));
  Sys sys = {{{{1, 0}, p.c_str()}, {{0, 0}, "-1"}}, {{{0, 1}, "2"}, {{1, 0}, "-3"}}};
  EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_GBASIS, 8)), expected(sys));
  EXPECT_TRUE(said("Bad primes: pass 1"));
  // The product of four primes of the first block shares a factor above the
  // bound with it (times 2^100: too large to reconstruct from that block).
  const std::string c =
      "-" + mpz_class((mpz_class(prime(1)) * prime(2) * prime(3) * prime(4)) << 100).get_str();
  sys = {{{{1, 0}, "1"}, {{0, 0}, c.c_str()}}, {{{0, 1}, "1"}, {{0, 0}, "-1"}}};
  host_.clear_output();
  EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_GBASIS, 8)), expected(sys));
  EXPECT_GT(passes(), 1u);
  // Modulo q, x + y and x - (q-1) y - 1 have no common zero; z needs several passes.
  const std::string big = "-" + mpz_class(mpz_class(1) << 400).get_str() + "1";
  for (const mpz_class& q : {mpz_class(prime(10)), mpz_class(mpz_class(prime(10)) * prime(21) * prime(26))}) {
    // One prime of the second block: that pass is computed again.  One prime
    // of each of the next three blocks: three passes in a row disagree with
    // the first, which is then distrusted and computed again.
    const std::string qm1 = "-" + mpz_class(q - 1).get_str();
    sys = {{{{1, 0, 0}, "1"}, {{0, 1, 0}, "1"}},
           {{{1, 0, 0}, "1"}, {{0, 1, 0}, qm1.c_str()}, {{0, 0, 0}, "-1"}},
           {{{0, 0, 1}, "1"}, {{0, 0, 0}, big.c_str()}}};
    host_.clear_output();
    EXPECT_EQ(forms(compute(sys, QUOR_COMPUTE_GBASIS, 8)), expected(sys));
    EXPECT_TRUE(said("Bad primes: pass 2"));
    EXPECT_EQ(said("The first pass is computed again"), q != prime(10));
  }
}

// Results that complete in different passes and normal forms paired with
// their multipliers: the same results, passes and progress whatever the
// batches of the lift (one result each at the smallest).
QTEST_F(Dispatch, TheLiftGivesTheSameResultsInAnyBatches) {
  // The first three reduced by the basis of the conics: (L, L NF) pairs.
  Sys sys = {{{{3, 0}, "5"}, {{0, 1}, "1"}}, {{{0, 0}, "3"}}, {{{2, 1}, "1"}, {{0, 0}, "2"}}};
  for (auto& f : big_conics()) sys.push_back(f);
  const auto run = [&](const Sys& s, i32 code) {
    host_.clear_output();
    open_request(2);
    std::vector<Poly> in = make_all(s);
    sQUOR_Comp_Desc d = descriptor(code);
    d._nb = code == QUOR_COMPUTE_GBASIS_NF ? 3 : 0;
    const std::set<Form> got = forms(compute_on(in, d, 1));
    std::string progress;  // the completed shares and the multipliers, pass by pass
    for (size_t at = host_.output().find("restore Z1 "); at != std::string::npos;
         at = host_.output().find("restore Z1 ", at + 1))
      progress += host_.output().substr(at, host_.output().find("SWAP", at) - at);
    return std::make_pair(got, progress);
  };
  const u64 saved = lift_batch_bytes;
  for (i32 code : {QUOR_COMPUTE_GBASIS_NF, QUOR_COMPUTE_GBASIS}) {
    const Sys& s = code == QUOR_COMPUTE_GBASIS ? big_conics() : sys;
    lift_batch_bytes = saved;
    const auto whole = run(s, code);
    EXPECT_GT(passes(), 2u);
    if (code == QUOR_COMPUTE_GBASIS) {
      EXPECT_EQ(whole.first, expected(s));
    }
    lift_batch_bytes = 1;
    EXPECT_EQ(run(s, code), whole) << code;
  }
  lift_batch_bytes = saved;
}

QTEST_F(Dispatch, FirstBlockAndOffsetOptions) {
  open_request(2);
  auto with_constant = [&](const std::string& c) { return make({{{1, 0}, "1"}, {{0, 0}, c.c_str()}}); };
  Poly small = with_constant("3"), wide = with_constant(mpz_class(mpz_class(1) << 100).get_str()),
       huge = with_constant(mpz_class(mpz_class(1) << 300).get_str());
  EXPECT_EQ(first_prime_block(-1, &small, 1), 8u);  // 1 limb: 2*2+1, at least 8
  EXPECT_EQ(first_prime_block(-1, &wide, 1), 9u);
  EXPECT_EQ(first_prime_block(-1, &huge, 1), 21u);  // 5 limbs
  EXPECT_EQ(first_prime_block(-1, nullptr, 0), 8u);
  EXPECT_EQ(first_prime_block(0, &small, 1), 1u);
  EXPECT_EQ(first_prime_block(100000, &small, 1), 256u);
  EXPECT_EQ(prime_offset(3), 24u);
  EXPECT_EQ(prime_offset(2500), 0u);
  for (int i = 0; i < 20; ++i) EXPECT_LT(prime_offset(-1), 1250u);
  EXPECT_EQ(forms(compute(katsura3(), QUOR_COMPUTE_GBASIS, -1, -1)), expected(katsura3()));
}
#endif

QUOR_TEST_END
