// The lextriangular decomposition's two ways of working a quotient, on
// generated systems of 1,000 to 10,000 zeros modulo 65521: by multiplication
// matrices and by reductions, the same sets, or the matrices refused exactly
// where their tables pass 1 GB; the route chosen by size always answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tesk/algo/lextri.h"
#include "tests/support/tesk_bases.h"

namespace {

using namespace tesk;
using namespace tesk::poly;
using I = DRLDRL__GFC;
using M = Dmp<I>;
using P = Term<I>;
using Model = tesk_poly_model::Model<I>;
using algo::Lextri;
using algo::Lextri_Route;
using algo::Lextri_Status;

// a * b, both released.
P* times(P* a, P* b) {
    P* c = M::mult(a, b);
    M::Terms::kill_all(a);
    M::Terms::kill_all(b);
    return c;
}
// a^k, a released.
P* power(P* a, unsigned k) {
    P* r = M::one();
    for (unsigned i = 0; i < k; ++i) r = times(r, M::copy(a));
    M::Terms::kill_all(a);
    return r;
}
// The generators of the product of the ideals of A and B (both released):
// its zeros are theirs together, with the multiplicities of the intersection
// where they have none in common.
std::vector<P*> product(std::vector<P*> A, std::vector<P*> B) {
    std::vector<P*> out;
    for (P* a : A)
        for (P* b : B) out.push_back(M::mult(a, b));
    for (P* p : A) M::Terms::kill_all(p);
    for (P* p : B) M::Terms::kill_all(p);
    return out;
}

struct Case {
    const char* name;
    unsigned n;
    unsigned zeros;     // with multiplicity: the staircase of the input's basis
    unsigned distinct;  // without: the sum of the sets' degrees
    unsigned sets;
    std::vector<P*> (*system)();
};

// The shapes: a quotient that splits, roots of multiplicity 2 and 3, sets not
// in shape position, three and four variables, and sizes on both sides of
// where the matrices' tables pass 1 GB ((n+3) * 4 bytes per entry: 7,327
// standard monomials in 2 variables, 6,688 in 3, 6,192 in 4).
const Case kCases[] = {
    // Two triangular sets of 1,320 and 500 zeros, whose lexicographic basis
    // is not triangular.  The split's initial, y^66 - y - 1, times a normal
    // form of a high degree in y passes the exponents: the reductions make
    // that product in wider ones.
    {"split-high-degree", 2, 1820, 1820, 2,
     [] {
         return product({Model::poly({{{0, 66}, 1}, {{0, 1}, -1}, {{0, 0}, -1}}),
                         Model::poly({{{20, 0}, 1}, {{1, 0}, -1}, {{0, 1}, -1}})},
                        {Model::poly({{{0, 50}, 1}, {{0, 1}, 1}, {{0, 0}, -2}}),
                         Model::poly({{{10, 0}, 1}, {{1, 1}, -1}, {{0, 0}, -3}})});
     }},
    // 1,680 zeros in a tower of four variables, and 12 more where w = z.
    {"split-4vars", 4, 1692, 1692, 2,
     [] {
         return product({Model::poly({{{5, 0, 0, 0}, 1}, {{0, 1, 0, 0}, -1}}),
                         Model::poly({{{0, 6, 0, 0}, 1}, {{0, 0, 1, 0}, -1}, {{0, 0, 0, 0}, -1}}),
                         Model::poly({{{0, 0, 7, 0}, 1}, {{0, 0, 0, 1}, -1}}),
                         Model::poly({{{0, 0, 0, 8}, 1}, {{0, 0, 0, 0}, -2}})},
                        {Model::poly({{{1, 0, 0, 0}, 1}, {{0, 0, 0, 1}, -1}}),
                         Model::poly({{{0, 1, 0, 0}, 1}, {{0, 0, 0, 0}, -2}}),
                         Model::poly({{{0, 0, 3, 0}, 1}, {{0, 0, 0, 1}, -1}, {{0, 0, 0, 0}, -1}}),
                         Model::poly({{{0, 0, 0, 4}, 1}, {{0, 0, 0, 0}, -5}})});
     }},
    // Each y of multiplicity 3, each x of multiplicity 2 above it: 3,000
    // standard monomials for 500 zeros.
    {"multiple-3000", 2, 3000, 500, 1,
     [] {
         return std::vector<P*>{power(Model::poly({{{0, 20}, 1}, {{0, 1}, -1}, {{0, 0}, -1}}), 3),
                                power(Model::poly({{{25, 0}, 1}, {{1, 0}, -1}, {{0, 1}, -1}}), 2)};
     }},
    // The same past the matrices' limit, 7,800 standard monomials for 1,300
    // zeros: by size, the radical by reductions, its sets by matrices.
    {"multiple-7800", 2, 7800, 1300, 1,
     [] {
         return std::vector<P*>{power(Model::poly({{{0, 26}, 1}, {{0, 1}, -1}, {{0, 0}, -1}}), 3),
                                power(Model::poly({{{50, 0}, 1}, {{1, 1}, -1}, {{0, 0}, -1}}), 2)};
     }},
    // One triangular set of degrees 10, 20, 10: not in shape position.
    {"tower-3vars", 3, 2000, 2000, 1,
     [] {
         return std::vector<P*>{Model::poly({{{10, 0, 0}, 1}, {{0, 1, 0}, -1}, {{0, 0, 1}, -1}}),
                                Model::poly({{{0, 20, 0}, 1}, {{0, 1, 1}, -1}, {{0, 0, 0}, -1}}),
                                Model::poly({{{0, 0, 10}, 1}, {{0, 0, 1}, -1}, {{0, 0, 0}, -2}})};
     }},
    // A grid of 5,000 zeros: by matrices in 2 variables.
    {"grid-5000", 2, 5000, 5000, 1,
     [] {
         return std::vector<P*>{Model::poly({{{50, 0}, 1}, {{1, 0}, -1}, {{0, 0}, -5}}),
                                Model::poly({{{0, 100}, 1}, {{0, 1}, -1}, {{0, 0}, -7}})};
     }},
    // A grid of 9,800 zeros: the matrices' tables pass 1 GB.
    {"grid-9800", 2, 9800, 9800, 1,
     [] {
         return std::vector<P*>{Model::poly({{{98, 0}, 1}, {{1, 0}, -1}, {{0, 0}, -5}}),
                                Model::poly({{{0, 100}, 1}, {{0, 1}, -1}, {{0, 0}, -7}})};
     }},
};

// The sets of F by the route, or the refusal's text.
struct Answer {
    std::vector<std::vector<P*>> sets;
    std::string refused;
    ~Answer() {
        for (auto& s : sets)
            for (P* p : s) M::Terms::kill_all(p);
    }
};

void decompose(List<I>* F, Lextri_Route route, Answer& a) {
    List_List<I>* T = nullptr;
    Lextri_Status st = Lextri_Status::Not_Dim0;
    a.refused = tesk_poly_model::fatal_of([&] { T = Lextri::decompose(F, &st, route); });
    if (!a.refused.empty()) return;
    EXPECT_EQ(st, Lextri_Status::Done);
    for (List_List<I>* s = T; s; s = s->next) {
        a.sets.emplace_back();
        for (List<I>* c = s->elt; c; c = c->next) a.sets.back().push_back(c->elt);
        M::Lists::free_all(s->elt);
    }
    M::Lists2::free_all(T);
}

// The sum of the sets' degrees, the products of their main degrees (the
// polynomial of x_j j-th): the number of distinct zeros.
unsigned degree(const Answer& a) {
    unsigned total = 0;
    for (const auto& set : a.sets) {
        unsigned product = 1;
        for (unsigned j = 0; j < set.size(); ++j) {
            unsigned d = 0;
            for (const P* t = set[j]; t; t = t->next) d = std::max(d, unsigned(M::X::extraire(t->exp, j)));
            product *= d;
        }
        total += product;
    }
    return total;
}

bool same_sets(const Answer& a, const Answer& b) {
    if (a.sets.size() != b.sets.size()) return false;
    for (size_t i = 0; i < a.sets.size(); ++i) {
        if (a.sets[i].size() != b.sets[i].size()) return false;
        for (size_t k = 0; k < a.sets[i].size(); ++k)
            if (!M::eq(a.sets[i][k], b.sets[i][k])) return false;
    }
    return true;
}

TEST(TeskLextriRoutes, MatricesAndReductionsGiveTheSameSets) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        tesk_poly_model::sugar_set_up<I>(c.n);
        Lextri::init();
        List<I>* F = nullptr;
        const std::vector<P*> ps = c.system();
        for (auto it = ps.rbegin(); it != ps.rend(); ++it) F = M::Lists::cons(*it, F);

        // The matrices refuse the input's staircase when its tables pass 1
        // GB; the route chosen by size then still answers (else it is theirs).
        const double mb = double(c.n + 3) * 4 * c.zeros * c.zeros / (1 << 20);
        const bool past = mb > 1024;
        Answer matrices, reductions, by_size;
        decompose(F, Lextri_Route::Matrices, matrices);
        decompose(F, Lextri_Route::Reductions, reductions);
        if (past) decompose(F, Lextri_Route::Auto, by_size);
        M::Lists::kill_all(F);
        ASSERT_EQ(reductions.refused, "");
        EXPECT_EQ(reductions.sets.size(), c.sets);
        EXPECT_EQ(degree(reductions), c.distinct);
        if (!past) {
            EXPECT_EQ(matrices.refused, "");
            EXPECT_TRUE(same_sets(matrices, reductions));
            continue;
        }
        EXPECT_NE(matrices.refused.find("Lextriangular decomposition: the staircase has " + std::to_string(c.zeros) +
                                        " standard monomials, and its tables of " + std::to_string(unsigned(mb)) +
                                        " MB pass the 1024 MB allowed"),
                  std::string::npos)
            << matrices.refused;
        ASSERT_EQ(by_size.refused, "");
        EXPECT_TRUE(same_sets(by_size, reductions));
    }
}

}  // namespace
