// Polynomials (creation, sorts, homogenisation, monic form, printing) and
// critical pairs (creation, order, criteria, basis update), the latter also
// against a brute-force check that the surviving pairs still cover every
// S-pair of the polynomials inserted.
#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "core/channels.h"
#include "tests/support/request_fixture.h"

QUOR_TEST_BEGIN

namespace {
u32 rnd(std::mt19937& g, u32 m) { return u32(g() % m); }

// A polynomial with these monomials; residue of term t in slot k is coef(t, k).
template <class C>
Dpol poly(const std::vector<Vec>& terms, C coef) {
  Dpol p = new_Dpol(u32(terms.size()));
  for (u32 t = 0; t < terms.size(); ++t) {
    p->monoms[t] = mono(terms[t]);
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) p->coeffs[k][t] = Dom(coef(t, k));
  }
  return p;
}
Dpol poly(const std::vector<Vec>& terms) {
  return poly(terms, [](u32 t, u32) { return t + 2; });
}
Dpol lead_only(const Vec& v) { return poly({v}); }

u32 prime(u32 k) { return QUOR_NAME(Primes)[k]; }
// a/b modulo the prime of slot k (b != 0, a may be negative).
u32 frac(i64 a, i64 b, u32 k) {
  const i64 p = prime(k);
  const u32 ar = u32(((a % p) + p) % p);
  return u32((u64(ar) * inv_Dom(u32(b), u32(p))) % u64(p));
}

using Ids = std::vector<std::pair<u32, u32>>;
Ids ids(Crit list) {
  Ids v;
  for (Crit c = list; c; c = c->next) v.push_back({c->older->id, c->newer->id});
  return v;
}
Crit link(std::vector<Crit> pairs) {
  for (size_t i = 0; i + 1 < pairs.size(); ++i) pairs[i]->next = pairs[i + 1];
  pairs.back()->next = nullptr;
  return pairs.front();
}
void kill_all(Crit c) {
  while (c) c = kill_deep_Crit(c);
}
}  // namespace

// Printing names x, y, z and h; output into the host's output.
class QUOR_SUITE(Poly) : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    Quor_verb_info = 4;
    QUOR_NAME(want_raw_output) = 0;
    static char x[] = "x", y[] = "y", z[] = "z", h[] = "h";
    Liste_variables[0] = x, Liste_variables[1] = y, Liste_variables[2] = z, Liste_variables[3] = h;
  }
  void TearDown() override {
    Dlim = 1000000000;
    std::fill(Liste_variables, Liste_variables + 4, nullptr);
    CoreTest::TearDown();
  }
};

// ---------------------------------------------------------------- polynomials

QTEST_F(Poly, SortsOfPolynomialTables) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<Dpol> t;
    const u32 n = 1 + rnd(rng, 40);
    for (u32 i = 0; i < n; ++i) t.push_back(lead_only({rnd(rng, 3), rnd(rng, 3), rnd(rng, 3), rnd(rng, 2)}));
    std::vector<Dpol> lex = t, deg = t;
    resort_Dpol(lex.data(), n);
    sort_totaldeg_Dpol(deg.data(), n);
    auto key = [](Dpol p) { return slots(lead_Expos(p)); };
    auto dkey = [](Dpol p) { return degree_Expos(lead_Expos(p)); };
    std::vector<Dpol> ref = t;
    std::stable_sort(ref.begin(), ref.end(), [&](Dpol a, Dpol b) { return key(a) > key(b); });
    for (u32 i = 0; i < n; ++i) EXPECT_EQ(key(lex[i]), key(ref[i]));
    EXPECT_TRUE(std::is_permutation(lex.begin(), lex.end(), t.begin()));
    std::stable_sort(ref.begin(), ref.end(), [&](Dpol a, Dpol b) { return dkey(a) < dkey(b); });
    for (u32 i = 0; i < n; ++i) EXPECT_EQ(dkey(deg[i]), dkey(ref[i]));
    EXPECT_TRUE(std::is_permutation(deg.begin(), deg.end(), t.begin()));
  }
  // An empty polynomial counts as degree 0.
  Dpol a = lead_only({3, 0, 0, 0}), z = new_Dpol(0);
  std::vector<Dpol> t = {a, z};
  sort_totaldeg_Dpol(t.data(), 2);
  EXPECT_EQ(t, (std::vector<Dpol>{z, a}));
  // Equal keys are never exchanged.
  Dpol d1 = lead_only({1, 1, 0, 0}), d2 = lead_only({1, 1, 0, 0});
  std::vector<Dpol> eq = {d1, d2};
  resort_Dpol(eq.data(), 2);
  sort_totaldeg_Dpol(eq.data(), 2);
  EXPECT_EQ(eq, (std::vector<Dpol>{d1, d2}));
}

#if !QUOR_INT
#endif

QTEST_F(Poly, Homogenisation) {
  layout(2, 0);  // x, y, h
  Dpol p = poly({{2, 0, 0}, {0, 1, 0}, {0, 0, 0}});
  EXPECT_EQ(homogenous_Dpol(p), 2u);
  EXPECT_EQ(slots(p->monoms[0] + 1), (Vec{2, 0, 0}));
  EXPECT_EQ(slots(p->monoms[1] + 1), (Vec{0, 1, 1}));
  EXPECT_EQ(slots(p->monoms[2] + 1), (Vec{0, 0, 2}));
  u64* m[3] = {mono({1, 2, 0}) + 1, nullptr, mono({0, 0, 0}) + 1};
  renormalize_input(m, 3);
  EXPECT_EQ(slots(m[2]), (Vec{0, 0, 3}));
  EXPECT_EQ(slots(m[0]), (Vec{1, 2, 0}));
  // A degree the homogenising slot cannot hold is refused, nothing spills.
  Dpol big = poly({{20000, 20000, 0}, {1, 0, 0}});
  EXPECT_EQ(fatal_text([&] { homogenous_Dpol(big); }),
            "You should recompile with BIGNNI=1 (degree =40000)\n");
  EXPECT_EQ(slots(big->monoms[1] + 1), (Vec{1, 0, 0}));
}

// Slot 0 already monic, the others not: every slot still ends monic, with the
// residues of the same rational polynomial (c_t / c_0 in each slot).
QTEST_F(Poly, MonicNormalisesEveryPrimeSlot) {
  Dpol p = poly({{1, 0, 0, 0}, {0, 1, 0, 0}}, [&](u32 t, u32 k) { return k == 0 ? t + 1 : (7 * k + t) % prime(k); });
  monic_d(p);
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    EXPECT_EQ(std::make_pair(u32(p->coeffs[k][0]), u32(p->coeffs[k][1])),
              std::make_pair(1u, k == 0 ? 2u : frac(i64(7 * k + 1), i64(7 * k), k))) << "slot " << k;
}

QTEST_F(Poly, RenormDividesByTheCommonPowerOfH) {
  Dpol p = poly({{1, 0, 0, 2}, {0, 1, 0, 3}});  // x*h^2 + y*h^3
  u64* before0 = p->monoms[0];
  want_automatique = 0;
  nb_of_renormed = 0;
  renorm_poly(&p->nb_terms, &p->monoms);
  EXPECT_EQ(nb_of_renormed, 1u);
  EXPECT_EQ(p->monoms[0], before0);
  want_automatique = 1;
  renorm_poly(&p->nb_terms, &p->monoms);
  EXPECT_EQ(slots(p->monoms[0] + 1), (Vec{1, 0, 0, 0}));
  EXPECT_EQ(slots(p->monoms[1] + 1), (Vec{0, 1, 0, 1}));
  EXPECT_EQ(p->monoms[1][0], hash_Expos(p->monoms[1] + 1));
  EXPECT_EQ(nb_of_renormed, 1u);
  Dpol q = poly({{1, 0, 0, 2}, {0, 1, 0, 0}});  // a term free of h
  u64* q1 = q->monoms[1];
  renorm_poly(&q->nb_terms, &q->monoms);
  EXPECT_EQ(q->monoms[1], q1);
  EXPECT_EQ(slots(q->monoms[0] + 1), (Vec{1, 0, 0, 2}));
}

QTEST_F(Poly, Printer) {
  const std::vector<Vec> terms = {{2, 0, 0, 0}, {1, 1, 0, 0}, {0, 2, 0, 0}, {0, 0, 0, 2}, {0, 0, 1, 0}};
#if QUOR_INT
  const i64 num[] = {2, -1, 3, -5, 1}, den[] = {1, 1, 2, 1, 1};
  Dpol p = poly(terms, [&](u32 t, u32 k) { return frac(num[t], den[t], k); });
  want_output_is_bad = 0;
  const std::string id = "f" + std::to_string(p->id) + " = ";
  EXPECT_EQ(Dpol_to_string(p), id + "2*x^2 -x*y+(3/2)*y^2-5*h^2+z");
  EXPECT_EQ(want_output_is_bad, 0);
  // Residues of no small rational: not yet reconstructed.
  Dpol r = poly({{1, 0, 0, 0}}, [&](u32, u32 k) { return 123456789u + 977 * k; });
  EXPECT_EQ(Dpol_to_string(r), "f" + std::to_string(r->id) + " = NYA*x");
  EXPECT_EQ(want_output_is_bad, 1);
  // Fewer slots than the lifting context: no lift.
  Dpol raw = poly({{1, 0, 0, 0}, {0, 0, 0, 0}}, [&](u32 t, u32 k) { return 10 * t + k; });
  QUOR_NAME(vectorize) = 1;
  EXPECT_EQ(Dpol_to_string(raw), "f" + std::to_string(raw->id) + " = NYA*x+NYA*1");
  QUOR_NAME(vectorize) = 5;
#else
  const u32 c[] = {1, 65520, 7, 40000, 1};
  Dpol p = poly(terms, [&](u32 t, u32) { return c[t]; });
  const std::string id = "f" + std::to_string(p->id) + " = ";
  Quor_want_mods = 0;
  EXPECT_EQ(Dpol_to_string(p), id + "x^2+65520*x*y+7*y^2+40000*h^2+z");
  Quor_want_mods = 1;
  EXPECT_EQ(Dpol_to_string(p), id + "x^2+-x*y+7*y^2+-25521*h^2+z");
  Quor_want_mods = 0;
#endif
  Dpol e = new_Dpol(0);
  EXPECT_EQ(Dpol_to_string(e), "f" + std::to_string(e->id) + " = 0");
}

// --------------------------------------------------------------------- pairs

QTEST_F(Poly, PairCreationInTheDegreeWindow) {
  Dpol a = lead_only({1, 0, 0, 1}), b = lead_only({0, 1, 0, 1}), c = lead_only({1, 0, 0, 0});
  Crit ab = QUOR_NAME(make_Crit1)(a, b);
  ASSERT_NE(ab, nullptr);
  EXPECT_EQ(ab->deg, 3u);
  EXPECT_EQ(slots(ab->lcm), (Vec{1, 1, 0, 1}));
  EXPECT_EQ(slots(ab->cofactor1), (Vec{0, 1, 0, 0}));
  EXPECT_EQ(slots(ab->cofactor2), (Vec{1, 0, 0, 0}));
  EXPECT_EQ(Disjoint(ab), 1);  // x*h, y*h: coprime apart from h
  Crit ac = QUOR_NAME(make_Crit1)(a, c);
  EXPECT_EQ(ac->cofactor1, nullptr);  // lcm = LM(a)
  EXPECT_EQ(Disjoint(ac), 0);

  Dlim = 3;
  Dpol d = lead_only({2, 0, 0, 0}), e = lead_only({0, 2, 0, 0});
  u64* top = root_of_Expos;
  EXPECT_EQ(QUOR_NAME(make_Crit1)(d, e), nullptr);  // degree 4
  EXPECT_EQ(root_of_Expos, top);                   // its lcm went back
  EXPECT_NE(QUOR_NAME(make_Crit1)(a, b), nullptr);  // degree 3

  // Pairs with a basis come in the reverse order of G, the older first.
  Dlim = 1000000000;
  Dpol g1 = lead_only({1, 0, 0, 0});
  Dpol p = lead_only({0, 0, 1, 0});
  Dpol g2 = lead_only({0, 1, 0, 0}), g3 = lead_only({0, 0, 0, 1});
  Dpol G[] = {g1, g2, g3};
  Crit list = QUOR_NAME(generate_Crit)(p, G, 3);
  EXPECT_EQ(ids(list), (Ids{{p->id, g3->id}, {p->id, g2->id}, {g1->id, p->id}}));
  kill_all(list);
}

QTEST_F(Poly, PairOrderSortAndMerge) {
  std::mt19937 rng(11);
  std::vector<Dpol> polys;
  for (int i = 0; i < 25; ++i) polys.push_back(lead_only({rnd(rng, 3), rnd(rng, 3), rnd(rng, 3), rnd(rng, 3)}));
  Crit list = nullptr;
  u32 n = 0;
  for (size_t i = 0; i < polys.size(); ++i)
    for (size_t j = i + 1; j < polys.size(); ++j) {
      Crit c = QUOR_NAME(make_Crit1)(polys[i], polys[j]);
      if (!c) continue;
      c->next = list;
      list = c;
      ++n;
    }
  std::multiset<std::pair<u32, u32>> before;
  for (auto x : ids(list)) before.insert(x);
  list = trier_Crit(list);
  std::multiset<std::pair<u32, u32>> after;
  for (auto x : ids(list)) after.insert(x);
  EXPECT_EQ(before, after);
  u32 m = 0;
  for (Crit c = list; c; c = c->next, ++m)
    if (c->next) {
      EXPECT_LE(comp_Crit(c, c->next), 0);
      if (c->deg == c->next->deg && !equal_Expos(c->lcm, c->next->lcm)) {
        EXPECT_EQ(comp_Expos(c->lcm, c->next->lcm), 1);  // larger lcm first
      }
    }
  EXPECT_EQ(m, n);

  // Equal keys: the later run's pair leads in the sort, b's pair in the merge.
  Dpol a = lead_only({1, 0, 0, 0}), b = lead_only({1, 0, 0, 0});
  Crit s = QUOR_NAME(make_Crit1)(a, b), t = QUOR_NAME(make_Crit1)(a, b);
  ASSERT_EQ(comp_Crit(s, t), 0);
  EXPECT_EQ(trier_Crit(link({s, t})), t);
  EXPECT_EQ(t->next, s);
  s->next = t->next = nullptr;
  Crit merged = updatD(s, t);
  EXPECT_EQ(merged, t);
  EXPECT_EQ(t->next, s);
  kill_all(merged);
  kill_all(list);
}

// The sort gives one order whatever the layout of the lcms (keys of one or
// two words, or none when they are too wide): comp_Crit ascending, pairs that
// compare equal in the reverse of their order in the list.
QTEST_F(Poly, PairSortIsTheSameInEveryLayout) {
  std::mt19937 rng(5);
  struct Case {
    u32 n, k, top;
  };
  const Case cases[] = {{3, 0, 3}, {9, 4, 4}, {12, 0, 60}, {12, 5, 3000}, {70, 0, 2}};
  for (const Case& c : cases) {
    layout(c.n, c.k);
    std::vector<Dpol> polys;
    for (int i = 0; i < 30; ++i) {
      Vec v(c.n + 1);
      for (u32& x : v) x = rnd(rng, 4) ? rnd(rng, 3) : rnd(rng, c.top + 1);
      polys.push_back(lead_only(v));
      if (i % 3 == 0) polys.push_back(lead_only(v));  // equal leads: equal lcms, cofactors too
      if (i % 5 == 0) {
        // u, v, then their lcm: two pairs of one lcm with different cofactors.
        Vec u(c.n + 1), l(v);
        for (u32 s = 0; s <= c.n; ++s) u[s] = rnd(rng, 3), l[s] = std::max(l[s], u[s]);
        polys.push_back(lead_only(u));
        polys.push_back(lead_only(l));
      }
    }
    std::vector<Crit> pairs;
    for (size_t i = 0; i < polys.size(); ++i)
      for (size_t j = i + 1; j < polys.size(); ++j)
        if (rnd(rng, 3) == 0)
          if (Crit x = QUOR_NAME(make_Crit1)(polys[i], polys[j])) pairs.push_back(x);
    std::vector<Crit> expected(pairs.rbegin(), pairs.rend());
    std::stable_sort(expected.begin(), expected.end(), [](Crit a, Crit b) { return comp_Crit(a, b) < 0; });
    std::vector<Crit> got;
    for (Crit x = trier_Crit(link(pairs)); x; x = x->next) got.push_back(x);
    ASSERT_EQ(got, expected) << c.n << " " << c.top;
    u32 cofactors_decide = 0;  // neighbours with one lcm, told apart by their cofactors
    for (size_t i = 0; i + 1 < got.size(); ++i)
      cofactors_decide += equal_Expos(got[i]->lcm, got[i + 1]->lcm) && got[i]->cofactor1 &&
                          got[i + 1]->cofactor1 && !equal_Expos(got[i]->cofactor1, got[i + 1]->cofactor1);
    EXPECT_GT(cofactors_decide, 0u) << c.n;
    kill_all(got.front());
  }
  layout(3, 0);
}

QTEST_F(Poly, ChainCriterion) {
  const u64* lcm = mono({1, 1, 1, 0}) + 1;  // pair of x*y and y*z... lcm x*y*z
  const u64* e1 = mono({1, 1, 0, 0}) + 1;
  const u64* e2 = mono({0, 1, 1, 0}) + 1;
  EXPECT_EQ(crit2(mono({0, 1, 0, 0}) + 1, lcm, e1, e2), 1);  // y: lcm(y, e_i) = e_i != lcm
  EXPECT_EQ(crit2(mono({0, 0, 0, 1}) + 1, lcm, e1, e2), 0);  // h does not divide the lcm
  EXPECT_EQ(crit2(mono({0, 0, 1, 0}) + 1, lcm, e1, e2), 0);  // lcm(z, x*y) = lcm
  EXPECT_EQ(crit2(mono({1, 0, 0, 0}) + 1, lcm, e1, e2), 0);  // lcm(x, y*z) = lcm

  // On a list: only the pair whose lcm m divides strictly on both sides goes.
  Dpol p = lead_only({1, 1, 0, 0}), q = lead_only({0, 1, 1, 0}), r = lead_only({1, 0, 1, 0});
  Crit pq = QUOR_NAME(make_Crit1)(p, q), pr = QUOR_NAME(make_Crit1)(p, r);
  Crit D = crit2onLPC(mono({0, 1, 0, 0}) + 1, link({pr, pq}));
  EXPECT_EQ(ids(D), (Ids{{p->id, r->id}}));
  kill_all(D);
}

QTEST_F(Poly, NewPairCriteriaOnLcmClasses) {
  // p = x*y; partners sharing lcm x*y*z: z (coprime), x*z, y*z, x*y*z (not).
  auto run = [&](std::vector<Vec> partners) {
    std::vector<Dpol> g;
    for (auto& v : partners) g.push_back(lead_only(v));
    Dpol p = lead_only({1, 1, 0, 0});
    std::vector<Crit> pairs;
    for (Dpol x : g) pairs.push_back(QUOR_NAME(make_Crit1)(x, p));
    Crit out = critBackEtrangeronLPC(link(pairs));
    std::vector<u32> kept;
    for (Crit c = out; c; c = c->next)
      kept.push_back(u32(std::find(g.begin(), g.end(), c->older) - g.begin()) + 1);
    kill_all(out);
    return kept;
  };
  const Vec z = {0, 0, 1, 0}, xz = {1, 0, 1, 0}, yz = {0, 1, 1, 0};
  EXPECT_EQ(run({xz, yz}), (std::vector<u32>{2}));      // neither coprime: the last stays
  EXPECT_EQ(run({z, xz}), (std::vector<u32>{1}));       // first coprime: it stays
  EXPECT_EQ(run({xz, z}), (std::vector<u32>{}));        // second coprime: nothing stays
  EXPECT_EQ(run({z, xz, yz}), (std::vector<u32>{1, 3}));
  EXPECT_EQ(run({z}), (std::vector<u32>{}));
  // A later pair whose lcm is a multiple of an earlier class's lcm goes.
  const Vec xzz = {1, 0, 2, 0};  // lcm x*y*z^2
  EXPECT_EQ(run({xz, xzz}), (std::vector<u32>{1}));
  EXPECT_EQ(critBackEtrangeronLPC(nullptr), nullptr);
}

// The new pairs made without records for those the criteria remove are the
// pairs of the whole list sorted and filtered: the same pairs in the same
// order with the same "#" messages, in every layout, inside the degree window,
// with p older or newer than its partners.
QTEST_F(Poly, NewPairsAreThoseOfTheWholeListSortedAndFiltered) {
  std::mt19937 rng(17);
  QUOR_NAME(want_quiet) = 0;
  struct Case {
    u32 n, k, top;
  };
  const Case cases[] = {{3, 0, 3}, {3, 1, 3}, {9, 4, 2}, {70, 0, 2}};
  u32 messages = 0, direct = 0;
  for (int round = 0; round < 240; ++round) {
    const Case& c = cases[round % 4];
    layout(c.n, c.k);
    Dlim = round % 5 == 4 ? 5 : 1000000000;
    auto lead = [&] {
      Vec v(c.n + 1);
      for (u32& x : v) x = rnd(rng, 3) ? 0 : rnd(rng, c.top);
      return v;
    };
    const u32 n = rnd(rng, 30), at = rnd(rng, n + 1);  // p made after G[at - 1]
    std::vector<Dpol> G;
    Dpol p = nullptr;
    for (u32 i = 0; i <= n; ++i) {
      if (i == at) p = lead_only(lead());
      if (i < n) G.push_back(i && rnd(rng, 6) == 0 ? G[rnd(rng, i)] : lead_only(lead()));
    }
    // A pair whose lcm is its older lead takes the path that prints.
    bool prints = false;
    for (Dpol g : G) {
      Crit x = g->id < p->id ? QUOR_NAME(make_Crit1)(g, p) : QUOR_NAME(make_Crit1)(p, g);
      if (x) prints |= x->cofactor1 == nullptr;
      if (x) kill_deep_Crit(x);
    }
    direct += !prints;
    host_.clear_output();
    Crit whole = critBackEtrangeronLPC(trier_Crit(QUOR_NAME(generate_Crit)(p, G.data(), n)));
    const Ids expected = ids(whole);
    const std::string said = host_.output();
    kill_all(whole);
    host_.clear_output();
    Crit fresh = new_pairs_Crit(p, G.data(), n);
    ASSERT_EQ(ids(fresh), expected) << "round " << round;
    ASSERT_EQ(host_.output(), said) << "round " << round;
    messages += !said.empty();
    for (Crit x = fresh; x; x = x->next) {
      Crit y = x->older == p ? QUOR_NAME(make_Crit1)(p, x->newer) : QUOR_NAME(make_Crit1)(x->older, p);
      EXPECT_EQ(x->deg, y->deg);
      EXPECT_EQ(slots(x->lcm), slots(y->lcm));
      kill_deep_Crit(y);
    }
    kill_all(fresh);
  }
  EXPECT_GT(messages, 10u);
  EXPECT_GT(direct, 60u);
  layout(3, 0);
}

QTEST_F(Poly, BasisAndReductorTables) {
  Dpol G[4] = {lead_only({2, 0, 0, 0}), lead_only({1, 1, 0, 0}), lead_only({0, 0, 1, 0})};
  Dpol p = lead_only({1, 0, 0, 0});
  EXPECT_EQ(updatF(lead_Expos(p), p, G, 3), 2u);
  EXPECT_EQ(G[0]->nb_terms, 1u);
  EXPECT_EQ(slots(lead_Expos(G[0])), (Vec{0, 0, 1, 0}));
  EXPECT_EQ(G[1], p);
  Dpol H[3] = {lead_only({1, 1, 0, 0}), lead_only({2, 0, 0, 0})};
  EXPECT_EQ(updatF(lead_Expos(p), p, H, 2), 1u);
  EXPECT_EQ(H[0], p);
  EXPECT_EQ(updatF(lead_Expos(p), p, H, 0), 1u);

  // The basis table holds 100,000 entries at most.
  std::vector<Dpol> big(kBasisCapacity + 1);
  Dpol y = lead_only({0, 1, 0, 0});
  std::fill(big.begin(), big.end(), y);
  EXPECT_EQ(updatF(lead_Expos(p), p, big.data(), kBasisCapacity - 1), kBasisCapacity);
  std::fill(big.begin(), big.end(), y);
  EXPECT_EQ(fatal_text([&] { updatF(lead_Expos(p), p, big.data(), kBasisCapacity); }),
            "Not enough memory to store the result (base) !\n");

  // Reductors: appended, sorted lexicographically on the lead, largest first.
  Dpol R[5] = {lead_only({0, 1, 0, 0})};
  u32 count = 1;
  Dpol add[] = {lead_only({0, 0, 1, 0}), lead_only({1, 0, 0, 0})};
  reductors(R, &count, add, 2, 5);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(R[0], add[1]);
  EXPECT_EQ(R[2], add[0]);
  EXPECT_EQ(fatal_text([&] { reductors(R, &count, add, 2, 5); }), "Not enough memory for the table of reductors!\n");
  EXPECT_EQ(count, 3u);

  // Divisibility tests on the basis.
  Dpol B[] = {lead_only({0, 0, 0, 2}), lead_only({1, 0, 0, 2})};
  EXPECT_EQ(is_reducible_by_G(mono({1, 1, 0, 2}) + 1, B, 2), B[0]);
  EXPECT_EQ(is_reducible_by_G(mono({1, 1, 0, 1}) + 1, B, 2), nullptr);
  Dpol m = lead_only({1, 1, 0, 0});
  EXPECT_EQ(is_reducible_by_G(lead_Expos(m), B + 1, 1), nullptr);
  EXPECT_EQ(is_reducible3(m->monoms, B + 1, 1), 1);  // x*h^2 divides x*y with h ignored
  EXPECT_EQ(is_reducible3(lead_only({0, 1, 0, 0})->monoms, B + 1, 1), 0);
}

QTEST_F(Poly, RestrictionToTheSecondBlock) {
  layout(3, 1);  // block 1 = {x}
  EXPECT_EQ(restriction(nullptr, 0), 0u);
  Dpol a = poly({{0, 1, 0, 0}, {0, 0, 1, 0}}), b = poly({{0, 1, 0, 0}, {1, 0, 0, 0}}), c = new_Dpol(0);
  Dpol G[] = {b, a, c};
  EXPECT_EQ(restriction(G, 3), 2u);
  EXPECT_EQ(G[0], a);
  EXPECT_EQ(G[1], c);
  u64* withnull[] = {nullptr, mono({0, 1, 0, 0})};
  EXPECT_EQ(is_eliminated(2, withnull, 1), 1);
  EXPECT_EQ(is_eliminated(1, b->monoms + 1, 0), 1);
  EXPECT_EQ(is_eliminated(2, b->monoms, 1), 0);
  EXPECT_EQ(is_pure_power_i(poly({{2, 0, 1, 0}})->monoms, 2), 1);
  EXPECT_EQ(is_pure_power_i(poly({{2, 0, 0, 0}})->monoms, 2), 0);
  EXPECT_EQ(is_pure_power_i(c->monoms, 0), 0);
}

// Inserting random leading monomials as the main loop does, the pairs left
// (with the coprime ones) must still justify every S-pair of every inserted
// polynomial through chains: {f, g} is justified when it is kept, coprime, or
// some k with LM(k) | lcm(f, g) has {f, k} and {k, g} justified first.
QTEST_F(Poly, SurvivingPairsCoverEveryS_Pair) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 60; ++round) {
    layout(3, round % 2);
    const u32 n = 3 + rnd(rng, 8);
    std::vector<Dpol> all;
    std::vector<Dpol> G(n + 1);
    u32 count = 0;
    Crit D = nullptr;
    for (u32 i = 0; i < n; ++i) {
      Dpol p = lead_only({rnd(rng, 3), rnd(rng, 3), rnd(rng, 3), rnd(rng, 2)});
      all.push_back(p);
      const u64* m = lead_Expos(p);
      if (count) {
        Crit N = trier_Crit(QUOR_NAME(generate_Crit)(p, G.data(), count));
        D = crit2onLPC(m, D);
        D = updatD(critBackEtrangeronLPC(N), D);
      }
      count = updatF(m, p, G.data(), count);
    }
    for (Crit c = D; c && c->next; c = c->next) ASSERT_LE(comp_Crit(c, c->next), 0);

    std::vector<Vec> lm;
    for (Dpol p : all) lm.push_back(slots(lead_Expos(p)));
    const u32 h = nb_of_affine_variables;
    auto lcmv = [&](u32 i, u32 j) {
      Vec l(lm[i].size());
      for (u32 s = 0; s < l.size(); ++s) l[s] = std::max(lm[i][s], lm[j][s]);
      return l;
    };
    auto divides = [](const Vec& d, const Vec& m) {
      for (u32 s = 0; s < d.size(); ++s)
        if (d[s] > m[s]) return false;
      return true;
    };
    std::vector<std::vector<bool>> ok(n, std::vector<bool>(n, false));
    std::map<u32, u32> index;
    for (u32 i = 0; i < n; ++i) index[all[i]->id] = i;
    for (Crit c = D; c; c = c->next) {
      const u32 i = index[c->older->id], j = index[c->newer->id];
      ok[i][j] = ok[j][i] = true;
    }
    for (u32 i = 0; i < n; ++i)
      for (u32 j = 0; j < n; ++j) {
        bool coprime = true;
        for (u32 s = 0; s < h; ++s) coprime &= lm[i][s] == 0 || lm[j][s] == 0;
        if (coprime || i == j) ok[i][j] = true;
      }
    for (bool grew = true; grew;) {
      grew = false;
      for (u32 i = 0; i < n; ++i)
        for (u32 j = i + 1; j < n; ++j) {
          if (ok[i][j]) continue;
          const Vec l = lcmv(i, j);
          for (u32 k = 0; k < n && !ok[i][j]; ++k)
            if (ok[i][k] && ok[k][j] && divides(lm[k], l)) ok[i][j] = ok[j][i] = grew = true;
        }
    }
    for (u32 i = 0; i < n; ++i)
      for (u32 j = i + 1; j < n; ++j) EXPECT_TRUE(ok[i][j]) << "round " << round << " pair " << i << "," << j;
    kill_all(D);
  }
}

QUOR_TEST_END
