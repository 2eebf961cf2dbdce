// Definitions of the polynomial printers (print.h).  Included only by the
// files that instantiate them, one per instance.
#ifndef TESK_POLY_PRINT_IMPL_H
#define TESK_POLY_PRINT_IMPL_H

#include <cstdio>
#include <type_traits>
#include <vector>

#include "tesk/base/switches.h"
#include "tesk/poly/print.h"
#include "tesk/poly/protocol.h"
#include "tesk/base/front_end.h"

namespace tesk::poly {

// How each domain's coefficients print.
template <class D> struct Coef_Print;
template <>
struct Coef_Print<VGF_Domain> {
    template <class Pr> static Pr put(Pr p, VGF c) { return p << c; }
    static bool neg_one(VGF c) { return vgf::is_neg_one(c); }
    static int sign(VGF c) { return vgf::pseudo_sgn(c); }
    static bool compound(VGF c) { return vgf::is_complex(c); }
    static Fortran_Print rational(Fortran_Print p, VGF a, VGF den) { return vgf::fortran_pseudo_rational(p, a, den); }
    static VGF zero(std::vector<std::uint32_t>& room) {  // a zero held in room, off the heap
        room.assign(size_of_vectors, 0);
        return VGF(room.data());
    }
    static int& want_to_save() { return vgf::want_to_save; }
    static WBUS* save_channel() { return vgf::bin_save_file; }
};
template <>
struct Coef_Print<GFC_Domain> {
    template <class Pr> static Pr put(Pr p, unsigned c) { return p << Uniq_GFC(c); }
    static bool neg_one(unsigned c) { return gfc::is_neg_one(c); }
    static int sign(unsigned c) { return gfc::pseudo_sgn(c); }
    static bool compound(unsigned c) { return gfc::is_complex(c); }
    static Fortran_Print rational(Fortran_Print p, unsigned a, unsigned den) {
        return gfc::fortran_pseudo_rational(p, a, den);
    }
    static unsigned zero(std::vector<std::uint32_t>&) { return 0; }
    static int& want_to_save() { return gfc::want_to_save; }
    static WBUS* save_channel() { return gfc::bin_save_file; }
};

namespace print_detail {
template <class I> using X = expo::Packed<typename I::L>;
template <class I> using CP = Coef_Print<typename I::D>;

// The plain form.  den: every coefficient shown goes over *den, the
// coefficient 1 included (pseudo_rational_fortran); null: plain
// coefficients, over the leading one with want_rational_output.
template <class I>
Fortran_Print plain(Fortran_Print p, Term<I>* q, const typename I::D::C* den) {
    q = Dmp<I>::strip(q);
    if (!q) return p << "0";
    const bool every = den != nullptr;
    const typename I::D::C lead = q->coef;
    if (!den && want_rational_output) den = &lead;
    const bool coefs = Dmp<I>::memo_print_coef != 0;
    for (Term<I>* t = q; t; t = t->next) {
        if (t != q) p = p << '+';
        auto coef = [&] { return den ? CP<I>::rational(p, t->coef, *den) : CP<I>::put(p, t->coef); };
        if (X<I>::null(t->exp)) {
            p = coefs ? coef() : p << '?';
            continue;
        }
        if (coefs) {
            if (every || !I::D::is_one(t->coef) || want_Host_output) p = coef() << '*';
        } else if (want_raw_output) {
            p = CP<I>::put(p, t->coef) << '*';
        }
        p = X<I>::fortran(p, t->exp);
    }
    return p;
}

// A view of l for AFFICHE: the last cell only (want_last_equation), each
// polynomial's leading term only (want_head).  The view's own cells and
// terms (sharing the caller's coefficients) go back by release().
template <class I>
struct View {
    using M = Dmp<I>;
    List<I>* list;
    bool own = false;
    explicit View(List<I>* l) : list(l) {
        if (!l || !(want_head || want_last_equation)) return;
        if (want_last_equation)
            while (l->next) l = l->next;
        Chain<List<I>> cells;
        for (; l; l = l->next) {
            Term<I>* e = l->elt;
            if (want_head && (e = M::strip(e))) {
                Term<I>* h = M::Terms::new_();
                h->coef = e->coef;
                X<I>::copy(h->exp, e->exp);
                h->next = nullptr;
                e = h;
            }
            List<I>* c = M::Lists::new_();
            c->elt = e;
            cells.add(c);
        }
        list = cells.finish();
        own = true;
    }
    ~View() {
        if (!own) return;
        if (want_head)
            for (List<I>* c = list; c; c = c->next) M::Terms::kill_top(c->elt);
        M::Lists::free_all(list);
    }
    View(const View&) = delete;
    View& operator=(const View&) = delete;
};
}  // namespace print_detail

// -------------------------------------------------------------- plain form
template <class I>
Fortran_Print Print<I>::fortran(Fortran_Print p, P* q) {
    return print_detail::plain<I>(p, q, nullptr);
}

template <class I>
Fortran_Print Print<I>::pseudo_rational(Fortran_Print p, P* q, C den) {
    return print_detail::plain<I>(p, q, &den);
}

// ------------------------------------------------------------- pretty form
template <class I>
Basic_Print Print<I>::pretty(Basic_Print p, P* q) {
    using CP = print_detail::CP<I>;
    q = Dmp<I>::strip(q);
    if (!q) return p << "0";
    for (P* t = q; t; t = t->next) {
        const C c = t->coef;
        if (t != q && CP::sign(c) == 1) p = p << "+ ";
        if (print_detail::X<I>::null(t->exp)) {
            p = CP::put(p, c);
            continue;
        }
        if (I::D::is_one(c)) {
        } else if (CP::neg_one(c)) {
            p = p << "- ";
        } else if (CP::compound(c)) {
            p = CP::put(p << "(", c) << ")";
        } else {
            p = CP::put(p, c);
        }
        p = print_detail::X<I>::zpretty(p, t->exp);
    }
    return p;
}

// ---------------------------------------------------------------- TeX form
template <class I>
Tex_Print Print<I>::tex(Tex_Print p, P* q) {
    q = Dmp<I>::strip(q);
    if (!q) return p << "$0$";
    p = p << "$";
    p = print_detail::X<I>::null(q->exp) ? p << "1" : print_detail::X<I>::tex(p, q->exp);
    return p << " + ..." << "$";
}

// --------------------------------------------------------------- Lisp form
template <class I>
void Print<I>::lisp_monom(P* t) {
    Lisp_Print p = print_detail::CP<I>::put(Lisp_Print() << "#(", t->coef) << ' ';
    for (unsigned i = 0, n = I::L::n(); i < n; ++i) p = p << print_detail::X<I>::extraire(t->exp, i) << ' ';
    p << ')';
}

template <class I>
Lisp_Print Print<I>::lisp(Lisp_Print p, P* q) {
    q = Dmp<I>::strip(q);
    if (!q) return p << "NIL";
    return print_joined(p, q, "(", " ", ")", [](Lisp_Print r, P* t) { return lisp_monom(t), r; });
}

// -------------------------------------------------------------- PoSSo form
template <class I>
Posso_Print Print<I>::posso(Posso_Print p, P* q) {
    q = Dmp<I>::strip(q);
    const bool coefs = Dmp<I>::memo_print_coef != 0;
    return print_joined(p, q, "{", ",", "}", [coefs](Posso_Print r, P* t) {
        if (print_detail::X<I>::null(t->exp)) return coefs ? print_detail::CP<I>::put(r, t->coef) : r << "?";
        if (coefs) r = print_detail::CP<I>::put(r, t->coef);
        return print_detail::X<I>::posso(r, t->exp);
    });
}

// ---------------------------------------------------------------- NTL form
template <class I>
void Print<I>::NTL(P* q) {
    q = Dmp<I>::strip(q);
    // The table spans the largest degree of any term, not only the leading one.
    unsigned d = 0;
    for (P* t = q; t; t = t->next) d = std::max(d, print_detail::X<I>::totalDegree(t->exp));
    std::vector<P*> at(std::size_t(d) + 1, nullptr);
    for (P* t = q; t; t = t->next) at[print_detail::X<I>::totalDegree(t->exp)] = t;
    std::vector<std::uint32_t> room;
    const C zero = print_detail::CP<I>::zero(room);
    Fortran_Print p = Fortran << "[";
    for (P* t : at) p = print_detail::CP<I>::put(p << ' ', t ? t->coef : zero);
    p << "]\n";
}

template <class I>
void Print<I>::NTL_List(Lst* l) {
    for (; l; l = l->next) NTL(l->elt);
}

// ----------------------------------------------------------------- AFFICHE
template <class I>
void Print<I>::affiche(Lst* l) {
    print_detail::View<I> view(want_output ? l : nullptr);
    if (want_output) {
        if (want_fortran && want_host_input) {
            Fortran << "[\n";
            for (Lst* c = view.list; c; c = c->next) fortran(Fortran, c->elt) << "\n";
            Fortran << "]\n";
        } else if (want_fortran) {
            fortran(Fortran, view.list);
        } else if (want_posso_output) {
            posso(Posso, view.list);
        } else {
            pretty(Pretty, view.list);
        }
    }
    if (print_detail::CP<I>::want_to_save() && print_detail::CP<I>::save_channel())
        Wire<I>::out_protocol_list(*print_detail::CP<I>::save_channel(), want_output ? view.list : l, 0);
}

template <class I>
void Print<I>::affiche(LL* l) {
    if (want_output) {
        if (want_fortran)
            fortran(Fortran, l);
        else if (want_posso_output)
            posso(Posso, l);
        else
            pretty(Pretty, l);
    }
    if (print_detail::CP<I>::want_to_save() && print_detail::CP<I>::save_channel())
        Wire<I>::out_protocol_list_list(*print_detail::CP<I>::save_channel(), l, 0);
}

template <class I>
char* Print<I>::fill(char* dst, const char* fmt) {
    std::sprintf(dst, fmt, I::L::kName, I::D::kName);
    return dst;
}

// ------------------------------------------------------------------- pairs
template <class I>
Fortran_Print Print<I>::fortran(Fortran_Print p, Pair* s) requires(I::kPairs) {
    if (!s) return p << "[]";
    p = p << "[lcmfij= ";
    print_detail::X<I>::zprint(s->lcmfij);  // the raw exponents, on Pretty
    p = fortran(p << ",totdeg= " << s->totdeg << ",poli= ", s->poli);
    return fortran(p << ",polj= ", s->polj) << "]";
}

template <class I>
Basic_Print Print<I>::pretty(Basic_Print p, Pair* s) requires(I::kPairs) {
    if (!s) return p << "[]";
    p = p << "[lcmfij= ";
    print_detail::X<I>::zprint(s->lcmfij);
    p = pretty(p << ",totdeg= " << s->totdeg << ",poli= ", s->poli);
    return pretty(p << ",polj= ", s->polj) << "]";
}

template <class I>
Fortran_Print Print<I>::pseudo_list(Fortran_Print p, Pair* s) requires(I::kPairs) {
    // Spelled for compilers that instantiate a constrained member with the
    // class even when its constraint does not hold.
    if constexpr (I::kPairs)
        return print_joined(p, s, "[", " , ", "]", [](Fortran_Print r, Pair* c) { return fortran(r, c); });
    else
        return p;
}

}  // namespace tesk::poly

#endif
