// The F4 main loop: the selection of one degree's halves, the minimal basis,
// whole reduced bases of small systems against a naive Buchberger run here
// modulo each working prime, the end cases, and the recorded Hilbert entry.
#include <random>
#include <set>

#include "api/record.h"
#include "core/call_quor.h"
#include "engine/symbolic.h"
#include "engine/tesk_bridge.h"
#include "tests/support/text_file.h"
#include "tests/support/zero_dim_fixture.h"
#if !QUOR_INT
#include <omp.h>
#endif

QUOR_TEST_BEGIN

using refgb::cyclic;
using refgb::katsura3;

class QUOR_SUITE(MainLoop) : public QUOR_SUITE(ZeroDim) {
 protected:
  void TearDown() override {
    QUOR_NAME(stop_immediately_semaphore) = 0;
    QUOR_NAME(want_ignore_cste) = 0;
    want_Lexico = want_eliminated = want_mingbasis = 0;
    want_mingbasis_strong = 1;
    Dlim = 1000000000;
    QUOR_SUITE(ZeroDim)::TearDown();
  }
  Dpol make_poly(const Terms& f) { return poly(f, true); }
  u32 run(const Sys& sys) {
    inputs_.clear();
    for (auto& f : sys) inputs_.push_back(make_poly(f));
    result_.assign(quor_max_index, nullptr);
    return gbasis(inputs_.data(), u32(inputs_.size()), result_.data(), &t_);
  }
  // The result is the reduced basis of sys, modulo every working prime.
  void expect_reduced_basis(const Sys& sys, u32 count) {
    for (u32 k = 0; k < V(); ++k) {
      std::set<RPol> got;
      for (u32 i = 0; i < count; ++i) got.insert(as_rpol(result_[i], k));
      EXPECT_EQ(got, refgb::reduced_gb(refgb::Zp{prime(k)}, as_rpols(sys, k))) << "prime slot " << k;
      EXPECT_EQ(got.size(), count);
    }
  }
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

// A step's update at once is the update of its new polynomials in turn: the
// same pairs in the same order, the same basis, the same "#" messages, with
// new leads that divide older ones (the whole sort of their pairs) or not,
// on the team too in the prime-field build.
QTEST_F(MainLoop, AStepsUpdateAtOnceIsTheUpdateOfEachNewPolynomialInTurn) {
  std::mt19937 rng(29);
  layout(7);
  Quor_verb_info = 4;
  QUOR_NAME(want_quiet) = 0;
#if !QUOR_INT
  const i32 saved = nb_threads;
  nb_threads = 3;
#endif
  auto update = [](Dpol p, Crit& D, std::vector<Dpol>& G, u32 count) {
    const u64* m = lead_Expos(p);
    Crit N = trier_Crit(QUOR_NAME(generate_Crit)(p, G.data(), count));
    D = crit2onLPC(m, D);
    D = updatD(critBackEtrangeronLPC(N), D);
    return updatF(m, p, G.data(), count);
  };
  auto ids = [](Crit D) {
    std::vector<std::pair<u32, u32>> v;
    for (Crit c = D; c; c = c->next) v.push_back({c->older->id, c->newer->id});
    return v;
  };
  u32 printed = 0, long_steps = 0;
  for (int round = 0; round < 12; ++round) {
    const u32 n = 20 + u32(rng() % 300), k = 1 + u32(rng() % 80);
    std::set<Mono> seen;
    auto lead = [&](u32 d) {  // a new monomial of degree d in x1 .. x7 and h
      Mono e;
      do {
        e.assign(8, 0);
        for (u32 i = 0; i < d; ++i) ++e[rng() % 8];
      } while (!seen.insert(e).second);
      return poly({{e, 1}});
    };
    std::vector<Dpol> base, news;
    for (u32 i = 0; i < n; ++i) base.push_back(lead(5));
    for (u32 j = 0; j < k; ++j) news.push_back(lead(5));
    if (round % 3 == 2) {
      // x1*x2 divides the lead x1*x2*u of the older g, and lcm(x1*u, x1*x2)
      // is that lead too: g's pair comes after its class with a "#".
      Mono u = {0, 0, 0, 0, 0, 0, 0, 0}, a = u, b = u, c = u;
      for (u32 i = 0; i < 3; ++i) ++u[2 + rng() % 5];
      a[0] = 1, a[1] = 1;
      for (u32 s = 0; s < 8; ++s) b[s] = u[s] + (s == 0), c[s] = u[s] + a[s];
      if (seen.insert(b).second) base.push_back(poly({{b, 1}}));
      if (seen.insert(c).second) base.push_back(poly({{c, 1}}));
      if (seen.insert(a).second) news[k / 2] = poly({{a, 1}});
    }
    const u32 n_all = u32(base.size());
    long_steps += n_all * k >= 8192;
    std::vector<Dpol> G[2];
    Crit D[2];
    u32 count[2];
    std::string said[2];
    for (int way = 0; way < 2; ++way) {
      G[way].assign(n_all + k + 1, nullptr);
      D[way] = nullptr;
      count[way] = 0;
      for (Dpol p : base) count[way] = update(p, D[way], G[way], count[way]);
      host_.clear_output();
      if (way == 0)
        for (Dpol p : news) count[0] = update(p, D[0], G[0], count[0]);
      else
        count[1] = update_with_step(news.data(), k, &D[1], G[1].data(), count[1]);
      said[way] = host_.output();
    }
    ASSERT_EQ(ids(D[1]), ids(D[0])) << "round " << round;
    ASSERT_EQ(count[1], count[0]);
    EXPECT_EQ(G[1], G[0]);
    EXPECT_EQ(said[1], said[0]);
    printed += !said[0].empty();
    for (Crit c : D)
      while (c) c = kill_deep_Crit(c);
  }
  EXPECT_GT(printed, 0u);
  EXPECT_GT(long_steps, 1u);
#if !QUOR_INT
  nb_threads = saved;
#endif
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
  // The h of a divisor is ignored: x*h^2 removes x*y, not the other way.
  Dpol xh = poly({{{1, 0, 2}, 1}}), xy = poly({{{1, 1, 0}, 1}});
  Dpol K[2] = {xh, xy};
  ASSERT_EQ(minimal_basis(K, 2), 1u);
  EXPECT_EQ(K[0], xh);
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

// The last step's polynomials are made over those of the earlier steps in
// zone 2, the basis held once instead of beside the dead steps.
QTEST_F(MainLoop, TheLastStepsPolynomialsTakeThePlaceOfTheEarlierOnes) {
  layout(4);
  auto zone2_growth = [&](const Sys& sys, u32* count, u64* result_bytes) {
    GC_state z1, before, after;
    run(sys);  // zone 2 in a block
    QUOR_NAME(save_tesk_state2)(&z1, &before);
    *count = run(sys);
    QUOR_NAME(save_tesk_state2)(&z1, &after);
    EXPECT_EQ(after.cur_garbages, before.cur_garbages);
    *result_bytes = 0;
    for (u32 i = 0; i < *count; ++i) *result_bytes += Dpol_bytes(result_[i]->nb_terms, V()) + 32;
    return u64(after.bignum_tas - before.bignum_tas);
  };
  for (const Sys& sys : {cyclic(4), katsura3()}) {
    u32 count = 0;
    u64 bytes = 0;
    const u64 growth = zone2_growth(sys, &count, &bytes);
    expect_reduced_basis(sys, count);
    EXPECT_LE(growth, bytes);
  }
  // x^2, xy + y^2: a step makes y^3 and the basis is then already reduced,
  // so the last step copies its rows as they stand.
  layout(3);
  const Sys sys{{{{2, 0, 0}, 1}}, {{{1, 1, 0}, 1}, {{0, 2, 0}, 1}}};
  u32 count = 0;
  u64 bytes = 0;
  zone2_growth(sys, &count, &bytes);
  ASSERT_EQ(count, 3u);
  expect_reduced_basis(sys, count);
}

#if !QUOR_INT
QTEST_F(MainLoop, SeveralThreadsGiveTheSameBasis) {
  layout(4);
  const i32 saved = nb_threads;
  nb_threads = 3;
  omp_set_num_threads(3);
  // Every matrix's rows coded, and its products looked up, on the team too.
  symbolic_entries_per_coding_team = 1;
  symbolic_lookups_per_team = 1;
  const u32 k = run(cyclic(4));
  symbolic_entries_per_coding_team = u64(1) << 22;
  symbolic_lookups_per_team = u64(1) << 18;
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

QTEST_F(MainLoop, AnInterruptInTheLastStepLeavesNoStepSwitchSetAndTheAggressiveSettingsAsTheyWere) {
  layout(4);
  // The aggressive settings come back as they were, after a whole request
  // and after one that an interrupt ends inside a step.
  want_aggressive2_degree = 7;
  want_aggressive2_lim = 11;
  auto expect_aggressive_kept = [] {
    EXPECT_EQ(QUOR_NAME(want_aggressive), 0);
    EXPECT_EQ(want_aggressive2_degree, 7);
    EXPECT_EQ(want_aggressive2_lim, 11);
  };
  host_.set_version(12);  // the host is asked, and its interrupt unwinds
  HostVersion_forget();
  // Count the polls of a whole run, then interrupt at the last poll inside the
  // final step (two polls follow it: after the inter-reduction and at the end).
  interrupt_counter = 1;
  ASSERT_EQ(run(cyclic(4)), 7u);
  expect_aggressive_kept();
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
  expect_aggressive_kept();
  want_aggressive2_degree = want_aggressive2_lim = 0;
  host_.interrupt_after_polls(0);
  HostVersion_forget();
}

QTEST_F(MainLoop, HilbertCallIsRecordedAndComputed) {
  // No polynomial: the series of the whole ring, 1 / (1 - t)^n.
  HostDpol out[2] = {nullptr, nullptr};
  const i32 saved = libmode_record;
  QUOR_NAME(record)("close");
  libmode_record = 1;
  const u32 k = QUOR_NAME(hilbert)(out, 0, out, 1, 0, &t_, 0, 8, 7);
  libmode_record = saved;
  ASSERT_EQ(k, 2u);
  ASSERT_EQ(out[0]->nb_terms, 1u);
  ASSERT_EQ(out[1]->nb_terms, 1u);
  EXPECT_EQ(expos_slot(out[0]->monoms[0] + 1, 0), 0u);
#if QUOR_INT
  EXPECT_EQ(mpz_get_si(&out[0]->coeffs[0]), 1);
  EXPECT_EQ(mpz_get_si(&out[1]->coeffs[0]), long(nb_of_affine_variables) + 2);
#else
  EXPECT_EQ(out[0]->coeffs[0][0], 1u);
  EXPECT_EQ(out[1]->coeffs[0][0], nb_of_affine_variables + 2);
#endif
  EXPECT_GE(t_, 0.0);
  const std::string path = record_file_name();
  QUOR_NAME(record)("close");
  const std::string text = quor_test::take_file(path);
  EXPECT_NE(text.find("nb=QUOR(hilbert)(base,0,resultat,1,0,&t0,bk0,pas0,7);\n    if (want_display)"),
            std::string::npos);
  EXPECT_NE(text.find("  }\n  global_nb=0;\n"), std::string::npos);
}

QUOR_TEST_END
