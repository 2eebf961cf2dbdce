// Monomials as exponent vectors, and the walk over them shared by the change
// of ordering and the lextriangular decomposition, which both find a reduced
// lexicographic basis by linear algebra on a quotient: the monomials come in
// increasing lexicographic order (variable 0 the greatest), each one a
// variable times an earlier standard monomial, the multiples of the leading
// monomials already found left out.  The caller tells each one standard or
// leading.
#ifndef TESK_ALGO_LEX_WALK_H
#define TESK_ALGO_LEX_WALK_H

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "tesk/poly/dmp.h"

namespace tesk::algo {

using Expo = std::vector<std::uint16_t>;  // exponents in variable order

// The exponents of the term t in n variables.
template <class I>
Expo exponents(const poly::Term<I>* t, unsigned n) {
    Expo e(n);
    for (unsigned i = 0; i < n; ++i) e[i] = std::uint16_t(poly::Dmp<I>::X::extraire(t->exp, i));
    return e;
}

// Whether the monomial a divides the monomial b.
inline bool divides(const Expo& a, const Expo& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] > b[i]) return false;
    return true;
}

class Lex_Walk {
public:
    // A walk over n variables, starting at the monomial 1.
    explicit Lex_Walk(unsigned n) : n_(n) { todo_.emplace(Expo(n, 0), std::make_pair(0u, 0u)); }

    // The next monomial into *e, = x_*var times standard monomial *from (0, 0 for 1); false at the end.
    bool next(Expo* e, unsigned* from, unsigned* var) {
        while (!todo_.empty()) {
            auto node = todo_.extract(todo_.begin());
            if (multiple_of_lead(node.key())) continue;
            *e = std::move(node.key());
            *from = node.mapped().first;
            *var = node.mapped().second;
            return true;
        }
        return false;
    }

    // e (the last of next) is the standard monomial stair().size(); its multiples come later.
    void standard(const Expo& e) {
        const unsigned from = unsigned(stair_.size());
        stair_.push_back(e);
        for (unsigned k = 0; k < n_; ++k) {
            Expo f = e;
            ++f[k];
            if (!todo_.count(f) && !multiple_of_lead(f)) todo_.emplace(std::move(f), std::make_pair(from, k));
        }
    }

    // e (the last of next) leads a basis polynomial: its multiples are left out.
    void leading(const Expo& e) { leads_.push_back(e); }

    // The standard monomials in the order found.
    const std::vector<Expo>& stair() const { return stair_; }

private:
    bool multiple_of_lead(const Expo& e) const {
        for (const Expo& l : leads_)
            if (divides(l, e)) return true;
        return false;
    }

    unsigned n_;
    std::vector<Expo> stair_, leads_;
    std::map<Expo, std::pair<unsigned, unsigned>> todo_;  // monomial -> (standard one, variable)
};

}  // namespace tesk::algo

#endif
