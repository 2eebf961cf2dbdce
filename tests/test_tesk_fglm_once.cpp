// The change of ordering of the Tesk engine: lexicographic bases from the
// sugar loop's degree bases, checked against a known answer, for membership
// in the ideal and for the shape of radical zero-dimensional systems.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tesk/algo/fglm.h"
#include "tesk/algo/sugar.h"
#include "tesk/poly/examples.h"
#include "tests/support/tesk_bases.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using Src = BigDexp__VGF;
using Dst = BigLexp__VGF;
using tesk_poly_model::Model;

void set_up(unsigned n) {
    tesk_poly_model::sugar_set_up<Src>(n);
    algo::Fglm::init();
    algo::Fglm::set(n, 0, 0);
}

// c * x^e over either package.
template <class I>
Term<I>* term(std::vector<std::uint16_t> e, int c) {
    return Dmp<I>::monom_raw(e.data(), cVGF(c));
}

struct Lex {
    algo::Fglm_Status status = algo::Fglm_Status::Done;
    int solutions = -2;
    std::vector<Model<Dst>::Poly> polys;  // by decreasing leading monomial
    bool in_ideal = true;                 // every polynomial reduces to 0 by the degree basis
};

// The lex basis of the ideal of F (released), through its degree basis; the
// membership check only when asked (it is costly for long univariate tails).
Lex lex_of(List<Src>* F, bool check = true) {
    List<Src>* G = algo::Sugar<Src>::groebner(F);
    Dmp<Src>::Lists::kill_all(F);
    Lex r;
    List<Dst>* L = algo::Fglm::change_ordering(G, &r.status, &r.solutions);
    for (List<Dst>* c = L; c; c = c->next) {
        r.polys.push_back(Model<Dst>::read(c->elt));
        if (!check) continue;
        Term<Src>* p = nullptr;  // the same polynomial in the degree package
        for (const auto& [e, coef] : r.polys.back()) {
            std::vector<std::uint16_t> e16(e.begin(), e.end());
            p = Dmp<Src>::add_dd(p, Dmp<Src>::monom_raw(e16.data(), coef.data(), unsigned(coef.size())));
        }
        p = algo::Sugar<Src>::normal_form(p, G);
        r.in_ideal = r.in_ideal && p == nullptr;
        Dmp<Src>::Terms::kill_all(p);
    }
    Dmp<Dst>::Lists::kill_all(L);
    Dmp<Src>::Lists::kill_all(G);
    return r;
}

// Shape form over n variables: x_i - g_i(x_{n-1}) for i < n-1, then a monic
// polynomial of degree `degree` in x_{n-1}.
void expect_shape(const Lex& r, unsigned n, unsigned degree) {
    ASSERT_EQ(r.polys.size(), n);
    for (unsigned i = 0; i < n; ++i) {
        const auto& p = r.polys[i];
        std::vector<unsigned> lead(n, 0);
        lead[i] = i + 1 < n ? 1 : degree;
        EXPECT_EQ(p.begin()->first, lead) << "polynomial " << i;
        for (auto it = std::next(p.begin()); it != p.end(); ++it) {
            for (unsigned v = 0; v + 1 < n; ++v) EXPECT_EQ(it->first[v], 0u) << "polynomial " << i;
            EXPECT_LT(it->first[n - 1], degree);
        }
    }
}

TEST(TeskFglm, SmallSystemsAgainstKnownBases) {
    // x^2 - y, y^2 - x: x - y^2, y^4 - y.
    set_up(2);
    Lex r = lex_of(Dmp<Src>::Lists::cons(
        Dmp<Src>::add_dd(term<Src>({2, 0}, 1), term<Src>({0, 1}, -1)),
        Dmp<Src>::Lists::cons(Dmp<Src>::add_dd(term<Src>({0, 2}, 1), term<Src>({1, 0}, -1)), nullptr)));
    EXPECT_EQ(r.status, algo::Fglm_Status::Done);
    EXPECT_EQ(r.solutions, 4);
    std::vector<Model<Dst>::Poly> want = {
        Model<Dst>::take(Dmp<Dst>::add_dd(term<Dst>({1, 0}, 1), term<Dst>({0, 2}, -1))),
        Model<Dst>::take(Dmp<Dst>::add_dd(term<Dst>({0, 4}, 1), term<Dst>({0, 1}, -1)))};
    EXPECT_EQ(r.polys, want);
    EXPECT_TRUE(r.in_ideal);

    // A monomial ideal is its own lex basis; its staircase is not a line.
    r = lex_of(Dmp<Src>::Lists::cons(term<Src>({2, 0}, 1),
                                     Dmp<Src>::Lists::cons(term<Src>({1, 1}, 1), Dmp<Src>::Lists::cons(term<Src>({0, 2}, 1), nullptr))));
    want = {Model<Dst>::take(term<Dst>({2, 0}, 1)), Model<Dst>::take(term<Dst>({1, 1}, 1)),
            Model<Dst>::take(term<Dst>({0, 2}, 1))};
    EXPECT_EQ(r.polys, want);
    EXPECT_EQ(r.solutions, 3);

    // The whole ring: {1}.
    r = lex_of(Dmp<Src>::Lists::cons(term<Src>({1, 0}, 1),
                                     Dmp<Src>::Lists::cons(Dmp<Src>::add_dd(term<Src>({1, 0}, 1), term<Src>({0, 0}, -1)), nullptr)));
    EXPECT_EQ(r.status, algo::Fglm_Status::Done);
    ASSERT_EQ(r.polys.size(), 1u);
    EXPECT_EQ(r.polys[0].begin()->first, (std::vector<unsigned>{0, 0}));
}

TEST(TeskFglm, PositiveDimensionRefused) {
    set_up(4);
    const Lex r = lex_of(Examples<Src>::cyclic(4, 0));
    EXPECT_EQ(r.status, algo::Fglm_Status::Not_Dim0);
    EXPECT_EQ(r.solutions, -1);
    EXPECT_TRUE(r.polys.empty());
}

// Katsura systems are radical and in general position for the last variable.
TEST(TeskFglm, KatsuraShapeBases) {
    set_up(5);
    Lex r = lex_of(Examples<Src>::katsura(5, 0));
    EXPECT_EQ(r.status, algo::Fglm_Status::Done);
    EXPECT_EQ(r.solutions, 16);
    expect_shape(r, 5, 16);
    EXPECT_TRUE(r.in_ideal);

    // Katsura-6: its last polynomial is the minimal polynomial of x7 (over
    // the rationals, denominators cleared) made monic modulo the primes.
    set_up(7);
    r = lex_of(tesk_poly_model::load_system<Src>("katsura-6"), false);
    EXPECT_EQ(r.solutions, 64);
    expect_shape(r, 7, 64);
    List<Src>* minpoly = tesk_poly_model::load_basis<Src>("katsura-6", "katsura-6.qq.minpoly.txt");
    const Model<Src>::Poly want = Model<Src>::read(Dmp<Src>::hMonic(minpoly->elt));
    Dmp<Src>::Lists::kill_all(minpoly);
    EXPECT_EQ(want.size(), 64u);  // no constant term: x7 = 0 is a root
    ASSERT_FALSE(r.polys.empty());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), r.polys.back().begin(), r.polys.back().end()));
}

}  // namespace
