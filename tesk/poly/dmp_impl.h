// Definitions of the polynomial package (dmp.h): records, package set-up and
// arithmetic.  The reduction primitives and the transformations follow in
// reduce_impl.h and transform_impl.h.  Included only by the files that
// instantiate the package, one per instance.
#ifndef TESK_POLY_DMP_IMPL_H
#define TESK_POLY_DMP_IMPL_H

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "tesk/poly/dmp.h"
#include "tesk/poly/family_impl.h"
#include "tesk/poly/scrit.h"

namespace tesk::poly {

// ------------------------------------------------------------- record hooks
template <class I>
void Term_Spec<I>::on_kill(R* r) {
    if (r->exp[0].w == kHeaderMark) {
        Family<Stats_Spec<I>>::kill(r->stats);
        r->exp[0].w = 0;
    } else {
        I::D::kill(r->coef);
    }
}

template <class I>
void Term_Spec<I>::copy_fields(R* d, const R* s) {
    if (s->exp[0].w == kHeaderMark) {
        Stats<I>* st = Family<Stats_Spec<I>>::new_();
        *st = *s->stats;
        d->stats = st;
        d->exp[0].w = kHeaderMark;
    } else {
        d->coef = I::D::copy(s->coef);
        expo::Packed<typename I::L>::copy(d->exp, s->exp);
    }
    d->next = s->next;
}

template <class I, class Cell>
void Cell_Spec<I, Cell>::on_kill_all(R* r) {
    if constexpr (kOfPolys)
        Family<Term_Spec<I>>::kill_all(r->elt);
    else
        List_Family<List_Spec<I>>::kill_all(r->elt);
}
template <class I, class Cell>
auto Cell_Spec<I, Cell>::copy_elt(Elt e) -> Elt {
    if constexpr (kOfPolys)
        return Family<Term_Spec<I>>::copy(e);
    else
        return List_Family<List_Spec<I>>::copy_all(e);
}
template <class I, class Cell>
unsigned Cell_Spec<I, Cell>::hash_elt(Elt e, unsigned seed) {
    if constexpr (kOfPolys)
        return Dmp<I>::Hash(e, seed);
    else
        return List_Family<List_Spec<I>>::Hash(e, seed);
}

// ------------------------------------------------------------------ state
template <class I> unsigned Dmp<I>::MAX_COEF = 20000;
template <class I> unsigned Dmp<I>::gensym = 0;
template <class I> int Dmp<I>::have_sentinelle = 1;
template <class I> unsigned Dmp<I>::memo_print_coef = 1;
template <class I> const char* Dmp<I>::info_string = nullptr;
template <class I> void (*Dmp<I>::handler)() = &Dmp<I>::inter_info;
template <class I> List<I>* Dmp<I>::old_base = nullptr;
template <class I> Term<I>* Dmp<I>::memo_all_monoms = nullptr;

// Sets the phase text for the life of a reduction.
struct Phase {
    const char*& slot;
    Phase(const char*& s, const char* text) : slot(s) { slot = text; }
    ~Phase() { slot = nullptr; }
};

template <class I>
void Dmp<I>::init() {
    static bool done = false;
    if (done) return;
    // A capacity of 0 would leave the compaction no room however often it
    // doubled: a variable that is not a positive number keeps the default.
    MAX_COEF = 600000;
    if (const char* s = std::getenv("TESK_MAX_COEF")) {
        const int v = std::atoi(s);
        if (v > 0) MAX_COEF = unsigned(v);
    }
    D::init();
    I::init_expo();
    Lists::init_Objet();
    Lists2::init_Objet();
    Stat::init_Objet();
    done = true;
}

template <class I>
void Dmp<I>::set(unsigned n, unsigned a, unsigned b) {
    init();
    I::set_nb_var(n, a, b);
    if (L::words() > kMaxExpoWords)
        Fatal("%u variables need %u exponent words in %s (at most %u)\n", n, L::words(), I::kDMP, kMaxExpoWords);
    const bool resized = !Terms::root || Terms::last_Objet != L::words();
    Terms::init_Objet();
    if (!resized) return;
    // Records cut for the old size must not come back into use.
    old_base = nullptr;
    memo_all_monoms = nullptr;
    if constexpr (I::kPairs) {
        using Pairs = Family<SCrit_Spec<I>>;
        if (Pairs::root) Pairs::init_Objet();
    }
}

template <class I>
Term<I>* Dmp<I>::parse_new() {
    P* t = Terms::new_();
    t->next = nullptr;
    return t;
}

template <class I>
void Dmp<I>::inter_info() {
    Output("Polynomes(%s) a coef ", I::kDMP);
    Output("%s\n", D::kName);
    Terms::how_much();
    if (info_string)
        Output("package %s: %s\n", I::kDMP, info_string);
    else
        Output("package %s non actif ou pas d'infos !\n", I::kDMP);
}

// ----------------------------------------------------------- construction
template <class I>
Term<I>* Dmp<I>::term(C c, const E* e) {
    P* t = Terms::new_();
    t->coef = c;
    X::copy(t->exp, e);
    return t;
}

template <class I>
Term<I>* Dmp<I>::term(C c, const E* a, const E* b) {
    P* t = Terms::new_();
    t->coef = c;
    X::add(a, b, t->exp);
    return t;
}

template <class I>
Term<I>* Dmp<I>::one() {
    P* t = Terms::new_();
    t->coef = D::one();
    X::set_null(t->exp);
    t->next = nullptr;
    return t;
}

template <class I>
Term<I>* Dmp<I>::Coerce_from_d(C a) {
    if (D::is_zero(a)) return nullptr;
    P* t = Terms::new_();
    t->coef = a;
    X::set_null(t->exp);
    t->next = nullptr;
    return t;
}

template <class I>
Term<I>* Dmp<I>::monom(const E* e, C c) {
    if (D::is_zero(c)) return nullptr;
    P* t = term(c, e);
    t->next = nullptr;
    return t;
}

template <class I>
Term<I>* Dmp<I>::monom(const E* e1, const E* e2, C c) {
    if (D::is_zero(c)) return nullptr;
    P* t = term(c, e1, e2);
    t->next = nullptr;
    return t;
}

template <class I>
Term<I>* Dmp<I>::monom(const E* e, C c, P* p) {
    if (D::is_zero(c)) return p;
    P* t = term(c, e);
    t->next = p;
    return t;
}

template <class I>
void Dmp<I>::check_raw(const std::uint16_t* exps) {
    unsigned deg[2] = {0, 0};
    for (unsigned i = 0, n = L::n(); i < n; ++i) {
        if (exps[i] > X::kMaxExp)
            Fatal("Exponent %u of variable %u does not fit the exponents of %s (at most %u)\n", unsigned(exps[i]),
                  i + 1, L::kName, X::kMaxExp);
        deg[X::block_of_var(i)] += exps[i];
    }
    if constexpr (L::kDegBlocks > 0)
        for (unsigned d : deg)
            if (d > X::kMaxDeg)
                Fatal("Degree %u does not fit the exponents of %s (at most %u)\n", d, L::kName, X::kMaxDeg);
}

template <class I>
Term<I>* Dmp<I>::monom_raw(const std::uint16_t* exps, C c) {
    check_raw(exps);
    if (D::is_zero(c)) return nullptr;
    P* t = Terms::new_();
    t->coef = c;
    X::set_null(t->exp);
    for (unsigned i = 0, n = L::n(); i < n; ++i)
        if (exps[i]) X::ranger(t->exp, exps[i], i);
    t->next = nullptr;
    return t;
}

template <class I>
Term<I>* Dmp<I>::monom_raw(const std::uint16_t* exps, typename D::Value v) {
    check_raw(exps);
    return monom_raw(exps, D::from_value(v));
}

template <class I>
Term<I>* Dmp<I>::monom_raw(const std::uint16_t* exps, const std::uint32_t* residues, unsigned k) {
    check_raw(exps);
    return monom_raw(exps, D::from_residues(residues, k));
}

// A fresh chain: one new record per term of p, filled by fill(new, old).
template <class I, class Fill>
Term<I>* fresh_chain(Term<I>* p, Fill fill) {
    Chain<Term<I>> out;
    for (; p; p = p->next) {
        Term<I>* t = Family<Term_Spec<I>>::new_();
        fill(t, p);
        out.add(t);
    }
    return out.finish();
}

template <class I>
Term<I>* Dmp<I>::skel(P* p) {
    return fresh_chain(p, [](P* t, P* s) {
        t->coef = D::one();
        X::copy(t->exp, s->exp);
    });
}

// ------------------------------------------------------ scaling and shifts
template <class I>
Term<I>* Dmp<I>::scal(C c, P* p) {
    if (D::is_one(c)) return p;
    for (P* t = p; t; t = t->next) D::mult_d(t->coef, c);
    return p;
}

template <class I>
Term<I>* Dmp<I>::scal_Monom(C c, P* t) {
    if (D::is_one(c)) return t;
    if (D::is_zero(c)) return Terms::kill(t);
    D::mult_d(t->coef, c);
    return t;
}

template <class I>
Term<I>* Dmp<I>::inv_scal(C c, P* p) {
    for (P* t = p; t; t = t->next) D::quot_d(t->coef, c);
    return p;
}

template <class I>
Term<I>* Dmp<I>::copy_scal(C c, P* p) {
    if (D::is_one(c)) return copy(p);
    return fresh_chain(p, [c](P* t, P* s) {
        t->coef = D::mult(c, s->coef);
        X::copy(t->exp, s->exp);
    });
}

template <class I>
Term<I>* Dmp<I>::hMonic(P* p) {
    if (!p || D::is_one(p->coef)) return p;
    const C k = D::inv(p->coef);
    for (P* t = p; t; t = t->next) D::mult_d(t->coef, k);
    return p;
}

template <class I>
List<I>* Dmp<I>::hMonic_List(Lst* l) {
    return each(l, hMonic);
}

template <class I>
Term<I>* Dmp<I>::neg_d(P* p) {
    for (P* t = p; t; t = t->next) D::neg_d(t->coef);
    return p;
}

// Out of line: the merges that call it stay as lean as before.
template <class I>
[[gnu::noinline, gnu::cold]] void Dmp<I>::check_products(const E* m, const P* p) {
    for (; p; p = p->next)
        if (!X::sum_in_range(m, p->exp)) X::sum_overflow(m, p->exp);
}

template <class I>
Term<I>* Dmp<I>::dec(C c, const E* m, P* p) {
    const bool scale = !D::is_one(c);
    if (p && !X::products_in_range(m, p->exp)) check_products(m, p);
    for (P* t = p; t; t = t->next) {
        X::add(t->exp, m, t->exp);
        if (scale) D::mult_d(t->coef, c);
    }
    return p;
}

template <class I>
Term<I>* Dmp<I>::copy_dec(C c, const E* m, P* p) {
    if (!p || X::products_in_range(m, p->exp)) return shifted_copy<false>(c, m, p);
    return shifted_copy<true>(c, m, p);
}

template <class I>
template <bool Check>
Term<I>* Dmp<I>::shifted_copy(C c, const E* m, P* p) {
    auto check = [m](const P* s) {
        if constexpr (Check)
            if (!X::sum_in_range(m, s->exp)) X::sum_overflow(m, s->exp);
    };
    if (D::is_one(c))
        return fresh_chain(p, [m, check](P* t, P* s) {
            check(s);
            t->coef = D::copy(s->coef);
            X::add(m, s->exp, t->exp);
        });
    return fresh_chain(p, [c, m, check](P* t, P* s) {
        check(s);
        t->coef = D::mult(c, s->coef);
        X::add(m, s->exp, t->exp);
    });
}

template <class I>
Term<I>* Dmp<I>::shift(const E* m, P* p) {
    if (p && !X::products_in_range(m, p->exp)) check_products(m, p);
    for (P* t = p; t; t = t->next) X::add(t->exp, m, t->exp);
    return p;
}

template <class I>
Term<I>* Dmp<I>::rotate(const E* m, P* p) {
    return fresh_chain(p, [m](P* t, P* s) {
        t->coef = D::one();
        X::add(m, s->exp, t->exp);
    });
}

template <class I>
typename I::D::C Dmp<I>::content(P* p) {
    return p ? D::inv(p->coef) : D::one();
}

// ------------------------------------------------------ sums and products
// One pass over both chains, reusing their records.  Head: the greater
// leading term; equal leads are added (Sum) and dropped, the search starting
// again, when they cancel; without Sum b's term is dropped.  Then prev is the
// last term placed, its successor the walked chain and b the other chain: a
// greater term of b swaps the two roles.
template <class I>
template <bool Sum>
Term<I>* Dmp<I>::merge(P* a, P* b) {
    for (;;) {
        if (!a) return b;
        if (!b) return a;
        const int c = X::greater(a->exp, b->exp);
        if (c > 0) break;
        if (c < 0) {
            std::swap(a, b);
            break;
        }
        if constexpr (Sum) D::add_d(a->coef, b->coef);
        b = Terms::kill(b);
        if (!Sum || D::test(a->coef)) break;
        a = Terms::kill(a);
    }
    P* prev = a;
    while (b) {
        P* cur = prev->next;
        if (!cur) {
            prev->next = b;
            break;
        }
        const int c = X::greater(cur->exp, b->exp);
        if (c > 0) {
            prev = cur;
        } else if (c < 0) {
            prev->next = b;
            prev = b;
            b = cur;
        } else {
            if constexpr (Sum) D::add_d(cur->coef, b->coef);
            b = Terms::kill(b);
            if (!Sum || D::test(cur->coef))
                prev = cur;
            else
                prev->next = Terms::kill(cur);
        }
    }
    return a;
}

template <class I>
Term<I>* Dmp<I>::add_dd(P* a, P* b) {
    return merge<true>(a, b);
}

template <class I>
Term<I>* Dmp<I>::or_dd(P* a, P* b) {
    return merge<false>(a, b);
}

template <class I>
Term<I>* Dmp<I>::mult_dd(P* a, P* b) {
    if (!b) {
        Terms::kill_all(a);
        return nullptr;
    }
    P* r = nullptr;
    for (P* t = b; t && a; t = t->next)
        r = add_dd(r, t->next ? copy_dec(t->coef, t->exp, a) : dec(t->coef, t->exp, a));
    return r;
}

template <class I>
Term<I>* Dmp<I>::mult(P* a, P* b) {
    return b ? mult_dd(copy(a), b) : nullptr;
}

template <class I>
Term<I>* Dmp<I>::mul_dd(P* a, P* b) {
    if (!a || !b) {
        Terms::kill_all(a);
        Terms::kill_all(b);
        return nullptr;
    }
    P* lng = a;
    P* sht = b;
    if (Terms::size(b) > Terms::size(a)) std::swap(lng, sht);
    while (sht && !D::test(sht->coef)) sht = Terms::kill(sht);
    P* r = nullptr;
    bool used = false;
    while (sht) {
        P* t = sht;
        sht = t->next;
        if (D::test(t->coef)) {
            used = !sht;
            r = add_dd(r, dec(t->coef, t->exp, sht ? copy(lng) : lng));
        }
        Terms::kill(t);
    }
    if (!used) Terms::kill_all(lng);
    return r;
}

// ---------------------------------------------------------------- queries
template <class I>
unsigned Dmp<I>::totalDegree(P* p) {
    if (!p) return 0;
    if constexpr (L::kDegBlocks == 0) {
        unsigned d = 0;
        for (; p; p = p->next) d = std::max(d, X::totalDegree(p->exp));
        return d;
    } else {
        return X::totalDegree(p->exp);
    }
}

template <class I>
unsigned Dmp<I>::totalDegree_DMP(P* p) {
    unsigned d = 0;
    for (unsigned i = 0, n = L::n(); i < n; ++i) d += X::extraire(p->exp, i);
    return d;
}

template <class I>
int Dmp<I>::constante(P* p) {
    return !p || X::null(p->exp);
}

template <class I>
int Dmp<I>::is_univariate(P* p) {
    int v = -1;
    for (; p; p = p->next)
        for (unsigned i = 0, n = L::n(); i < n; ++i)
            if (X::extraire(p->exp, i)) {
                if (v < 0)
                    v = int(i);
                else if (v != int(i))
                    return -1;
            }
    return v;
}

template <class I>
int Dmp<I>::size(P* p) {
    unsigned s = 0;
    for (; p; p = p->next) s = std::max(s, unsigned(D::size(p->coef)));
    return int(s);
}

template <class I>
int Dmp<I>::size(Lst* l) {
    unsigned s = 0;
    for (; l; l = l->next) s = std::max(s, unsigned(size(l->elt)));
    return int(s);
}

template <class I>
double Dmp<I>::estime_log(P* p) {
    double s = 0.0;
    for (; p; p = p->next) s = std::max(s, D::estime_log(p->coef));
    return s;
}

template <class I>
double Dmp<I>::estime_log(Lst* l) {
    double s = 0.0;
    for (; l; l = l->next) s = std::max(s, estime_log(l->elt));
    return s;
}

template <class I>
Term<I>* Dmp<I>::purge_zero(P* p) {
    if (p && D::is_zero(p->coef)) {
        Terms::kill_all(p);
        return nullptr;
    }
    return p;
}

template <class I>
int Dmp<I>::eq(P* a, P* b) {
    for (; a && b; a = a->next, b = b->next)
        if (!X::eq(a->exp, b->exp) || !D::equal(a->coef, b->coef)) return 0;
    return !a && !b;
}

template <class I>
int Dmp<I>::is_eliminated(P* p, unsigned k) {
    for (; p; p = p->next)
        if (!X::is_eliminated(p->exp, k)) return 0;
    return 1;
}

template <class I>
int Dmp<I>::is_eliminated(P* p) {
    for (; p; p = p->next)
        if (!I::is_eliminated(p->exp)) return 0;
    return 1;
}

template <class I>
Term<I>* Dmp<I>::find(unsigned id, Lst* l) {
    for (; l; l = l->next)
        if (P* p = l->elt; p && is_header(p) && p->stats->id == id) return p;
    return nullptr;
}

template <class I>
Term<I>* Dmp<I>::find(unsigned id, Lst* l1, Lst* l2) {
    P* p = find(id, l1);
    return p ? p : find(id, l2);
}

template <class I>
Term<I>* Dmp<I>::link_one(P* p) {
    return link_one(p, ++gensym);
}

// The statistics start from the polynomial itself: the sugar is its largest
// total degree, the other words zero.
template <class I>
Term<I>* Dmp<I>::link_one(P* p, unsigned id) {
    St* st = Stat::new_();
    st->sugar = 0;
    for (P* t = p; t; t = t->next) st->sugar = std::max<std::uint32_t>(st->sugar, X::totalDegree(t->exp));
    st->aux = 0;
    st->extra = 0;
    st->id = id;
    P* h = Terms::new_();
    h->stats = st;
    h->exp[0].w = kHeaderMark;
    h->next = p;
    return h;
}

template <class I>
unsigned Dmp<I>::print_coef(unsigned flag) {
    const unsigned old = memo_print_coef;
    memo_print_coef = flag;
    return old;
}

// ------------------------------------------------------------ comparators
namespace detail {
// The order of leading exponents, a zero polynomial below every other.
template <class X, class P>
int lead_order(P* p, P* q) {
    if (!p) return q ? -1 : 0;
    if (!q) return 1;
    return X::greater(p->exp, q->exp);
}
// greater2 of the leading exponents, a zero polynomial last in its sort.
template <class X, class P>
int lead_order2(P* p, P* q) {
    if (!p) return q ? 1 : 0;
    if (!q) return -1;
    return X::greater2(p->exp, q->exp);
}
}  // namespace detail

template <class I>
int Dmp<I>::comp(P* a, P* b) { return X::greater(b->exp, a->exp); }
template <class I>
int Dmp<I>::comp_rev(P* a, P* b) { return X::greater(a->exp, b->exp); }
template <class I>
int Dmp<I>::comp_lex(P* a, P* b) { return X::lex_greater(a->exp, b->exp); }
template <class I>
int Dmp<I>::comp2(P* a, P* b) { return X::greater2(b->exp, a->exp); }
template <class I>
int Dmp<I>::comp_List(Lst* c, Lst* d) { return detail::lead_order<X>(d->elt, c->elt); }
template <class I>
int Dmp<I>::comp_rev_List(Lst* c, Lst* d) { return detail::lead_order<X>(c->elt, d->elt); }
template <class I>
int Dmp<I>::comp_garb_List(Lst* c, Lst* d) { return detail::lead_order<X>(strip(d->elt), strip(c->elt)); }
template <class I>
int Dmp<I>::comp2_List(Lst* c, Lst* d) { return detail::lead_order2<X>(strip(c->elt), strip(d->elt)); }

// ----------------------------------------------------------------- hashes
template <class I>
unsigned Dmp<I>::Hash_Monom(P* t) {
    return (std::uint32_t(X::Hash(t->exp, 0)) + D::hash(t->coef, 0)) % 16777213u;
}

template <class I>
unsigned Dmp<I>::Hash(P* p, unsigned seed) {
    std::uint32_t h = seed;
    for (; p; p = p->next) h = ((h << 8) + Hash_Monom(p)) % 16777213u;
    return h;
}

}  // namespace tesk::poly

#include "tesk/poly/reduce_impl.h"
#include "tesk/poly/transform_impl.h"

#endif
