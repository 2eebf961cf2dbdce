// Definitions of the generators and the weight analysis (examples.h).
// Included only by examples.cpp, which instantiates them for every instance.
#ifndef TESK_POLY_EXAMPLES_IMPL_H
#define TESK_POLY_EXAMPLES_IMPL_H

#include <vector>

#include "tesk/base/print.h"
#include "tesk/base/switches.h"
#include "tesk/poly/examples.h"
#include "tesk/poly/print.h"
#include "tesk/poly/staircase.h"

namespace tesk::poly {
namespace detail {

// Exponents of the package's variables, one 16-bit value each.
template <class I>
struct Exps {
    std::vector<std::uint16_t> e = std::vector<std::uint16_t>(I::L::n(), 0);
    std::uint16_t& operator[](unsigned i) { return e[i]; }
    // c*x^e, range-checked (fatal when an exponent does not fit the type).
    Term<I>* times(typename I::D::C c) const { return Dmp<I>::monom_raw(e.data(), c); }
};

// A generator over n variables needs at least `least` and at most the
// package's own.
template <class I>
void need_vars(const char* what, unsigned n, unsigned least) {
    if (n < least || n > I::L::n())
        Fatal("%s_%s: %u variables asked for, %u to %u possible\n", what, I::kDMP, n, least, I::L::n());
}

// "t (i) -> c*t\n": the scaling of variable i by c, traced on Fortran.
template <class I>
void trace_scaling(Term<I>* t, int i, typename I::D::C c) {
    Fortran_Print p = Fortran << t << " (" << i << ") -> ";
    p = I::D::print(p, c) << "*";
    p << t << "\n";
}

}  // namespace detail

template <class I>
List<I>* Examples<I>::exemple_binaire(unsigned n, int homog) {
    detail::need_vars<I>("exemple_binaire_List", n, homog ? 2 : 1);
    const unsigned k = homog ? n - 1 : n;
    Lst* out = nullptr;
    for (unsigned i = 0; i < k; ++i) {
        detail::Exps<I> sq, lin;
        sq[i] = 2;
        lin[i] = 1;
        if (homog) lin[n - 1] = 1;
        out = M::Lists::cons(M::add_dd(sq.times(D::one()), lin.times(D::from_int(-1))), out);
    }
    P* s = nullptr;
    C two_i = D::one();  // 2^i by doubling, whatever the primes
    for (unsigned i = 0; i <= k; ++i) {
        detail::Exps<I> m;
        if (i < k) m[i] = 1;
        else if (homog) m[n - 1] = 1;
        s = M::add_dd(s, m.times(D::copy(two_i)));
        D::add_d(two_i, D::copy(two_i));
    }
    D::kill(two_i);
    return M::Lists::cons(s, out);
}

template <class I>
List<I>* Examples<I>::cyclic(unsigned n, int homog) {
    detail::need_vars<I>("cyclic_List", n, homog ? 2 : 1);
    const unsigned k = homog ? n - 1 : n;
    detail::Exps<I> all, end;
    for (unsigned i = 0; i < k; ++i) all[i] = 1;
    if (homog) end[n - 1] = std::uint16_t(n - 1);
    Lst* out = M::Lists::cons(M::add_dd(all.times(D::one()), end.times(D::from_int(-1))), nullptr);
    for (unsigned d = 1; d < k; ++d) {
        P* c = nullptr;
        for (unsigned i = 0; i < k; ++i) {
            detail::Exps<I> m;
            for (unsigned j = 0; j < d; ++j) m[(i + j) % k] = 1;
            c = M::add_dd(c, m.times(D::one()));
        }
        out = M::Lists::cons(c, out);
    }
    return out;
}

template <class I>
Term<I>* Examples<I>::varU(int i, int k) {
    const int a = i < 0 ? -i : i;
    if (a > k) return nullptr;
    detail::Exps<I> m;
    m[unsigned(a)] = 1;
    return m.times(D::one());
}

template <class I>
Term<I>* Examples<I>::equation(int i, int k, int homog) {
    detail::Exps<I> m;
    m[unsigned(i)] = 1;
    if (homog) m[unsigned(k + 1)] = 1;
    P* e = m.times(D::from_int(-1));
    for (int j = -k; j <= k; ++j) e = M::add_dd(e, M::mul_dd(varU(j, k), varU(i - j, k)));
    return e;
}

template <class I>
List<I>* Examples<I>::katsura(unsigned n, int homog) {
    detail::need_vars<I>("katsura_List", n, homog ? 2 : 1);
    const int k = int(n) - 1 - (homog ? 1 : 0);
    Lst* out = nullptr;
    for (int i = 0; i < k; ++i) out = M::Lists::cons(equation(i, k, homog), out);
    detail::Exps<I> h;
    if (homog) h[unsigned(k + 1)] = 1;
    P* s = h.times(D::from_int(-1));
    for (int j = -k; j <= k; ++j) s = M::add_dd(s, varU(j, k));
    return M::Lists::cons(s, out);
}

template <class I>
Term<I>* Examples<I>::random(unsigned, P* s) {
    P* p = M::copy(s);
    P** link = &p;
    while (P* t = *link) {
        D::kill(t->coef);
        t->coef = D::random();
        if (D::is_zero(t->coef))
            *link = M::Terms::kill(t);
        else
            link = &t->next;
    }
    return p;
}

template <class I>
List<I>* Examples<I>::random_List(unsigned d, unsigned k) {
    P* support = Staircase<I>::all_monomes(d);
    Lst* l = nullptr;
    for (unsigned j = 0; j < k; ++j) l = M::Lists::cons(random(d, support), l);
    M::Terms::kill_all(support);
    Fortran << l << "\n";
    return l;
}

// Each step scales one variable so that one polynomial gets a leading pair
// of unit coefficients, then looks again from that polynomial on.
template <class I>
void Examples<I>::analyse_system(Lst* l) {
    std::vector<std::uint32_t> w(I::L::n(), 1);
    const C minus_one = D::from_int(-1);
    const auto unit = [&](C c) { return D::is_one(c) || D::equal(c, minus_one); };
    for (;;) {
        if (!want_quiet) Fortran << "Analyse\n" << l << "\n";
        bool short_poly = false;
        for (Lst* c = l; c; c = c->next) short_poly |= !c->elt || !c->elt->next;
        if (short_poly) break;
        Lst* f = l;
        bool first = false;  // the first coefficient is the one to spread
        for (; f; f = f->next) {
            if ((first = !unit(f->elt->coef)) || !unit(f->elt->next->coef)) break;
        }
        if (!f) break;
        P* p = f->elt;
        P* var_term = first ? p->next : p;  // must be a variable to the power 1
        unsigned pw = 0;
        const int i = X::slow_is_power(var_term->exp, pw);
        if (i < 0 || pw != 1) Fatal("Erreur impossible dans analyse\n");
        // A copy: the scaling makes f monic, which changes f's coefficients.
        const C c = D::copy(first ? p->coef : p->next->coef);
        if (!want_quiet) {
            const C kept = var_term->coef;
            P* next = var_term->next;
            var_term->coef = D::one();
            if (!first) var_term->next = nullptr;  // x_i alone
            detail::trace_scaling(var_term, i, c);
            D::kill(var_term->coef);
            var_term->coef = kept;
            var_term->next = next;
        }
        w[unsigned(i)] *= D::to_unsigned(c);
        E e[kMaxExpoWords];
        X::copy(e, var_term->exp);
        M::substitute(e, c, f);
        D::kill(c);
        l = f;
    }
    D::kill(minus_one);
    Output("#weights <");
    for (std::uint32_t x : w) Output("%u ", x);
    Output(">\n");
}

}  // namespace tesk::poly

#endif
