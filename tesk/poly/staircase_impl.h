// Definitions of the staircase operations (staircase.h).  Included only by
// staircase.cpp, which instantiates them for every instance.
//
// A count (the Buchberger loop's zero-dimension test, the server's solution
// count) never lists the staircase: it is counted from the leading
// monomials (stair_count.h).  The listings work on packed exponent vectors
// held back to back in one array rather than on term records, and only a
// staircase handed back is made into a polynomial.
#ifndef TESK_POLY_STAIRCASE_IMPL_H
#define TESK_POLY_STAIRCASE_IMPL_H

#include <algorithm>
#include <climits>
#include <numeric>
#include <vector>

#include "tesk/base/print.h"
#include "tesk/base/switches.h"
#include "tesk/poly/stair_count.h"
#include "tesk/poly/staircase.h"

namespace tesk::poly {
namespace detail {

// Which part of a leading monomial must divide a standard candidate.
enum class Divide {
    All,     // every variable
    Homog,   // the last variable left out (want_qhomogene)
    Block1,  // the first block of variables only
};

// The leading monomials of a basis as one enumeration sees them.
//
// The enumeration extends standard monomials t (variables 0 .. i-1) by
// x_i^k for k = 0, 1, ...: t*x_i^k is standard unless a lead that holds x_i
// and no later variable, with exponent exactly k in x_i, divides it (one
// with a smaller exponent would have divided t*x_i^(k-1) already, one with
// x_i absent would divide t).  The leads are kept by that variable and that
// exponent, so each of them is tried once per t.
template <class I>
struct Stair_Leads {
    using M = Dmp<I>;
    using E = typename I::E;
    using X = typename M::X;
    enum Dim { kConstant, kFinite, kInfinite };

    Divide how;
    unsigned vars;  // variables 0 .. vars-1 are enumerated
    std::vector<std::vector<std::vector<const E*>>> at;  // [top variable][its exponent], for a listing
    std::vector<std::uint16_t> rows;                      // the leads' exponents of variables 0 .. vars-1
    unsigned leads = 0;                                   // rows
    Dim dim = kFinite;

    // headers: skip a leading header cell (have_sentinelle).  listing: the
    // leads are indexed for standard_monomials too.
    Stair_Leads(List<I>* l, Divide d, bool headers, bool listing = false) : how(d) {
        const unsigned n = I::L::n();
        vars = d == Divide::Homog ? (n ? n - 1 : 0) : d == Divide::Block1 ? std::min(I::L::k(), n) : n;
        if (listing) at.resize(vars);
        std::vector<char> power(vars, 0);
        for (; l; l = l->next) {
            const Term<I>* p = headers ? M::strip(l->elt) : l->elt;
            if (!p) continue;
            unsigned count = 0, top = 0;
            for (unsigned i = 0; i < vars; ++i)
                if (X::extraire(p->exp, i)) ++count, top = i;
            if (count == 0) {
                dim = kConstant;
                continue;
            }
            if (count == 1) power[top] = 1;
            for (unsigned i = 0; i < vars; ++i) rows.push_back(std::uint16_t(X::extraire(p->exp, i)));
            ++leads;
            if (!listing) continue;
            const unsigned k = X::extraire(p->exp, top);
            if (at[top].size() <= k) at[top].resize(k + 1);
            at[top][k].push_back(p->exp);
        }
        if (dim != kConstant && std::find(power.begin(), power.end(), 0) != power.end()) dim = kInfinite;
    }
    // The number of standard monomials of a finite staircase (dim == kFinite).
    Stair_Count count() const { return count_standard(vars, leads, rows.data()); }
    bool divides(const E* a, const E* e) const {
        switch (how) {
            case Divide::Homog: return X::is_homog_sub(e, a);
            case Divide::Block1: return X::is_block1_sub(e, a);
            default: return X::is_sub(e, a);
        }
    }
    // e = t*x_i^k, t standard in variables 0 .. i-1.  Past the largest
    // exponent of x_i the pure power of x_i has ended the run already.
    bool standard(unsigned i, unsigned k, const E* e) const {
        if (k == 0) return true;
        if (k >= at[i].size()) return false;
        for (const E* a : at[i][k])
            if (divides(a, e)) return false;
        return true;
    }
};

// Exponent vectors back to back, S words each.
template <class I>
struct Monomials {
    using E = typename I::E;
    using X = typename Dmp<I>::X;
    static unsigned S() { return Term_Spec<I>::record_words(); }
    std::vector<E> w;

    Monomials() : w(S(), E{0}) {}  // the monomial 1
    std::size_t size() const { return w.size() / S(); }
    const E* at(std::size_t j) const { return &w[j * S()]; }
    // Runs variables from .. to-1 in turn over every monomial: x_i^k is
    // appended for k = 0, 1, ... while keep(i, k, monomial) holds.
    template <class Keep>
    void extend(unsigned from, unsigned to, Keep keep) {
        const unsigned s = S();
        std::vector<E> next;
        E t[kMaxExpoWords];
        for (unsigned i = from; i < to; ++i) {
            next.clear();
            for (std::size_t j = 0; j < w.size(); j += s) {
                std::copy_n(&w[j], s, t);
                for (unsigned k = 0;; ++k) {
                    X::ranger(t, k, i);
                    if (!keep(i, k, t)) break;
                    next.insert(next.end(), t, t + s);
                }
            }
            w.swap(next);
        }
    }
    // A polynomial of coefficients 1, in the order of before(a, b).
    template <class Before>
    Term<I>* chain(Before before) const {
        std::vector<std::size_t> idx(size());
        std::iota(idx.begin(), idx.end(), std::size_t{0});
        std::sort(idx.begin(), idx.end(), [&](std::size_t a, std::size_t b) { return before(at(a), at(b)); });
        Chain<Term<I>> out;
        for (std::size_t j : idx) out.add(Dmp<I>::term(I::D::one(), at(j)));
        return out.finish();
    }
};

// The standard monomials of a zero-dimensional basis (none when 1 is a lead).
template <class I>
Monomials<I> standard_monomials(const Stair_Leads<I>& s) {
    Monomials<I> m;
    if (s.dim == s.kConstant)
        m.w.clear();
    else
        m.extend(0, s.vars, [&s](unsigned i, unsigned k, const typename I::E* e) { return s.standard(i, k, e); });
    return m;
}

template <class I>
bool greater_first(const typename I::E* a, const typename I::E* b) {
    return Dmp<I>::X::greater(a, b) > 0;
}
template <class I>
bool lex_increasing(const typename I::E* a, const typename I::E* b) {
    return Dmp<I>::X::lex_greater(a, b) < 0;
}

// have_sentinelle cleared for the life of a scope, then put back.
template <class I>
struct No_Headers {
    int saved = Dmp<I>::have_sentinelle;
    No_Headers() { Dmp<I>::have_sentinelle = 0; }
    ~No_Headers() { Dmp<I>::have_sentinelle = saved; }
};

// Fatal, naming who, when the finite staircase of s has more monomials than
// a listing holds.
template <class I>
void refuse_listing(const Stair_Leads<I>& s, const char* who) {
    if (s.dim != s.kFinite) return;
    const Stair_Count c = s.count();
    const std::uint64_t most = Staircase<I>::max_listed();
    if (c.at_most(most)) return;
    Fatal("%s: the staircase has %s standard monomials; at most %llu of them are listed (%u MB)\n", who,
          c.text().c_str(), (unsigned long long)most, unsigned(Staircase<I>::kListBytes >> 20));
}

// The staircase of l (no header cells) in the order of before; null when
// it is infinite or l is empty.
template <class I, class Before>
Term<I>* staircase(List<I>* l, Divide how, Before before) {
    Dmp<I>::old_base = l;
    const Stair_Leads<I> s(l, how, false, true);
    if (!l || s.dim == s.kInfinite) return nullptr;
    refuse_listing(s, "Staircase");
    return standard_monomials(s).chain(before);
}

// is_dim0 exactly: -1 (infinite set), 0 for a constant lead or an empty
// list, else the count.
template <class I>
Stair_Count dim0_count(List<I>* l, bool& infinite) {
    Dmp<I>::old_base = l;
    const Stair_Leads<I> s(l, want_qhomogene ? Divide::Homog : Divide::All, Dmp<I>::have_sentinelle != 0);
    infinite = s.dim == s.kInfinite;
    if (s.dim != s.kFinite || !l) return Stair_Count();
    return s.count();
}

}  // namespace detail

// Headers are never looked for here, so have_sentinelle need not change.
template <class I>
Term<I>* Staircase<I>::escalier(Lst* l) {
    return detail::staircase(l, detail::Divide::All, detail::greater_first<I>);
}

template <class I>
Term<I>* Staircase<I>::escalier_block1(Lst* l) {
    return detail::staircase(l, detail::Divide::Block1, detail::lex_increasing<I>);
}

template <class I>
std::int64_t Staircase<I>::is_dim0(Lst* l) {
    bool infinite;
    const Stair_Count c = detail::dim0_count(l, infinite);
    return infinite ? -1 : c.saturated();
}

template <class I>
std::string Staircase<I>::nb_sol_dim0_text(Lst* l) {
    bool infinite;
    const Stair_Count c = detail::dim0_count(l, infinite);
    return infinite ? "-1" : c.text();
}

template <class I>
std::int64_t Staircase<I>::calculer_nb_solutions(Lst* l) {
    detail::No_Headers<I> plain;
    return is_dim0(l);
}

template <class I>
std::string Staircase<I>::nb_solutions_text(Lst* l) {
    detail::No_Headers<I> plain;
    return nb_sol_dim0_text(l);
}

template <class I>
int Staircase<I>::held_nb_solutions(Lst* l, const char* who, unsigned square_bytes) {
    const std::int64_t c = calculer_nb_solutions(l);
    if (c > INT_MAX)
        Fatal("%s: the staircase has %s standard monomials, more than the %d that are held\n", who,
              nb_solutions_text(l).c_str(), INT_MAX);
    // c <= 2^31: c * c * square_bytes fits in 128 bits.
    const unsigned __int128 bytes = (unsigned __int128)(c > 0 ? c : 0) * std::uint64_t(c > 0 ? c : 0) * square_bytes;
    if (bytes > kListBytes)
        Fatal("%s: the staircase has %lld standard monomials, and its tables of %llu MB pass the %llu MB allowed\n",
              who, (long long)c, (unsigned long long)(bytes >> 20), (unsigned long long)(kListBytes >> 20));
    return int(c);
}

template <class I>
std::uint64_t Staircase<I>::max_listed() {
    // The enumeration's two layers and sort index, then the term records.
    const std::uint64_t words = Term_Spec<I>::record_words();
    return kListBytes / (2 * words * sizeof(E) + sizeof(std::size_t) + Term_Spec<I>::stride());
}

template <class I>
int Staircase<I>::dimension0(Lst* l) {
    const unsigned n = I::L::n();
    std::vector<char> power(n, 0);
    for (; l; l = l->next) {
        const P* p = M::strip(l->elt);
        if (!p) continue;
        unsigned count = 0, var = 0;
        for (unsigned i = 0; i < n; ++i)
            if (X::extraire(p->exp, i)) ++count, var = i;
        if (count == 0) return 1;
        if (count == 1) power[var] = 1;
    }
    return std::find(power.begin(), power.end(), 0) == power.end();
}

template <class I>
Term<I>* Staircase<I>::all_monomes(unsigned d) {
    if (d > X::kMaxExp) Fatal("all_monomes: degree %u is beyond the exponents of %s (at most %u)\n", d, I::kDMP, X::kMaxExp);
    detail::Monomials<I> m;
    m.extend(0, I::L::n(), [d](unsigned, unsigned, const E* e) { return is_degree(e, d) != 0; });
    if (want_homog) {
        detail::Monomials<I> exact;
        exact.w.clear();
        for (std::size_t j = 0; j < m.size(); ++j)
            if (X::totalDegree(m.at(j)) == d) exact.w.insert(exact.w.end(), m.at(j), m.at(j) + m.S());
        return exact.chain(detail::greater_first<I>);
    }
    return m.chain(detail::greater_first<I>);
}

template <class I>
Term<I>* Staircase<I>::retain_only_deg(P* p, unsigned d) {
    P** link = &p;
    while (P* t = *link) {
        if (X::totalDegree(t->exp) == d)
            link = &t->next;
        else
            *link = M::Terms::kill(t);
    }
    return p;
}

template <class I>
void Staircase<I>::sparse_dim(P* p) {
    M::memo_all_monoms = M::or_dd(M::memo_all_monoms, M::skel(p));
}

template <class I>
unsigned Staircase<I>::sparse_dim(Lst* l) {
    for (; l; l = l->next) sparse_dim(M::strip(l->elt));
    return compute_sparse_dim();
}

template <class I>
unsigned Staircase<I>::compute_sparse_dim() {
    const unsigned n = M::Terms::size(M::memo_all_monoms);
    M::Terms::kill_all(M::memo_all_monoms);
    M::memo_all_monoms = nullptr;
    return n;
}

template <class I>
void Staircase<I>::conv(P* g, P* s, unsigned) {
    Lib_Print out = Lib << "[";
    for (bool first = true; g && s; s = s->next, first = false) {
        if (!first) out = out << ",";
        if (X::eq(g->exp, s->exp)) {
            out = out << g->coef;
            g = g->next;
        } else {
            out = out << "0";
        }
    }
    out << "]\n";
}

namespace detail {
template <class I>
bool refuse_preparation(List<I>* l) {
    const Stair_Leads<I> s(l, Divide::All, false);
    refuse_listing(s, "Preparation");
    if (l && s.dim != s.kInfinite) return false;
    Erreur("Preparation: the basis is not zero-dimensional, its staircase is infinite\n");
    return true;
}
}  // namespace detail

template <class I>
int Staircase<I>::Preparation(Lst* l) {
    if (detail::refuse_preparation(l)) return -1;
    Lib_Print out = Lib << "% nombre de variables:\n" << I::L::n() << "\n";
    P* S = escalier(l);
    const unsigned size = M::Terms::size(S);
    out = out << "% dimension:\n" << size << "\n" << "% base du quotient (a lire a l'envers)\n";
    for (P* t = S; t; t = t->next) out = out << static_cast<const E*>(t->exp) << "\n";
    unsigned polys = 0;
    for (Lst* c = l; c; c = c->next) polys += c->elt != nullptr;
    out = out << "% nombre de polynomes dans la base de groebner:\n" << polys << "\n"
              << "% format base\n%  coef\n%  exposant\n%  vecteur\n";
    for (Lst* c = l; c; c = c->next) {
        P* g = c->elt;
        if (!g) continue;
        typename D::C m = D::minus(g->coef);
        out = out << m << "\n" << static_cast<const E*>(g->exp) << "\n";
        D::kill(m);
        conv(g->next, S);
    }
    M::Terms::kill_all(S);
    return int(size);
}

template <class I>
int Staircase<I>::Preparation(LL* ll) {
    for (LL* c = ll; c; c = c->next)
        if (detail::refuse_preparation(c->elt)) return -1;
    const unsigned n = M::Lists2::size(ll);
    Lib << "% nombre de bases de Groebner:\n" << n << "\n";
    unsigned k = 0;
    for (LL* c = ll; c; c = c->next) {
        Lib << "% " << ++k << " ieme base:\n";
        Preparation(c->elt);
    }
    Lib << "% fin de la liste\n";
    return int(n);
}

}  // namespace tesk::poly

#endif
