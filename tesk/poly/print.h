// Text forms of polynomials, lists and lists of lists in each printer syntax
// (print.h of the base), the dense NTL form of univariate polynomials, the
// AFFICHE list operators, and the pair printers.  Written once (Print<I>);
// the operators are overloaded on the record types and found by
// argument-dependent lookup; TESK_PRINT_NAMES gives the per-instance names.
//
//   plain  (Fortran_Print)  terms joined by "+", "c*x^2*y", the coefficient 1
//                           left out (written with want_Host_output), "0" for
//                           zero; lists "[p,q]"; coefficients over the leading
//                           one with want_rational_output
//   pretty (Basic_Print)    "+ " between terms, exponents on the upper line;
//                           lists "[p,q]", header-led lists "[p , q]"
//   TeX    (Tex_Print)      the leading monomial only: "$x^{2}\,y + ...$"
//   Lisp   (Lisp_Print)     "(#(c e0 e1 ... ) ...)", "NIL" for zero / empty
//   PoSSo  (Posso_Print)    "{ca2b,...}", lists "{p , q}"
//   NTL                     "[ c0 c1 ... cd]" by total degree, on Fortran's stream
// With the coefficient switch (memo_print_coef) at 0 the plain and PoSSo
// forms leave coefficients out and write a constant as "?".  A header cell
// in front of a polynomial is never printed: printing starts after it.
//
// AFFICHE << list: nothing with want_output 0; else, on a view of the list
// (want_head: leading terms only; want_last_equation: the last polynomial
// only) the form the switches choose -- plain (one polynomial a line with
// want_host_input), else PoSSo, else pretty.  Then, when want_to_save and
// bin_save_file are set, the same view goes to the save channel in protocol
// form.  The caller's list is never changed.
#ifndef TESK_POLY_PRINT_H
#define TESK_POLY_PRINT_H

#include "tesk/base/print.h"
#include "tesk/poly/dmp.h"
#include "tesk/poly/scrit.h"

namespace tesk::poly {

// open, item(p, r) for every record r of the chain c joined by sep, close.
template <class Pr, class R, class F>
Pr print_joined(Pr p, R* c, const char* open, const char* sep, const char* close, F item) {
    p = p << open;
    for (; c; c = c->next) {
        p = item(p, c);
        if (c->next) p = p << sep;
    }
    return p << close;
}
// The elements of the cells of l, each through its own operator<<.
template <class Pr, class Cell>
Pr print_elements(Pr p, Cell* l, const char* open, const char* sep, const char* close) {
    return print_joined(p, l, open, sep, close, [](Pr r, Cell* c) { return r << c->elt; });
}

template <class I>
struct Print {
    using P = Term<I>;
    using Lst = List<I>;
    using LL = List_List<I>;
    using C = typename I::D::C;
    using Pair = SCrit<I>;

    static Fortran_Print fortran(Fortran_Print p, P* q);  // plain form (internal_fortran)
    // Plain form with every shown coefficient over den (the coefficient 1 included).
    static Fortran_Print pseudo_rational(Fortran_Print p, P* q, C den);
    static Fortran_Print fortran(Fortran_Print p, Lst* l) { return print_elements(p, l, "[", ",", "]"); }
    static Fortran_Print fortran(Fortran_Print p, LL* l) { return print_elements(p, l, "[", ",", "]"); }
    static Basic_Print pretty(Basic_Print p, P* q);
    static Basic_Print pretty(Basic_Print p, Lst* l) { return print_elements(p, l, "[", ",", "]"); }
    static Basic_Print pretty(Basic_Print p, LL* l) { return print_elements(p, l, "[", ",", "]"); }
    // Header-led lists: each polynomial from the cell after its header.
    static Basic_Print pretty(Basic_Print p, Garb_List<I> l) { return print_elements(p, l.l, "[", " , ", "]"); }
    static Tex_Print tex(Tex_Print p, P* q);
    static Lisp_Print lisp(Lisp_Print p, P* q);
    static Lisp_Print lisp(Lisp_Print p, Lst* l) { return l ? print_elements(p, l, "(", " ", ")") : p << "NIL"; }
    static Lisp_Print lisp(Lisp_Print p, LL* l) { return l ? print_elements(p, l, "(", " ", ")") : p << "NIL"; }
    static Lisp_Print lisp(Lisp_Print p, Garb_List<I> l) { return lisp(p, l.l); }
    static void lisp_monom(P* t);  // one term "#(c e0 ... )" on lisp_file
    static Posso_Print posso(Posso_Print p, P* q);
    static Posso_Print posso(Posso_Print p, Lst* l) { return print_elements(p, l, "{", " , ", "}"); }
    static Posso_Print posso(Posso_Print p, LL* l) { return print_elements(p, l, "{", " , ", "}"); }
    // "[ c0 c1 ... cd]\n" on the stream of Fortran, d the largest total degree.
    static void NTL(P* q);
    static void NTL_List(Lst* l);  // one line per polynomial
    static void affiche(Lst* l);   // AFFICHE << list (see above)
    static void affiche(LL* l);    // the same for a list of lists (no view)
    // fmt (two %s: the exponent and coefficient type names) formatted into dst.
    static char* fill(char* dst, const char* fmt);

    // Pairs: "[lcmfij= " the lcm (raw, on Pretty), ",totdeg= " d, ",poli= "
    // p, ",polj= " q "]" with the polynomials after their header cells; a
    // null pair is "[]".  pseudo_list: "[" pairs joined by " , " "]".
    static Fortran_Print fortran(Fortran_Print p, Pair* s) requires(I::kPairs);
    static Basic_Print pretty(Basic_Print p, Pair* s) requires(I::kPairs);
    static Fortran_Print pseudo_list(Fortran_Print p, Pair* s) requires(I::kPairs);
};

// ------------------------------------------------------------- operators
template <class I> Fortran_Print operator<<(Fortran_Print p, Term<I>* q) { return Print<I>::fortran(p, q); }
template <class I> Fortran_Print operator<<(Fortran_Print p, List<I>* l) { return Print<I>::fortran(p, l); }
template <class I> Fortran_Print operator<<(Fortran_Print p, List_List<I>* l) { return Print<I>::fortran(p, l); }
template <class I> Basic_Print operator<<(Basic_Print p, Term<I>* q) { return Print<I>::pretty(p, q); }
template <class I> Basic_Print operator<<(Basic_Print p, List<I>* l) { return Print<I>::pretty(p, l); }
template <class I> Basic_Print operator<<(Basic_Print p, List_List<I>* l) { return Print<I>::pretty(p, l); }
template <class I> Basic_Print operator<<(Basic_Print p, Garb_List<I> l) { return Print<I>::pretty(p, l); }
template <class I> Tex_Print operator<<(Tex_Print p, Term<I>* q) { return Print<I>::tex(p, q); }
template <class I> Lisp_Print operator<<(Lisp_Print p, Term<I>* q) { return Print<I>::lisp(p, q); }
template <class I> Lisp_Print operator<<(Lisp_Print p, List<I>* l) { return Print<I>::lisp(p, l); }
template <class I> Lisp_Print operator<<(Lisp_Print p, List_List<I>* l) { return Print<I>::lisp(p, l); }
template <class I> Lisp_Print operator<<(Lisp_Print p, Garb_List<I> l) { return Print<I>::lisp(p, l); }
template <class I> Posso_Print operator<<(Posso_Print p, Term<I>* q) { return Print<I>::posso(p, q); }
template <class I> Posso_Print operator<<(Posso_Print p, List<I>* l) { return Print<I>::posso(p, l); }
template <class I> Posso_Print operator<<(Posso_Print p, List_List<I>* l) { return Print<I>::posso(p, l); }
template <class I> AFFICHE operator<<(AFFICHE a, List<I>* l) { return Print<I>::affiche(l), a; }
template <class I> AFFICHE operator<<(AFFICHE a, List_List<I>* l) { return Print<I>::affiche(l), a; }
template <class I> Fortran_Print operator<<(Fortran_Print p, SCrit<I>* s) { return Print<I>::fortran(p, s); }
template <class I> Basic_Print operator<<(Basic_Print p, SCrit<I>* s) { return Print<I>::pretty(p, s); }

template <class I> Fortran_Print internal_fortran(Fortran_Print p, Term<I>* q) { return Print<I>::fortran(p, q); }
template <class I>
Fortran_Print pseudo_rational_fortran(Fortran_Print p, Term<I>* q, typename I::D::C den) {
    return Print<I>::pseudo_rational(p, q, den);
}
template <class I> Fortran_Print pseudo_list(Fortran_Print p, SCrit<I>* s) { return Print<I>::pseudo_list(p, s); }

#define TESK_PRINT_DECLARE(inst, dom) extern template struct Print<inst>;
TESK_POLY_INSTANCES(TESK_PRINT_DECLARE)
#undef TESK_PRINT_DECLARE

}  // namespace tesk::poly

// The inspection functions carry the short instance name (BigDexp_VGF).
#define TESK_PRINT_SHORT_BigDexp__VGF BigDexp_VGF
#define TESK_PRINT_SHORT_BigLexp__VGF BigLexp_VGF
#define TESK_PRINT_SHORT_DRLDRL__GFC DRLDRL_GFC
#define TESK_PRINT_CAT2(a, b) a##b
#define TESK_PRINT_CAT(a, b) TESK_PRINT_CAT2(a, b)
#define TESK_PRINT_SHORT(I) TESK_PRINT_CAT(TESK_PRINT_SHORT_, I)

// Per-instance names.  The void* forms are for inspection from a debugger:
// polynomial (fsee2, see2) or list (fsee1, see1, fortran_List, pretty_List),
// plain on Fortran or pretty on Pretty, followed by a line feed except pretty_List.
#define TESK_PRINT_NAMES(I, DOM)                                                                    \
    TESK_FWD(NTL_DMP__##I, poly::Print<poly::I>::NTL)                                               \
    TESK_FWD(NTL_List_DMP__##I, poly::Print<poly::I>::NTL_List)                                     \
    TESK_FWD(lisp_monom_DMP__##I, poly::Print<poly::I>::lisp_monom)                                 \
    TESK_FWD(fill_DMP__##I, poly::Print<poly::I>::fill)                                             \
    inline void TESK_PRINT_CAT(fsee2_, TESK_PRINT_SHORT(I))(void* q) {                              \
        Fortran << static_cast<sDMP__##I*>(q) << "\n";                                              \
    }                                                                                               \
    inline void TESK_PRINT_CAT(fsee1_, TESK_PRINT_SHORT(I))(void* l) {                              \
        Fortran << static_cast<sList_DMP__##I*>(l) << "\n";                                         \
    }                                                                                               \
    inline void fortran_List_DMP__##I(void* l) { Fortran << static_cast<sList_DMP__##I*>(l) << "\n"; } \
    inline void fortran_List_List_DMP__##I(void* l) {                                               \
        Fortran << static_cast<sList_List_DMP__##I*>(l) << "\n";                                    \
    }                                                                                               \
    inline void TESK_PRINT_CAT(see2_, TESK_PRINT_SHORT(I))(void* q) {                               \
        Pretty << static_cast<sDMP__##I*>(q) << '\n';                                               \
    }                                                                                               \
    inline void TESK_PRINT_CAT(see1_, TESK_PRINT_SHORT(I))(void* l) {                               \
        Pretty << static_cast<sList_DMP__##I*>(l) << '\n';                                          \
    }                                                                                               \
    inline void pretty_List_DMP__##I(void* l) { Pretty << static_cast<sList_DMP__##I*>(l); }

namespace tesk {
// The list output dispatcher, one per module that prints lists (internal
// linkage; it holds nothing): `Affiche << list` prints through the printer
// the want_ switches choose at that call.
[[maybe_unused]] static AFFICHE Affiche;
TESK_POLY_INSTANCES(TESK_PRINT_NAMES)
using poly::internal_fortran;
using poly::pseudo_list;
using poly::pseudo_rational_fortran;
}  // namespace tesk

#endif
