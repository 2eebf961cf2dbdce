// The three packed exponent types against a plain-array model: layouts,
// orders, divisibility, lcm/gcd, products, quotients, hashes, printers and
// wire bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tesk/base/bigdexp.h"
#include "tesk/base/biglexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/switches.h"

namespace {
using namespace tesk;
using Exps = std::vector<unsigned>;

// ---------------------------------------------------------------- model
// Per type: forwarding to the public names, and the documented layout.
#define FWD(T)                                                                                        \
    using V = T;                                                                                      \
    static unsigned n() { return Nombre_variables_##T(); }                                            \
    static unsigned extraire(const V* v, unsigned i) { return extraire_##T(v, i); }                  \
    static void ranger(V* v, unsigned e, unsigned i) { ranger_##T(v, e, i); }                        \
    static int greater(const V* a, const V* b) { return greater_##T(a, b); }                          \
    static int greater(const V* a, const V* b, const V* c) { return greater_##T(a, b, c); }           \
    static int rev_greater(const V* a, const V* b) { return rev_greater_##T(a, b); }                  \
    static int lex_greater(const V* a, const V* b) { return lex_greater_##T(a, b); }                  \
    static int greater2(const V* a, const V* b) { return greater2_##T(a, b); }                        \
    static int is_sub(const V* a, const V* b) { return is_sub_##T(a, b); }                           \
    static int is_homog_sub(const V* a, const V* b) { return is_homog_sub_##T(a, b); }               \
    static int is_block1_sub(const V* a, const V* b) { return is_block1_sub_##T(a, b); }             \
    static int is_sub_intel(const V* a, const V* b) { return is_sub_intel_##T(a, b); }               \
    static int is_sub_and_do(V* a, const V* b) { return is_sub_and_do_##T(a, b); }                   \
    static void add(const V* a, const V* b, V* c) { add_##T(a, b, c); }                              \
    static void sub(const V* a, const V* b, V* c) { sub_##T(a, b, c); }                              \
    static int eq(const V* a, const V* b) { return eq_##T(a, b); }                                   \
    static int eq(const V* a, const V* b, const V* c) { return eq_##T(a, b, c); }                    \
    static int eq(const V* a, const V* b, const V* c, const V* d) { return eq_##T(a, b, c, d); }     \
    static void zsup(const V* a, const V* b, V* c) { zsup_##T(a, b, c); }                            \
    static void zinf(const V* a, const V* b, V* c) { zinf_##T(a, b, c); }                            \
    static void zsup_verif(const V* a, const V* b, V* c) { zsup_verif_##T(a, b, c); }                \
    static unsigned deg(const V* v) { return totalDegree_##T(v); }                                    \
    static unsigned Hash(const V* v, unsigned s) { return Hash_##T(v, s); }                           \
    static unsigned hash(const V* v, unsigned m) { return hash_##T(v, m); }                           \
    static unsigned hash(const V* a, const V* b, unsigned m) { return hash_##T(a, b, m); }            \
    static int is_power(const V* v, unsigned& e) { return is_power_##T(v, e); }                       \
    static int slow_is_power(const V* v, unsigned& e) { return slow_is_power_##T(v, e); }             \
    static int mainVariable(const V* v) { return mainVariable_##T(v); }                               \
    static void permut(V* v, const unsigned* p) { permut_##T(v, p); }                                 \
    static void extract_block1(V* d, const V* v) { extract_block1_##T(d, v); }                       \
    static void extract_block2(V* d, const V* v) { extract_block2_##T(d, v); }                       \
    static unsigned out_memory(void* b, const V* v) { return out_memory_##T(b, v); }                  \
    static unsigned parse_memory(const void* b, V* v) { return parse_memory_##T(b, v); }              \
    static void zscal(unsigned s, V* v) { zscal_##T(s, v); }                                          \
    static int& flag() { return T##_Layout::overflow_flag(); }

struct Dexp {
    FWD(BigDexp)
    static constexpr unsigned kBits = 16, kMaxExp = max_exponent_BigDexp, kMaxDeg = max_degree_BigDexp;
    static constexpr int kBlocks = 1;
    static void set(unsigned n, unsigned) { set_nb_var_BigDexp(n); }
    static unsigned k() { return internal_nb_var_BigDexp; }
    static unsigned words() { return internal_nb_dbl_block_BigDexp; }
    static unsigned expected_words(unsigned n, unsigned) { return n ? n / 4 + 1 : 0; }
    // Documented layout: degree in slot 3, variable i in slot 4*floor(r/4)+3-(r%4), r = n-i.
    static unsigned ref_slot(unsigned i, unsigned n, unsigned) { return 4 * ((n - i) / 4) + 3 - (n - i) % 4; }
    static unsigned ref_deg_slot(unsigned, unsigned) { return 3; }
    static unsigned slots(unsigned n, unsigned k) { return 4 * expected_words(n, k); }
};
struct Lexp {
    FWD(BigLexp)
    static constexpr unsigned kBits = 16, kMaxExp = max_exponent_BigLexp, kMaxDeg = ~0u;
    static constexpr int kBlocks = 0;
    static void set(unsigned n, unsigned) { set_nb_var_BigLexp(n); }
    static unsigned k() { return internal_nb_var_BigLexp; }
    static unsigned words() { return internal_nb_dbl_block_BigLexp; }
    static unsigned expected_words(unsigned n, unsigned) { return n ? (n - 1) / 4 + 1 : 0; }
    static unsigned ref_slot(unsigned i, unsigned, unsigned) { return 4 * (i / 4) + 3 - i % 4; }
    static unsigned ref_deg_slot(unsigned, unsigned) { return ~0u; }
    static unsigned slots(unsigned n, unsigned k) { return 4 * expected_words(n, k); }
};
struct Drl {
    FWD(DRLDRL)
    static constexpr unsigned kBits = 8, kMaxExp = max_exponent_DRLDRL, kMaxDeg = max_degree_DRLDRL;
    static constexpr int kBlocks = 2;
    static void set(unsigned n, unsigned k) { set_nb_var_DRLDRL(n, k); }
    static unsigned k() { return internal_nb_var_block1_DRLDRL; }
    static unsigned words() { return internal_nb_dbl_block_DRLDRL; }
    static unsigned expected_words(unsigned n, unsigned k) {  // 64-bit words
        const unsigned w = k / 4 + 1 + (k < n ? (n - k) / 4 + 1 : 1);
        return (w + 1) / 2;
    }
    static unsigned ref_slot(unsigned i, unsigned n, unsigned k) {
        const unsigned r = i < k ? k - i : 4 * (k / 4 + 1) + n - i;
        return 4 * (r / 4) + 3 - r % 4;
    }
    static unsigned ref_deg_slot(unsigned i, unsigned k) { return i < k ? 3 : 4 * (k / 4 + 1) + 3; }
    static unsigned slots(unsigned n, unsigned k) { return 8 * expected_words(n, k); }
};

// Slots of a vector by the documented layout.
template <class M>
std::vector<unsigned> ref_slots(const Exps& e, unsigned k) {
    const unsigned n = unsigned(e.size());
    std::vector<unsigned> s(M::slots(n, k), 0);
    for (unsigned i = 0; i < n; ++i) {
        s[M::ref_slot(i, n, k)] = e[i];
        if (M::kBlocks) s[M::ref_deg_slot(i, k)] += e[i];
    }
    return s;
}

// Reference order: blocks of variables, each by degree then reverse
// lexicographic (kBlocks > 0), or lexicographic from variable 0.
template <class M>
int ref_cmp(const Exps& a, const Exps& b) {
    const unsigned n = unsigned(a.size()), k = M::kBlocks == 2 ? M::k() : n;
    if (M::kBlocks == 0) {
        for (unsigned i = 0; i < n; ++i)
            if (a[i] != b[i]) return a[i] > b[i] ? 1 : -1;
        return 0;
    }
    const unsigned lo[2] = {0, k}, hi[2] = {k, n};
    for (int blk = 0; blk < 2; ++blk) {
        unsigned da = 0, db = 0;
        for (unsigned i = lo[blk]; i < hi[blk]; ++i) da += a[i], db += b[i];
        if (da != db) return da > db ? 1 : -1;
        for (unsigned i = hi[blk]; i-- > lo[blk];)
            if (a[i] != b[i]) return a[i] < b[i] ? 1 : -1;
    }
    return 0;
}

template <class M>
struct Vec {
    std::vector<typename M::V> w;
    explicit Vec(const Exps& e) : w(M::words() + 1, typename M::V{0}) {
        for (unsigned i = 0; i < e.size(); ++i) M::ranger(w.data(), e[i], i);
    }
    Vec() : w(M::words() + 1, typename M::V{0}) {}
    typename M::V* p() { return w.data(); }
    Exps exps() const {
        Exps e(M::n());
        for (unsigned i = 0; i < e.size(); ++i) e[i] = M::extraire(w.data(), i);
        return e;
    }
    unsigned slot(unsigned s) const { return unsigned(w[s * M::kBits / 64].w >> (s * M::kBits % 64)) & ((1u << M::kBits) - 1); }
};

// Random exponents at most `max`, total (per block) kept at most `deg`.
Exps random_exps(std::mt19937_64& g, unsigned n, unsigned max, unsigned deg) {
    Exps e(n);
    unsigned total = 0;
    for (auto& x : e) {
        x = unsigned(g() % (max + 1));
        if (total + x > deg) x = deg - total;
        total += x;
    }
    std::shuffle(e.begin(), e.end(), g);
    return e;
}

// Layouts worth trying: (n, k) with blocks at word boundaries.
std::vector<std::pair<unsigned, unsigned>> shapes(int blocks) {
    if (blocks == 2)
        return {{1, 0}, {1, 1}, {3, 1}, {4, 3}, {5, 4}, {8, 3}, {8, 4}, {8, 7}, {9, 5}, {12, 8}, {17, 9}};
    return {{1, 1}, {3, 3}, {4, 4}, {5, 5}, {7, 7}, {8, 8}, {9, 9}, {16, 16}, {23, 23}};
}

template <class M>
class Expo : public ::testing::Test {};
using Types = ::testing::Types<Dexp, Lexp, Drl>;
TYPED_TEST_SUITE(Expo, Types);

// Slots in memory, word counts and the total degree follow the documented
// layout, with extreme exponents too.
TYPED_TEST(Expo, LayoutMatchesDocumentedSlots) {
    using M = TypeParam;
    std::mt19937_64 g(7);
    for (auto [n, k] : shapes(M::kBlocks)) {
        M::set(n, k);
        ASSERT_EQ(M::words(), M::expected_words(n, k)) << n << "/" << k;
        const unsigned kk = M::kBlocks == 2 ? k : n;
        for (int rep = 0; rep < 40; ++rep) {
            const unsigned max = rep < 5 ? M::kMaxExp : 5;
            Exps e = random_exps(g, n, max, M::kBlocks ? M::kMaxDeg / 2 : ~0u);
            Vec<M> v(e);
            EXPECT_EQ(v.exps(), e);
            const auto ref = ref_slots<M>(e, kk);
            for (unsigned s = 0; s < ref.size(); ++s) ASSERT_EQ(v.slot(s), ref[s] % (1u << M::kBits)) << n << " slot " << s;
            unsigned d = 0;
            for (unsigned x : e) d += x;
            EXPECT_EQ(M::deg(v.p()), d);
        }
    }
}

// Orders, divisibility, lcm, gcd, products and quotients against the model.
TYPED_TEST(Expo, AgreesWithModel) {
    using M = TypeParam;
    std::mt19937_64 g(11);
    for (auto [n, k] : shapes(M::kBlocks)) {
        M::set(n, k);
        const unsigned kk = M::kBlocks == 2 ? k : n;
        for (int rep = 0; rep < 400; ++rep) {
            // Small exponents give ties and divisors; large ones the word edges.
            const unsigned max = rep % 4 == 0 ? M::kMaxExp / 2 : 3;
            const unsigned deg = M::kBlocks ? M::kMaxDeg / 2 / 2 : ~0u;
            Exps ea = random_exps(g, n, max, deg), eb = random_exps(g, n, max, deg);
            if (rep % 7 == 0) eb = ea;
            if (rep % 5 == 0)  // b a divisor of a
                for (unsigned i = 0; i < n; ++i) eb[i] = ea[i] ? unsigned(g() % (ea[i] + 1)) : 0;
            Vec<M> a(ea), b(eb), c, d;
            const int want = ref_cmp<M>(ea, eb);
            ASSERT_EQ(M::greater(a.p(), b.p()), want);
            ASSERT_EQ(M::greater(b.p(), a.p()), -want);
            bool divides = true, divides_homog = true, divides_b1 = true;
            Exps mx(n), mn(n), sum(n), dif(n);
            for (unsigned i = 0; i < n; ++i) {
                divides &= eb[i] <= ea[i];
                if (i + 1 < n) divides_homog &= eb[i] <= ea[i];
                if (i < kk) divides_b1 &= eb[i] <= ea[i];
                mx[i] = std::max(ea[i], eb[i]), mn[i] = std::min(ea[i], eb[i]), sum[i] = ea[i] + eb[i];
                dif[i] = ea[i] - eb[i];
            }
            ASSERT_EQ(M::is_sub(a.p(), b.p()), divides);
            ASSERT_EQ(M::is_homog_sub(a.p(), b.p()), divides_homog);
            ASSERT_EQ(M::is_block1_sub(a.p(), b.p()), M::kBlocks == 2 ? divides_b1 : divides);
            ASSERT_EQ(M::is_sub_intel(a.p(), b.p()), divides);
            M::zsup(a.p(), b.p(), c.p());
            ASSERT_TRUE(M::eq(c.p(), Vec<M>(mx).p()));
            M::zinf(a.p(), b.p(), c.p());
            ASSERT_TRUE(M::eq(c.p(), Vec<M>(mn).p()));
            M::add(a.p(), b.p(), c.p());
            ASSERT_TRUE(M::eq(c.p(), Vec<M>(sum).p()));
            ASSERT_TRUE(M::eq(c.p(), a.p(), b.p()));
            ASSERT_TRUE(M::eq(c.p(), Vec<M>().p(), a.p(), b.p()));
            // The product order without forming it, and hashes of a product.
            Vec<M> e3(random_exps(g, n, max, deg));
            ASSERT_EQ(M::greater(e3.p(), a.p(), b.p()), M::greater(e3.p(), c.p()));
            ASSERT_EQ(M::greater(c.p(), a.p(), b.p()), 0);
            for (unsigned m : {1000003u, 65521u, 7u})
                ASSERT_EQ(M::hash(a.p(), b.p(), m), M::hash(c.p(), m));
            // Quotient and the in-place form, which leaves a alone on failure.
            Vec<M> q = a;
            ASSERT_EQ(M::is_sub_and_do(q.p(), b.p()), divides);
            if (divides) {
                M::sub(a.p(), b.p(), c.p());
                ASSERT_TRUE(M::eq(c.p(), Vec<M>(dif).p()));
                ASSERT_TRUE(M::eq(q.p(), c.p()));
            } else {
                ASSERT_TRUE(M::eq(q.p(), a.p()));
            }
            // rev_greater flips the word sense only; lex forms go by variable.
            int lex = 0;
            for (unsigned i = 0; i < n && !lex; ++i)
                if (ea[i] != eb[i]) lex = ea[i] > eb[i] ? 1 : -1;
            ASSERT_EQ(M::lex_greater(a.p(), b.p()), lex);
            ASSERT_EQ(M::greater2(a.p(), b.p()), -lex);
            if (M::kBlocks == 0) {
                ASSERT_EQ(M::rev_greater(a.p(), b.p()), -want);
            }
        }
    }
}

// Degrees up to the top of their slots stay exact for the order and for
// divisibility (the degree slot is not part of the divisibility mask).
TYPED_TEST(Expo, ExactAtTheEdges) {
    using M = TypeParam;
    M::set(5, 2);
    const unsigned top = M::kMaxExp;
    // Degree differences past the sign bit of their slots.
    Exps ea{top, top, 0, 0, 1}, eb{0, 0, 0, 0, 1};
    if (M::kBlocks == 2) ea = {top, top, top, top, 1};
    Vec<M> a(ea), b(eb);
    EXPECT_EQ(M::is_sub(a.p(), b.p()), 1);
    EXPECT_EQ(M::is_sub(b.p(), a.p()), 0);
    EXPECT_EQ(M::greater(a.p(), b.p()), ref_cmp<M>(ea, eb));
    Exps ec = ea;
    ec[4] = 0;
    Vec<M> c(ec);
    EXPECT_EQ(M::greater(a.p(), c.p()), ref_cmp<M>(ea, ec));
    EXPECT_EQ(M::is_homog_sub(c.p(), a.p()), 1);
    EXPECT_EQ(M::is_sub(c.p(), a.p()), 0);
}

TYPED_TEST(Expo, PowersPermutationsAndFlatCopies) {
    using M = TypeParam;
    std::mt19937_64 g(3);
    for (auto [n, k] : shapes(M::kBlocks)) {
        M::set(n, k);
        unsigned e = 99;
        EXPECT_EQ(M::is_power(Vec<M>().p(), e), -1);
        EXPECT_EQ(e, 99u);
        EXPECT_EQ(M::mainVariable(Vec<M>().p()), -1);
        for (unsigned i = 0; i < n; ++i) {
            Exps x(n, 0);
            x[i] = 3;
            Vec<M> v(x);
            ASSERT_EQ(M::is_power(v.p(), e), int(i));
            ASSERT_EQ(e, 3u);
            ASSERT_EQ(M::slow_is_power(v.p(), e), int(i));
            ASSERT_EQ(M::mainVariable(v.p()), int(i) + 1);
            if (i + 1 < n) {
                x[n - 1] = 1;
                ASSERT_EQ(M::is_power(Vec<M>(x).p(), e), -1);
                ASSERT_EQ(M::slow_is_power(Vec<M>(x).p(), e), -1);
            }
        }
        Exps x = random_exps(g, n, 9, 60);
        std::vector<unsigned> p(n);
        std::iota(p.begin(), p.end(), 0u);
        std::shuffle(p.begin(), p.end(), g);
        Vec<M> v(x);
        M::permut(v.p(), p.data());
        Exps y(n);
        for (unsigned i = 0; i < n; ++i) y[p[i]] = x[i];
        EXPECT_TRUE(M::eq(v.p(), Vec<M>(y).p()));
        // Flat copies round-trip, degrees rebuilt.
        std::vector<unsigned char> buf(2 * n + 1);
        EXPECT_EQ(M::out_memory(buf.data(), v.p()), n);
        Vec<M> w;
        EXPECT_EQ(M::parse_memory(buf.data(), w.p()), n);
        EXPECT_TRUE(M::eq(v.p(), w.p()));
        // Block parts add up to the vector.
        Vec<M> b1, b2, s;
        M::extract_block1(b1.p(), v.p());
        M::extract_block2(b2.p(), v.p());
        M::add(b1.p(), b2.p(), s.p());
        EXPECT_TRUE(M::eq(s.p(), v.p()));
        // The power by slots.
        Exps x3 = x;
        for (auto& t : x3) t *= 3;
        Vec<M> v3(x3), vx(x);
        M::zscal(3, vx.p());
        EXPECT_TRUE(M::eq(vx.p(), v3.p()));
    }
}

// Hashes follow the documented formulas over the documented slots.
TYPED_TEST(Expo, HashesFollowTheSlots) {
    using M = TypeParam;
    std::mt19937_64 g(5);
    for (auto [n, k] : shapes(M::kBlocks)) {
        M::set(n, k);
        Exps e = random_exps(g, n, M::kMaxExp, M::kBlocks ? M::kMaxDeg : ~0u);
        Vec<M> v(e);
        const auto s = ref_slots<M>(e, M::kBlocks == 2 ? k : n);
        const unsigned m = 1000003;
        std::uint32_t h = s.back() % (1u << M::kBits);
        for (size_t i = s.size() - 1; i-- > 0;) h = std::uint32_t((h << M::kBits) + s[i] % (1u << M::kBits)) % m;
        EXPECT_EQ(M::hash(v.p(), m), h);
        std::uint32_t H = 12345;
        for (unsigned j = M::words(); j-- > 0;) H += std::uint32_t(std::int64_t(v.w[j].w) % 16777213);
        EXPECT_EQ(M::Hash(v.p(), 12345), H % 16777213);
    }
}

// The lcm check warns once when the lcm leaves the exact range.
std::string capture_log(const std::function<void()>& f) {
    FILE* saved = log_output;
    log_output = std::tmpfile();
    f();
    std::fflush(log_output);
    std::rewind(log_output);
    std::string r;
    for (int c; (c = std::fgetc(log_output)) != EOF;) r += char(c);
    std::fclose(log_output);
    log_output = saved;
    return r;
}

TYPED_TEST(Expo, LcmCheckWarnsOnceOutsideTheExactRange) {
    using M = TypeParam;
    M::set(5, 3);
    M::flag() = 0;
    Vec<M> c;
    const unsigned t = M::kMaxExp;
    if (M::kBlocks > 0) {
        // Largest exact degree: no warning.
        const unsigned d = M::kMaxDeg;  // t + t + 1 for both widths
        Vec<M> a(Exps{t, 0, 1, 0, 0}), b(Exps{0, t, 0, 0, 0});
        EXPECT_EQ(capture_log([&] { M::zsup_verif(a.p(), b.p(), c.p()); }), "");
        EXPECT_EQ(M::deg(c.p()), d);
        Vec<M> a2(Exps{t, 0, 2, 0, 0});
        const std::string w = capture_log([&] { M::zsup_verif(a2.p(), b.p(), c.p()); });
        EXPECT_EQ(w, "#C Warning: Depassement du degre " + std::to_string(d + 1) + " !");
        EXPECT_EQ(capture_log([&] { M::zsup_verif(a2.p(), b.p(), c.p()); }), "");
    }
    M::flag() = 0;
    Vec<M> big(Exps{0, 0, 0, 0, t}), one(Exps{0, 0, 0, 0, 1});
    Vec<M> over;
    M::add(big.p(), one.p(), over.p());
    EXPECT_NE(capture_log([&] { M::zsup_verif(over.p(), one.p(), c.p()); }), "");
    EXPECT_EQ(M::flag(), 1);
}

// ---------------------------------------------------------- type specifics
// The one-time set-up leaves 4 variables and clears the names after the extra ones.
TEST(ExpoInit, SelfTestAndNameTables) {
    char keep[] = "t", drop[] = "u";
    extra_nb_vars_BigDexp = 1;
    Liste_variables_BigDexp[0] = keep;
    Liste_variables_BigDexp[1] = drop;
    init_BigDexp();
    EXPECT_EQ(Nombre_variables_BigDexp(), 4u);
    EXPECT_EQ(Liste_variables_BigDexp[0], keep);
    EXPECT_EQ(Liste_variables_BigDexp[1], nullptr);
    Liste_variables_BigDexp[0] = nullptr;
    extra_nb_vars_BigDexp = 0;
    init_BigLexp();
    EXPECT_EQ(Nombre_variables_BigLexp(), 4u);
    init_DRLDRL();
    EXPECT_EQ(Nombre_variables_DRLDRL(), 4u);
    EXPECT_EQ(nb_first_block_DRLDRL(), 1u);
}

TEST(BigDexp, DocumentedCases) {
    set_nb_var_BigDexp(5);
    EXPECT_EQ(internal_nb_block_BigDexp, 2u);
    EXPECT_EQ(internal_count, 7u);
    EXPECT_EQ(phys_index_BigDexp(4), 2u);
    EXPECT_EQ(phys_index_BigDexp(1), 7u);
    EXPECT_EQ(phys_index_BigDexp(0), 6u);
    Vec<Dexp> x0(Exps{1, 0, 0, 0, 0}), x1(Exps{0, 1, 0, 0, 0});
    EXPECT_EQ(greater_BigDexp(x0.p(), x1.p()), 1);
    set_nb_var_BigDexp(3);
    Vec<Dexp> x1sq(Exps{0, 2, 0}), x0x2(Exps{1, 0, 1});
    EXPECT_EQ(greater_BigDexp(x1sq.p(), x0x2.p()), 1);
    EXPECT_EQ(rev_greater_BigDexp(x1sq.p(), x0x2.p()), -1);
    unsigned e = 0;
    EXPECT_EQ(is_power_BigDexp(Vec<Dexp>(Exps{0, 0, 3}).p(), e), 2);
    EXPECT_EQ(e, 3u);
    EXPECT_EQ(is_power_BigDexp(Vec<Dexp>(Exps{1, 1, 0}).p(), e), -1);
}

TEST(BigLexp, DocumentedCases) {
    set_nb_var_BigLexp(5);
    EXPECT_EQ(internal_nb_block_BigLexp, 2u);
    EXPECT_EQ(phys_index_BigLexp(0), 3u);
    EXPECT_EQ(phys_index_BigLexp(3), 0u);
    EXPECT_EQ(phys_index_BigLexp(4), 7u);
    set_nb_var_BigLexp(2);
    Vec<Lexp> x0(Exps{1, 0}), x1_5(Exps{0, 5}), m(Exps{2, 5});
    EXPECT_EQ(greater_BigLexp(x0.p(), x1_5.p()), 1);
    EXPECT_EQ(totalDegree_BigLexp(x1_5.p()), 5u);
    EXPECT_EQ(totalDegree_BigLexp(m.p()), 7u);
    set_nb_var_BigLexp(7);
    Vec<Lexp> v(Exps{1, 2, 3, 4, 5, 6, 7}), w = v;
    mirror_BigLexp(w.p());
    EXPECT_FALSE(eq_BigLexp(v.p(), w.p()));
    EXPECT_EQ(w.slot(0), 5u);  // variable 4 (slot 7) went to slot 0
    EXPECT_EQ(w.slot(3), 0u);  // the unused slot 4 went to slot 3
    mirror_BigLexp(w.p());
    EXPECT_TRUE(eq_BigLexp(v.p(), w.p()));
    unsigned e = 0;
    EXPECT_EQ(mainVariable_BigLexp(Vec<Lexp>(Exps{0, 0, 4, 1, 0, 0, 0}).p(), e), 3);
    EXPECT_EQ(e, 4u);
}

struct FatalCaught : std::runtime_error {
    using std::runtime_error::runtime_error;
};
[[noreturn]] void throw_hook(int, const char* msg) {
    Fatal_loop = 0;
    throw FatalCaught(msg);
}
std::string fatal_text(const std::function<void()>& f) {
    const Exit_Hook old = set_exit_hook(throw_hook);
    std::string r = "(returned)";
    capture_log([&] {
        try {
            f();
        } catch (const FatalCaught& e) {
            r = e.what();
        }
    });
    set_exit_hook(old);
    return r;
}

TEST(DRLDRL, DocumentedCases) {
    set_nb_var_DRLDRL(3, 1);
    EXPECT_EQ(internal_nb_block_DRLDRL, 2u);
    EXPECT_EQ(phys_index_DRLDRL(0), 2u);
    EXPECT_EQ(phys_index_DRLDRL(2), 6u);
    EXPECT_EQ(phys_index_DRLDRL(1), 5u);
    Vec<Drl> x0(Exps{1, 0, 0}), x1_9(Exps{0, 9, 0}), x0x2(Exps{1, 0, 1});
    EXPECT_EQ(greater_DRLDRL(x0.p(), x1_9.p()), 1);
    unsigned e = 0;
    EXPECT_EQ(is_power_DRLDRL(x0x2.p(), e), -1);
    EXPECT_EQ(is_eliminated_DRLDRL(x1_9.p()), 1);
    EXPECT_EQ(is_eliminated_DRLDRL(x0.p()), 0);
    set_nb_var_DRLDRL(5, 4);
    EXPECT_EQ(internal_nb_block_block1_DRLDRL, 2u);
    EXPECT_EQ(internal_nb_block_DRLDRL, 4u);
    // The first-block length: argument, TESKBLOCK, or fatal.
    unsetenv("TESKBLOCK");
    EXPECT_EQ(fatal_text([] { set_nb_var_DRLDRL(3, 0, 0); }),
              "You must specify the length of the first block for an elimination order 3 blk=-1\n");
    setenv("TESKBLOCK", "2", 1);
    set_nb_var_DRLDRL(3, 0, 0);
    EXPECT_EQ(nb_first_block_DRLDRL(), 2u);
    unsetenv("TESKBLOCK");
    set_nb_var_DRLDRL(1, 0, 0);
    EXPECT_EQ(nb_first_block_DRLDRL(), 0u);
    EXPECT_EQ(nb_second_block_DRLDRL(), 1u);
    EXPECT_EQ(fatal_text([] { permut_fast_DRLDRL(nullptr, nullptr, nullptr); }),
              "permut_fast_DRLDRL not implemented\n");
    EXPECT_EQ(fatal_text([] { mainDegree_BigDexp(nullptr, nullptr, nullptr); }), "Pas fait mainDegree_BigDexp\n");
}

// ---------------------------------------------------------------- printers
std::string read_all(FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string r;
    for (int c; (c = std::fgetc(f)) != EOF;) r += char(c);
    std::fclose(f);
    return r;
}

TEST(ExpoPrinters, EverySyntax) {
    set_nb_var_BigDexp(3);
    Vec<Dexp> v(Exps{2, 0, 1});
    FILE* f = std::tmpfile();
    fortran_BigDexp(Fortran_Print(f), v.p());
    EXPECT_EQ(read_all(f), "a^2*c");
    f = std::tmpfile();
    tex_BigDexp(Tex_Print(f), v.p());
    EXPECT_EQ(read_all(f), "a^{2}\\,c");
    f = std::tmpfile();
    posso_BigDexp(Posso_Print(f), v.p());
    EXPECT_EQ(read_all(f), "a2c");
    f = std::tmpfile();
    Lib_Print(f) << v.p();
    EXPECT_EQ(read_all(f), "2 0 1 ");
    EXPECT_EQ(capture_log([&] { zpretty_BigDexp(Pretty, v.p()).flush(); }), " 2  \na c \n    \n");
    EXPECT_EQ(capture_log([&] { (Pretty << Vec<Dexp>().p()).flush(); }), " \n1\n \n");
    EXPECT_EQ(capture_log([&] { zprint_BigDexp(v.p()); Pretty.flush(); }),
              std::string(12, ' ') + "\n(d=3)[1,0,2]\n" + std::string(12, ' ') + "\n");
    EXPECT_EQ(capture_log([&] { rawOutput_BigDexp(v.p()); }), "<a^2c^1>");
    EXPECT_EQ(capture_log([] { afficherName_BigDexp(); }), "BigDexp(3)");
    f = std::tmpfile();
    out_posso_txt_BigDexp(Posso_Print(f));
    EXPECT_EQ(read_all(f), "{\n 3,\n {C, {1, 1, 1}},\n {V, {1, 1, 1}},\n {N, {a, b, c}}\n}\n");
    set_nb_var_BigLexp(2);
    f = std::tmpfile();
    out_posso_txt_BigLexp(Posso_Print(f));
    EXPECT_EQ(read_all(f), "{\n 2,\n {C, {1, 1}},\n {N, {a, b}}\n}\n");

    // Names: the type's table, placeholders skipped by the lists, made-up names past 9 variables.
    set_nb_var_DRLDRL(11, 2);
    char x[] = "x", y[] = "y", q[] = "?";
    Liste_variables_DRLDRL[0] = x;
    Liste_variables_DRLDRL[1] = q;
    Liste_variables_DRLDRL[2] = y;
    Var_Name nb;
    EXPECT_STREQ(affiche_variable_DRLDRL(10, nb), "x11");
    EXPECT_EQ(capture_log([] { display_list_of_vars_DRLDRL(); }), "x,y,x4,x5,x6,x7,x8,x9,x10,x11");
    EXPECT_EQ(capture_log([] { afficherName_DRLDRL(); }), "DRLDRL(2,9)");
    want_elim = 1;
    EXPECT_EQ(capture_log([] { display_list_of_vars_DRLDRL(); }), "y,x4,x5,x6,x7,x8,x9,x10,x11");
    EXPECT_EQ(capture_log([] { afficherName_DRLDRL(); }), "DRLDRL(9)");
    EXPECT_EQ(capture_log([] { afficherHeader_DRLDRL(0); }), "#vars [y,x4,x5,x6,x7,x8,x9,x10,x11]\n\n");
    want_intersect = want_quotient_display = 1;
    EXPECT_EQ(capture_log([] { afficherHeader_DRLDRL(0); }), "#vars [x,y,x4,x5,x6,x7,x8,x9,x10,x11]\n\n");
    want_elim = want_intersect = want_quotient_display = 0;
    unsigned h = 0;
    for (unsigned i = 0; i < 11; ++i) h += Hash_String(affiche_variable_DRLDRL(i, nb));
    EXPECT_EQ(Hash_domain_DRLDRL(5), (h + 5) % 16777213);
    EXPECT_EQ(capture_log([] { assign_list_of_vars_DRLDRL(); }).substr(0, 25), "x:=Var(x);\ny:=Var(y);\nx4:");
    char** saved = global_List_variables;
    char* table[EXPO_NAME_TABLE] = {};
    table[0] = y;
    global_List_variables = table;
    EXPECT_STREQ(affiche_variable_DRLDRL(0, nb), "y");
    EXPECT_STREQ(affiche_variable_DRLDRL(1, nb), "?");
    global_List_variables = saved;
    Liste_variables_DRLDRL[0] = Liste_variables_DRLDRL[1] = Liste_variables_DRLDRL[2] = nullptr;
}

// ---------------------------------------------------------------- wire bytes
struct ByteSink {
    std::vector<unsigned char> b;
};
void put_word(ByteSink& s, std::uint32_t w) {
    for (int sh = 24; sh >= 0; sh -= 8) s.b.push_back((unsigned char)(w >> sh));
}
void put_half(ByteSink& s, std::uint16_t h) {
    s.b.push_back((unsigned char)(h >> 8));
    s.b.push_back((unsigned char)h);
}
void put_atom(ByteSink& s, const char* a) {
    put_word(s, 56);
    put_word(s, std::uint32_t(std::strlen(a)));
    for (; *a; ++a) s.b.push_back((unsigned char)*a);
}
using Bytes = std::vector<unsigned char>;

TEST(ExpoWire, ExactBytes) {
    set_nb_var_BigDexp(3);
    Vec<Dexp> v(Exps{1, 2, 0x1234});
    ByteSink s;
    out_protocol_BigDexp(s, v.p(), 0);
    EXPECT_EQ(s.b, (Bytes{0, 0, 0, 12, 0, 1, 0, 2, 0x12, 0x34}));
    s.b.clear();
    out_protocol_BigDexp(s, v.p(), 1);
    EXPECT_EQ(s.b, (Bytes{0, 0, 0, 12, 0, 1, 0, 2}));
    s.b.clear();
    out_BigDexp(s, v.p());
    EXPECT_EQ(s.b, (Bytes{0, 1, 0, 2, 0x12, 0x34}));
    s.b.clear();
    out_domain_protocol_BigDexp(s);
    EXPECT_EQ(s.b, (Bytes{0, 0, 0, 13, 0, 0, 0, 3}));

    set_nb_var_BigLexp(2);
    char ab[] = "ab";
    Liste_variables_BigLexp[0] = ab;
    s.b.clear();
    out_liste_BigLexp(s);
    EXPECT_EQ(s.b, (Bytes{0, 0, 0, 13, 0, 0, 0, 2, 0, 0, 0, 170, 0, 0, 0, 56, 0, 0, 0, 2, 'a', 'b', 0, 0, 0, 56,
                          0, 0, 0, 0}));
    Liste_variables_BigLexp[0] = nullptr;

    set_nb_var_DRLDRL(3, 1);
    Vec<Drl> d(Exps{5, 0, 127});
    s.b.clear();
    out_domain_protocol_DRLDRL(s);
    out_protocol_DRLDRL(s, d.p(), 0);
    EXPECT_EQ(s.b, (Bytes{0, 0, 0, 85, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 12, 0, 5, 0, 0, 0, 127}));
}

}  // namespace
