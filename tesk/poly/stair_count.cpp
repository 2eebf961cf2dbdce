// Counting standard monomials (stair_count.h).
#include "tesk/poly/stair_count.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

#include "tesk/base/runtime.h"

namespace tesk::poly {

Stair_Count::Stair_Count(std::uint64_t v) {
    for (; v; v >>= 32) d_.push_back(std::uint32_t(v));
}

Stair_Count& Stair_Count::operator+=(const Stair_Count& b) {
    if (d_.size() < b.d_.size()) d_.resize(b.d_.size(), 0);
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < d_.size(); ++i) {
        const std::uint64_t s = std::uint64_t(d_[i]) + (i < b.d_.size() ? b.d_[i] : 0) + carry;
        d_[i] = std::uint32_t(s);
        carry = s >> 32;
        if (!carry && i >= b.d_.size()) break;
    }
    if (carry) d_.push_back(std::uint32_t(carry));
    return *this;
}

Stair_Count& Stair_Count::operator*=(const Stair_Count& b) {
    std::vector<std::uint32_t> p(d_.size() + b.d_.size(), 0);
    for (std::size_t i = 0; i < d_.size(); ++i) {
        std::uint64_t carry = 0;
        for (std::size_t j = 0; j < b.d_.size(); ++j) {
            const std::uint64_t t = std::uint64_t(d_[i]) * b.d_[j] + p[i + j] + carry;
            p[i + j] = std::uint32_t(t);
            carry = t >> 32;
        }
        p[i + b.d_.size()] = std::uint32_t(carry);
    }
    while (!p.empty() && p.back() == 0) p.pop_back();
    d_ = std::move(p);
    return *this;
}

Stair_Count& Stair_Count::operator*=(std::uint32_t f) {
    if (f == 0) {
        d_.clear();
        return *this;
    }
    std::uint64_t carry = 0;
    for (std::uint32_t& x : d_) {
        const std::uint64_t p = std::uint64_t(x) * f + carry;
        x = std::uint32_t(p);
        carry = p >> 32;
    }
    if (carry) d_.push_back(std::uint32_t(carry));
    return *this;
}

bool Stair_Count::at_most(std::uint64_t v) const {
    if (d_.size() > 2) return false;
    const std::uint64_t x = (d_.size() > 0 ? d_[0] : 0) | (d_.size() > 1 ? std::uint64_t(d_[1]) << 32 : 0);
    return x <= v;
}

std::int64_t Stair_Count::saturated() const {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    if (!at_most(std::uint64_t(kMax))) return kMax;
    return std::int64_t((d_.size() > 0 ? d_[0] : 0) | (d_.size() > 1 ? std::uint64_t(d_[1]) << 32 : 0));
}

std::string Stair_Count::text() const {
    if (d_.empty()) return "0";
    std::vector<std::uint32_t> q = d_;
    std::vector<std::uint32_t> parts;  // base 10^9, least significant first
    while (!q.empty()) {
        std::uint64_t r = 0;
        for (std::size_t i = q.size(); i-- > 0;) {
            const std::uint64_t cur = (r << 32) | q[i];
            q[i] = std::uint32_t(cur / 1000000000u);
            r = cur % 1000000000u;
        }
        parts.push_back(std::uint32_t(r));
        while (!q.empty() && q.back() == 0) q.pop_back();
    }
    std::string s = std::to_string(parts.back());
    for (std::size_t i = parts.size() - 1; i-- > 0;) {
        const std::string p = std::to_string(parts[i]);
        s += std::string(9 - p.size(), '0') + p;
    }
    return s;
}

namespace {

// A monomial as (variable, exponent) pairs, variables increasing.
using Mono = std::vector<std::pair<unsigned, unsigned>>;

// A monomial ideal: the least pure power of each variable and the other
// generators, each in two or more variables.
struct Ideal {
    std::vector<unsigned> pure;
    std::vector<Mono> mixed;
};

bool divides(const Mono& a, const Mono& b) {
    auto j = b.begin();
    for (const auto& [v, e] : a) {
        while (j != b.end() && j->first < v) ++j;
        if (j == b.end() || j->first != v || j->second < e) return false;
    }
    return true;
}

unsigned degree(const Mono& m) {
    unsigned d = 0;
    for (const auto& t : m) d += t.second;
    return d;
}

// Drops duplicates and the generators that another one divides, and sorts
// them.  Only a generator marked in may_divide is tried as a divisor: after
// a quotient by x^e only those that held x can divide another one.
void minimalize(std::vector<Mono>& gens, const std::vector<char>& may_divide) {
    std::vector<unsigned> order(gens.size());
    for (unsigned i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](unsigned a, unsigned b) { return gens[a] < gens[b]; });
    std::vector<unsigned> kept, deg(gens.size());
    std::vector<char> divisor(gens.size(), 0);
    for (unsigned i : order) {
        if (kept.empty() || gens[kept.back()] != gens[i]) {
            kept.push_back(i);
            deg[i] = degree(gens[i]);
        }
        divisor[kept.back()] |= may_divide[i];
    }
    // A proper divisor has a smaller degree: the divisors by degree, each
    // generator tried against those below its own.
    std::vector<unsigned> divisors;
    for (unsigned i : kept)
        if (divisor[i]) divisors.push_back(i);
    std::sort(divisors.begin(), divisors.end(), [&](unsigned a, unsigned b) { return deg[a] < deg[b]; });
    std::vector<unsigned> minimal;
    for (unsigned h : kept) {
        bool redundant = false;
        for (std::size_t k = 0; k < divisors.size() && deg[divisors[k]] < deg[h] && !redundant; ++k)
            redundant = divides(gens[divisors[k]], gens[h]);
        if (!redundant) minimal.push_back(h);
    }
    std::vector<Mono> out;
    out.reserve(minimal.size());
    for (unsigned h : minimal) out.push_back(std::move(gens[h]));
    gens = std::move(out);
}

// The count by slices of the last variable left.  A node holds the rows that
// apply to a region x_top^k_top ... x_(n-1)^k_(n-1) times the monomials in
// x_0 .. x_(top-1) (each row's exponents of the variables past top are at
// most the region's).  Its standard monomials are those of the ideal the
// rows generate once cut down to x_0 .. x_(top-1).  The slices x_i^k of the
// next variable i = top-1 only change at the exponents of x_i in rows that
// hold another variable below top, so one child per such exponent, weighted
// by the width of its range, up to the pure power of x_i.  A node whose rows
// are all pure powers is the product of their exponents: large staircases
// with few mixed leads cost a handful of nodes.  A node that does not end at
// once stands for a standard monomial of its own (the region's corner), so
// the count never visits more nodes than a listing would list monomials.
// It stops (over) past budget nodes.
struct Slicer {
    unsigned n;
    const std::uint16_t* exps;
    std::vector<unsigned> first, second;  // the row's smallest and next variable, n when none
    unsigned long long budget, nodes = 0;
    bool over = false;

    Slicer(unsigned n_, unsigned m, const std::uint16_t* e, unsigned long long b)
        : n(n_), exps(e), first(m, n_), second(m, n_), budget(b) {
        for (unsigned r = 0; r < m; ++r)
            for (unsigned v = 0; v < n; ++v) {
                if (!at(r, v)) continue;
                if (first[r] == n)
                    first[r] = v;
                else if (second[r] == n) {
                    second[r] = v;
                    break;
                }
            }
    }

    std::uint16_t at(unsigned r, unsigned v) const { return exps[std::size_t(r) * n + v]; }

    Stair_Count count(const std::vector<unsigned>& rows, unsigned top) {
        if ((++nodes & 4095) == 0) poll_interrupt();
        if (nodes > budget) {  // each child past the budget ends here at once
            over = true;
            return Stair_Count();
        }
        std::vector<unsigned> pure(top, 0);  // the least pure power of each variable, 0 for none
        bool mixed = false;
        for (unsigned r : rows) {
            if (first[r] >= top) return Stair_Count();  // the region lies in the ideal
            if (second[r] >= top) {
                unsigned& p = pure[first[r]];
                const unsigned e = at(r, first[r]);
                if (!p || e < p) p = e;
            } else {
                mixed = true;
            }
        }
        if (!mixed) {  // every variable has its pure power (count_standard checked)
            Stair_Count c(1);
            for (unsigned v = 0; v < top; ++v) c *= pure[v];
            return c;
        }
        const unsigned i = top - 1, a = pure[i];
        std::vector<unsigned> cuts{0};
        for (unsigned r : rows)
            if (second[r] < top && at(r, i) < a) cuts.push_back(at(r, i));
        std::sort(cuts.begin(), cuts.end());
        cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
        cuts.push_back(a);
        Stair_Count total;
        std::vector<unsigned> child;
        for (std::size_t j = 0; j + 1 < cuts.size(); ++j) {
            child.clear();
            for (unsigned r : rows)
                if (at(r, i) <= cuts[j]) child.push_back(r);
            Stair_Count c = count(child, i);
            c *= cuts[j + 1] - cuts[j];
            total += c;
        }
        return total;
    }
};

// The slicer's count of the rows when it takes a few nodes per row (the
// staircase is small beside the generators: many of them in few
// variables), else 0 (the count of an ideal without 1 is never 0).
Stair_Count sliced(unsigned n, unsigned m, const std::uint16_t* rows) {
    Slicer s(n, m, rows, 4ull * m + 64);
    std::vector<unsigned> all(m);
    for (unsigned r = 0; r < m; ++r) all[r] = r;
    Stair_Count c = s.count(all, n);
    return s.over ? Stair_Count() : c;
}

// The count by pivots, as Hilbert series are computed: for a monomial p
// outside I, the standard monomials of I are those of I + (p) and p times
// those of I : p.  The pivot is x^e for the variable x in the most mixed
// generators (ties: the middle one, so that a chain of variables splits in
// halves) and the median of its exponents there.  Variables that share no
// generator give independent factors, and a group of them met again (the
// same generators up to renumbering) is counted once: a chain of 500
// variables costs a few dozen nodes, a listing Fib(502).  A group whose
// staircase is small beside its generators goes to the slicer instead.
struct Counter {
    std::map<std::vector<unsigned>, Stair_Count> memo;  // key(): count
    std::size_t memo_words = 0;
    unsigned long long nodes = 0;
    static constexpr std::size_t kMemoWords = std::size_t(1) << 22;  // keys kept, at most

    // The count of I, whose generators marked in moved may divide others.
    Stair_Count count(Ideal I, const std::vector<char>& moved) {
        if ((++nodes & 4095) == 0) poll_interrupt();
        std::vector<Mono> mixed;
        std::vector<char> may;
        for (std::size_t g = 0; g < I.mixed.size(); ++g) {
            Mono& m = I.mixed[g];
            m.erase(std::remove_if(m.begin(), m.end(), [](const auto& t) { return t.second == 0; }), m.end());
            if (m.empty()) return Stair_Count();  // the ideal holds 1
            if (m.size() == 1) {
                I.pure[m[0].first] = std::min(I.pure[m[0].first], m[0].second);
                continue;
            }
            mixed.push_back(std::move(m));
            may.push_back(moved[g]);
        }
        std::size_t k = 0;
        for (std::size_t g = 0; g < mixed.size(); ++g) {
            bool in_power = false;
            for (const auto& [v, e] : mixed[g]) in_power = in_power || e >= I.pure[v];
            if (in_power) continue;
            if (k != g) mixed[k] = std::move(mixed[g]), may[k] = may[g];
            ++k;
        }
        mixed.resize(k);
        may.resize(k);
        minimalize(mixed, may);
        I.mixed = std::move(mixed);
        return product(I);
    }

    // The product over the groups of variables that share no generator.
    Stair_Count product(const Ideal& I) {
        const unsigned n = unsigned(I.pure.size());
        std::vector<unsigned> root(n);
        for (unsigned v = 0; v < n; ++v) root[v] = v;
        const auto find = [&](unsigned v) {
            while (root[v] != v) v = root[v] = root[root[v]];
            return v;
        };
        for (const Mono& m : I.mixed)
            for (const auto& t : m) root[find(t.first)] = find(m[0].first);
        std::vector<std::vector<unsigned>> members(n), group(n);  // by root: its variables, its mixed generators
        for (unsigned v = 0; v < n; ++v) members[find(v)].push_back(v);
        for (unsigned g = 0; g < I.mixed.size(); ++g) group[find(I.mixed[g][0].first)].push_back(g);
        Stair_Count total(1);
        std::vector<unsigned> local(n);
        for (unsigned r = 0; r < n; ++r) {
            if (members[r].empty()) continue;
            if (group[r].empty()) {
                total *= I.pure[r];
                continue;
            }
            Ideal J;
            for (unsigned v : members[r]) local[v] = unsigned(J.pure.size()), J.pure.push_back(I.pure[v]);
            for (unsigned g : group[r]) {
                Mono m = I.mixed[g];
                for (auto& t : m) t.first = local[t.first];
                J.mixed.push_back(std::move(m));
            }
            total *= group_count(J);
        }
        return total;
    }

    // The ideal as a memo key: its generators, minimal and sorted, are the
    // same for every group of variables with the same staircase shape.
    static std::vector<unsigned> key(const Ideal& J) {
        std::vector<unsigned> k{unsigned(J.pure.size())};
        k.insert(k.end(), J.pure.begin(), J.pure.end());
        for (const Mono& m : J.mixed) {
            k.push_back(unsigned(m.size()));
            for (const auto& [v, e] : m) k.push_back(v), k.push_back(e);
        }
        return k;
    }

    // The count of J: minimal, one group of variables, every variable in a
    // mixed generator.
    Stair_Count group_count(const Ideal& J) {
        std::vector<unsigned> k = key(J);
        if (auto it = memo.find(k); it != memo.end()) return it->second;
        Stair_Count c = sliced(J);
        if (!c.empty()) return remember(std::move(k), c);
        const unsigned n = unsigned(J.pure.size());
        std::vector<unsigned> held(n, 0);
        for (const Mono& m : J.mixed)
            for (const auto& t : m) ++held[t.first];
        const unsigned most = *std::max_element(held.begin(), held.end());
        std::vector<unsigned> tied;
        for (unsigned v = 0; v < n; ++v)
            if (held[v] == most) tied.push_back(v);
        const unsigned x = tied[tied.size() / 2];
        // Exponents of x in the mixed generators lie below its pure power.
        std::vector<unsigned> exps;
        for (const Mono& m : J.mixed)
            for (const auto& t : m)
                if (t.first == x) exps.push_back(t.second);
        std::nth_element(exps.begin(), exps.begin() + exps.size() / 2, exps.end());
        const unsigned e = exps[exps.size() / 2];
        // J + (x^e): the generators x^e divides go; no other one becomes redundant.
        Ideal plus{J.pure, {}};
        plus.pure[x] = e;
        for (const Mono& m : J.mixed) {
            bool in = false;
            for (const auto& t : m) in = in || (t.first == x && t.second >= e);
            if (!in) plus.mixed.push_back(m);
        }
        const std::vector<char> none(plus.mixed.size(), 0);
        c = count(std::move(plus), none);
        // J : x^e.
        Ideal quotient{J.pure, J.mixed};
        quotient.pure[x] -= e;
        std::vector<char> moved(J.mixed.size(), 0);
        for (std::size_t g = 0; g < quotient.mixed.size(); ++g)
            for (auto& t : quotient.mixed[g])
                if (t.first == x) t.second -= std::min(t.second, e), moved[g] = 1;
        c += count(std::move(quotient), moved);
        return remember(std::move(k), c);
    }

    const Stair_Count& remember(std::vector<unsigned> k, const Stair_Count& c) {
        if (memo_words + k.size() > kMemoWords) return c;
        memo_words += k.size();
        return memo.emplace(std::move(k), c).first->second;
    }

    // sliced() of J.
    static Stair_Count sliced(const Ideal& J) {
        const unsigned n = unsigned(J.pure.size()), m = unsigned(n + J.mixed.size());
        std::vector<std::uint16_t> rows(std::size_t(m) * n, 0);
        for (unsigned v = 0; v < n; ++v) rows[std::size_t(v) * n + v] = std::uint16_t(J.pure[v]);
        for (std::size_t g = 0; g < J.mixed.size(); ++g)
            for (const auto& [v, e] : J.mixed[g]) rows[(n + g) * n + v] = std::uint16_t(e);
        return poly::sliced(n, m, rows.data());
    }
};

}  // namespace

Stair_Count count_standard(unsigned n, unsigned m, const std::uint16_t* exps) {
    std::vector<char> power(n, 0);
    for (unsigned r = 0; r < m; ++r) {
        unsigned held = 0, var = 0;
        for (unsigned v = 0; v < n; ++v)
            if (exps[std::size_t(r) * n + v]) ++held, var = v;
        if (held == 0) return Stair_Count();  // the monomial 1
        if (held == 1) power[var] = 1;
    }
    for (unsigned v = 0; v < n; ++v)
        if (!power[v]) Fatal("Staircase count: variable x%u has no pure power, the staircase is infinite\n", v + 1);
    if (Stair_Count c = sliced(n, m, exps); !c.empty()) return c;
    // The pure powers are taken from the rows by count().
    Ideal I{std::vector<unsigned>(n, std::numeric_limits<unsigned>::max()), {}};
    for (unsigned r = 0; r < m; ++r) {
        Mono g;
        for (unsigned v = 0; v < n; ++v)
            if (const unsigned e = exps[std::size_t(r) * n + v]) g.emplace_back(v, e);
        I.mixed.push_back(std::move(g));
    }
    Counter k;
    return k.count(std::move(I), std::vector<char>(m, 1));
}

}  // namespace tesk::poly
