// Hilbert series of monomial ideals: small ideals known by hand, and random
// ideals whose Hilbert function is counted monomial by monomial.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tesk/algo/hilbert.h"
#include "tesk/base/switches.h"

namespace {

using tesk::algo::hilbert_first_numerator;
using tesk::algo::hilbert_series;
using Row = std::vector<std::uint16_t>;
using Series = std::vector<std::int64_t>;

std::vector<std::uint16_t> flat(const std::vector<Row>& gens) {
    std::vector<std::uint16_t> v;
    for (const Row& r : gens) v.insert(v.end(), r.begin(), r.end());
    return v;
}

tesk::algo::Hilbert_Series series(unsigned n, const std::vector<Row>& gens) {
    const std::vector<std::uint16_t> v = flat(gens);
    return hilbert_series(n, unsigned(gens.size()), v.data());
}

// Number of monomials of each degree 0 .. D in n variables that no generator divides.
Series hilbert_function(unsigned n, const std::vector<Row>& gens, unsigned D) {
    Series hf(D + 1, 0);
    Row e(n, 0);
    // Every exponent vector of degree at most D, in odometer order.
    for (;;) {
        unsigned d = 0;
        for (unsigned v = 0; v < n; ++v) d += e[v];
        if (d <= D) {
            bool in_ideal = false;
            for (const Row& g : gens) {
                bool divides = true;
                for (unsigned v = 0; v < n && divides; ++v) divides = g[v] <= e[v];
                in_ideal |= divides;
            }
            if (!in_ideal) ++hf[d];
        }
        unsigned v = 0;
        while (v < n && ++e[v] > D) e[v++] = 0;
        if (v == n) break;
    }
    return hf;
}

// The first D + 1 coefficients of h / (1 - t)^dim.
Series expand(Series h, int dim, unsigned D) {
    h.resize(D + 1, 0);
    for (int k = 0; k < dim; ++k)
        for (unsigned i = 1; i <= D; ++i) h[i] += h[i - 1];
    return h;
}

TEST(TeskHilbert, SmallIdealsKnownByHand) {
    // (x^2, y^3): (1 + t)(1 + t + t^2), a quotient of dimension 0.
    auto s = series(2, {{2, 0}, {0, 3}});
    EXPECT_EQ(s.numerator, (Series{1, 2, 2, 1}));
    EXPECT_EQ(s.dim, 0);
    // (x*y) in three variables: (1 + t) / (1 - t)^2.
    s = series(3, {{1, 1, 0}});
    EXPECT_EQ(s.numerator, (Series{1, 1}));
    EXPECT_EQ(s.dim, 2);
    // Redundant generators change nothing; the first numerator is 1 - t^2.
    const std::vector<std::uint16_t> v = flat({{1, 1, 0}, {2, 1, 1}, {1, 3, 0}});
    EXPECT_EQ(hilbert_first_numerator(3, 3, v.data()), (Series{1, 0, -1}));
    // No generator: 1 / (1 - t)^n; the generator 1: the series 0, dimension -1.
    s = series(4, {});
    EXPECT_EQ(s.numerator, (Series{1}));
    EXPECT_EQ(s.dim, 4);
    s = series(2, {{0, 0}, {1, 0}});
    EXPECT_TRUE(s.numerator.empty());
    EXPECT_EQ(s.dim, -1);
    // (x, y, z)^2 in three variables: 1 + 3t.
    s = series(3, {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}, {1, 1, 0}, {1, 0, 1}, {0, 1, 1}});
    EXPECT_EQ(s.numerator, (Series{1, 3}));
    EXPECT_EQ(s.dim, 0);
}

TEST(TeskHilbert, RandomIdealsAgreeWithTheCountOfStandardMonomials) {
    std::mt19937 rng(20261207);
    constexpr unsigned D = 18;
    for (int trial = 0; trial < 300; ++trial) {
        const unsigned n = 1 + rng() % 4;
        std::vector<Row> gens(rng() % 7);
        for (Row& g : gens) {
            g.resize(n);
            for (auto& x : g) x = std::uint16_t(rng() % 5 == 0 ? 0 : rng() % 5);
        }
        const auto s = series(n, gens);
        const Series hf = hilbert_function(n, gens, D);
        if (s.dim < 0) {
            EXPECT_EQ(hf[0], 0) << "trial " << trial;
            continue;
        }
        EXPECT_LE(s.dim, int(n));
        EXPECT_EQ(expand(s.numerator, s.dim, D), hf) << "trial " << trial;
        for (unsigned d = 0; d <= D; ++d)
            EXPECT_EQ((long long)tesk::algo::hilbert_function(s, d), hf[d]) << "trial " << trial << " degree " << d;
        // Lowest terms: h(1) is the degree, never 0.
        std::int64_t at_one = 0;
        for (auto c : s.numerator) at_one += c;
        EXPECT_GT(at_one, 0) << "trial " << trial;
    }
}

// Many variables that a linear or pure-power generator alone holds: the
// series stays small though (1 - t)^n would pass 64 bits on the way.
TEST(TeskHilbert, ManyLoneVariablesDoNotOverflow) {
    constexpr unsigned n = 90;
    std::vector<Row> gens;
    for (unsigned v = 0; v + 2 < n; ++v) {
        Row g(n, 0);
        g[v] = 1;
        gens.push_back(g);
    }
    Row a(n, 0), b(n, 0);
    a[n - 2] = 2, b[n - 1] = 3;
    gens.push_back(a), gens.push_back(b);
    auto s = series(n, gens);
    EXPECT_EQ(s.dim, 0);
    EXPECT_EQ(s.numerator, (Series{1, 2, 2, 1}));
    gens.pop_back();  // the last variable free: a line of 2 points
    s = series(n, gens);
    EXPECT_EQ(s.dim, 1);
    EXPECT_EQ(s.numerator, (Series{1, 1}));
    EXPECT_EQ((long long)tesk::algo::hilbert_function(s, 40), 2);
}

// Every quadric in the first k of n variables.
std::vector<Row> quadrics(unsigned k, unsigned n) {
    std::vector<Row> gens;
    for (unsigned i = 0; i < k; ++i)
        for (unsigned j = i; j < k; ++j) {
            Row g(n, 0);
            ++g[i], ++g[j];
            gens.push_back(g);
        }
    return gens;
}

// y^2, the x_i^2 and the y*x_i, y last of k + 1 variables: the standard
// monomials are y and the squarefree ones in x, h = (1 + t)^k + t, while the
// first numerator holds (1 - t)(1 - t^2)^k, about twice C(k, k/2).
std::vector<Row> squares_and_a_star(unsigned k) {
    std::vector<Row> gens;
    Row y2(k + 1, 0);
    y2[k] = 2;
    gens.push_back(y2);
    for (unsigned i = 0; i < k; ++i) {
        Row sq(k + 1, 0), star(k + 1, 0);
        sq[i] = 2;
        star[i] = star[k] = 1;
        gens.push_back(sq), gens.push_back(star);
    }
    return gens;
}

Series one_plus_t_to_the(unsigned k) {
    Series b{1};
    for (unsigned j = 0; j < k; ++j)
        for (unsigned i = unsigned(b.size()); i-- > 0;) {
            if (i + 1 == b.size()) b.push_back(0);
            b[i + 1] += b[i];
        }
    return b;
}

// The first numerator of a small series can pass 64 bits (about n C(n, n/2)
// for n variables): the series is still computed, only one whose own
// coefficients do not fit is refused.
TEST(TeskHilbert, NumbersPast64BitsOnTheWayStillGiveTheSeries) {
    tesk::algo::Hilbert_Series s;
    auto try_series = [&](unsigned n, const std::vector<Row>& gens) {
        const std::vector<std::uint16_t> v = flat(gens);
        return tesk::algo::try_hilbert_series(n, unsigned(gens.size()), v.data(), s);
    };
    ASSERT_TRUE(try_series(62, quadrics(62, 62)));
    EXPECT_EQ(s.numerator, (Series{1, 62}));
    EXPECT_EQ(s.dim, 0);
    // Three variables more that no generator holds.
    ASSERT_TRUE(try_series(65, quadrics(62, 65)));
    EXPECT_EQ(s.numerator, (Series{1, 62}));
    EXPECT_EQ(s.dim, 3);
    EXPECT_EQ((long long)tesk::algo::hilbert_function(s, 4), 15 + 62 * 10);  // C(6, 2) + 62 C(5, 2)
    // A regular sequence of a pivot's branch past 64 bits; h(t) up to C(66, 33) ~ 7.2e18.
    Series want = one_plus_t_to_the(66);
    want[1] += 1;
    ASSERT_TRUE(try_series(67, squares_and_a_star(66)));
    EXPECT_EQ(s.numerator, want);
    EXPECT_EQ(s.dim, 0);
    // C(67, 33) ~ 1.4e19: the series itself does not fit.
    EXPECT_FALSE(try_series(68, squares_and_a_star(67)));
    // The degree entry, h(1), the same way.
    const std::vector<std::uint16_t> v = flat(quadrics(62, 62));
    int dim = -2;
    EXPECT_EQ(Tesk_compute_Degree_VGF(62, unsigned(v.size() / 62), v.data(), &dim), 63);
    EXPECT_EQ(dim, 0);
}

TEST(TeskHilbert, TheBridgeEntriesLeaveTheEngineQuiet) {
    const std::vector<std::uint16_t> v = flat({{2, 0}, {0, 3}});
    std::vector<std::int64_t> num;
    tesk::want_quiet = 0;
    EXPECT_EQ(Tesk_compute_Hilbert_VGF(2, 2, v.data(), &num), 0);
    EXPECT_EQ(num, (Series{1, 2, 2, 1}));
    EXPECT_EQ(tesk::want_quiet, 1);
    tesk::want_quiet = 0;
    EXPECT_EQ(Tesk_compute_Hilbert_GFC(2, 1, v.data(), &num), 1);
    EXPECT_EQ(num, (Series{1, 1}));
    EXPECT_EQ(tesk::want_quiet, 1);
}

}  // namespace
