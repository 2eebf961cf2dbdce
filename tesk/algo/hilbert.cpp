// Hilbert series of monomial ideals (hilbert.h).
#include "tesk/algo/hilbert.h"

#include <algorithm>

#include "tesk/base/runtime.h"
#include "tesk/base/switches.h"

namespace tesk::algo {

namespace {

using Poly = std::vector<std::int64_t>;  // coefficient of t^i at i

// Thrown past 64 bits and caught where the series is asked for: fatal there,
// or an answer that there is none for a caller that can do without.
struct Overflow {};
[[noreturn]] void overflow() { throw Overflow{}; }

std::int64_t checked_add(std::int64_t a, std::int64_t b) {
    std::int64_t r;
    if (__builtin_add_overflow(a, b, &r)) overflow();
    return r;
}

// a += t^shift * b.
void add_shifted(Poly& a, const Poly& b, unsigned shift) {
    if (a.size() < b.size() + shift) a.resize(b.size() + shift, 0);
    for (std::size_t i = 0; i < b.size(); ++i) a[i + shift] = checked_add(a[i + shift], b[i]);
}

// a := a * (1 - t^d).
void times_one_minus(Poly& a, unsigned d) {
    const std::size_t n = a.size();
    a.resize(n + d, 0);
    for (std::size_t i = n + d; i-- > d;) {
        std::int64_t r;
        if (__builtin_sub_overflow(a[i], a[i - d], &r)) overflow();
        a[i] = r;
    }
}

void trim(Poly& a) {
    while (!a.empty() && a.back() == 0) a.pop_back();
}

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

// The minimal generators of I, by increasing degree (so that a divisor comes first).
Ideal minimalize(const Ideal& I) {
    const unsigned n = I.n, m = I.size();
    std::vector<unsigned> order(m);
    for (unsigned i = 0; i < m; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](unsigned a, unsigned b) { return degree(I.row(a), n) < degree(I.row(b), n); });
    Ideal out{n, {}};
    for (unsigned i : order) {
        bool redundant = false;
        for (unsigned j = 0, k = out.size(); j < k && !redundant; ++j) redundant = divides(out.row(j), I.row(i), n);
        if (!redundant) out.rows.insert(out.rows.end(), I.row(i), I.row(i) + n);
    }
    return out;
}

// K(I) for minimal generators I.
Poly first_numerator(const Ideal& I) {
    poll_interrupt();
    const unsigned n = I.n, m = I.size();
    if (m == 0) return {1};
    for (unsigned i = 0; i < m; ++i)
        if (degree(I.row(i), n) == 0) return {};  // I = S
    // How many generators hold each variable; a variable in two of them is a pivot candidate.
    std::vector<unsigned> count(n, 0);
    for (unsigned i = 0; i < m; ++i)
        for (unsigned v = 0; v < n; ++v) count[v] += I.row(i)[v] != 0;
    const unsigned x = unsigned(std::max_element(count.begin(), count.end()) - count.begin());
    if (n == 0 || count[x] <= 1) {
        // No shared variable: the generators form a regular sequence.
        Poly k{1};
        for (unsigned i = 0; i < m; ++i) times_one_minus(k, degree(I.row(i), n));
        return k;
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
    // I + (x^e) and I : x^e.
    Ideal plus{n, I.rows};
    plus.rows.resize(plus.rows.size() + n, 0);
    plus.row(m)[x] = std::uint16_t(e);
    Ideal quotient{n, I.rows};
    for (unsigned i = 0; i < m; ++i) {
        std::uint16_t& c = quotient.row(i)[x];
        c = std::uint16_t(c > e ? c - e : 0);
    }
    Poly k = first_numerator(minimalize(plus));
    add_shifted(k, first_numerator(minimalize(quotient)), e);
    trim(k);
    return k;
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

Hilbert_Series series(unsigned n, unsigned m, const std::uint16_t* exps) {
    Ideal I = minimalize(Ideal{n, std::vector<std::uint16_t>(exps, exps + std::size_t(m) * n)});
    const std::vector<unsigned> lone = strip_lone_powers(I);
    Hilbert_Series s;
    s.numerator = first_numerator(I);
    trim(s.numerator);
    if (s.numerator.empty()) {
        s.dim = -1;
        return s;
    }
    // Divide by (1 - t) while h(1) = 0: q_i = q_(i-1) + h_i.
    s.dim = int(I.n);
    Poly& h = s.numerator;
    for (;;) {
        std::int64_t at_one = 0;
        for (std::int64_t c : h) at_one = checked_add(at_one, c);
        if (at_one != 0 || s.dim == 0) break;
        for (std::size_t i = 1; i < h.size(); ++i) h[i] = checked_add(h[i], h[i - 1]);
        trim(h);
        --s.dim;
    }
    for (unsigned e : lone) {  // times 1 + t + ... + t^(e-1) = (1 - t^e) / (1 - t)
        times_one_minus(h, e);
        for (std::size_t i = 1; i < h.size(); ++i) h[i] = checked_add(h[i], h[i - 1]);
        trim(h);
    }
    return s;
}

[[noreturn]] void fatal_overflow() { Fatal("Hilbert series: a coefficient does not fit in 64 bits\n"); }

}  // namespace

std::vector<std::int64_t> hilbert_first_numerator(unsigned n, unsigned m, const std::uint16_t* exps) {
    try {
        Ideal I{n, std::vector<std::uint16_t>(exps, exps + std::size_t(m) * n)};
        Poly k = first_numerator(minimalize(I));
        trim(k);
        return k;
    } catch (const Overflow&) {
        fatal_overflow();
    }
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
    const tesk::algo::Hilbert_Series s = tesk::algo::hilbert_series(n, m, exps);
    *dim = s.dim;
    std::int64_t h1 = 0;
    for (std::int64_t c : s.numerator)
        if (__builtin_add_overflow(h1, c, &h1)) tesk::Fatal("Degree: h(1) does not fit in 64 bits\n");
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
