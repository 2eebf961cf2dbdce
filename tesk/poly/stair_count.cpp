// Counting standard monomials (stair_count.h).
#include "tesk/poly/stair_count.h"

#include <algorithm>
#include <limits>

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
struct Counter {
    unsigned n;
    const std::uint16_t* exps;
    std::vector<unsigned> first, second;  // the row's smallest and next variable, n when none
    unsigned long long nodes = 0;

    std::uint16_t at(unsigned r, unsigned v) const { return exps[std::size_t(r) * n + v]; }

    Stair_Count count(const std::vector<unsigned>& rows, unsigned top) {
        if ((++nodes & 4095) == 0) poll_interrupt();
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
        for (unsigned v = 0; v < top; ++v)
            if (!pure[v]) Fatal("Staircase count: variable x%u has no pure power, the staircase is infinite\n", v + 1);
        if (!mixed) {
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

}  // namespace

Stair_Count count_standard(unsigned n, unsigned m, const std::uint16_t* exps) {
    Counter k{n, exps, std::vector<unsigned>(m, n), std::vector<unsigned>(m, n)};
    std::vector<unsigned> rows(m);
    for (unsigned r = 0; r < m; ++r) {
        rows[r] = r;
        for (unsigned v = 0; v < n; ++v) {
            if (!k.at(r, v)) continue;
            if (k.first[r] == n)
                k.first[r] = v;
            else if (k.second[r] == n) {
                k.second[r] = v;
                break;
            }
        }
    }
    return k.count(rows, n);
}

}  // namespace tesk::poly
