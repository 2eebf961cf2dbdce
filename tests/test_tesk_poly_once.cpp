// Tesk polynomials of the three instances against an independent model:
// arithmetic, reduction steps, transformations, the record families (sort,
// release, headers), reduction of stored bases' multiples to zero, the
// coefficient compaction, and the pair, state and block families.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tesk/base/vgf_heap.h"
#include "tesk/poly/bloc.h"
#include "tesk/poly/compaction.h"
#include "tesk/poly/scrit.h"
#include "tesk/poly/state.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using namespace tesk_poly_model;

using Configs = ::testing::Types<Cfg<BigDexp__VGF, 5, 0, 1>, Cfg<BigDexp__VGF, 7, 0, 3>, Cfg<BigLexp__VGF, 6, 0, 3>,
                                 Cfg<DRLDRL__GFC, 5, 5, 1>, Cfg<DRLDRL__GFC, 6, 2, 1>>;

template <class C>
class TeskPoly : public ::testing::Test {
protected:
    using I = typename C::I;
    using Mo = Model<I>;
    using M = Dmp<I>;
    using P = Term<I>;
    using Lst = List<I>;
    using Poly = typename Mo::Poly;
    using Dom = typename I::D;
    void SetUp() override { C::set_up(); }
    static typename Dom::C coef(const Coef& c) { return Dom::from_residues(c.data(), unsigned(c.size())); }
    static Poly rest(Poly p) {
        p.erase(p.begin());
        return p;
    }
    static Poly map_exps(const Poly& a, const std::function<Exps(Exps)>& f) {
        Poly r;
        for (auto& [e, c] : a) Mo::add_term(r, f(e), c);
        return r;
    }
    static Lst* list(std::initializer_list<P*> ps) { return Mo::list(ps); }
    std::mt19937_64 g{12345};
};
TYPED_TEST_SUITE(TeskPoly, Configs);

TYPED_TEST(TeskPoly, ArithmeticMatchesTheModel) {
    using Mo = typename TestFixture::Mo;
    using M = typename TestFixture::M;
    using Poly = typename TestFixture::Poly;
    auto& g = this->g;
    const unsigned n = Mo::n();
    const Exps zero(n, 0);
    for (int round = 0; round < 25; ++round) {
        const Poly a = Mo::random(g, 1 + unsigned(g() % 12), 3), b = Mo::random(g, 1 + unsigned(g() % 12), 3);
        auto* pa = Mo::build(a);
        auto* pb = Mo::build(b);
        EXPECT_EQ(Mo::take(M::add_dd(M::copy(pa), M::copy(pb))), Mo::sum(a, b));
        EXPECT_EQ(M::add_dd(M::copy(pa), M::neg_d(M::copy(pa))), nullptr);
        EXPECT_EQ(Mo::take(M::mult_dd(M::copy(pa), pb)), Mo::product(a, b));
        EXPECT_EQ(Mo::take(M::mul_dd(M::copy(pa), M::copy(pb))), Mo::product(a, b));
        EXPECT_EQ(Mo::take(M::mult(pa, pb)), Mo::product(a, b));
        EXPECT_EQ(Mo::read(pb), b);

        const Coef c = Mo::random_coef(g), one = Mo::scalar(1);
        const Exps m = Mo::random_exps(g, 2);
        auto* pm = Mo::build({{m, one}});
        EXPECT_EQ(Mo::take(M::dec(this->coef(c), pm->exp, M::copy(pa))), Mo::scaled(a, c, m));
        EXPECT_EQ(Mo::take(M::copy_dec(this->coef(c), pm->exp, pa)), Mo::scaled(a, c, m));
        EXPECT_EQ(Mo::take(M::scal(this->coef(c), M::copy(pa))), Mo::scaled(a, c, zero));
        EXPECT_EQ(Mo::take(M::shift(pm->exp, M::copy(pa))), Mo::scaled(a, one, m));
        EXPECT_EQ(Mo::take(M::hMonic(M::copy(pa))), Mo::scaled(a, Mo::inv(a.begin()->second), zero));

        // The same polynomial summed term by term, smallest first.
        typename TestFixture::P* other = nullptr;
        for (auto it = a.rbegin(); it != a.rend(); ++it) other = M::add_dd(Mo::build({*it}), other);
        EXPECT_TRUE(M::eq(pa, other));
        EXPECT_EQ(M::Hash(pa, 7), M::Hash(other, 7));
        EXPECT_EQ(M::eq(pa, pb), a == b);

        const unsigned i = unsigned(g() % n);
        EXPECT_EQ(Mo::take(differentiate_d(M::copy(pa), i)), [&] {
            Poly r;
            for (auto& [e, cf] : a)
                if (e[i]) {
                    Exps f = e;
                    --f[i];
                    Mo::add_term(r, f, Mo::mul(cf, Mo::scalar(e[i])));
                }
            return r;
        }());
        std::vector<unsigned> perm(n);
        std::iota(perm.begin(), perm.end(), 0u);
        std::shuffle(perm.begin(), perm.end(), g);
        EXPECT_EQ(Mo::take(M::permut_d(M::copy(pa), perm.data())), TestFixture::map_exps(a, [&](Exps e) {
            Exps f(n);
            for (unsigned j = 0; j < n; ++j) f[perm[j]] = e[j];
            return f;
        }));
        const auto drop = [&](unsigned v) {
            return TestFixture::map_exps(a, [v](Exps e) {
                e[v] = 0;
                return e;
            });
        };
        EXPECT_EQ(Mo::take(de_homog_d(M::copy(pa), i)), drop(i));
        // Homogenising with a variable the polynomial lacks, and back.
        const Poly flat = drop(n - 1);
        unsigned top = 0;
        for (auto& [e, cf] : flat) top = std::max(top, unsigned(std::accumulate(e.begin(), e.end(), 0u)));
        auto* h = homog_d(Mo::build(flat), n - 1);
        EXPECT_EQ(Mo::read(h), TestFixture::map_exps(flat, [&](Exps e) {
            e[n - 1] = top - std::accumulate(e.begin(), e.end(), 0u);
            return e;
        }));
        EXPECT_EQ(Mo::take(de_homog_d(h, n - 1)), flat);
        for (auto* p : {pa, pb, pm, other}) M::Terms::kill_all(p);
    }
}

TYPED_TEST(TeskPoly, ReductionStepsMatchTheModel) {
    using Mo = typename TestFixture::Mo;
    using M = typename TestFixture::M;
    using Poly = typename TestFixture::Poly;
    auto& g = this->g;
    for (int round = 0; round < 25; ++round) {
        const Poly q = Mo::random(g, 1 + unsigned(g() % 8), 3);
        const Exps m = Mo::random_exps(g, 2);
        Exps lead = q.begin()->first;
        for (size_t j = 0; j < lead.size(); ++j) lead[j] += m[j];
        Poly p{{lead, Mo::random_coef(g)}};
        for (auto& [e, c] : Mo::random(g, unsigned(g() % 10), 4))
            if (Mo::cmp(e, lead) < 0) p.emplace(e, c);
        const Coef lp = p.begin()->second, lq = q.begin()->second;
        auto* pp = Mo::build(p);
        auto* pq = Mo::build(q);
        auto* pm = Mo::build({{m, Mo::scalar(1)}});
        const Poly rp = TestFixture::rest(p), rq = TestFixture::rest(q);
        EXPECT_EQ(Mo::take(M::reduire(this->coef(lq), M::copy(pp), this->coef(Mo::neg(lp)), pm->exp, pq)),
                  Mo::sum(Mo::scaled(rp, lq, Exps(m.size(), 0)), Mo::scaled(rq, Mo::neg(lp), m)));
        const Coef f = Mo::neg(Mo::mul(lp, Mo::inv(lq)));
        EXPECT_EQ(Mo::take(M::reduire_nonmonic(M::copy(pp), pq)), Mo::sum(rp, Mo::scaled(rq, f, m)));
        EXPECT_EQ(Mo::take(M::reduire(M::copy(pp), M::hMonic(M::copy(pq)))), Mo::sum(rp, Mo::scaled(rq, f, m)));
        EXPECT_EQ(Mo::read(pq), q);
        if (!M::D::is_one(pq->coef)) {
            EXPECT_EQ(fatal_of([&] { M::reduire(pp, pq); }), "Reduce by a non monic polynomial !\n");
        }
        for (auto* t : {pp, pq, pm}) M::Terms::kill_all(t);
    }
}

// Zero polynomials in lists are skipped; exquo divides exactly by a non-monic divisor.
TYPED_TEST(TeskPoly, ListReductionsSkipZeroPolynomials) {
    using Mo = typename TestFixture::Mo;
    using M = typename TestFixture::M;
    using Poly = typename TestFixture::Poly;
    auto& g = this->g;
    const unsigned n = Mo::n();
    Exps x0(n, 0), x1(n, 0);
    x0[0] = 1;
    x1[1] = 1;
    for (int round = 0; round < 10; ++round) {
        Poly d = Mo::random(g, 2 + unsigned(g() % 4), 2);
        Mo::add_term(d, x0, Mo::scalar(1));  // not a constant
        d = Mo::scaled(d, Mo::mul(Mo::scalar(3), Mo::inv(d.begin()->second)), Exps(n, 0));
        const Poly h = Mo::random(g, 1 + unsigned(g() % 5), 2);
        const Poly dh = Mo::product(d, h);
        auto* pd = Mo::build(d);
        auto* L = TestFixture::list({nullptr, pd, nullptr});
        EXPECT_EQ(redPo(Mo::build(dh), L), nullptr);
        EXPECT_EQ(Mo::take(M::exquo(Mo::build(dh), L->next)), h);
        Poly dh1 = dh;
        Mo::add_term(dh1, Exps(n, 0), Mo::scalar(1));
        EXPECT_EQ(fatal_of([&] { M::exquo(Mo::build(dh1), L->next); }), "Not an exact quotient !\n");
        EXPECT_NE(fatal_of([&] { M::exquo(Mo::build(dh), L); }), "");
        EXPECT_EQ(Mo::take(M::gcd_dd(M::copy(pd), nullptr)), Mo::scaled(d, Mo::inv(Mo::scalar(3)), Exps(n, 0)));
        M::Lists::kill_all(L);
    }
    // Univariate Euclid: (x0+1)(x0+2) and (x0+1)(x0+3).
    const Poly one_x{{Exps(n, 0), Mo::scalar(1)}};
    auto lin = [&](unsigned c) { return Mo::sum(Poly{{x0, Mo::scalar(1)}}, Mo::scaled(one_x, Mo::scalar(c), Exps(n, 0))); };
    EXPECT_EQ(Mo::take(M::gcd_dd(Mo::build(Mo::product(lin(1), lin(2))), Mo::build(Mo::product(lin(1), lin(3))))),
              lin(1));
    // Cleaning: x0^3 goes (x0^2 divides it), the zero polynomial and x1 stay.
    Exps x0sq = x0, x0cube = x0;
    x0sq[0] = 2;
    x0cube[0] = 3;
    auto* a = Mo::build({{x0sq, Mo::scalar(1)}});
    auto* b = Mo::build({{x0cube, Mo::scalar(1)}});
    auto* c = Mo::build({{x1, Mo::scalar(1)}});
    auto* L = M::menage_homog_d(TestFixture::list({a, nullptr, b, c}));
    EXPECT_EQ(M::Lists::size(L), 3u);
    EXPECT_EQ(M::Lists::elt(L, 3), c);
    // Sorted by leading monomial, the zero polynomial last (first in the reverse sort).
    L = M::Lists::trier(L, M::comp_List);
    EXPECT_EQ(M::Lists::elt(L, 1), a);
    EXPECT_EQ(M::Lists::elt(L, 3), nullptr);
    L = M::Lists::trier(L, M::comp_rev_List);
    EXPECT_EQ(M::Lists::elt(L, 1), nullptr);
    EXPECT_EQ(M::Lists::elt(L, 3), a);
    M::Terms::kill_all(b);
    M::Lists::kill_all(L);
}

// ---------------------------------------------------------------------------
// Families, headers and transformations over BigDexp__VGF (three primes) or
// DRLDRL__GFC.
class TeskDexp : public ::testing::Test {
protected:
    using I = BigDexp__VGF;
    using Mo = Model<I>;
    using M = Dmp<I>;
    using P = Term<I>;
    using Poly = Mo::Poly;
    void SetUp() override { Cfg<I, 5, 0, 3>::set_up(); }
    static P* x(std::initializer_list<std::pair<Exps, long>> terms) { return Mo::poly(terms); }
    std::mt19937_64 g{777};
};

// The list sort against a plain model of the same bottom-up merge: runs of
// N counted from the front, the later run's record first on a tie.
template <class T, class TakeLater>
std::vector<T> reference_sort(std::vector<T> v, TakeLater take_later) {
    for (size_t N = 1; N < v.size(); N *= 2) {
        std::vector<T> out;
        for (size_t s = 0; s < v.size(); s += 2 * N) {
            size_t a = s, ae = std::min(s + N, v.size()), b = ae, be = std::min(s + 2 * N, v.size());
            while (a < ae && b < be) out.push_back(take_later(v[a], v[b]) ? v[b++] : v[a++]);
            while (a < ae) out.push_back(v[a++]);
            while (b < be) out.push_back(v[b++]);
        }
        v = out;
    }
    return v;
}

TEST_F(TeskDexp, SortsMatchTheReferenceWithItsTieRule) {
    for (unsigned len : {0u, 1u, 2u, 7u, 64u, 300u}) {
        std::vector<P*> recs;
        for (unsigned i = 0; i < len; ++i) recs.push_back(x({{Mo::random_exps(g, 1), 1 + i}}));
        P* chain = nullptr;
        for (auto it = recs.rbegin(); it != recs.rend(); ++it) (*it)->next = chain, chain = *it;
        auto walk = [](P* c) {
            std::vector<P*> v;
            for (; c; c = c->next) v.push_back(c);
            return v;
        };
        chain = M::Terms::trier(chain, M::comp);
        const auto want = reference_sort(recs, [](P* a, P* b) { return M::comp(a, b) >= 0; });
        EXPECT_EQ(walk(chain), want);
        static constexpr auto less_deg = [](P* a, P* b) -> Boolean {
            return expo::Packed<BigDexp_Layout>::totalDegree(a->exp) < expo::Packed<BigDexp_Layout>::totalDegree(b->exp);
        };
        chain = M::Terms::trier_boolean(chain, +less_deg);
        EXPECT_EQ(walk(chain), reference_sort(want, [](P* a, P* b) { return bool(less_deg(b, a)); }));
        M::Terms::kill_all(chain);
    }
    // Three consecutive new() link to one another.
    P* r1 = M::Terms::new_();
    P* r2 = M::Terms::new_();
    P* r3 = M::Terms::new_();
    EXPECT_EQ(r1->next, r2);
    EXPECT_EQ(r2->next, r3);
    for (P* r : {r1, r2, r3}) M::Terms::kill_top(r);
}

TEST_F(TeskDexp, KillAllGivesEveryRecordBack) {
    const unsigned terms0 = in_use<Term_Spec<I>>(), lists0 = in_use<List_Spec<I>>(),
                   lists2 = in_use<List_List_Spec<I>>(), stats0 = in_use<Stats_Spec<I>>();
    List_List<I>* ll = nullptr;
    for (int i = 0; i < 40; ++i) {
        List<I>* l = nullptr;
        for (int j = 0; j < 30; ++j) {
            P* p = Mo::build(Mo::random(g, 1 + unsigned(g() % 20), 4));
            l = M::Lists::cons(j % 3 ? p : M::link_one(p), l);
        }
        l = M::Lists::cons(nullptr, l);
        ll = M::Lists2::cons(M::Lists::copy_all(l), ll);
        M::Lists::kill_all(l);
    }
    EXPECT_GT(in_use<Term_Spec<I>>(), terms0 + 1000);
    M::Lists2::kill_all(ll);
    M::mult_dd(Mo::build(Mo::random(g, 9, 3)), nullptr);  // releases its first operand
    EXPECT_EQ(in_use<Term_Spec<I>>(), terms0);
    EXPECT_EQ(in_use<List_Spec<I>>(), lists0);
    EXPECT_EQ(in_use<List_List_Spec<I>>(), lists2);
    EXPECT_EQ(in_use<Stats_Spec<I>>(), stats0);
    // how_much reports the free records.
    unsigned f = 0;
    const std::string line = written(log_output, [&] { f = M::Lists::how_much(); });
    EXPECT_EQ(line.substr(0, line.find('\n') + 1), "Nb block List_DMP__BigDexp__VGF = " + std::to_string(M::Lists::stat_tesk) +
                                     ", Nb elts par block= 500, taille elt= 16,\n");
    EXPECT_EQ(f, M::Lists::stat_tesk * 500 - in_use<List_Spec<I>>());
}

TEST_F(TeskDexp, HeaderCellsAreRecognised) {
    const unsigned stats0 = in_use<Stats_Spec<I>>(), terms0 = in_use<Term_Spec<I>>();
    P* p = x({{{2, 1, 0, 0, 0}, 5}, {{0, 0, 0, 0, 4}, 3}, {{1, 0, 0, 0, 0}, 1}});
    P* h1 = M::link_one(p);
    P* h2 = M::link_one(M::copy(p), 77);
    EXPECT_EQ(h1->stats->sugar, 4u);  // the largest total degree
    EXPECT_EQ(M::find(77, M::Lists::cons(h1, nullptr), M::Lists::cons(h2, nullptr)), h2);
    EXPECT_EQ(M::find(h1->stats->id, M::Lists::cons(h2, M::Lists::cons(h1, nullptr))), h1);
    P* c = M::copy(h1);
    EXPECT_TRUE(M::is_header(c));
    EXPECT_NE(c->stats, h1->stats);
    EXPECT_EQ(c->stats->id, h1->stats->id);
    EXPECT_TRUE(M::eq(c->next, p));
    // The header sorts by the term after it; its statistics go back with it.
    auto* l = M::Lists::cons(h1, M::Lists::cons(nullptr, M::Lists::cons(h2, nullptr)));
    l = M::Lists::trier(l, M::comp_garb_List);
    EXPECT_EQ(M::Lists::elt(l, 3), nullptr);
    for (P* t : {h1, h2, c}) M::Terms::kill_all(t);
    EXPECT_EQ(in_use<Stats_Spec<I>>(), stats0);
    EXPECT_EQ(in_use<Term_Spec<I>>(), terms0);
    // A released header is a term record like any other.
    P* t = M::Terms::new_();
    EXPECT_FALSE(M::is_header(t));
    M::Terms::kill_top(t);
}

// The raw export takes the terms off one by one, leading term first, behind a
// header or not; each taken term is unlinked and stays the caller's, whole,
// until the caller releases it.
TYPED_TEST(TeskPoly, RawExportHandsEachTermToTheCaller) {
    using Mo = typename TestFixture::Mo;
    using M = typename TestFixture::M;
    using P = typename TestFixture::P;
    using Dom = typename TestFixture::Dom;
    const unsigned n = Mo::n(), terms0 = in_use<Term_Spec<typename TestFixture::I>>();
    for (bool multi : {false, true}) {
        const auto a = Mo::random(this->g, 12, 5);
        auto* l = M::Lists::cons(M::link_one(Mo::build(a)), nullptr);
        std::vector<std::uint16_t> e(n);
        const Coef unset(Dom::residues(), 0xDEADu);
        std::vector<P*> taken;
        for (auto& [ex, co] : a) {
            Coef c = unset;
            P* t = multi ? M::extract_raw_first_multi(l, e.data(), c.data()) : M::extract_raw_first(l, e.data(), c.data());
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(Exps(e.begin(), e.end()), ex);
            // The prime-field instance's multi form writes no coefficient.
            EXPECT_EQ(c, multi && !Dom::kOnHeap ? unset : co);
            EXPECT_EQ(t->next, nullptr);
            taken.push_back(t);
        }
        EXPECT_EQ(l->elt, nullptr);
        // Nothing left: nothing taken, nothing written.
        EXPECT_EQ(M::extract_raw_first(l, e.data(), nullptr), nullptr);
        EXPECT_EQ(M::extract_raw_first_multi(nullptr, e.data(), nullptr), nullptr);
        M::Lists::kill(l);
        // Every term is still intact: together they are the polynomial.
        typename Mo::Poly back;
        for (P* t : taken) {
            const auto one = Mo::read(t);
            back.insert(one.begin(), one.end());
        }
        EXPECT_EQ(back, a);
        EXPECT_EQ(in_use<Term_Spec<typename TestFixture::I>>(), terms0 + a.size());
        for (P* t : taken) M::Terms::kill(t);
        EXPECT_EQ(in_use<Term_Spec<typename TestFixture::I>>(), terms0);
    }
}

TEST_F(TeskDexp, RawMonomialsRefuseExponentsTheTypeCannotHold) {
    const std::uint16_t big[5] = {0x8000, 0, 0, 0, 0};
    EXPECT_NE(fatal_of([&] { M::monom_raw(big, 1u); }).find("does not fit"), std::string::npos);
}

// The text reader's accessors of the two builds' instances: the polynomial
// and the list come back as they are; parse_set_lc replaces the coefficient
// of the first term only.
template <class I>
void check_parse_accessors(Term<I>* (*parse_polynome)(Term<I>*), typename I::D::C minus_one) {
    using Mo = Model<I>;
    Term<I>* p = Mo::poly({{{2, 1, 0}, 3}, {{0, 1, 0}, 4}});
    List<I>* l = Mo::list({p});
    EXPECT_EQ(parse_polynome(p), p);
    EXPECT_EQ(parse_set_List(l), l);
    parse_set_lc(p, minus_one);
    EXPECT_EQ(Mo::read(p), Mo::take(Mo::poly({{{2, 1, 0}, -1}, {{0, 1, 0}, 4}})));
    Dmp<I>::Lists::kill_all(l);
}

TEST(TeskParse, AccessorsReturnTheirArgumentAndSetTheLeadingCoefficient) {
    Cfg<BigDexp__VGF, 3, 0, 2>::set_up();
    check_parse_accessors<BigDexp__VGF>(parse_polynome_DMP__BigDexp__VGF, vgf::cVGF(std::int64_t{-1}));
    Cfg<DRLDRL__GFC, 3, 1, 1>::set_up();
    check_parse_accessors<DRLDRL__GFC>(parse_polynome_DMP__DRLDRL__GFC, 65520u);
}

TEST_F(TeskDexp, TransformationsOnSmallExamples) {
    // simpl_factor divides out x0*x1 and says so.
    P* p = x({{{2, 1, 0, 0, 0}, 1}, {{1, 2, 0, 0, 0}, 1}});
    P* q = x({{{1, 0, 0, 0, 0}, 1}, {{0, 0, 0, 0, 0}, 1}});
    const std::string text = written(Fortran.f, [&] {
        EXPECT_EQ(simpl_factor(p), 2u);
        EXPECT_EQ(simpl_factor(q), 0u);
    });
    EXPECT_TRUE(M::eq(p, x({{{1, 0, 0, 0, 0}, 1}, {{0, 1, 0, 0, 0}, 1}})));
    EXPECT_EQ(text.substr(0, 11), "Divise par ");
    // Leading coefficient in x0: x0^2*x1 + 2*x0^2 + x1 gives x1 + 2.
    P* r = x({{{2, 1, 0, 0, 0}, 1}, {{2, 0, 0, 0, 0}, 2}, {{0, 1, 0, 0, 0}, 1}});
    EXPECT_TRUE(M::eq(M::coeff(r, 1), x({{{0, 1, 0, 0, 0}, 1}, {{0, 0, 0, 0, 0}, 2}})));
    EXPECT_TRUE(M::eq(M::coeff(r, -1), M::one()));
    // Symmetric representatives; terms holding x0.
    P* s = x({{{2, 1, 0, 0, 0}, 1}, {{1, 2, 0, 0, 0}, 1}, {{0, 0, 1, 0, 0}, 1}, {{0, 0, 0, 0, 0}, 4}});
    EXPECT_TRUE(M::eq(M::tosym(s), x({{{2, 1, 0, 0, 0}, 1}, {{0, 0, 0, 0, 0}, 4}})));
    EXPECT_TRUE(M::eq(M::keep_first_var_d(M::copy(s)), x({{{2, 1, 0, 0, 0}, 1}, {{1, 2, 0, 0, 0}, 1}, {{0, 0, 0, 0, 0}, 4}})));
    // The orbit of x0 is x0+...+x4; compacting it gives x0 back.
    P* o = M::orbit(x({{{1, 0, 0, 0, 0}, 3}}));
    EXPECT_EQ(M::Terms::size(o), 5u);
    EXPECT_TRUE(M::eq(M::compact_d(o), x({{{1, 0, 0, 0, 0}, 3}})));
    // log of a one-term polynomial is empty; of x0^2 + x1, one form 2*x0 - x1.
    EXPECT_EQ(M::log(x({{{1, 0, 0, 0, 0}, 1}})), nullptr);
    auto* lg = M::log(x({{{2, 0, 0, 0, 0}, 1}, {{0, 1, 0, 0, 0}, 1}}));
    Poly want;
    Mo::add_term(want, {1, 0, 0, 0, 0}, Mo::scalar(2));
    Mo::add_term(want, {0, 1, 0, 0, 0}, Mo::neg(Mo::scalar(1)));
    EXPECT_EQ(Mo::read(lg->elt), want);
    // retain_polys: the polynomials holding x0 first, in order; the rest returned.
    P* e1 = x({{{1, 0, 0, 0, 0}, 1}});
    P* e2 = x({{{0, 1, 0, 0, 0}, 1}});
    P* e3 = x({{{1, 1, 0, 0, 0}, 1}});
    auto* l = M::Lists::cons(e2, M::Lists::cons(e1, M::Lists::cons(e3, nullptr)));
    List<I>* head = nullptr;
    auto* rest = M::retain_polys(l, head, 1);
    EXPECT_EQ(M::Lists::elt(head, 1), e1);
    EXPECT_EQ(M::Lists::elt(head, 2), e3);
    EXPECT_EQ(M::Lists::size(head), 2u);
    EXPECT_EQ(M::Lists::first(rest), e2);
}

// The derivative's coefficient k vanishes modulo a prime dividing k.
TEST(TeskGfc, DerivativeDropsTermsVanishingModuloThePrime) {
    using I = DRLDRL__GFC;
    using Mo = Model<I>;
    Cfg<I, 3, 3, 1>::set_up();
    gfc::set_module_GFC(7);
    Mo::Poly p;
    Mo::add_term(p, {7, 1, 0}, Mo::scalar(1));
    Mo::add_term(p, {3, 0, 0}, Mo::scalar(2));
    Mo::Poly want;
    Mo::add_term(want, {2, 0, 0}, Mo::scalar(6));
    EXPECT_EQ(Mo::take(differentiate_d(Mo::build(p), 0)), want);
    gfc::set_module_GFC(65521);
}

// A new variable count that changes the record size forgets what was cut
// for the old one.
TEST(TeskGfc, WordCountChangeForgetsOldSizeRecords) {
    using I = DRLDRL__GFC;
    using M = Dmp<I>;
    using Pairs = Family<SCrit_Spec<I>>;
    Cfg<I, 4, 2, 1>::set_up();
    Pairs::init_Objet();
    M::memo_all_monoms = M::one();
    const unsigned w = DRLDRL_Layout::words();
    M::set(4, 3, 0);  // same words
    EXPECT_NE(M::memo_all_monoms, nullptr);
    M::set(30, 15, 0);
    ASSERT_NE(DRLDRL_Layout::words(), w);
    EXPECT_EQ(M::memo_all_monoms, nullptr);
    EXPECT_EQ(Pairs::last_Objet, DRLDRL_Layout::words());
    EXPECT_EQ(M::Terms::last_Objet, DRLDRL_Layout::words());
    EXPECT_NE(fatal_of([] { M::set(5000, 10, 0); }), "");
    M::set(4, 2, 0);
}

// Resident memory of the process in bytes.
std::size_t resident_bytes() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return std::size_t(resident) * std::size_t(sysconf(_SC_PAGESIZE));
}

// Switching between two record sizes reuses the records of each size: 2,000
// switches between 3 and 20 variables cost no more than the first two (each
// used to take a new block of records, about 2 MB).
TEST(TeskGfc, SwitchingVariableCountsReusesTheRecords) {
  using I = DRLDRL__GFC;
  using M = Dmp<I>;
  Cfg<I, 4, 2, 1>::set_up();
  auto set = [](int k) { k % 2 ? M::set(20, 10, 0) : M::set(3, 2, 0); };
  set(0);
  const unsigned words3 = DRLDRL_Layout::words();
  set(1);
  ASSERT_NE(DRLDRL_Layout::words(), words3);
  for (int k = 0; k < 4; ++k) set(k);
  const unsigned blocks3 = M::Terms::stat_tesk;
  const std::size_t before = resident_bytes();
  for (int k = 0; k < 2000; ++k) {
    set(k);
    M::Terms::kill_all(M::one());  // the records of each size are in use too
  }
  EXPECT_LT(resident_bytes(), before + (std::size_t(8) << 20));
  EXPECT_EQ(M::Terms::stat_tesk, blocks3);
  M::set(4, 2, 0);
}

// The records of the size not in use stay reachable to the end of the
// process: the leak check of a sanitizer build, which runs after the static
// destructors, found the block of the other size lost (a normal-form request
// in 3 variables, then one in 4).
TEST(TeskGfc, RecordsOfAnotherSizeOutliveTheStaticDestructors) {
  using I = DRLDRL__GFC;
  using M = Dmp<I>;
  auto both_sizes_then_exit = [] {
    Cfg<I, 4, 2, 1>::set_up();
    M::set(3, 2, 0);
    M::set(20, 10, 0);
    std::exit(0);
  };
  EXPECT_EXIT(both_sizes_then_exit(), ::testing::ExitedWithCode(0), "");
}

// ---------------------------------------------------------------------------
// Multiples of a stored reduced basis reduce to zero.
template <class I>
void reduce_multiples_to_zero(const std::string& name, const std::string& basis_file) {
    using Mo = Model<I>;
    using M = Dmp<I>;
    List<I>* G = load_basis<I>(name, basis_file);
    std::mt19937_64 g(99);
    for (int round = 0; round < 6; ++round) {
        Term<I>* h = Mo::build(Mo::random(g, 3, 1));
        for (List<I>* c = G; c; c = c->next) EXPECT_EQ(redPo(M::mult(c->elt, h), G), nullptr) << name;
        M::Terms::kill_all(h);
    }
    M::Lists::kill_all(G);
}

TEST(TeskBases, MultiplesReduceToZero) {
    Cfg<BigDexp__VGF, 5, 0, 2>::set_up();
    reduce_multiples_to_zero<BigDexp__VGF>("cyclic-5", "cyclic-5.qq.gb.txt");
    Cfg<BigDexp__VGF, 7, 0, 2>::set_up();
    reduce_multiples_to_zero<BigDexp__VGF>("katsura-6", "katsura-6.qq.gb.txt");
    Cfg<DRLDRL__GFC, 5, 5, 1>::set_up();
    reduce_multiples_to_zero<DRLDRL__GFC>("cyclic-5", "cyclic-5.gf65521.gb.txt");
    Cfg<DRLDRL__GFC, 7, 7, 1>::set_up();
    reduce_multiples_to_zero<DRLDRL__GFC>("katsura-6", "katsura-6.gf65521.gb.txt");
}

// ---------------------------------------------------------------------------
// Compaction: a scratch computation inside a saved heap state, then only the
// survivors slid down onto the mark.
TEST_F(TeskDexp, SaveComputeRestoreSlideKeepsValues) {
    using namespace tesk::vgf;
    while (bot_bignum_tas - tesk_bignum_tas < 400000) alloc_Implement_VGF(4096);  // room in this block
    const Poly a = Mo::random(g, 15, 3), b = Mo::random(g, 15, 3);
    P* pa = Mo::build(a);
    P* pb = Mo::build(b);
    Garbage_State mark;
    save_tesk_state_VGF(&mark);
    P* prod = M::mult(pa, pb);
    P* tagged = M::link_one(M::add_dd(M::copy(pa), M::copy(pb)));
    VGF c = copy(prod->coef);
    Coef c_want(3);
    M::D::to_residues(c, c_want.data());
    restore_tesk_state_VGF(&mark);
    glisser_DMP__BigDexp__VGF(c, prod, tagged);
    const unsigned moved = 1 + M::Terms::size(prod) + M::Terms::size(tagged) - 1;
    EXPECT_EQ(tesk_bignum_tas - mark.tesk_bignum_tas, std::ptrdiff_t(moved * 12));
    EXPECT_EQ(Mo::read(prod), Mo::product(a, b));
    EXPECT_EQ(Mo::read(tagged->next), Mo::sum(a, b));
    Coef c_now(3);
    M::D::to_residues(c, c_now.data());
    EXPECT_EQ(c_now, c_want);
    EXPECT_EQ(Mo::read(pa), a);
    for (P* t : {pa, pb, prod, tagged}) M::Terms::kill_all(t);
}

TEST_F(TeskDexp, CompactionRetriesOnOverflowWithoutStack) {
    const unsigned cap = MAX_COEF_DMP__BigDexp__VGF;
    const Poly a = Mo::random(g, 25, 4);
    ASSERT_EQ(a.size(), 25u);
    P* p = Mo::build(a);
    MAX_COEF_DMP__BigDexp__VGF = 10;
    std::istringstream out(written(log_output, [&] {
        glisser_DMP__BigDexp__VGF(p, Boolean(1));
        glisser_List_DMP__BigDexp__VGF(M::Lists::cons(p, nullptr), Boolean(1));  // retries too
    }));
    std::vector<std::string> lines;
    for (std::string l; std::getline(out, l);) lines.push_back(l + "\n");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Error: Trop d'entiers a glisser dans glisser_DMP__BigDexp__VGF(DMP__BigDexp__VGF p,Boolean verif) !\n");
    EXPECT_EQ(lines[1], lines[0]);
    EXPECT_EQ(MAX_COEF_DMP__BigDexp__VGF, 10u);
    EXPECT_EQ(Mo::read(p), a);
    // The full default capacity on a thread with a small stack.
    MAX_COEF_DMP__BigDexp__VGF = 600000;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 128 * 1024);
    pthread_t th;
    ASSERT_EQ(pthread_create(&th, &attr, [](void* q) -> void* {
        glisser_DMP__BigDexp__VGF(static_cast<P*>(q), Boolean(0));
        return nullptr;
    }, p), 0);
    pthread_join(th, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(Mo::read(p), a);
    MAX_COEF_DMP__BigDexp__VGF = cap;
    M::Terms::kill_all(p);
}

// ---------------------------------------------------------------------------
TEST(TeskFamilies, PairsSortByDegreeThenLcm) {
    using I = BigDexp__VGF;
    using Pairs = Family<SCrit_Spec<I>>;
    Cfg<I, 5, 0, 1>::set_up();
    Pairs::init_Objet();
    auto* p = Model<I>::build({{{1, 0, 0, 0, 0}, Model<I>::scalar(1)}});
    std::vector<std::pair<unsigned, Exps>> keys = {{5, {1, 0, 0, 0, 0}}, {3, {2, 1, 0, 0, 0}}, {5, {0, 1, 0, 0, 0}},
                                                   {3, {0, 0, 0, 0, 1}}, {4, {0, 0, 0, 0, 0}}};
    s_SCrit__BigDexp__VGF* chain = nullptr;
    for (auto& [d, e] : keys) {
        auto* s = new_SCrit__BigDexp__VGF();
        s->totdeg = d;
        s->poli = s->polj = p;
        expo::Packed<BigDexp_Layout>::set_null(s->lcmfij);
        for (unsigned i = 0; i < 5; ++i) expo::Packed<BigDexp_Layout>::ranger(s->lcmfij, e[i], i);
        s->next = chain;
        chain = s;
    }
    auto* copy = Pairs::copy(chain);
    chain = trier_SCrit__BigDexp__VGF(chain, comp_SCrit__BigDexp__VGF);
    std::vector<unsigned> order;
    for (auto* s = chain; s; s = s->next) order.push_back(s->totdeg * 10 + expo::Packed<BigDexp_Layout>::totalDegree(s->lcmfij));
    EXPECT_EQ(order, (std::vector<unsigned>{31, 33, 40, 51, 51}));
    EXPECT_EQ(expo::Packed<BigDexp_Layout>::extraire(chain->next->next->next->lcmfij, 1), 1u);  // x1 < x0
    kill_all_SCrit__BigDexp__VGF(chain);
    kill_all_SCrit__BigDexp__VGF(copy);
    EXPECT_EQ(Model<I>::read(p).size(), 1u);  // the polynomials stay
}

TEST(TeskFamilies, StatesShareTheirLists) {
    Cfg<DRLDRL__GFC, 3, 1, 1>::set_up();
    init_Objet_State();
    auto* l = Dmp<DRLDRL__GFC>::Lists::cons(nullptr, nullptr);
    sState* s = new sState(2, l, nullptr, new sState(1, nullptr, l, nullptr));
    sState* c = copy_one_State(s);
    EXPECT_EQ(c->pending, l);
    EXPECT_EQ(c->next, s->next);
    const unsigned f = poly::Family<poly::State_Spec>::size(poly::Family<poly::State_Spec>::root);
    kill_all_State(s);
    delete c;
    EXPECT_EQ(poly::Family<poly::State_Spec>::size(poly::Family<poly::State_Spec>::root), f + 3);
    EXPECT_EQ(l->elt, nullptr);  // the list is still ours
}

TEST(TeskFamilies, BlocksOwnTheirPolynomials) {
    using I = BigDexp__VGF;
    using Mo = Model<I>;
    Cfg<I, 5, 0, 2>::set_up();
    init_Objet_Bloc();
    init_List_Bloc();
    const unsigned terms0 = in_use<Term_Spec<I>>();
    std::mt19937_64 g(5);
    sList_Bloc* l = nullptr;
    for (int i = 0; i < 2; ++i) {
        sBloc* b = new_Bloc();
        b->head = Mo::build({{Mo::random_exps(g, 2), Mo::scalar(9)}});
        b->nf = Mo::build(Mo::random(g, 6, 2));
        b->len = i;
        b->next = nullptr;
        l = cons_List_Bloc(b, l);
    }
    sBloc* dup = copy_Bloc(l->elt);
    EXPECT_TRUE(Dmp<I>::D::is_zero(l->elt->head->coef));
    EXPECT_TRUE(Dmp<I>::eq(dup->nf, l->elt->nf));
    EXPECT_NE(dup->nf, l->elt->nf);
    EXPECT_EQ(written(Fortran.f, [&] { Fortran << l << static_cast<sList_Bloc*>(nullptr); }), "[,][]");
    kill_all_Bloc(dup);
    kill_all_List_Bloc(l);
    EXPECT_EQ(in_use<Term_Spec<I>>(), terms0);
    EXPECT_EQ(Hash_List_Bloc(nullptr, 42), 42u);
    EXPECT_EQ(fatal_of([] { Hash_Bloc(nullptr, 0); }), "Pas fait Hash_Bloc\n");
}

}  // namespace
