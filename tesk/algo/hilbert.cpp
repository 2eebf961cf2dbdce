// Hilbert series of monomial ideals (hilbert.h).
#include "tesk/algo/hilbert.h"

#include <gmp.h>

#include <algorithm>
#include <type_traits>

#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"

namespace tesk::algo {

namespace {

// Thrown when a 64-bit number leaves its range: the step goes again in GMP
// integers, and a series whose own coefficients leave 64 bits is refused.
struct Overflow {};
[[noreturn]] void overflow() { throw Overflow{}; }

// A GMP integer with value semantics, for the ideals whose intermediate
// numbers leave 64 bits (the first numerator of n variables can reach about
// n * C(n, n/2) where h(t) itself is small).
struct Big {
    mpz_t z;
    Big() { mpz_init(z); }
    Big(const Big& o) { mpz_init_set(z, o.z); }
    Big(Big&& o) noexcept {
        mpz_init(z);
        mpz_swap(z, o.z);
    }
    Big& operator=(const Big& o) {
        mpz_set(z, o.z);
        return *this;
    }
    Big& operator=(Big&& o) noexcept {
        mpz_swap(z, o.z);
        return *this;
    }
    ~Big() { mpz_clear(z); }
};

// The coefficient operations of both kinds: 64-bit ones throw Overflow.
void add_to(std::int64_t& a, std::int64_t b) {
    if (__builtin_add_overflow(a, b, &a)) overflow();
}
void sub_from(std::int64_t& a, std::int64_t b) {
    if (__builtin_sub_overflow(a, b, &a)) overflow();
}
bool is_zero(std::int64_t a) { return a == 0; }
void add_to(Big& a, const Big& b) { mpz_add(a.z, a.z, b.z); }
void sub_from(Big& a, const Big& b) { mpz_sub(a.z, a.z, b.z); }
bool is_zero(const Big& a) { return mpz_sgn(a.z) == 0; }

template <class C>
using Poly = std::vector<C>;  // coefficient of t^i at i

template <class C>
Poly<C> one() {
    Poly<C> p(1);
    if constexpr (std::is_same_v<C, Big>)
        mpz_set_ui(p[0].z, 1);
    else
        p[0] = 1;
    return p;
}

// a += t^shift * b.
void add_shifted(Poly<Big>& a, const Poly<Big>& b, unsigned shift) {
    if (a.size() < b.size() + shift) a.resize(b.size() + shift);
    for (std::size_t i = 0; i < b.size(); ++i) add_to(a[i + shift], b[i]);
}

// The same in 64 bits; false, with a as it was, when a sum leaves them.
bool add_shifted_fits(Poly<std::int64_t>& a, const Poly<std::int64_t>& b, unsigned shift) {
    const std::size_t old = a.size();
    if (old < b.size() + shift) a.resize(b.size() + shift, 0);
    for (std::size_t i = 0; i < b.size(); ++i) {
        std::int64_t r;
        if (__builtin_add_overflow(a[i + shift], b[i], &r)) {
            while (i-- > 0) a[i + shift] -= b[i];  // exact: these sums held
            a.resize(old);
            return false;
        }
        a[i + shift] = r;
    }
    return true;
}

// a := a * (1 - t^d).
template <class C>
void times_one_minus(Poly<C>& a, unsigned d) {
    const std::size_t n = a.size();
    a.resize(n + d);
    for (std::size_t i = n + d; i-- > d;) sub_from(a[i], a[i - d]);
}

// a := a / (1 - t), for a(1) = 0 (the running sums of the coefficients).
template <class C>
void divide_by_one_minus_t(Poly<C>& a) {
    for (std::size_t i = 1; i < a.size(); ++i) add_to(a[i], a[i - 1]);
}

template <class C>
void trim(Poly<C>& a) {
    while (!a.empty() && is_zero(a.back())) a.pop_back();
}

// The 64-bit value of a, Overflow when it does not fit.
std::int64_t narrow(std::int64_t a) { return a; }
std::int64_t narrow(const Big& a) {
    static_assert(sizeof(long) == sizeof(std::int64_t));
    if (!mpz_fits_slong_p(a.z)) overflow();
    return mpz_get_si(a.z);
}
Poly<std::int64_t> narrow(Poly<std::int64_t>&& a) { return std::move(a); }
Poly<std::int64_t> narrow(const Poly<Big>& a) {
    Poly<std::int64_t> r(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) r[i] = narrow(a[i]);
    return r;
}

Poly<Big> widen(const Poly<std::int64_t>& a) {
    Poly<Big> r(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) mpz_set_si(r[i].z, long(a[i]));
    return r;
}

// A first numerator in 64-bit coefficients while they hold, in GMP integers
// from the step where one leaves them.
struct Numerator {
    Numerator() = default;  // K = 0
    explicit Numerator(Poly<std::int64_t> k) : small(std::move(k)) {}
    explicit Numerator(Poly<Big> k) : big(std::move(k)), is_big(true) {}
    Poly<std::int64_t> small;
    Poly<Big> big;
    bool is_big = false;
    // The GMP form, the 64-bit one converted when it holds.
    Poly<Big> wide() && { return is_big ? std::move(big) : widen(small); }
};

// A set of monomials, n exponents per row.
struct Ideal {
    unsigned n;
    std::vector<std::uint16_t> rows;
    unsigned size() const { return unsigned(rows.size() / (n ? n : 1)); }
    const std::uint16_t* row(unsigned i) const { return rows.data() + std::size_t(i) * n; }
    std::uint16_t* row(unsigned i) { return rows.data() + std::size_t(i) * n; }
};

bool divides(const std::uint16_t* d, const std::uint16_t* m, unsigned n) {
    for (unsigned v = 0; v < n; ++v)
        if (d[v] > m[v]) return false;
    return true;
}

unsigned degree(const std::uint16_t* m, unsigned n) {
    unsigned d = 0;
    for (unsigned v = 0; v < n; ++v) d += m[v];
    return d;
}

// The minimal generators of I, in the order met: each row is tested
// against those kept so far, and drops those it divides.  A quotient's
// thousands of rows keep a few: no sort of them all.
Ideal minimalize(const Ideal& I) {
    const unsigned n = I.n, m = I.size();
    Ideal out{n, {}};
    for (unsigned i = 0; i < m; ++i) {
        const std::uint16_t* r = I.row(i);
        bool redundant = false;
        for (unsigned j = 0, k = out.size(); j < k && !redundant; ++j) redundant = divides(out.row(j), r, n);
        if (redundant) continue;
        std::size_t kept = 0;
        for (unsigned j = 0, k = out.size(); j < k; ++j)
            if (!divides(r, out.row(j), n)) {
                if (kept != std::size_t(j) * n) std::copy_n(out.row(j), n, out.rows.begin() + kept);
                kept += n;
            }
        out.rows.resize(kept);
        out.rows.insert(out.rows.end(), r, r + n);
    }
    return out;
}

// The product of the (1 - t^deg m) over the generators m of I.
template <class C>
Poly<C> regular_sequence(const Ideal& I) {
    Poly<C> k = one<C>();
    for (unsigned i = 0, m = I.size(); i < m; ++i) times_one_minus(k, degree(I.row(i), I.n));
    return k;
}

// K(I) for minimal generators I.
Numerator first_numerator(const Ideal& I) {
    poll_interrupt();
    const unsigned n = I.n, m = I.size();
    if (m == 0) return Numerator(one<std::int64_t>());
    for (unsigned i = 0; i < m; ++i)
        if (degree(I.row(i), n) == 0) return {};  // I = S
    // How many generators hold each variable; a variable in two of them is a pivot candidate.
    std::vector<unsigned> count(n, 0);
    for (unsigned i = 0; i < m; ++i)
        for (unsigned v = 0; v < n; ++v) count[v] += I.row(i)[v] != 0;
    const unsigned x = unsigned(std::max_element(count.begin(), count.end()) - count.begin());
    if (n == 0 || count[x] <= 1) {
        // No shared variable: the generators form a regular sequence.
        try {
            return Numerator(regular_sequence<std::int64_t>(I));
        } catch (const Overflow&) {
            return Numerator(regular_sequence<Big>(I));
        }
    }
    // Pivot x^e: e the median exponent of x among the generators that are
    // not pure powers of x, below the pure power of x when there is one,
    // so that x^e is not in I.
    std::vector<unsigned> exps;
    unsigned pure = ~0u;
    for (unsigned i = 0; i < m; ++i) {
        const std::uint16_t* r = I.row(i);
        if (r[x] == 0) continue;
        if (degree(r, n) == r[x])
            pure = r[x];
        else
            exps.push_back(r[x]);
    }
    std::nth_element(exps.begin(), exps.begin() + exps.size() / 2, exps.end());
    unsigned e = exps[exps.size() / 2];
    if (e >= pure) e = pure - 1;
    // I + (x^e), minimal as it is made: x^e and the generators it does not
    // divide (no generator divides x^e, a power below the pure one); I : x^e.
    Ideal plus{n, {}};
    for (unsigned i = 0; i < m; ++i)
        if (I.row(i)[x] < e) plus.rows.insert(plus.rows.end(), I.row(i), I.row(i) + n);
    plus.rows.resize(plus.rows.size() + n, 0);
    plus.row(plus.size() - 1)[x] = std::uint16_t(e);
    Ideal quotient{n, I.rows};
    for (unsigned i = 0; i < m; ++i) {
        std::uint16_t& c = quotient.row(i)[x];
        c = std::uint16_t(c > e ? c - e : 0);
    }
    Numerator k = first_numerator(plus);
    Numerator q = first_numerator(minimalize(quotient));
    if (!k.is_big && !q.is_big && add_shifted_fits(k.small, q.small, e)) {
        trim(k.small);
        return k;
    }
    Poly<Big> sum = std::move(k).wide();
    add_shifted(sum, std::move(q).wide(), e);
    trim(sum);
    return Numerator(std::move(sum));
}

// The variables that only a pure power among the minimal generators holds,
// x^e, taken out of I: S/I is then (S'/I') tensored with k[x]/(x^e), whose
// series is 1 + t + ... + t^(e-1).  Returns those e.  Systems with many
// linear equations keep the first numerator of what is left small.
std::vector<unsigned> strip_lone_powers(Ideal& I) {
    const unsigned n = I.n, m = I.size();
    std::vector<unsigned> holders(n, 0), power(n, 0);
    for (unsigned i = 0; i < m; ++i)
        for (unsigned v = 0; v < n; ++v)
            if (I.row(i)[v]) {
                ++holders[v];
                if (degree(I.row(i), n) == I.row(i)[v]) power[v] = I.row(i)[v];
            }
    std::vector<unsigned> lone;
    std::vector<char> keep_var(n, 1);
    for (unsigned v = 0; v < n; ++v)
        if (holders[v] == 1 && power[v]) lone.push_back(power[v]), keep_var[v] = 0;
    if (lone.empty()) return lone;
    Ideal J{n - unsigned(lone.size()), {}};
    for (unsigned i = 0; i < m; ++i) {
        const std::uint16_t* r = I.row(i);
        bool pure_lone = false;
        for (unsigned v = 0; v < n; ++v) pure_lone = pure_lone || (!keep_var[v] && r[v]);
        if (pure_lone) continue;  // the lone power itself
        for (unsigned v = 0; v < n; ++v)
            if (keep_var[v]) J.rows.push_back(r[v]);
    }
    I = std::move(J);
    return lone;
}

// h(t) and the dimension from the first numerator K of the I.n variables
// left and the lone powers taken out: K divided by (1 - t) while K(1) = 0,
// times the lone powers' factors.  K = 0 (I = S) has dimension -1.
template <class C>
int lowest_terms(Poly<C>& h, unsigned n, const std::vector<unsigned>& lone) {
    trim(h);
    if (h.empty()) return -1;
    int dim = int(n);
    for (; dim > 0; --dim) {
        C at_one{};
        for (const C& c : h) add_to(at_one, c);
        if (!is_zero(at_one)) break;
        divide_by_one_minus_t(h);
        trim(h);
    }
    for (unsigned e : lone) {  // times 1 + t + ... + t^(e-1) = (1 - t^e) / (1 - t)
        times_one_minus(h, e);
        divide_by_one_minus_t(h);
        trim(h);
    }
    return dim;
}

// use(h, dim) on the series of the monomial ideal, h in 64-bit
// coefficients, or in GMP integers when a number on the way leaves them.
template <class Use>
void with_series(unsigned n, unsigned m, const std::uint16_t* exps, Use use) {
    Ideal I = minimalize(Ideal{n, std::vector<std::uint16_t>(exps, exps + std::size_t(m) * n)});
    const std::vector<unsigned> lone = strip_lone_powers(I);
    Numerator k = first_numerator(I);
    if (!k.is_big) {
        Poly<std::int64_t> h = k.small;  // K stays for the GMP pass
        int dim = 0;
        bool fits = true;
        try {
            dim = lowest_terms(h, I.n, lone);
        } catch (const Overflow&) {
            fits = false;
        }
        if (fits) return use(h, dim);
    }
    Poly<Big> h = std::move(k).wide();
    const int dim = lowest_terms(h, I.n, lone);
    use(h, dim);
}

// The series with a 64-bit numerator; Overflow when h itself does not fit.
Hilbert_Series series(unsigned n, unsigned m, const std::uint16_t* exps) {
    Hilbert_Series s;
    with_series(n, m, exps, [&](auto& h, int dim) {
        s.numerator = narrow(std::move(h));
        s.dim = dim;
    });
    return s;
}

[[noreturn]] void fatal_overflow() { Fatal("Hilbert series: a coefficient of the numerator does not fit in 64 bits\n"); }

}  // namespace

std::vector<std::int64_t> hilbert_first_numerator(unsigned n, unsigned m, const std::uint16_t* exps) {
    Numerator k = first_numerator(minimalize(Ideal{n, std::vector<std::uint16_t>(exps, exps + std::size_t(m) * n)}));
    try {
        return k.is_big ? narrow(k.big) : std::move(k.small);
    } catch (const Overflow&) {
        fatal_overflow();
    }
}

bool add_to_first_numerator(unsigned n, unsigned m, const std::uint16_t* rows, const std::uint16_t* x,
                            std::vector<std::int64_t>& K) {
    Ideal q{n, std::vector<std::uint16_t>(rows, rows + std::size_t(m) * n)};
    for (unsigned i = 0; i < m; ++i)
        for (unsigned v = 0; v < n; ++v) {
            std::uint16_t& e = q.row(i)[v];
            e = std::uint16_t(e > x[v] ? e - x[v] : 0);
        }
    const Numerator kq = first_numerator(minimalize(q));
    if (kq.is_big) return false;
    const unsigned shift = degree(x, n);
    std::vector<std::int64_t> r = K;
    if (r.size() < kq.small.size() + shift) r.resize(kq.small.size() + shift, 0);
    for (std::size_t i = 0; i < kq.small.size(); ++i)
        if (__builtin_sub_overflow(r[i + shift], kq.small[i], &r[i + shift])) return false;
    trim(r);
    K = std::move(r);
    return true;
}

Hilbert_Series hilbert_series(unsigned n, unsigned m, const std::uint16_t* exps) {
    try {
        return series(n, m, exps);
    } catch (const Overflow&) {
        fatal_overflow();
    }
}

bool try_hilbert_series(unsigned n, unsigned m, const std::uint16_t* exps, Hilbert_Series& s) {
    try {
        s = series(n, m, exps);
        return true;
    } catch (const Overflow&) {
        return false;
    }
}

__int128 hilbert_function(const Hilbert_Series& s, unsigned d) {
    if (s.dim < 0) return 0;
    if (s.dim == 0) return d < s.numerator.size() ? s.numerator[d] : 0;
    __int128 sum = 0;
    for (unsigned i = 0; i < s.numerator.size() && i <= d; ++i) {
        if (!s.numerator[i]) continue;
        __int128 c = 1;  // C(d - i + dim - 1, dim - 1), exact at every step
        for (unsigned j = 1; j < unsigned(s.dim); ++j)
            if (__builtin_mul_overflow(c, __int128(d - i + j), &c)) return -1;
            else c /= j;
        if (__builtin_mul_overflow(c, __int128(s.numerator[i]), &c) || __builtin_add_overflow(sum, c, &sum))
            return -1;
    }
    return sum;
}

}  // namespace tesk::algo

namespace {
int compute_hilbert(unsigned n, unsigned m, const std::uint16_t* exps, std::vector<std::int64_t>* numerator) {
    tesk::want_quiet = 1;
    tesk::algo::Hilbert_Series s = tesk::algo::hilbert_series(n, m, exps);
    *numerator = std::move(s.numerator);
    return s.dim;
}
std::int64_t compute_degree(unsigned n, unsigned m, const std::uint16_t* exps, int* dim) {
    tesk::want_quiet = 1;
    // h(1) alone is the answer: h's coefficients may leave 64 bits.
    std::int64_t h1 = 0;
    try {
        tesk::algo::with_series(n, m, exps, [&](const auto& h, int d) {
            typename std::decay_t<decltype(h)>::value_type sum{};
            for (const auto& c : h) tesk::algo::add_to(sum, c);
            h1 = tesk::algo::narrow(sum);
            *dim = d;
        });
    } catch (const tesk::algo::Overflow&) {
        tesk::Fatal("Degree: h(1) does not fit in 64 bits\n");
    }
    return h1;
}
}  // namespace

TESK_EXPORT int Tesk_compute_Hilbert_VGF(unsigned n, unsigned m, const std::uint16_t* exps,
                                         std::vector<std::int64_t>* numerator) {
    return compute_hilbert(n, m, exps, numerator);
}

TESK_EXPORT int Tesk_compute_Hilbert_GFC(unsigned n, unsigned m, const std::uint16_t* exps,
                                         std::vector<std::int64_t>* numerator) {
    return compute_hilbert(n, m, exps, numerator);
}

TESK_EXPORT std::int64_t Tesk_compute_Degree_VGF(unsigned n, unsigned m, const std::uint16_t* exps, int* dim) {
    return compute_degree(n, m, exps, dim);
}

TESK_EXPORT std::int64_t Tesk_compute_Degree_GFC(unsigned n, unsigned m, const std::uint16_t* exps, int* dim) {
    return compute_degree(n, m, exps, dim);
}
