// Reduction primitives of the polynomial package (dmp.h): one merge pass
// replaces the leading term of p by the rest of a reducer q shifted and
// scaled, without forming x^m*q; the list reductions are built on it.
#ifndef TESK_POLY_REDUCE_IMPL_H
#define TESK_POLY_REDUCE_IMPL_H

#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {

// a*rest(p) + b*x^m*rest(q), or rest(p) + b*x^m*rest(q) without scale.  A
// term of rest(q) stands for b*c*x^(m+e) and is compared through the
// three-argument greater; p's records are reused, only the terms coming from
// q are new.  Equal exponents: c_P := a*c_P + b*c_Q in place, one reduction
// per product (see the domains' lin_d).
template <class I>
Term<I>* Dmp<I>::step(const char* phase, bool scale, C a, P* p, C b, const E* m, P* q) {
    Phase in_phase(info_string, phase);
    // A tail may pass the exponents' range that the leading terms keep:
    // where the degrees do not rule it out, every product is checked, and
    // elsewhere the merge stays as lean as if none could.
    if (X::products_in_range(m, q->exp)) return merge_step<false>(scale, a, Terms::kill(p), b, m, q->next);
    return merge_step<true>(scale, a, Terms::kill(p), b, m, q->next);
}

template <class I>
template <bool Check>
Term<I>* Dmp<I>::merge_step(bool scale, C a, P* P_, C b, const E* m, P* Q) {
    auto checked = [m](P* t) {
        if constexpr (Check)
            if (t && !X::sum_in_range(m, t->exp)) X::sum_overflow(m, t->exp);
        return t;
    };
    Q = checked(Q);
    Chain<P> out;
    // Places P's term (scaled) or releases it when the combination cancelled.
    auto keep_P = [&] {
        P* t = P_;
        P_ = P_->next;
        out.add(t);
    };
    while (P_ && Q) {
        const int c = X::greater(P_->exp, Q->exp, m);
        if (c < 0) {
            out.add(term(D::mult(b, Q->coef), m, Q->exp));
            Q = checked(Q->next);
            continue;
        }
        if (scale) D::mult_d(P_->coef, a);
        if (c > 0) {
            keep_P();
            continue;
        }
        D::lin_d(P_->coef, b, Q->coef);
        Q = checked(Q->next);
        if (D::test(P_->coef))
            keep_P();
        else
            P_ = Terms::kill(P_);
    }
    P* tail = P_ ? (scale ? scal(a, P_) : P_) : shifted_copy<Check>(b, m, Q);
    if (!out.head) return tail;
    out.tail->next = tail;
    return out.head;
}

template <class I>
Term<I>* Dmp<I>::reduire(C a, P* p, C b, const E* m, P* q) {
    return step("Reduction rapide", !D::is_one(a), a, p, b, m, q);
}

template <class I>
Term<I>* Dmp<I>::reduire_monic(P* p, C b, const E* m, P* q) {
    return step("Fast reduction monic case", false, b, p, b, m, q);
}

template <class I>
Term<I>* Dmp<I>::reduire(P* p, P* q) {
    if (!D::is_one(q->coef)) Fatal("Reduce by a non monic polynomial !\n");
    E m[kMaxExpoWords];
    X::sub(p->exp, q->exp, m);
    return reduire_monic(p, D::minus(p->coef), m, q);
}

template <class I>
Term<I>* Dmp<I>::reduire_nonmonic(P* p, P* q) {
    E m[kMaxExpoWords];
    X::sub(p->exp, q->exp, m);
    C b = D::minus(p->coef);
    D::mult_d(b, D::inv(q->coef));
    return reduire_monic(p, b, m, q);
}

// Top reduction by the polynomials of l, zero ones skipped: with
// cross-multiplication (a = lc(q)/g, b = -lc(p)/g) or, dividing, a = 1.
template <class I>
Term<I>* Dmp<I>::top_reduce(P* p, Lst* l, bool divide) {
    E m[kMaxExpoWords];
    for (Lst* s = l; p && s;) {
        P* q = s->elt;
        if (q && X::is_sub(p->exp, q->exp)) {
            s = l;
            X::sub(p->exp, q->exp, m);
            C b = D::minus(p->coef);
            if (divide) {
                D::mult_d(b, D::inv(q->coef));
                p = reduire_monic(p, b, m, q);
            } else {
                const C g = D::gcd(b, q->coef);
                p = reduire(D::quot(q->coef, g), p, D::quot(b, g), m, q);
            }
        } else {
            s = s->next;
        }
    }
    return p;
}

template <class I>
Term<I>* Dmp<I>::redPo(P* p, Lst* l) {
    return top_reduce(p, l, false);
}

template <class I>
Term<I>* Dmp<I>::pseudo_redPo(P* p, Lst* l, C& f) {
    p = top_reduce(p, l, true);
    f = D::one();
    return p;
}

// Each step divides by the reducer's leading coefficient, so p keeps its
// scale and every quotient term is exact.  The quotient terms come in
// strictly decreasing order (p's lead only decreases) and are appended.
template <class I>
Term<I>* Dmp<I>::exquo(P* p, Lst* l) {
    if (!p) return nullptr;
    P* d = l ? l->elt : nullptr;
    if (!d) Fatal("Exact quotient by the zero polynomial !\n");
    const C k = D::inv(d->coef);
    E m[kMaxExpoWords];
    Chain<P> quo;
    for (Lst* s = l; p && s;) {
        P* q = s->elt;
        if (q && X::is_sub(p->exp, q->exp)) {
            X::sub(p->exp, q->exp, m);
            C b = D::minus(p->coef);
            if (s == l) {
                quo.add(term(D::mult(p->coef, k), m));
                D::mult_d(b, k);
            } else {
                s = l;
                D::mult_d(b, D::inv(q->coef));
            }
            p = reduire_monic(p, b, m, q);
        } else {
            s = s->next;
        }
    }
    if (p) Fatal("Not an exact quotient !\n");
    return quo.finish();
}

template <class I>
Term<I>* Dmp<I>::gcd_dd(P* a, P* b) {
    if (!b) return hMonic(a);
    if (!a) return hMonic(b);
    b = hMonic(b);
    Lst* cell = Lists::cons(b, nullptr);
    while (P* r = redPo(a, cell)) {
        a = b;
        b = hMonic(r);
        cell->elt = b;
    }
    Lists::kill(cell);
    return b;
}

template <class I>
int Dmp<I>::reductible(const E* e, Lst* from, Lst* to) {
    for (Lst* c = from; c != to; c = c->next)
        if (c->elt && X::is_homog_sub(e, c->elt->exp)) return 1;
    return 0;
}

// Cells dropped here are unlinked only: their polynomials may be shared.
template <class I>
List<I>* Dmp<I>::menage_homog_d(Lst* l) {
    if (!l || !l->next) return l;
    Lst* prev = l;
    for (Lst* c = l->next; c; c = c->next) {
        if (c->elt && reductible(c->elt->exp, l, c))
            prev->next = c->next;
        else
            prev = c;
    }
    return l;
}

}  // namespace tesk::poly

#endif
