// Reduction primitives of the polynomial package (dmp.h): one merge pass
// replaces the leading term of p by the rest of a reducer q shifted and
// scaled, without forming x^m*q; the list reductions are built on it.
#ifndef TESK_POLY_REDUCE_IMPL_H
#define TESK_POLY_REDUCE_IMPL_H

#include "tesk/poly/dmp_impl.h"

namespace tesk::poly {

// a*rest(p) + b*x^m*rest(q).  A term of rest(q) stands for b*c*x^(m+e) and is
// compared through the three-argument greater; p's records are reused, only
// the terms coming from q are new.  Equal exponents: c_P := a*c_P + b*c_Q in
// place (one reduction per product, see the domains' lin_d).
template <class I>
Term<I>* Dmp<I>::reduire(C a, P* p, C b, const E* m, P* q) {
    Phase phase(info_string, "Reduction rapide");
    const bool scale = !D::is_one(a);
    P* P_ = Terms::kill(p);
    P* Q = q->next;
    P* head;
    for (;;) {
        if (!P_) return copy_dec(b, m, Q);
        if (!Q) return scal(a, P_);
        const int c = X::greater(P_->exp, Q->exp, m);
        if (c > 0) {
            if (scale) D::mult_d(P_->coef, a);
            head = P_;
            P_ = P_->next;
            break;
        }
        if (c < 0) {
            head = term(D::mult(b, Q->coef), m, Q->exp);
            Q = Q->next;
            break;
        }
        if (scale) D::mult_d(P_->coef, a);
        D::lin_d(P_->coef, b, Q->coef);
        Q = Q->next;
        if (D::test(P_->coef)) {
            head = P_;
            P_ = P_->next;
            break;
        }
        P_ = Terms::kill(P_);
    }
    P* tail = head;
    while (P_) {
        if (!Q) {
            tail->next = scal(a, P_);
            return head;
        }
        const int c = X::greater(P_->exp, Q->exp, m);
        if (c > 0) {
            if (scale) D::mult_d(P_->coef, a);
            tail->next = P_;
            tail = P_;
            P_ = P_->next;
        } else if (c < 0) {
            P* t = term(D::mult(b, Q->coef), m, Q->exp);
            tail->next = t;
            tail = t;
            Q = Q->next;
        } else {
            if (scale) D::mult_d(P_->coef, a);
            D::lin_d(P_->coef, b, Q->coef);
            Q = Q->next;
            if (D::test(P_->coef)) {
                tail->next = P_;
                tail = P_;
                P_ = P_->next;
            } else {
                P_ = Terms::kill(P_);
            }
        }
    }
    tail->next = copy_dec(b, m, Q);
    return head;
}

// rest(p) + b*x^m*rest(q): the same merge with P's terms left as they are.
template <class I>
Term<I>* Dmp<I>::reduire_monic(P* p, C b, const E* m, P* q) {
    Phase phase(info_string, "Fast reduction monic case");
    P* P_ = Terms::kill(p);
    P* Q = q->next;
    P* head;
    for (;;) {
        if (!P_) return copy_dec(b, m, Q);
        if (!Q) return P_;
        const int c = X::greater(P_->exp, Q->exp, m);
        if (c > 0) {
            head = P_;
            P_ = P_->next;
            break;
        }
        if (c < 0) {
            head = term(D::mult(b, Q->coef), m, Q->exp);
            Q = Q->next;
            break;
        }
        D::lin_d(P_->coef, b, Q->coef);
        Q = Q->next;
        if (D::test(P_->coef)) {
            head = P_;
            P_ = P_->next;
            break;
        }
        P_ = Terms::kill(P_);
    }
    P* tail = head;
    while (P_ && Q) {
        const int c = X::greater(P_->exp, Q->exp, m);
        if (c > 0) {
            tail->next = P_;
            tail = P_;
            P_ = P_->next;
        } else if (c < 0) {
            P* t = term(D::mult(b, Q->coef), m, Q->exp);
            tail->next = t;
            tail = t;
            Q = Q->next;
        } else {
            D::lin_d(P_->coef, b, Q->coef);
            Q = Q->next;
            if (D::test(P_->coef)) {
                tail->next = P_;
                tail = P_;
                P_ = P_->next;
            } else {
                P_ = Terms::kill(P_);
            }
        }
    }
    tail->next = P_ ? P_ : copy_dec(b, m, Q);
    return head;
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

template <class I>
Term<I>* Dmp<I>::redPo(P* p, Lst* l) {
    E m[kMaxExpoWords];
    for (Lst* s = l; p && s;) {
        P* q = s->elt;
        if (q && X::is_sub(p->exp, q->exp)) {
            s = l;
            X::sub(p->exp, q->exp, m);
            C b = D::minus(p->coef);
            const C g = D::gcd(b, q->coef);
            const C a = D::quot(q->coef, g);
            b = D::quot(b, g);
            p = reduire(a, p, b, m, q);
        } else {
            s = s->next;
        }
    }
    return p;
}

template <class I>
Term<I>* Dmp<I>::pseudo_redPo(P* p, Lst* l, C& f) {
    E m[kMaxExpoWords];
    for (Lst* s = l; p && s;) {
        P* q = s->elt;
        if (q && X::is_sub(p->exp, q->exp)) {
            s = l;
            X::sub(p->exp, q->exp, m);
            C b = D::minus(p->coef);
            D::mult_d(b, D::inv(q->coef));
            p = reduire_monic(p, b, m, q);
        } else {
            s = s->next;
        }
    }
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
    P* quo = nullptr;
    P* tail = nullptr;
    for (Lst* s = l; p && s;) {
        P* q = s->elt;
        if (q && X::is_sub(p->exp, q->exp)) {
            X::sub(p->exp, q->exp, m);
            C b = D::minus(p->coef);
            if (s == l) {
                P* t = term(D::mult(p->coef, k), m);
                t->next = nullptr;
                if (tail)
                    tail->next = t;
                else
                    quo = t;
                tail = t;
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
    return quo;
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
