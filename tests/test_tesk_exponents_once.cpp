// The three packed exponent types against a plain-array model: layouts,
// orders, divisibility, lcm/gcd, products, quotients, printers and wire bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "tesk/base/bigdexp.h"
#include "tesk/base/biglexp.h"
#include "tesk/base/drldrl.h"
#include "tesk/base/switches.h"
#include "tests/support/tesk_orders.h"

namespace {
using namespace tesk;
using Exps = std::vector<unsigned>;

// ---------------------------------------------------------------- model
// Per type: the packed operations over the type's layout, and the documented layout.
template <class Layout>
struct Model : expo::Packed<Layout> {
    using L = Layout;
    static constexpr int kBlocks = L::kDegBlocks;
    static unsigned n() { return L::n(); }
    static unsigned k() { return L::k(); }
    static unsigned words() { return L::words(); }
};
struct Dexp : Model<BigDexp_Layout> {
    static void set(unsigned n, unsigned) { set_nb_var_BigDexp(n); }
    static unsigned expected_words(unsigned n, unsigned) { return n ? n / 4 + 1 : 0; }
    // Documented layout: degree in slot 3, variable i in slot (n-i) ^ 3.
    static unsigned ref_slot(unsigned i, unsigned n, unsigned) { return (n - i) ^ 3; }
    static unsigned ref_deg_slot(unsigned, unsigned) { return 3; }
};
struct Lexp : Model<BigLexp_Layout> {
    static void set(unsigned n, unsigned) { set_nb_var_BigLexp(n); }
    static unsigned expected_words(unsigned n, unsigned) { return n ? (n - 1) / 4 + 1 : 0; }
    static unsigned ref_slot(unsigned i, unsigned, unsigned) { return i ^ 3; }
    static unsigned ref_deg_slot(unsigned, unsigned) { return ~0u; }
};
struct Drl : Model<DRLDRL_Layout> {
    static void set(unsigned n, unsigned k) { set_nb_var_DRLDRL(n, k); }
    static unsigned expected_words(unsigned n, unsigned k) {  // 64-bit words
        const unsigned w = k / 4 + 1 + (k < n ? (n - k) / 4 + 1 : 1);
        return (w + 1) / 2;
    }
    static unsigned ref_slot(unsigned i, unsigned n, unsigned k) { return (i < k ? k - i : 4 * (k / 4 + 1) + n - i) ^ 3; }
    static unsigned ref_deg_slot(unsigned i, unsigned k) { return i < k ? 3 : 4 * (k / 4 + 1) + 3; }
};

// Slots of a vector by the documented layout.
template <class M>
std::vector<unsigned> ref_slots(const Exps& e, unsigned k) {
    const unsigned n = unsigned(e.size());
    std::vector<unsigned> s(64 / M::B * M::expected_words(n, k), 0);
    for (unsigned i = 0; i < n; ++i) {
        s[M::ref_slot(i, n, k)] = e[i];
        if (M::kBlocks) s[M::ref_deg_slot(i, k)] += e[i];
    }
    return s;
}

template <class M>
int ref_cmp(const Exps& a, const Exps& b) {
    return tesk_orders::ref_order(a, b, M::kBlocks, M::kBlocks == 2 ? M::k() : unsigned(a.size()));
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
    unsigned slot(unsigned s) const { return unsigned(w[s * M::B / 64].w >> (s * M::B % 64)) & ((1u << M::B) - 1); }
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

// What the engine writes to log_output while f runs.
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

// The text of the fatal error that f raises, "" when none.
struct Fatal_Hit {
    std::string text;
};
std::string fatal_of(const std::function<void()>& f) {
    Exit_Hook old = set_exit_hook([](int, const char* m) {
        Fatal_loop = 0;
        throw Fatal_Hit{m};
    });
    FILE* saved = log_output;
    log_output = nullptr;
    std::string text;
    try {
        f();
    } catch (const Fatal_Hit& h) {
        text = h.text;
    }
    set_exit_hook(old);
    log_output = saved;
    return text;
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
        for (int rep = 0; rep < 40; ++rep) {
            Exps e = random_exps(g, n, rep < 5 ? M::kMaxExp : 5, M::kBlocks ? M::kMaxDeg / 2 : ~0u);
            Vec<M> v(e);
            EXPECT_EQ(v.exps(), e);
            const auto ref = ref_slots<M>(e, M::kBlocks == 2 ? k : n);
            for (unsigned s = 0; s < ref.size(); ++s) ASSERT_EQ(v.slot(s), ref[s] % (1u << M::B)) << n << " slot " << s;
            EXPECT_EQ(M::totalDegree(v.p()), std::accumulate(e.begin(), e.end(), 0u));
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
            Vec<M> a(ea), b(eb), c;
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
            for (unsigned m : {1000003u, 65521u, 7u}) ASSERT_EQ(M::hash(a.p(), b.p(), m), M::hash(c.p(), m));
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
// divisibility (the degree slot is not part of the divisibility mask); an lcm
// or a vector past the exact range is a fatal error, every time, which tells
// a block's degree from an exponent.
TYPED_TEST(Expo, ExactAtTheEdgesAndFatalPastThem) {
    using M = TypeParam;
    M::set(5, 2);
    const unsigned t = M::kMaxExp;
    // Degree differences past the sign bit of their slots.
    Exps ea{t, t, 0, 0, 1}, eb{0, 0, 0, 0, 1};
    if (M::kBlocks == 2) ea = {t, t, t, t, 1};
    Exps ec = ea;
    ec[4] = 0;
    Vec<M> a(ea), b(eb), c(ec);
    EXPECT_EQ(M::is_sub(a.p(), b.p()), 1);
    EXPECT_EQ(M::is_sub(b.p(), a.p()), 0);
    EXPECT_EQ(M::greater(a.p(), b.p()), ref_cmp<M>(ea, eb));
    EXPECT_EQ(M::greater(a.p(), c.p()), ref_cmp<M>(ea, ec));
    EXPECT_EQ(M::is_homog_sub(c.p(), a.p()), 1);
    EXPECT_EQ(M::is_sub(c.p(), a.p()), 0);

    M::set(5, 3);
    Vec<M> r;
    if (M::kBlocks > 0) {
        // Largest exact degree (t + t + 1 for both widths): accepted; one more is fatal, again and again.
        Vec<M> x(Exps{t, 0, 1, 0, 0}), y(Exps{0, t, 0, 0, 0}), x2(Exps{t, 0, 2, 0, 0});
        EXPECT_EQ(fatal_of([&] { M::zsup_verif(x.p(), y.p(), r.p()); }), "");
        EXPECT_EQ(M::totalDegree(r.p()), M::kMaxDeg);
        const std::string past = "Depassement du degre " + std::to_string(M::kMaxDeg + 1) + " !\n";
        EXPECT_EQ(fatal_of([&] { M::zsup_verif(x2.p(), y.p(), r.p()); }), past);
        EXPECT_EQ(fatal_of([&] { M::zsup_verif(x2.p(), y.p(), r.p()); }), past);
        M::zsup(x.p(), y.p(), r.p());
        EXPECT_EQ(fatal_of([&] { M::check_range(r.p()); }), "");
    }
    // An exponent past its bits, the degrees in range: that exponent is named, with the limits.
    Vec<M> big(Exps{0, 0, 0, 0, t}), one(Exps{0, 0, 0, 0, 1}), over;
    M::add(big.p(), one.p(), over.p());
    Var_Name nb;
    const std::string told = "Exponent overflow: " + std::string(M::var_name(4, nb)) + "^" + std::to_string(t + 1) +
                             " (at most " + std::to_string(t) + " for an exponent" +
                             (M::kBlocks ? ", " + std::to_string(M::kMaxDeg) + " for a block's degree)\n" : ")\n");
    EXPECT_EQ(fatal_of([&] { M::zsup_verif(over.p(), one.p(), r.p()); }), told);
    EXPECT_EQ(fatal_of([&] { M::check_range(over.p()); }), told);
    EXPECT_EQ(fatal_of([&] { M::check_range(big.p()); }), "");
}

TYPED_TEST(Expo, PowersPermutationsAndFlatCopies) {
    using M = TypeParam;
    std::mt19937_64 g(3);
    for (auto [n, k] : shapes(M::kBlocks)) {
        M::set(n, k);
        unsigned e = 99;
        EXPECT_EQ(M::is_power(Vec<M>().p(), e), -1);
        EXPECT_EQ(M::main_variable(Vec<M>().p(), nullptr), -1);
        for (unsigned i = 0; i < n; ++i) {
            Exps x(n, 0);
            x[i] = 3;
            Vec<M> v(x);
            ASSERT_EQ(M::is_power(v.p(), e), int(i));
            ASSERT_EQ(e, 3u);
            ASSERT_EQ(M::slow_is_power(v.p(), e), int(i));
            ASSERT_EQ(M::main_variable(v.p(), nullptr), int(i) + 1);
            x[n - 1] += 1;  // a second variable, or a higher power of the last one
            ASSERT_EQ(M::is_power(Vec<M>(x).p(), e), i + 1 < n ? -1 : int(i));
            ASSERT_EQ(M::slow_is_power(Vec<M>(x).p(), e), i + 1 < n ? -1 : int(i));
        }
        Exps x = random_exps(g, n, 9, 60), y(n);
        std::vector<unsigned> p(n);
        std::iota(p.begin(), p.end(), 0u);
        std::shuffle(p.begin(), p.end(), g);
        for (unsigned i = 0; i < n; ++i) y[p[i]] = x[i];
        Vec<M> v(x);
        M::permut(v.p(), p.data());
        EXPECT_EQ(v.exps(), y);
        // Flat copies round-trip, degrees rebuilt.
        std::vector<unsigned char> buf(2 * n + 1);
        EXPECT_EQ(M::out_memory(buf.data(), v.p()), n);
        Vec<M> w;
        EXPECT_EQ(M::parse_memory(buf.data(), w.p()), n);
        EXPECT_TRUE(M::eq(v.p(), w.p()));
        // Block parts add up to the vector; the power by slots.
        Vec<M> b1, b2, sum;
        M::extract_block1(b1.p(), v.p());
        M::extract_block2(b2.p(), v.p());
        M::add(b1.p(), b2.p(), sum.p());
        EXPECT_TRUE(M::eq(sum.p(), v.p()));
        for (auto& t : y) t *= 3;
        M::zscal(3, v.p());
        EXPECT_TRUE(M::eq(v.p(), Vec<M>(y).p()));
    }
}

// ---------------------------------------------------------- type specifics
TEST(ExpoTypes, OrdersMirrorAndFirstBlock) {
    init_BigDexp();  // the one-time self-tests pass
    init_BigLexp();
    init_DRLDRL();
    set_nb_var_BigDexp(3);
    Vec<Dexp> x1sq(Exps{0, 2, 0}), x0x2(Exps{1, 0, 1});
    EXPECT_EQ(greater_BigDexp(x1sq.p(), x0x2.p()), 1);
    EXPECT_EQ(rev_greater_BigDexp(x1sq.p(), x0x2.p()), -1);
    set_nb_var_DRLDRL(3, 1);
    Vec<Drl> x0(Exps{1, 0, 0}), x1_9(Exps{0, 9, 0});
    EXPECT_EQ(greater_DRLDRL(x0.p(), x1_9.p()), 1);  // the first block dominates
    EXPECT_EQ(is_eliminated_DRLDRL(x1_9.p()), 1);
    EXPECT_EQ(is_eliminated_DRLDRL(x0.p()), 0);

    set_nb_var_BigLexp(7);
    Vec<Lexp> v(Exps{1, 2, 3, 4, 5, 6, 7}), w = v;
    mirror_BigLexp(w.p());
    EXPECT_EQ(w.slot(0), 5u);  // variable 4 (slot 7) went to slot 0
    EXPECT_EQ(w.slot(3), 0u);  // the unused slot 4 went to slot 3
    mirror_BigLexp(w.p());
    EXPECT_TRUE(eq_BigLexp(v.p(), w.p()));
    unsigned e = 0;
    EXPECT_EQ(mainVariable_BigLexp(Vec<Lexp>(Exps{0, 0, 4, 1, 0, 0, 0}).p(), e), 3);
    EXPECT_EQ(e, 4u);

    // The first-block length: argument, TESKBLOCK, or fatal.
    unsetenv("TESKBLOCK");
    EXPECT_EXIT({ log_output = stderr; set_nb_var_DRLDRL(3, 0, 0); }, ::testing::ExitedWithCode(3),
                "You must specify the length of the first block for an elimination order 3 blk=-1\n");
    setenv("TESKBLOCK", "2", 1);
    set_nb_var_DRLDRL(3, 0, 0);
    EXPECT_EQ(nb_first_block_DRLDRL(), 2u);
    unsetenv("TESKBLOCK");
    set_nb_var_DRLDRL(1, 0, 0);
    EXPECT_EQ(nb_first_block_DRLDRL(), 0u);
    EXPECT_EQ(nb_second_block_DRLDRL(), 1u);
}

// The variable lists and domain hashes under the switches of the server's
// -elim K (from variable K), -intersect (from the tag's block) and -quotient
// (the headers from variable 0 again); monomials always from variable 0.
TEST(ExpoTypes, VariableListsAfterTheEliminatedBlock) {
    struct Switches {
        int elim, inter, quot, block;
    };
    auto with = [](Switches s, const std::function<void()>& f) {
        want_elim = s.elim, want_intersect = s.inter, want_quotient_display = s.quot, want_block = s.block;
        f();
        want_elim = want_intersect = want_quotient_display = 0, want_block = -1;
    };
    set_nb_var_DRLDRL(4, 2);
    set_nb_var_BigLexp(4);
    std::string header, list, lheader, llist, mono;
    unsigned hash[3];
    const Switches cases[] = {{0, 0, 0, -1}, {1, 0, 0, 2}, {1, 1, 0, 2}, {1, 1, 1, 2}};
    const char* want[][4] = {{"#vars [a,b,c,d]\n\n", "a,b,c,d", "#vars [a,b,c,d]\n\n", "a,b,c,d"},
                             {"#vars [c,d]\n\n", "c,d", "#vars [c,d]\n\n", "c,d"},
                             {"#vars [c,d]\n\n", "c,d", "#vars [c,d]\n\n", "c,d"},
                             {"#vars [a,b,c,d]\n\n", "c,d", "#vars [a,b,c,d]\n\n", "c,d"}};
    for (int i = 0; i < 4; ++i) {
        with(cases[i], [&] {
            header = capture_log([] { afficherHeader_DRLDRL(0); });
            list = capture_log([] { display_list_of_vars_DRLDRL(); });
            lheader = capture_log([] { afficherHeader_BigLexp(0); });
            llist = capture_log([] { display_list_of_vars_BigLexp(); });
            mono = capture_log([] { fortran_DRLDRL(Fortran_Print(log_output), Vec<Drl>(Exps{1, 0, 2, 0}).p()); });
            if (i < 3) hash[i] = Hash_domain_DRLDRL(7);
        });
        EXPECT_EQ(header, want[i][0]) << i;
        EXPECT_EQ(list, want[i][1]) << i;
        EXPECT_EQ(lheader, want[i][2]) << i;
        EXPECT_EQ(llist, want[i][3]) << i;
        EXPECT_EQ(mono, "a*c^2") << i;
    }
    EXPECT_NE(hash[0], hash[1]);  // the eliminated names leave the domain's hash
    EXPECT_EQ(hash[1], hash[2]);
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
template <class F>
Bytes sent(F f) {
    ByteSink s;
    f(s);
    return s.b;
}

TEST(ExpoWire, ExactBytes) {
    set_nb_var_BigDexp(3);
    Vec<Dexp> v(Exps{1, 2, 0x1234});
    EXPECT_EQ(sent([&](ByteSink& s) { out_protocol_BigDexp(s, v.p(), 0); }),
              (Bytes{0, 0, 0, 12, 0, 1, 0, 2, 0x12, 0x34}));
    EXPECT_EQ(sent([&](ByteSink& s) { out_protocol_BigDexp(s, v.p(), 1); }), (Bytes{0, 0, 0, 12, 0, 1, 0, 2}));
    EXPECT_EQ(sent([](ByteSink& s) { out_domain_protocol_BigDexp(s); }), (Bytes{0, 0, 0, 13, 0, 0, 0, 3}));

    set_nb_var_BigLexp(2);
    char ab[] = "ab";
    Liste_variables_BigLexp[0] = ab;
    EXPECT_EQ(sent([](ByteSink& s) { out_liste_BigLexp(s); }),
              (Bytes{0, 0, 0, 13, 0, 0, 0, 2, 0, 0, 0, 170, 0, 0, 0, 56, 0, 0, 0, 2, 'a', 'b', 0, 0, 0, 56, 0, 0, 0, 0}));
    Liste_variables_BigLexp[0] = nullptr;

    set_nb_var_DRLDRL(3, 1);
    Vec<Drl> d(Exps{5, 0, 127});
    EXPECT_EQ(sent([&](ByteSink& s) {
                  out_domain_protocol_DRLDRL(s);
                  out_protocol_DRLDRL(s, d.p(), 0);
              }),
              (Bytes{0, 0, 0, 85, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 12, 0, 5, 0, 0, 0, 127}));
}

}  // namespace
