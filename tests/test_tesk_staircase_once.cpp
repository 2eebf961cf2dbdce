// Staircases and dimension tests of the Tesk polynomials on small monomial
// bases and, against the staircases an independent system gives, on stored
// reduced bases; the prepared-basis text; generators, random polynomials and
// the weight analysis.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tesk/poly/examples.h"
#include "tesk/poly/stair_count.h"
#include "tesk/poly/staircase.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_poly_model.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using namespace tesk_poly_model;

template <class I>
struct Sys {
    using Mo = Model<I>;
    using M = Dmp<I>;
    static Term<I>* poly(std::initializer_list<std::pair<Exps, long>> terms) { return Mo::poly(terms); }
    static Term<I>* x(const Exps& e) { return Mo::poly({{e, 1}}); }
    static List<I>* list(std::initializer_list<Term<I>*> ps) { return Mo::list(ps); }
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
    // The polynomials of l (released) and those of ps, read back.
    static std::vector<typename Mo::Poly> take(List<I>* l) {
        std::vector<typename Mo::Poly> v;
        for (List<I>* c = l; c; c = c->next) v.push_back(Mo::read(c->elt));
        M::Lists::kill_all(l);
        return v;
    }
    static std::vector<typename Mo::Poly> take(std::initializer_list<Term<I>*> ps) { return take(list(ps)); }
};

template <class C>
class TeskStair : public ::testing::Test {
protected:
    using I = typename C::I;
    using S = Staircase<I>;
    using M = Dmp<I>;
    using T = Sys<I>;
    void SetUp() override { C::set_up(); }
    void TearDown() override { want_qhomogene = want_homog = 0, M::have_sentinelle = 1; }
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
    // Zero polynomials are skipped; header cells looked for when have_sentinelle says so.
    auto* Z = T::list({T::x({2, 0, 0}), nullptr, T::x({0, 3, 0}), T::x({0, 0, 1})});
    for (int flag : {0, 1}) {
        M::have_sentinelle = flag;
        EXPECT_EQ(S::calculer_nb_solutions(Z), 6);
        EXPECT_EQ(M::have_sentinelle, flag);
    }
    auto* H = M::Lists::copy_all(Z);
    for (auto* c = H; c; c = c->next) c->elt = M::link_one(c->elt);
    EXPECT_EQ(S::nb_sol_dim0(H), 6);
    // A constant: 0.  No pure power of x1: -1 and no staircase, at once.
    auto* C1 = T::list({T::x({1, 0, 0}), T::x({0, 0, 0})});
    auto* N = T::list({T::x({2, 0, 0}), T::x({1, 1, 0}), T::x({0, 0, 1})});
    EXPECT_EQ(S::calculer_nb_solutions(C1), 0);
    EXPECT_EQ(S::calculer_nb_solutions(N), -1);
    M::have_sentinelle = 0;
    EXPECT_EQ(S::nb_sol_dim0(N), -1);
    EXPECT_EQ(S::escalier(N), nullptr);
    EXPECT_EQ(S::escalier_block1(N), nullptr);
    // dimension0 counts variables, not pure powers.
    auto* twice = T::list({T::x({2, 0, 0}), T::x({3, 0, 0}), T::x({0, 0, 1})});
    EXPECT_EQ(S::dimension0(Z), 1);
    EXPECT_EQ(S::dimension0(twice), 0);
    EXPECT_EQ(S::dimension0(N), 0);
    // The last variable homogenises: neither enumerated nor needed, ignored in the leads.
    want_qhomogene = 1;
    auto* Q = T::list({T::x({2, 0, 1}), T::x({0, 3, 0})});
    EXPECT_EQ(S::calculer_nb_solutions(Q), 6);
    for (auto* l : {B, Z, H, C1, N, twice, Q}) M::Lists::kill_all(l);
}

TYPED_TEST(TeskStair, AllMonomialsAndDistinctMonomials) {
    using S = typename TestFixture::S;
    using T = typename TestFixture::T;
    using Mo = Model<typename TestFixture::I>;
    const auto binom = [](unsigned a, unsigned b) {
        unsigned r = 1;
        for (unsigned i = 1; i <= b; ++i) r = r * (a - b + i) / i;
        return r;
    };
    for (unsigned d = 0; d <= 6; ++d) {
        const auto got = Mo::take(S::all_monomes(d));  // checks the order too
        EXPECT_EQ(got.size(), binom(3 + d, d));
        for (auto& [e, c] : got) EXPECT_LE(e[0] + e[1] + e[2], d);
    }
    EXPECT_EQ(Mo::take(S::retain_only_deg(S::all_monomes(4), 2)).size(), binom(4, 2));
    want_homog = 1;
    EXPECT_EQ(Mo::take(S::all_monomes(3)).size(), binom(5, 2));
    EXPECT_EQ(sparse_dim(T::list({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 1}}), T::poly({{{1, 0, 0}, 1}, {{0, 0, 0}, 1}})})), 3u);
}

// Repeated monomials do not cancel in the count, whatever the prime.
TEST(TeskStairGfc, DistinctMonomialsModuloASmallPrime) {
    using I = DRLDRL__GFC;
    Cfg<I, 2, 2, 1>::set_up();
    gfc::set_module_GFC(7);
    List<I>* L = nullptr;
    for (int i = 0; i < 7; ++i) L = Dmp<I>::Lists::cons(Sys<I>::poly({{{1, 0}, 1}, {{0, 1}, 3}}), L);
    EXPECT_EQ(sparse_dim(L), 2u);
    gfc::set_module_GFC(65521);
    // The first block's staircase ignores the second block's exponents.
    Cfg<I, 3, 2, 1>::set_up();
    auto* B = Sys<I>::list({Sys<I>::x({2, 0, 0}), Sys<I>::x({1, 1, 3}), Sys<I>::x({0, 2, 1})});
    EXPECT_EQ(Sys<I>::take_monomials(Staircase<I>::escalier_block1(B)), (std::vector<Exps>{{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}));
    EXPECT_EQ(Staircase<I>::escalier(B), nullptr);  // x2 has no pure power
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
              "% nombre de bases de Groebner:\n2\n% 1 ieme base:\n" + one + "% 2 ieme base:\n" + one + "% fin de la liste\n");
    // The vector stops after the polynomial's last term.
    EXPECT_EQ(written(Lib.f, [&] { S::conv(T::poly({{{1, 0}, 3}}), S::escalier(G)); }), "[3]\n");
    // Not zero-dimensional: nothing on Lib, an error line on the log.
    auto* NN = Dmp<I>::Lists2::cons(G, Dmp<I>::Lists2::cons(T::list({T::x({2, 0}), T::x({1, 1})}), nullptr));
    const std::string err = written(log_output, [&] {
        EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(NN->next->elt), -1); }), "");
        EXPECT_EQ(written(Lib.f, [&] { EXPECT_EQ(S::Preparation(NN), -1); }), "");
    });
    EXPECT_NE(err.find("Error: Preparation"), std::string::npos) << err;
}

// ---------------------------------------------------------------------------
// Counting without listing.

// Carries across digits, and a zero base-10^9 digit in the text.
TEST(TeskStairCount, NumbersOfAnySize) {
    Stair_Count c(UINT64_MAX);
    c += Stair_Count(1);
    EXPECT_EQ(c.text(), "18446744073709551616");
    EXPECT_EQ(c.saturated(), INT64_MAX);
    c *= 64;
    c += Stair_Count(UINT64_MAX);
    EXPECT_EQ(c.text(), "1199038364791120855039");
    EXPECT_EQ(Stair_Count(1000000000).text(), "1000000000");
    EXPECT_EQ(Stair_Count(INT64_MAX).saturated(), INT64_MAX);
    EXPECT_EQ(Stair_Count().text(), "0");
}

// The standard monomials of the m rows of n exponents inside the box
// (each variable below box[v]), listed one by one.
std::uint64_t count_in_box(unsigned n, const std::vector<std::uint16_t>& rows, const std::vector<unsigned>& box) {
    const std::size_t m = rows.size() / n;
    std::uint64_t count = 0;
    std::vector<unsigned> e(n, 0);
    for (bool more = true; more;) {
        bool in = false;
        for (std::size_t r = 0; r < m && !in; ++r) {
            bool divides = true;
            for (unsigned v = 0; v < n && divides; ++v) divides = rows[r * n + v] <= e[v];
            in = divides;
        }
        count += !in;
        unsigned v = 0;
        while (v < n && ++e[v] == box[v]) e[v++] = 0;
        more = v < n;
    }
    return count;
}

// Random zero-dimensional monomial ideals against a count over the box of the
// pure powers; a constant gives 0.
TEST(TeskStairCount, AgainstTheBoxOfThePurePowers) {
    std::mt19937 g(42);
    for (int round = 0; round < 400; ++round) {
        const unsigned n = 1 + g() % 4;
        std::vector<std::uint16_t> rows;
        std::vector<unsigned> box(n);
        for (unsigned v = 0; v < n; ++v) {
            box[v] = 1 + g() % 7;
            for (unsigned w = 0; w < n; ++w) rows.push_back(std::uint16_t(w == v ? box[v] : 0));
        }
        const unsigned mixed = g() % 8;
        for (unsigned j = 0; j < mixed * n; ++j) rows.push_back(std::uint16_t(g() % 5));
        const unsigned m = unsigned(rows.size() / n);
        EXPECT_EQ(count_standard(n, m, rows.data()), Stair_Count(count_in_box(n, rows, box))) << "round " << round;
    }
    const std::uint16_t with_one[] = {3, 0, 0, 2, 0, 0};
    EXPECT_EQ(count_standard(2, 3, with_one), Stair_Count());
    EXPECT_EQ(count_standard(0, 0, nullptr), Stair_Count(1));  // no variable: the monomial 1
}

// Staircases large beside their generators, in up to 8 variables: sparse
// generators that link some variables and leave others apart, repeated
// ones, ones a pure power or another generator divides.
TEST(TeskStairCount, ManyStandardMonomialsAgainstTheBox) {
    std::mt19937 g(7);
    for (int round = 0; round < 150; ++round) {
        const unsigned n = 5 + g() % 4;
        std::vector<std::uint16_t> rows;
        std::vector<unsigned> box(n);
        for (unsigned v = 0; v < n; ++v) {
            box[v] = 1 + g() % 3 + (v % 3 == 0);
            for (unsigned w = 0; w < n; ++w) rows.push_back(std::uint16_t(w == v ? box[v] : 0));
        }
        const unsigned mixed = 2 + g() % 14;
        for (unsigned j = 0; j < mixed; ++j) {
            std::vector<std::uint16_t> r(n, 0);
            for (unsigned k = 2 + g() % 2; k-- > 0;) r[g() % n] = std::uint16_t(1 + g() % 3);
            rows.insert(rows.end(), r.begin(), r.end());
            if (g() % 5 == 0) rows.insert(rows.end(), r.begin(), r.end());
        }
        const unsigned m = unsigned(rows.size() / n);
        EXPECT_EQ(count_standard(n, m, rows.data()), Stair_Count(count_in_box(n, rows, box))) << "round " << round;
    }
}

// Monomial ideals in up to 500 variables whose counts are known in closed
// form.  A chain x_i^a, x_i*x_(i+1) of n variables has f(n) = f(n-1) +
// (a-1) f(n-2) standard monomials (Fibonacci for a = 2); pairs x^p, y^p, xy
// have 2p-1; variables that share no generator multiply their counts.
struct Gens {
    unsigned n;
    std::vector<std::uint16_t> rows;
    void add(std::initializer_list<std::pair<unsigned, unsigned>> m) {
        const std::size_t at = rows.size();
        rows.resize(at + n, 0);
        for (auto [v, e] : m) rows[at + v] = std::uint16_t(e);
    }
    // A chain on the variables var(0), ..., var(len-1).
    template <class Var>
    void chain(unsigned len, unsigned a, Var var) {
        for (unsigned i = 0; i < len; ++i) {
            add({{var(i), a}});
            if (i) add({{var(i - 1), 1}, {var(i), 1}});
        }
    }
    // x_v^p for every variable and x_(2i)*x_(2i+1).
    void pairs(unsigned p) {
        for (unsigned v = 0; v < n; ++v) add({{v, p}});
        for (unsigned v = 0; v + 1 < n; v += 2) add({{v, 1}, {v + 1, 1}});
    }
    Stair_Count count() const { return count_standard(n, unsigned(rows.size() / n), rows.data()); }
};

Stair_Count chain_count(unsigned len, unsigned a) {
    Stair_Count before(1), last(a);  // f(i-1), f(i)
    for (unsigned i = 1; i < len; ++i) {
        before *= a - 1;
        before += last;
        std::swap(before, last);
    }
    return len ? last : before;
}

TEST(TeskStairCount, ClosedFormsInManyVariables) {
    const auto same = [](unsigned i) { return i; };
    for (unsigned a : {2u, 3u, 7u})
        for (unsigned len : {1u, 2u, 3u, 17u, 60u, 61u, 200u, 500u}) {
            Gens c{len, {}};
            c.chain(len, a, same);
            EXPECT_EQ(c.count(), chain_count(len, a)) << len << " " << a;
        }
    Gens fib{500, {}};
    fib.chain(500, 2, same);
    const Stair_Count f502 = fib.count();
    EXPECT_EQ(f502.text(),
              "365014740723634211012237077906479355996081581501455497852747829366800199361550174096573645929019489792751");
    EXPECT_EQ(f502.saturated(), INT64_MAX);

    // x_i^127 and x_(2i-1)*x_(2i) in 50 variables: 253^25.
    Gens pairs{50, {}};
    pairs.pairs(127);
    EXPECT_EQ(pairs.count().text(), "1196776435607632482790118858840382391829660917532091147865693");

    // Chains of 100, 150 and 250 variables spread over 500 (variable 7i mod
    // 500), a product of the three.
    Gens three{500, {}};
    const unsigned lens[] = {100, 150, 250}, as[] = {2, 3, 5};
    Stair_Count want(1);
    for (unsigned k = 0, from = 0; k < 3; from += lens[k++]) {
        three.chain(lens[k], as[k], [from](unsigned i) { return (from + i) * 7 % 500; });
        want *= chain_count(lens[k], as[k]);
    }
    EXPECT_EQ(three.count(), want);

    // x_i^3 and x_1*...*x_300: 3^300 - 2^300.
    Gens powers{300, {}};
    for (unsigned v = 0; v < 300; ++v) powers.add({{v, 3}});
    powers.rows.resize(powers.rows.size() + 300, 1);
    EXPECT_EQ(powers.count().text(),
              "136891479058588375991326027382088315966463695625337434434444213743882910909053388184422045104220547722314"
              "233804457544688432212969428989591168625");

    // Reference counts from an independent system.
    std::ifstream in(std::string(QUOR_TEST_DATA_DIR) + "/staircase-counts.txt");
    unsigned cases = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ws(line);
        std::string family;
        unsigned n, e;
        std::uint64_t count;
        ws >> family >> n >> e >> count;
        Gens I{n, {}};
        if (family == "chain")
            I.chain(n, e, same);
        else
            I.pairs(e);
        EXPECT_EQ(I.count(), Stair_Count(count)) << line;
        ++cases;
    }
    EXPECT_EQ(cases, 6u);
}

// a^100, ..., f^100 and x0^2, ..., x69^2: counted at once, exactly; the
// listings refuse them with a fatal text rather than run out of memory.
TEST(TeskStairCount, LargeStaircasesCountedNotListed) {
    using I = DRLDRL__GFC;
    using S = Staircase<I>;
    using T = Sys<I>;
    // x_v^power for every one of n variables.
    const auto pure_powers = [](unsigned n, unsigned power) {
        List<I>* P = nullptr;
        for (unsigned v = 0; v < n; ++v) {
            Exps e(n, 0);
            e[v] = power;
            P = Dmp<I>::Lists::cons(T::x(e), P);
        }
        return P;
    };
    Cfg<I, 6, 6, 1>::set_up();
    List<I>* P = pure_powers(6, 100);
    EXPECT_EQ(S::calculer_nb_solutions(P), 1000000000000);
    EXPECT_EQ(S::nb_solutions_text(P), "1000000000000");
    EXPECT_EQ(Dmp<I>::have_sentinelle, 1);
    EXPECT_EQ(fatal_of([&] { S::held_nb_solutions(P, "Here"); }),
              "Here: the staircase has 1000000000000 standard monomials, more than the 2147483647 that are held\n");
    const std::string most = std::to_string(S::max_listed());
    EXPECT_EQ(fatal_of([&] { S::escalier(P); }),
              "Staircase: the staircase has 1000000000000 standard monomials; at most " + most + " of them are listed (1024 MB)\n");
    std::string err;
    EXPECT_EQ(written(Lib.f, [&] { err = fatal_of([&] { S::Preparation(P); }); }), "");  // refused before writing
    EXPECT_EQ(err.rfind("Preparation: the staircase has 1000000000000 standard monomials; at most ", 0), 0u) << err;
    Dmp<I>::Lists::kill_all(P);

    Cfg<I, 70, 70, 1>::set_up();
    List<I>* Q = pure_powers(70, 2);
    EXPECT_EQ(S::calculer_nb_solutions(Q), INT64_MAX);  // saturated: at least
    EXPECT_EQ(S::nb_solutions_text(Q), "1180591620717411303424");
    for (auto* c = Q; c; c = c->next) c->elt = Dmp<I>::link_one(c->elt);  // the Buchberger loop's view
    EXPECT_EQ(S::nb_sol_dim0_text(Q), "1180591620717411303424");
    EXPECT_EQ(S::nb_sol_dim0(Q), INT64_MAX);
    Dmp<I>::Lists::kill_all(Q);
}

// ---------------------------------------------------------------------------
// The staircase an independent system gives for the ideal of a stored reduced
// basis (tools/make-staircase), greatest first; removing one polynomial
// leaves it infinite exactly when its lead is a pure power.
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
    List<I>* H = M::Lists::copy_all(G);
    for (auto* c = H; c; c = c->next) c->elt = M::link_one(c->elt);
    M::have_sentinelle = 1;  // the Buchberger loop's view: tagged polynomials
    EXPECT_EQ(S::nb_sol_dim0(H), std::int64_t(want.size())) << name;
    EXPECT_EQ(Sys<I>::take_monomials(S::escalier(G)), want) << name;
    EXPECT_EQ(Sys<I>::take_monomials(S::escalier_block1(G)).size(), want.size()) << name;
    unsigned infinite = 0;
    for (List<I>* c = G; c; c = c->next) {
        Term<I>* keep = c->elt;
        c->elt = nullptr;
        infinite += S::calculer_nb_solutions(G) == -1;
        c->elt = keep;
    }
    EXPECT_EQ(infinite, Model<I>::n()) << name;
    M::Lists::kill_all(G);
    M::Lists::kill_all(H);
}

// Over the integers (two primes) and modulo 65521.
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
}

// ---------------------------------------------------------------------------
TYPED_TEST(TeskStair, Generators) {
    using T = typename TestFixture::T;
    using E = Examples<typename TestFixture::I>;
    using Mo = Model<typename TestFixture::I>;
    EXPECT_EQ(T::take(E::exemple_binaire(2, 0)),
              T::take({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 2}, {{0, 0, 0}, 4}}), T::poly({{{0, 2, 0}, 1}, {{0, 1, 0}, -1}}),
                       T::poly({{{2, 0, 0}, 1}, {{1, 0, 0}, -1}})}));
    EXPECT_EQ(T::take(E::cyclic(3, 1)),  // x2 homogenises cyclic-2
              T::take({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 1}}), T::poly({{{1, 1, 0}, 1}, {{0, 0, 2}, -1}})}));
    EXPECT_NE(fatal_of([] { E::cyclic(4, 0); }).find("4 variables asked for"), std::string::npos);
    // Random coefficients on the given monomials.
    auto* support = Staircase<typename TestFixture::I>::all_monomes(3);
    const auto r = Mo::take(E::random(3, support)), s = Mo::take(support);
    EXPECT_GT(r.size(), s.size() / 2);
    for (auto& [e, c] : r) EXPECT_TRUE(s.count(e));
}

// random_List writes its system and returns it: k polynomials on the monomials of degree at most d.
TEST(TeskExamplesGfc, RandomListAndWeightAnalysis) {
    using I = DRLDRL__GFC;
    using T = Sys<I>;
    Cfg<I, 3, 3, 1>::set_up();
    List<I>* l = nullptr;
    std::string out;
    std::string log = written(log_output, [&] { out = written(Fortran.f, [&] { l = Examples<I>::random_List(2, 3); }); });
    ASSERT_EQ(Dmp<I>::Lists::size(l), 3u);
    for (List<I>* c = l; c; c = c->next)
        for (Term<I>* t = c->elt; t; t = t->next) EXPECT_LE(Dmp<I>::X::totalDegree(t->exp), 2u);
    EXPECT_GT(Dmp<I>::Terms::size(l->elt), 5u);  // of the 10 monomials, about 10 / 65521 draw 0
    EXPECT_EQ(out.front(), '[');
    EXPECT_EQ(std::count(out.begin(), out.end(), ','), 2) << out;  // "[p,q,r]\n"
    EXPECT_EQ(out.substr(out.size() - 2), "]\n");
    EXPECT_EQ(log, "");
    Dmp<I>::Lists::kill_all(l);
    // 2*x0*x1 + x2: x2 scaled by 2; then x0 + 3*x1: x0 scaled by 3.
    auto* L = T::list({T::poly({{{1, 1, 0}, 2}, {{0, 0, 1}, 1}}), T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 3}})});
    want_quiet = 0;
    log = written(log_output, [&] { out = written(Fortran.f, [&] { analyse_system(L); }); });
    want_quiet = 1;
    EXPECT_NE(log.find("#weights <3 1 2 >\n"), std::string::npos) << log;
    EXPECT_EQ(out.rfind("Analyse\n", 0), 0u) << out;
    EXPECT_NE(out.find(" (2) -> 2*"), std::string::npos) << out;
    EXPECT_NE(out.find(" (0) -> 3*"), std::string::npos) << out;
    EXPECT_EQ(T::take(L), T::take({T::poly({{{1, 1, 0}, 1}, {{0, 0, 1}, 1}}), T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, 1}})}));
    EXPECT_EQ(written(log_output, [&] { analyse_system(T::list({T::poly({{{1, 0, 0}, 1}, {{0, 1, 0}, -1}})})); }),
              "#weights <1 1 1 >\n");
    auto* B = T::list({T::poly({{{1, 0, 0}, 2}, {{0, 2, 0}, 1}})});
    EXPECT_EQ(fatal_of([&] { analyse_system(B); }), "Erreur impossible dans analyse\n");
}

}  // namespace
