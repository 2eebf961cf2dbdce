// Staircases and dimension tests of the Tesk polynomials against small
// monomial bases and against the staircases an independent system gives for
// stored reduced bases; the prepared-basis text; the example generators, the
// random polynomials and the weight analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tesk/poly/examples.h"
#include "tesk/poly/staircase.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using namespace tesk_poly_model;

// What f writes on the stream that `slot` names, f run with a scratch file there.
template <class Slot, class F>
std::string written(Slot& slot, F f) {
    FILE* out = std::tmpfile();
    Slot saved = slot;
    slot = Slot(out);
    f();
    slot = saved;
    std::rewind(out);
    std::string s;
    for (int c; (c = std::fgetc(out)) != EOF;) s += char(c);
    std::fclose(out);
    return s;
}

template <class I>
struct Sys {
    using Mo = Model<I>;
    using M = Dmp<I>;
    // A polynomial from (exponents, signed coefficient) pairs.
    static Term<I>* poly(std::initializer_list<std::pair<Exps, long>> terms) {
        typename Mo::Poly p;
        for (auto& [e, c] : terms) Mo::add_term(p, e, c < 0 ? Mo::neg(Mo::scalar(u64(-c))) : Mo::scalar(u64(c)));
        return Mo::build(p);
    }
    static Term<I>* x(const Exps& e) { return poly({{e, 1}}); }
    static List<I>* list(std::initializer_list<Term<I>*> ps) {
        List<I>* l = nullptr;
        for (auto it = std::rbegin(ps); it != std::rend(ps); ++it) l = M::Lists::cons(*it, l);
        return l;
    }
    // The monomials of a staircase in its order (each coefficient 1); released.
    static std::vector<Exps> take_monomials(Term<I>* s) {
        std::vector<Exps> v;
        for (Term<I>* t = s; t; t = t->next) {
            EXPECT_TRUE(I::D::is_one(t->coef));
            v.push_back(Mo::exps(t));
        }
        M::Terms::kill_all(s);
        return v;
    }
    static std::vector<typename Mo::Poly> read(List<I>* l) {
        std::vector<typename Mo::Poly> v;
        for (; l; l = l->next) v.push_back(Mo::read(l->elt));
        return v;
    }
};

// One instance set up by C.
template <class C>
class TeskOf : public ::testing::Test {
protected:
    using I = typename C::I;
    using M = Dmp<I>;
    using T = Sys<I>;
    using Mo = Model<I>;
    void SetUp() override { C::set_up(); }
};

template <class C>
class TeskStair : public TeskOf<C> {
protected:
    using S = Staircase<typename C::I>;
    void TearDown() override { want_qhomogene = want_homog = 0, Dmp<typename C::I>::have_sentinelle = 1; }
};
using Configs = ::testing::Types<Cfg<BigDexp__VGF, 3, 0, 2>, Cfg<BigLexp__VGF, 3, 0, 1>, Cfg<DRLDRL__GFC, 3, 3, 1>>;
TYPED_TEST_SUITE(TeskStair, Configs);

TYPED_TEST(TeskStair, MonomialBases) {
    using S = typename TestFixture::S;
    using M = typename TestFixture::M;
    using T = typename TestFixture::T;
    auto* B = T::list({T::x({2, 0, 0}), T::x({1, 1, 0}), T::x({0, 2, 0}), T::x({0, 0, 1})});
    M::have_sentinelle = 0;
    EXPECT_EQ(T::take_monomials(S::escalier(B)), (std::vector<Exps>{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}));
    EXPECT_EQ(M::have_sentinelle, 0);  // the caller's value stays
    EXPECT_EQ(T::take_monomials(S::escalier_block1(B)), (std::vector<Exps>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}));
    // Counting skips zero polynomials; with header cells when have_sentinelle says so.
    auto* Z = T::list({T::x({2, 0, 0}), nullptr, T::x({0, 3, 0}), T::x({0, 0, 1})});
    for (int flag : {0, 1}) {
        M::have_sentinelle = flag;
        EXPECT_EQ(S::calculer_nb_solutions(Z), 6);
        EXPECT_EQ(M::have_sentinelle, flag);
    }
    auto* H = M::Lists::copy_all(Z);
    for (auto* c = H; c; c = c->next) c->elt = M::link_one(c->elt);
    EXPECT_EQ(S::is_dim0(H), 6);
    EXPECT_EQ(S::nb_sol_dim0(H), 6);
    EXPECT_EQ(M::old_base, H);
    // A constant: 0.  No pure power of x1: -1 and no staircase, at once.
    auto* C1 = T::list({T::x({1, 0, 0}), T::x({0, 0, 0})});
    auto* N = T::list({T::x({2, 0, 0}), T::x({1, 1, 0}), T::x({0, 0, 1})});
    EXPECT_EQ(S::calculer_nb_solutions(C1), 0);
    EXPECT_EQ(T::take_monomials(S::escalier(C1)), std::vector<Exps>{});
    EXPECT_EQ(S::calculer_nb_solutions(N), -1);
    M::have_sentinelle = 0;
    EXPECT_EQ(S::nb_sol_dim0(N), -1);
    EXPECT_EQ(S::escalier(N), nullptr);
    EXPECT_EQ(S::escalier_block1(N), nullptr);
    EXPECT_EQ(S::escalier(nullptr), nullptr);
    // dimension0 counts variables, not pure powers.
    auto* twice = T::list({T::x({2, 0, 0}), T::x({3, 0, 0}), T::x({0, 0, 1})});
    EXPECT_EQ(S::dimension0(Z), 1);
    EXPECT_EQ(S::dimension0(C1), 1);
    EXPECT_EQ(S::dimension0(twice), 0);
    EXPECT_EQ(S::dimension0(N), 0);
    // The last variable homogenises: neither enumerated nor needed, ignored in the leads.
    want_qhomogene = 1;
    auto* Q = T::list({T::x({2, 0, 1}), T::x({0, 3, 0})});
    EXPECT_EQ(S::calculer_nb_solutions(Q), 6);
    EXPECT_EQ(S::is_dim0(Q), 6);
    for (auto* l : {B, Z, H, C1, N, twice, Q}) M::Lists::kill_all(l);
}

TYPED_TEST(TeskStair, AllMonomialsAndDistinctMonomials) {
    using S = typename TestFixture::S;
    using M = typename TestFixture::M;
    using T = typename TestFixture::T;
    using Mo = typename TestFixture::Mo;
    const auto binom = [](unsigned a, unsigned b) {
        unsigned r = 1;
        for (unsigned i = 1; i <= b; ++i) r = r * (a - b + i) / i;
        return r;
    };
    for (unsigned d = 0; d <= 6; ++d) {
        const auto got = Mo::take(S::all_monomes(d));  // in order, no zero coefficient
        EXPECT_EQ(got.size(), binom(3 + d, d));
        for (auto& [e, c] : got) EXPECT_LE(e[0] + e[1] + e[2], d);
    }
    EXPECT_EQ(M::Terms::size(S::retain_only_deg(S::all_monomes(4), 2)), binom(4, 2));
    want_homog = 1;
    EXPECT_EQ(Mo::take(S::all_monomes(3)).size(), binom(5, 2));
    want_homog = 0;
    auto* L = T::list({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 1}}), T::poly({{{1, 0, 0}, 1}, {{0, 0, 0}, 1}})});
    EXPECT_EQ(sparse_dim(L), 3u);
    EXPECT_EQ(M::memo_all_monoms, nullptr);
    M::Lists::kill_all(L);
}

// Repeated monomials do not cancel in the count, whatever the prime.
TEST(TeskStairGfc, DistinctMonomialsModuloASmallPrime) {
    using I = DRLDRL__GFC;
    Cfg<I, 2, 2, 1>::set_up();
    gfc::set_module_GFC(7);
    List<I>* L = nullptr;
    for (int i = 0; i < 7; ++i) L = Dmp<I>::Lists::cons(Sys<I>::poly({{{1, 0}, 1}, {{0, 1}, 3}}), L);
    EXPECT_EQ(sparse_dim(L), 2u);
    Dmp<I>::Lists::kill_all(L);
    gfc::set_module_GFC(65521);
}

// The first block's staircase ignores the second block's exponents.
TEST(TeskStairGfc, FirstBlockStaircase) {
    using I = DRLDRL__GFC;
    using T = Sys<I>;
    Cfg<I, 3, 2, 1>::set_up();
    auto* B = T::list({T::x({2, 0, 0}), T::x({1, 1, 3}), T::x({0, 2, 1})});
    EXPECT_EQ(T::take_monomials(Staircase<I>::escalier_block1(B)), (std::vector<Exps>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}));
    EXPECT_EQ(Staircase<I>::escalier(B), nullptr);  // x2 has no pure power
    Dmp<I>::Lists::kill_all(B);
}

TEST(TeskStairGfc, PreparedBasisText) {
    using I = DRLDRL__GFC;
    using T = Sys<I>;
    using S = Staircase<I>;
    Cfg<I, 2, 2, 1>::set_up();
    auto* G = T::list({T::poly({{{2, 0}, 1}, {{0, 1}, 2}, {{0, 0}, 3}}), T::x({1, 1}), T::x({0, 2})});
    const std::string one =
        "% nombre de variables:\n2\n% dimension:\n3\n% base du quotient (a lire a l'envers)\n1 0 \n0 1 \n0 0 \n"
        "% nombre de polynomes dans la base de groebner:\n3\n% format base\n%  coef\n%  exposant\n%  vecteur\n"
        "65520\n2 0 \n[0,2,3]\n65520\n1 1 \n[]\n65520\n0 2 \n[]\n";
    EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(G), 3); }), one);
    auto* LL = Dmp<I>::Lists2::cons(G, Dmp<I>::Lists2::cons(G, nullptr));
    EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(LL), 2); }),
              "% nombre de bases de Groebner:\n2\n% 1 ieme base:\n" + one + "% 2 ieme base:\n" + one +
                  "% fin de la liste\n");
    // The vector stops after the polynomial's last term.
    auto* st = S::escalier(G);
    auto* g = T::poly({{{1, 0}, 3}});
    EXPECT_EQ(written(Lib.f, [&] { S::conv(g, st); }), "[3]\n");
    // Not zero-dimensional: nothing on Lib, an error line on the log.
    auto* N = T::list({T::x({2, 0}), T::x({1, 1})});
    std::string err = written(log_output, [&] {
        EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(N), -1); }), "");
        auto* NN = Dmp<I>::Lists2::cons(G, Dmp<I>::Lists2::cons(N, nullptr));
        EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(NN), -1); }), "");
    });
    EXPECT_NE(err.find("Error: Preparation"), std::string::npos) << err;
    for (auto* p : {st, g}) Dmp<I>::Terms::kill_all(p);
}

// ---------------------------------------------------------------------------
// Stored reduced bases: the staircase an independent system gives for the
// same ideal, greatest first (tools/make-staircase).
template <class I>
void staircase_as_stored(const std::string& name, const std::string& basis_file) {
    using M = Dmp<I>;
    using S = Staircase<I>;
    std::vector<Exps> want;
    std::ifstream in(std::string(QUOR_TEST_DATA_DIR) + "/" + name + ".gf65521.staircase.txt");
    for (std::string line; std::getline(in, line);) {
        std::istringstream ws(line);
        want.emplace_back(std::istream_iterator<unsigned>(ws), std::istream_iterator<unsigned>());
    }
    ASSERT_FALSE(want.empty()) << name;
    std::sort(want.begin(), want.end(), [](const Exps& a, const Exps& b) { return Model<I>::cmp(a, b) > 0; });
    List<I>* G = load_basis<I>(name, basis_file);
    M::have_sentinelle = 1;  // the Buchberger loop's view: tagged polynomials
    List<I>* H = M::Lists::copy_all(G);
    for (auto* c = H; c; c = c->next) c->elt = M::link_one(c->elt);
    EXPECT_EQ(S::nb_sol_dim0(H), int(want.size())) << name;
    EXPECT_EQ(S::calculer_nb_solutions(G), int(want.size())) << name;
    EXPECT_EQ(Sys<I>::take_monomials(S::escalier(G)), want) << name;
    EXPECT_EQ(Sys<I>::take_monomials(S::escalier_block1(G)).size(), want.size()) << name;
    // Without the polynomial whose lead is a power of the last variable, -1 at once.
    int found = 0;
    for (List<I>* c = G; c; c = c->next) {
        const Exps e = Model<I>::exps(c->elt);
        if (std::count(e.begin(), e.end() - 1, 0u) + 1 != long(e.size())) continue;
        Term<I>* keep = c->elt;
        c->elt = nullptr;
        EXPECT_EQ(S::calculer_nb_solutions(G), -1) << name;
        c->elt = keep;
        ++found;
    }
    EXPECT_EQ(found, 1) << name;
    M::Lists::kill_all(G);
    M::Lists::kill_all(H);
}

// Over the integers (two primes) and modulo 65521, from the stored bases.
template <unsigned N>
void stored_in_both(const std::string& name) {
    Cfg<BigDexp__VGF, N, 0, 2>::set_up();
    staircase_as_stored<BigDexp__VGF>(name, name + ".qq.gb.txt");
    Cfg<DRLDRL__GFC, N, N, 1>::set_up();
    staircase_as_stored<DRLDRL__GFC>(name, name + ".gf65521.gb.txt");
}

TEST(TeskStairBases, StaircasesOfStoredBases) {
    stored_in_both<5>("cyclic-5");
    stored_in_both<6>("cyclic-6");
    stored_in_both<7>("katsura-6");
    // A curve: infinite staircase.
    Cfg<DRLDRL__GFC, 5, 2, 1>::set_up();
    auto* C = load_basis<DRLDRL__GFC>("elim-ratcurve-b2", "elim-ratcurve-b2.gf65521.gb.txt");
    EXPECT_EQ(Staircase<DRLDRL__GFC>::calculer_nb_solutions(C), -1);
    EXPECT_EQ(Staircase<DRLDRL__GFC>::escalier(C), nullptr);
    Dmp<DRLDRL__GFC>::Lists::kill_all(C);
}

// ---------------------------------------------------------------------------
template <class C>
class TeskExamples : public TeskOf<C> {
protected:
    using I = typename C::I;
    using E = Examples<I>;
    using Mo = Model<I>;
    static std::vector<typename Mo::Poly> take(List<I>* l) {
        auto v = Sys<I>::read(l);
        Dmp<I>::Lists::kill_all(l);
        return v;
    }
    static std::vector<typename Mo::Poly> polys(std::initializer_list<Term<I>*> ps) {
        std::vector<typename Mo::Poly> v;
        for (auto* p : ps) v.push_back(Mo::take(p));
        return v;
    }
};
using Configs4 = ::testing::Types<Cfg<BigDexp__VGF, 4, 0, 2>, Cfg<BigLexp__VGF, 4, 0, 1>, Cfg<DRLDRL__GFC, 4, 2, 1>>;
TYPED_TEST_SUITE(TeskExamples, Configs4);

TYPED_TEST(TeskExamples, SmallSystems) {
    using F = TestFixture;
    using T = typename F::T;
    using E = typename F::E;
    EXPECT_EQ(F::take(E::cyclic(3, 0)),
              F::polys({T::poly({{{1, 1, 0, 0}, 1}, {{0, 1, 1, 0}, 1}, {{1, 0, 1, 0}, 1}}),
                        T::poly({{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 1}, {{0, 0, 1, 0}, 1}}),
                        T::poly({{{1, 1, 1, 0}, 1}, {{0, 0, 0, 0}, -1}})}));
    EXPECT_EQ(F::take(E::cyclic(4, 1)).back(), F::polys({T::poly({{{1, 1, 1, 0}, 1}, {{0, 0, 0, 3}, -1}})})[0]);
    EXPECT_EQ(F::take(E::exemple_binaire(2, 0)),
              F::polys({T::poly({{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 2}, {{0, 0, 0, 0}, 4}}),
                        T::poly({{{0, 2, 0, 0}, 1}, {{0, 1, 0, 0}, -1}}), T::poly({{{2, 0, 0, 0}, 1}, {{1, 0, 0, 0}, -1}})}));
    EXPECT_EQ(F::take(E::exemple_binaire(3, 1)).front(),
              F::polys({T::poly({{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 2}, {{0, 0, 1, 0}, 4}})})[0]);
    EXPECT_EQ(F::take(E::katsura(2, 0)),
              F::polys({T::poly({{{1, 0, 0, 0}, 1}, {{0, 1, 0, 0}, 2}, {{0, 0, 0, 0}, -1}}),
                        T::poly({{{2, 0, 0, 0}, 1}, {{0, 2, 0, 0}, 2}, {{1, 0, 0, 0}, -1}})}));
    EXPECT_EQ(E::varU(-3, 2), nullptr);
    EXPECT_EQ(F::Mo::take(E::varU(-2, 2)), F::polys({T::x({0, 0, 1, 0})})[0]);
    EXPECT_NE(fatal_of([] { E::cyclic(5, 0); }).find("5 variables asked for"), std::string::npos);
    EXPECT_NE(fatal_of([] { E::katsura(1, 1); }).find("variables asked for"), std::string::npos);
    // Random coefficients on the given monomials.
    auto* support = Staircase<typename F::I>::all_monomes(3);
    const auto r = F::Mo::take(E::random(3, support));
    const auto s = F::Mo::take(support);
    EXPECT_GT(r.size(), s.size() / 2);
    for (auto& [e, c] : r) EXPECT_TRUE(s.count(e));
    EXPECT_EQ(E::random(0, nullptr), nullptr);
}

// random_List writes its system and refuses to go on, without ending the process.
TEST(TeskExamplesGfc, RandomListRefuses) {
    using I = DRLDRL__GFC;
    Cfg<I, 3, 3, 1>::set_up();
    List<I>* l = reinterpret_cast<List<I>*>(1);
    std::string out;
    const std::string log = written(log_output, [&] { out = written(Fortran.f, [&] { l = Examples<I>::random_List(2, 3); }); });
    EXPECT_EQ(l, nullptr);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_NE(log.find("Error: random_List_DMP__DRLDRL__GFC"), std::string::npos) << log;
}

TEST(TeskExamplesGfc, WeightAnalysis) {
    using I = DRLDRL__GFC;
    using T = Sys<I>;
    Cfg<I, 3, 3, 1>::set_up();
    // 2*x0*x1 + x2: x2 scaled by 2; then x0 + 3*x1: x0 scaled by 3.
    auto* L = T::list({T::poly({{{1, 1, 0}, 2}, {{0, 0, 1}, 1}}), T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 3}})});
    want_quiet = 0;
    std::string trace;
    const std::string log = written(log_output, [&] { trace = written(Fortran.f, [&] { analyse_system(L); }); });
    want_quiet = 1;
    EXPECT_NE(log.find("#weights <3 1 2 >\n"), std::string::npos) << log;
    EXPECT_EQ(trace.rfind("Analyse\n", 0), 0u) << trace;
    EXPECT_NE(trace.find(" (2) -> 2*"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" (0) -> 3*"), std::string::npos) << trace;
    EXPECT_EQ(Sys<I>::read(L), (std::vector<Model<I>::Poly>{Model<I>::take(T::poly({{{1, 1, 0}, 1}, {{0, 0, 1}, 1}})),
                                                           Model<I>::take(T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 1}}))}));
    auto* U = T::list({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, -1}})});
    EXPECT_EQ(written(log_output, [&] { analyse_system(U); }), "#weights <1 1 1 >\n");
    auto* B = T::list({T::poly({{{1, 0, 0}, 2}, {{0, 2, 0}, 1}})});
    EXPECT_EQ(fatal_of([&] { analyse_system(B); }), "Erreur impossible dans analyse\n");
    for (auto* l : {L, U, B}) Dmp<I>::Lists::kill_all(l);
}

}  // namespace
