// The Buchberger loop with sugar of the Tesk engine: reduced bases of
// stored systems against the F4 engine's, its history written and replayed,
// the pair maker and the sugar field.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "tesk/algo/sugar.h"
#include "tesk/base/vgf_heap.h"
#include "tesk/poly/protocol.h"
#include "tests/support/tesk_bases.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using tesk_poly_model::Model;

struct TempName {
    std::string base;
    TempName() {
        char t[] = "/tmp/tesk_history_XXXXXX";
        int fd = mkstemp(t);
        if (fd >= 0) close(fd);
        base = t;
    }
    ~TempName() {
        unlink(base.c_str());
        unlink((base + ".gz").c_str());
    }
};

// The basis of `system`, then written to a history, then replayed from it:
// three times the reference basis; the replay reduces nothing.
template <class I>
void basis_and_history(const std::string& system, const std::string& reference, unsigned n, bool monic_ref) {
    using S = algo::Sugar<I>;
    tesk_poly_model::sugar_set_up<I>(n);
    const auto want = tesk_poly_model::canonical<I>(tesk_poly_model::load_basis<I>(system, reference), monic_ref);
    List<I>* F = tesk_poly_model::load_system<I>(system);

    algo::Sugar_Stats plain;
    EXPECT_EQ(tesk_poly_model::canonical<I>(S::groebner(F, &plain), false), want) << system;
    EXPECT_GT(plain.reductions, 0u);
    EXPECT_EQ(plain.replayed, 0u);
    EXPECT_GT(plain.dim0, 0) << "zero-dimensional";

    TempName h;
    S::open_write_history(h.base.c_str());
    algo::Sugar_Stats wrote;
    EXPECT_EQ(tesk_poly_model::canonical<I>(S::groebner(F, &wrote), false), want);
    EXPECT_EQ(wrote.reductions, plain.reductions);

    S::open_read_history(h.base.c_str());
    algo::Sugar_Stats replay;
    EXPECT_EQ(tesk_poly_model::canonical<I>(S::groebner(F, &replay), false), want) << "replayed";
    EXPECT_EQ(replay.reductions, 0u);
    EXPECT_EQ(replay.replayed, plain.reductions);
    EXPECT_EQ(replay.zeros, plain.zeros);
    EXPECT_EQ(replay.pairs, plain.pairs);
    Dmp<I>::Lists::kill_all(F);
}

TEST(TeskSugar, Cyclic5ModuloAPrimeWithItsHistory) {
    basis_and_history<DRLDRL__GFC>("cyclic-5", "cyclic-5.gf65521.gb.txt", 5, false);
}

TEST(TeskSugar, Katsura6ModuloAPrimeWithItsHistory) {
    basis_and_history<DRLDRL__GFC>("katsura-6", "katsura-6.gf65521.gb.txt", 7, false);
}

// Modulo two large primes at once: the basis over the rationals reduced.
TEST(TeskSugar, Cyclic5ModuloAVectorOfPrimes) {
    basis_and_history<BigDexp__VGF>("cyclic-5", "cyclic-5.qq.gb.txt", 5, true);
}

// Each normal form gives back the heap it used.
TEST(TeskSugar, TheHeapKeepsOnlyTheResults) {
    using I = BigDexp__VGF;
    tesk_poly_model::sugar_set_up<I>(7);
    List<I>* F = tesk_poly_model::load_system<I>("katsura-6");
    // Bytes handed out so far, counting whole blocks.
    auto used = [] { return double(vgf::cur_garbages) * vgf::TESK_BLOCK_SIZE - double(vgf::bot_bignum_tas - vgf::tesk_bignum_tas); };
    const double before = used();
    algo::Sugar_Stats st;
    List<I>* G = algo::Sugar<I>::groebner(F, &st);
    EXPECT_GT(st.reductions, 50u);
    unsigned terms = 0;
    for (List<I>* c = G; c; c = c->next) terms += Dmp<I>::Terms::size(c->elt);
    // The basis's coefficients and those of the polynomials it dropped:
    // about twice the result, where keeping every intermediate takes ten times more.
    EXPECT_LT(used() - before, 3.0 * terms * vgf::internal_taille_bignum());
    Dmp<I>::Lists::kill_all(G);
    Dmp<I>::Lists::kill_all(F);
}

// A run past its pair limit gives up with its work told and nothing held
// (an unlimited run of the system follows); the limit binds that run only.
TEST(TeskSugar, PairLimitBindsOneRun) {
    using I = DRLDRL__GFC;
    tesk_poly_model::sugar_set_up<I>(7);
    List<I>* F = tesk_poly_model::load_system<I>("katsura-6");
    algo::Sugar_Stats all, cut;
    Dmp<I>::Lists::kill_all(algo::Sugar<I>::groebner(F, &all));
    ASSERT_GT(all.pairs, 20u);
    algo::Sugar<I>::limit_pairs(10);
    EXPECT_THROW(algo::Sugar<I>::groebner(F, &cut), algo::Sugar<I>::Pairs_Spent);
    EXPECT_GT(cut.pairs, 10u);
    EXPECT_LT(cut.reductions, all.reductions);
    algo::Sugar_Stats again;
    List<I>* G = algo::Sugar<I>::groebner(F, &again);
    EXPECT_EQ(again.pairs, all.pairs);
    EXPECT_EQ(again.reductions, all.reductions);
    algo::Sugar<I>::limit_pairs(all.pairs);
    List<I>* H = algo::Sugar<I>::groebner(F);  // within the limit
    EXPECT_EQ(tesk_poly_model::canonical<I>(G, false), tesk_poly_model::canonical<I>(H, false));  // released
    Dmp<I>::Lists::kill_all(F);
}

// Degenerate inputs: zero polynomials, a unit ideal.
TEST(TeskSugar, ZeroInputsAndTheUnitIdeal) {
    using I = DRLDRL__GFC;
    using Mo = Model<I>;
    using M = Dmp<I>;
    tesk_poly_model::sugar_set_up<I>(2);
    List<I>* zeros = Mo::list({nullptr, nullptr});
    EXPECT_EQ(algo::Sugar<I>::groebner(zeros), nullptr);
    M::Lists::kill_all(zeros);

    List<I>* F = Mo::list({Mo::poly({{{1, 0}, 1}, {{0, 0}, -1}}), Mo::poly({{{1, 0}, 1}, {{0, 1}, 2}}),
                          Mo::poly({{{0, 1}, 1}, {{0, 0}, 1}})});
    algo::Sugar_Stats st;
    List<I>* G = algo::Sugar<I>::groebner(F, &st);
    ASSERT_NE(G, nullptr);
    EXPECT_EQ(G->next, nullptr);
    EXPECT_EQ(Mo::read(G->elt), Mo::read(Mo::poly({{{0, 0}, 1}})));
    EXPECT_EQ(st.dim0, 0);
    M::Lists::kill_all(G);
    M::Lists::kill_all(F);
}

// Pairs by sugar or by the degree of the lcm; the sugar field and its one warning.
TEST(TeskSugar, PairsAndSugar) {
    using I = DRLDRL__GFC;
    using Mo = Model<I>;
    using M = Dmp<I>;
    tesk_poly_model::sugar_set_up<I>(3);
    // f = x0^3 + x2^2 (sugar 3, raised to 4), g = x0*x1 (sugar 2): lcm x0^3*x1.
    Term<I>* f = M::link_one(Mo::poly({{{3, 0, 0}, 1}, {{0, 0, 2}, 1}}));
    Term<I>* g = M::link_one(Mo::poly({{{1, 1, 0}, 1}}));
    EXPECT_EQ(sugar(f), 3u);
    EXPECT_EQ(sugar(set_sugar(f, 4)), 4u);
    auto* c = make_SCrit__DRLDRL__GFC(f, g, sugar(g));
    EXPECT_EQ(c->poli, f);
    EXPECT_EQ(c->polj, g);
    tesk_poly_model::Exps lcm;
    for (unsigned i = 0; i < 3; ++i) lcm.push_back(M::X::extraire(c->lcmfij, i));
    EXPECT_EQ(lcm, (tesk_poly_model::Exps{3, 1, 0}));
    EXPECT_EQ(c->totdeg, 5u);  // max(4 + 1, 2 + 2)
    want_sugar_strag = 0;
    auto* d = make_SCrit__DRLDRL__GFC(f, g, sugar(g));
    EXPECT_EQ(d->totdeg, 4u);
    want_sugar_strag = 1;
    kill_SCrit__DRLDRL__GFC(c);
    kill_SCrit__DRLDRL__GFC(d);

    const std::string told = tesk_poly_model::written(log_output, [&] {
        set_sugar(f, 65536);
        set_sugar(f, 70000);
        set_sugar(f, 80000);
    });
    EXPECT_EQ(told, "#C Warning: Depassement du sucre 70000 !\n");
    EXPECT_EQ(sugar(f), 80000u);
    M::Terms::kill_all(f);
    M::Terms::kill_all(g);
}

// Every monomial of degree d in n variables: the reduced basis is the input
// itself and every pair (as many as before) reduces to zero.  Each new
// polynomial's update looks at every pending pair and every candidate lcm a
// bounded number of times: testing each lcm against every other one and
// resorting the whole chain made the loop cubic in the generators.
void monomial_ideal(unsigned n, unsigned d, unsigned pairs) {
    using I = DRLDRL__GFC;
    using Mo = Model<I>;
    tesk_poly_model::sugar_set_up<I>(n);
    List<I>* F = nullptr;
    std::vector<Mo::Poly> want;
    tesk_poly_model::Exps e(n, 0);
    std::function<void(unsigned, unsigned)> fill = [&](unsigned i, unsigned left) {
        if (i + 1 == n) {
            e[i] = left;
            want.push_back({{e, Mo::scalar(1)}});
            F = Dmp<I>::Lists::cons(Mo::build(want.back()), F);
            return;
        }
        for (unsigned k = 0; k <= left; ++k) e[i] = k, fill(i + 1, left - k);
    };
    fill(0, d);
    std::sort(want.begin(), want.end());
    algo::Sugar_Stats st;
    EXPECT_EQ(tesk_poly_model::canonical<I>(algo::Sugar<I>::groebner(F, &st), false), want);
    EXPECT_EQ(st.pairs, pairs);
    EXPECT_EQ(st.zeros, pairs);
    const std::uint64_t g = want.size();
    EXPECT_LE(st.examined, g * (pairs + g)) << g << " generators";
    Dmp<I>::Lists::kill_all(F);
}

TEST(TeskSugar, MonomialIdealsOfManyGenerators) {
    monomial_ideal(40, 2, 21320);  // 820 generators
    monomial_ideal(3, 60, 3720);   // 1891 generators
}

// A history that is not this computation's, or that holds an unknown code,
// is warned about and the loop computes by itself from the start.
TEST(TeskSugar, ForeignHistories) {
    using I = DRLDRL__GFC;
    using S = algo::Sugar<I>;
    tesk_poly_model::sugar_set_up<I>(5);
    const auto want = tesk_poly_model::canonical<I>(tesk_poly_model::load_basis<I>("cyclic-5", "cyclic-5.gf65521.gb.txt"), false);
    List<I>* F = tesk_poly_model::load_system<I>("cyclic-5");
    TempName h;
    {
        WCBUS w(h.base.c_str());
        w << Messages(99);
        w.kill();
    }
    S::open_read_history(h.base.c_str());
    List<I>* G = nullptr;
    std::string told = tesk_poly_model::written(log_output, [&] { G = S::groebner(F); });
    EXPECT_EQ(told, "#C Warning: Unknown message: 99\n#C Warning: The history does not match this computation (its "
                    "bytes do not make a result); computing without it\n");
    EXPECT_EQ(tesk_poly_model::canonical<I>(G, false), want);

    // A history of the first input alone, replayed where the second one is reduced.
    {
        WCBUS w(h.base.c_str());
        Wire<I>::out_protocol(w, F->elt, 0);
        Wire<I>::out_protocol(w, F->elt, 0);
        w << MSG_TESK_QUIT;
        w.kill();
    }
    S::open_read_history(h.base.c_str());
    algo::Sugar_Stats st;
    told = tesk_poly_model::written(log_output, [&] { G = S::groebner(F, &st); });
    EXPECT_NE(told.find("does not match this computation (the basis reduces a result)"), std::string::npos) << told;
    EXPECT_EQ(st.replayed, 0u) << "nothing of a refused history is kept";
    EXPECT_EQ(tesk_poly_model::canonical<I>(G, false), want);
    Dmp<I>::Lists::kill_all(F);
}

}  // namespace
