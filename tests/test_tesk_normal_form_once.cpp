// Full reductions of the Tesk engine (the heap of reducer streams): the
// results of a scan of the reducers merged into the whole remainder a step,
// reducer for reducer in the Buchberger loop and the same normal forms by a
// basis, in both builds; and a normal form of high degree that merging
// could not finish, against Singular's.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "host/standin/system_file.h"
#include "tesk/algo/sugar.h"
#include "tests/support/poly_list_text.h"
#include "tests/support/tesk_bases.h"
#include "tests/support/tesk_server_run.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using tesk_poly_model::Model;

// The reference: the first reducer of R that divides the leading term, its
// multiple merged into the whole remainder.
template <class I>
Term<I>* scan_and_merge(Term<I>* p, const std::vector<Term<I>*>& R) {
    Chain<Term<I>> out;
    while (p) {
        if (Term<I>* q = algo::Sugar<I>::reducer(R, p->exp)) {
            p = Dmp<I>::reduire(p, q);
        } else {
            Term<I>* t = p;
            p = p->next;
            out.add(t);
        }
    }
    return out.finish();
}

// reduce_all of p by R against the reference (both inside a saved heap state).
template <class I>
void expect_reference(const typename Model<I>::Poly& p, const std::vector<Term<I>*>& R, const std::string& what) {
    using Mo = Model<I>;
    Term<I>* want = algo::keep_only_result<I>([&] { return scan_and_merge(Mo::build(p), R); });
    Term<I>* got = algo::keep_only_result<I>([&] { return algo::Sugar<I>::reduce_all(Mo::build(p), R); });
    EXPECT_EQ(Mo::take(got), Mo::take(want)) << what;
}

// Random monic reducers that are no basis: the first divisor decides, as in
// the loop; n variables, the first k in the first block (0: one block).
template <class I>
void first_divisor_as_the_scan(unsigned n, unsigned k) {
    using Mo = Model<I>;
    tesk_poly_model::sugar_set_up<I>(n);
    algo::Sugar<I>::set(n, k ? k : n, 0);
    std::mt19937_64 g(11 + n + k);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Term<I>*> R;
        for (int r = 0; r < 2 + trial % 7; ++r)
            R.push_back(Dmp<I>::hMonic(Mo::build(Mo::random(g, 2 + unsigned(trial) % 9, 1 + trial % 3))));
        expect_reference<I>(Mo::random(g, 3 + unsigned(trial) % 20, 3 + trial % 5), R,
                            "trial " + std::to_string(trial));
        for (Term<I>* q : R) Dmp<I>::Terms::kill_all(q);
    }
}

TEST(TeskNormalForm, TheLoopReducesByTheFirstDivisor) {
    using I = DRLDRL__GFC;
    using Mo = Model<I>;
    tesk_poly_model::sugar_set_up<I>(2);
    // x*y by x*y - x or by x*y - y: x or y, whichever comes first.
    std::vector<Term<I>*> R{Mo::poly({{{1, 1}, 1}, {{1, 0}, -1}}), Mo::poly({{{1, 1}, 1}, {{0, 1}, -1}})};
    EXPECT_EQ(Mo::take(algo::Sugar<I>::reduce_all(Mo::poly({{{1, 1}, 1}}), R)), Mo::read(Mo::poly({{{1, 0}, 1}})));
    std::swap(R[0], R[1]);
    EXPECT_EQ(Mo::take(algo::Sugar<I>::reduce_all(Mo::poly({{{1, 1}, 1}}), R)), Mo::read(Mo::poly({{{0, 1}, 1}})));
    for (Term<I>* q : R) Dmp<I>::Terms::kill_all(q);

    first_divisor_as_the_scan<DRLDRL__GFC>(4, 0);
    first_divisor_as_the_scan<DRLDRL__GFC>(5, 2);  // two blocks of variables
    first_divisor_as_the_scan<BigDexp__VGF>(4, 0);
}

// By a reduced basis any divisor gives the one normal form: Sugar's normal
// form (the shortest divisor first) equals the reference, random polynomials
// and multiples of the basis (normal form 0) alike.
template <class I>
void normal_forms_by_a_basis(const std::string& system, unsigned n) {
    using Mo = Model<I>;
    tesk_poly_model::sugar_set_up<I>(n);
    List<I>* F = tesk_poly_model::load_system<I>(system);
    List<I>* G = algo::Sugar<I>::groebner(F);
    std::vector<Term<I>*> R;
    for (List<I>* c = G; c; c = c->next) R.push_back(c->elt);
    std::mt19937_64 g(5);
    for (int trial = 0; trial < 24; ++trial) {
        // Small enough for the reference, whose merges grow with the square of the remainder.
        typename Mo::Poly f = Mo::random(g, 4 + unsigned(trial) % 8, 1 + trial % 2);
        typename Mo::Poly h = Mo::product(Mo::random(g, 3, 1), Mo::read(R[size_t(trial) % R.size()]));
        const std::string what = system + " trial " + std::to_string(trial);
        Term<I>* want = algo::keep_only_result<I>([&] { return scan_and_merge(Mo::build(f), R); });
        EXPECT_EQ(Mo::take(algo::Sugar<I>::normal_form(Mo::build(f), G)), Mo::take(want)) << what;
        EXPECT_EQ(algo::Sugar<I>::normal_form(Mo::build(h), G), nullptr) << what;
        expect_reference<I>(Mo::sum(f, h), R, what);
    }
    Dmp<I>::Lists::kill_all(G);
    Dmp<I>::Lists::kill_all(F);
}

TEST(TeskNormalForm, AnyDivisorOfABasisGivesTheOneNormalForm) {
    normal_forms_by_a_basis<DRLDRL__GFC>("cyclic-5", 5);
    normal_forms_by_a_basis<DRLDRL__GFC>("katsura-6", 7);
    normal_forms_by_a_basis<BigDexp__VGF>("cyclic-5", 5);
}

// 65 points in 6 variables, modulo 101: the monomials of degree 25 to 48
// reduce to some sixty terms, but the remainders on the way hold thousands,
// which merging them whole cost minutes.
TEST(TeskNormalForm, HighDegreeMonomialsByAZeroDimensionalBasis) {
    const std::string dir = std::string(QUOR_TEST_DATA_DIR) + "/nf-diff/";
    quor_test::TempDir d("tesk_nf");
    const auto r = tesk_server_run::server(
        d, "-prime 101 -intersect " + dir + "z1.2.txt -normal-form " + dir + "z1.q.txt " + dir + "z1.txt", "", 20);
    ASSERT_EQ(r.status, 0) << r.out.substr(0, 200);
    const auto sys = quor::standin::read_system(dir + "z1.txt");
    const std::string got = r.out.substr(r.out.find('\n') + 1);
    EXPECT_EQ(quor_test::mod_polys(got.substr(0, got.find('\n')), sys, 101),
              quor_test::mod_polys(quor_test::lines_to_list(quor_test::slurp(dir + "z1.nf.txt")), sys, 101));
}

}  // namespace
