// Transformations of polynomials and lists (dmp.h): homogenisation,
// permutations, filters, orbits under the cyclic shift, differentiation,
// leading coefficients in a variable, common factors, the partition of a
// basis, and the term-by-term raw export that the bridge reads.
#ifndef TESK_POLY_TRANSFORM_IMPL_H
#define TESK_POLY_TRANSFORM_IMPL_H

#include <vector>

#include "tesk/poly/dmp_impl.h"
#include "tesk/poly/print.h"

namespace tesk::poly {

template <class I>
Term<I>* Dmp<I>::sort_and_merge(P* p) {
    p = Terms::trier(p, comp);
    for (P* t = p; t && t->next;) {
        if (X::eq(t->exp, t->next->exp)) {
            D::add_d(t->coef, t->next->coef);
            t->next = Terms::kill(t->next);
        } else {
            t = t->next;
        }
    }
    P** link = &p;
    while (P* t = *link) {
        if (D::test(t->coef))
            link = &t->next;
        else
            *link = Terms::kill(t);
    }
    return p;
}

template <class I>
Term<I>* Dmp<I>::scan_keep(P* p, bool (*keep)(const E*)) {
    P** link = &p;
    while (P* t = *link) {
        if (keep(t->exp))
            link = &t->next;
        else
            *link = Terms::kill(t);
    }
    return p;
}

template <class I>
Term<I>* Dmp<I>::homog_d(P* p, unsigned i) {
    unsigned hi = 0, lo = 65536;
    for (P* t = p; t; t = t->next) {
        const unsigned d = X::totalDegree(t->exp);
        hi = std::max(hi, d);
        lo = std::min(lo, d);
    }
    if (!p || hi == lo) return p;
    for (P* t = p; t; t = t->next) X::ranger(t->exp, hi - X::totalDegree(t->exp), i);
    return p;
}

template <class I>
List<I>* Dmp<I>::homog_d(Lst* l, unsigned i) {
    return each(l, [i](P* p) { return homog_d(p, i); });
}

// The exponents are changed in place and the chain re-sorted once, rather
// than added back term by term: the same result in n log n.
template <class I>
Term<I>* Dmp<I>::de_homog_d(P* p, unsigned i) {
    for (P* t = p; t; t = t->next) X::ranger(t->exp, 0, i);
    return sort_and_merge(p);
}

template <class I>
List<I>* Dmp<I>::de_homog_d(Lst* l, unsigned) {
    const unsigned last = L::n() ? L::n() - 1 : 0;
    return each(l, [last](P* p) { return de_homog_d(p, last); });
}

template <class I>
List<I>* Dmp<I>::eval_var_one_d(Lst* l, unsigned i) {
    return each(l, [i](P* p) { return de_homog_d(p, i); });
}

template <class I>
Term<I>* Dmp<I>::permut_d(P* p, const unsigned* perm) {
    for (P* t = p; t; t = t->next) X::permut(t->exp, perm);
    return Terms::trier(p, comp);
}

// The symmetric representatives are permuted first, the other terms after
// them, and the whole chain sorted once: a permutation keeps the terms
// distinct, so nothing merges.
template <class I>
Term<I>* Dmp<I>::permut_fast(P* p, const unsigned* perm) {
    Fortran << "Avant " << p << "\n";
    Chain<P> sym, rest;
    for (P* t = p; t; t = t->next) {
        P* c = term(D::copy(t->coef), t->exp);
        (X::is_sym_orbit(t->exp) ? sym : rest).add(c);
    }
    P* q = sym.finish();
    P** end = &q;
    while (*end) end = &(*end)->next;
    *end = rest.finish();
    for (P* t = q; t; t = t->next) X::permut(t->exp, perm);
    q = Terms::trier(q, comp);
    Fortran << "Apres " << q << "\n";
    return q;
}

template <class I>
Term<I>* Dmp<I>::keep_first_var_d(P* p) {
    return scan_keep(p, [](const E* e) { return X::null(e) || X::extraire(e, 0) > 0; });
}

template <class I>
Term<I>* Dmp<I>::tosym_d(P* p) {
    return scan_keep(p, [](const E* e) { return X::is_sym_orbit(e) != 0; });
}

template <class I>
Term<I>* Dmp<I>::tosym(P* p) {
    Chain<P> out;
    for (; p; p = p->next)
        if (X::is_sym_orbit(p->exp)) out.add(term(D::copy(p->coef), p->exp));
    return out.finish();
}

// The sum, coefficient 1 each, of x^e and its n - 1 cyclic shifts
// (variable j -> j + 1, n - 1 -> 0); coinciding monomials add up.
template <class I>
Term<I>* Dmp<I>::one_orbit(P* t) {
    const unsigned n = L::n();
    std::vector<unsigned> perm(n);
    for (unsigned j = 0; j < n; ++j) perm[j] = j + 1 < n ? j + 1 : 0;
    E cur[kMaxExpoWords];
    X::copy(cur, t->exp);
    P* o = monom(cur, D::one());
    for (unsigned s = 1; s < n; ++s) {
        X::permut(cur, perm.data());
        o = add_dd(o, monom(cur, D::one()));
    }
    return o;
}

template <class I>
Term<I>* Dmp<I>::orbit(P* p) {
    P* r = nullptr;
    for (; p; p = p->next) {
        P* o = one_orbit(p);
        r = add_dd(r, scal(D::mult(p->coef, D::inv(o->coef)), o));
    }
    return r;
}

template <class I>
Term<I>* Dmp<I>::compact_d(P* p) {
    P* r = nullptr;
    while (p) {
        P* lead = Terms::copy_one(p);
        lead->next = nullptr;
        r = add_dd(r, lead);
        P* rest = p->next;
        p->next = nullptr;
        P* o = orbit(p);
        p->next = rest;
        p = add_dd(p, neg_d(o));
    }
    return r;
}

// A coefficient that k makes zero (k a multiple of a small prime) drops its term.
template <class I>
Term<I>* Dmp<I>::differentiate_d(P* p, unsigned i) {
    P** link = &p;
    while (P* t = *link) {
        const unsigned k = X::extraire(t->exp, i);
        if (k) {
            D::mult_d(t->coef, D::from_int(k));
            X::ranger(t->exp, k - 1, i);
        }
        if (k && D::test(t->coef))
            link = &t->next;
        else
            *link = Terms::kill(t);
    }
    return p;
}

// The constant 1 when i is outside 1 .. n.
template <class I>
Term<I>* Dmp<I>::coeff(P* p, int i) {
    if (i < 1 || unsigned(i) > L::n()) return one();
    if (!p) return nullptr;
    const unsigned j = unsigned(i) - 1, d = X::extraire(p->exp, j);
    Chain<P> out;
    for (P* t = p; t && X::extraire(t->exp, j) == d; t = t->next) {
        P* c = term(D::copy(t->coef), t->exp);
        X::ranger(c->exp, 0, j);
        out.add(c);
    }
    return hMonic(out.finish());
}

template <class I>
Term<I>* Dmp<I>::coeff(P* p) {
    if constexpr (L::kDegBlocks == 0) {
        return coeff(p, p ? X::main_variable(p->exp, nullptr) : -1);
    } else if constexpr (L::kDegBlocks == 1) {
        Fatal("Pas fait mainDegree_%s\n", L::kName);
    } else {
        if (!p) return nullptr;
        E main[kMaxExpoWords], part[kMaxExpoWords];
        X::extract_block1(main, p->exp);
        Chain<P> out;
        for (P* t = p; t; t = t->next) {
            X::extract_block1(part, t->exp);
            if (!X::eq(part, main)) break;
            X::extract_block2(part, t->exp);
            out.add(term(D::copy(t->coef), part));
        }
        return hMonic(out.finish());
    }
}

template <class I>
unsigned Dmp<I>::simpl_factor(P* p) {
    if (!p) return 0;
    E g[kMaxExpoWords];
    X::copy(g, p->exp);
    for (P* t = p->next; t && !X::null(g); t = t->next) X::zinf(g, t->exp, g);
    if (X::null(g)) return 0;
    X::fortran(Fortran << "Divise par ", g) << "\n";
    for (P* t = p; t; t = t->next) X::sub(t->exp, g, t->exp);
    return X::totalDegree(g);
}

template <class I>
List<I>* Dmp<I>::log(P* p) {
    // sum over the variables of (c * exponent) * x_j
    auto linear = [](const E* e, C c) {
        P* f = nullptr;
        E v[kMaxExpoWords];
        for (unsigned j = 0, n = L::n(); j < n; ++j)
            if (const unsigned k = X::extraire(e, j)) {
                X::set_null(v);
                X::ranger(v, 1, j);
                f = add_dd(f, monom(v, D::mult(c, D::from_int(k))));
            }
        return f;
    };
    if (!p) return nullptr;
    Chain<Lst> out;
    for (P* t = p->next; t; t = t->next) {
        Lst* c = Lists::new_();
        c->elt = add_dd(linear(p->exp, D::one()), linear(t->exp, D::minus(D::one())));
        out.add(c);
    }
    return out.finish();
}

template <class I>
List<I>* Dmp<I>::log_List(Lst* l) {
    Lst* r = nullptr;
    for (; l; l = l->next) r = Lists::append(r, log(l->elt));
    return r;
}

// The terms of p that the walk passed over are released once p's first
// term is linked past them.
template <class I>
Term<I>* Dmp<I>::GSL_form(P* p, P* q, unsigned i) {
    const C c = D::quot(p->coef, q->coef);
    X::ranger(p->exp, 0, i);
    D::kill(p->coef);
    p->coef = c;
    P* tp = p->next;
    for (P* tq = q->next; tq && tp; tq = tq->next, tp = tp->next) {
        const C r = D::quot(tp->coef, tq->coef);
        if (!D::equal(r, c)) {
            D::print(D::print(D::print(Fortran << "Bad case(2) ", tp->coef) << " ", tq->coef) << " and ", r) << "\n";
            return p;
        }
    }
    for (P* w = p->next; w != tp;) w = Terms::kill(w);
    p->next = tp;
    return p;
}

template <class I>
List<I>* Dmp<I>::next_not_retain(Lst* c, unsigned k) {
    while (c && is_eliminated(c->elt, k)) c = c->next;
    return c;
}

// When every polynomial is eliminated, head is empty and the whole list returned.
template <class I>
List<I>* Dmp<I>::retain_polys(Lst* l, Lst*& head, unsigned k) {
    Lst* cur = l;
    while (cur && !is_eliminated(cur->elt, k)) cur = cur->next;
    head = l;
    if (!cur) return nullptr;
    for (Lst* n = next_not_retain(cur->next, k); n; n = next_not_retain(n->next, k)) {
        std::swap(cur->elt, n->elt);
        cur = cur->next;
    }
    if (cur == l) {
        head = nullptr;
        return l;
    }
    Lst* prev = l;
    while (prev->next != cur) prev = prev->next;
    prev->next = nullptr;
    return cur;
}

template <class I>
List<I>* Dmp<I>::substitute(const E* e, C c, Lst* l) {
    for (Lst* cell = l; cell; cell = cell->next) {
        P* p = cell->elt;
        if (!p) continue;
        if (X::eq(p->exp, e)) {
            D::mult_d(p->coef, c);
            hMonic(p);
        } else if (p->next && X::eq(p->next->exp, e)) {
            D::mult_d(p->next->coef, c);
            hMonic(p);
        }
    }
    return l;
}

namespace detail {
// Takes c's first term off (a leading header is released first); its
// exponents, and the residues when asked, go out; the record is unlinked and
// handed to the caller.
template <class I>
Term<I>* extract_first(List<I>* c, std::uint16_t* exps, std::uint32_t* coef, bool with_coef) {
    using M = Dmp<I>;
    if (!c || !c->elt) return nullptr;
    Term<I>* t = c->elt;
    if (M::is_header(t)) {
        t = M::Terms::kill(t);
        c->elt = t;
        if (!t) return nullptr;
    }
    c->elt = t->next;
    t->next = nullptr;
    for (unsigned i = 0, n = I::L::n(); i < n; ++i) exps[i] = std::uint16_t(M::X::extraire(t->exp, i));
    if (with_coef) I::D::to_residues(t->coef, coef);
    return t;
}
}  // namespace detail

template <class I>
Term<I>* Dmp<I>::extract_raw_first(Lst* c, std::uint16_t* exps, std::uint32_t* coef) {
    return detail::extract_first<I>(c, exps, coef, true);
}

template <class I>
Term<I>* Dmp<I>::extract_raw_first_multi(Lst* c, std::uint16_t* exps, std::uint32_t* coef) {
    return detail::extract_first<I>(c, exps, coef, D::kOnHeap);
}

}  // namespace tesk::poly

#endif
