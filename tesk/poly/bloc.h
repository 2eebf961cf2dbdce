// Blocks of the change of ordering (integer build): each holds a head
// monomial, a normal form and the number of independent multiples found.
//
// Record sBloc, 32 bytes: head (a one-term polynomial whose coefficient
// carries no value), nf (the normal form), len (i32), next (the link).  A
// block owns both polynomials: the deep operations release or copy them,
// after overwriting the head's coefficient with a fresh zero so that no
// meaningless coefficient is read.  sList_Bloc is a list cell {block, next}.
// Blocks of 500 records for both families.
#ifndef TESK_POLY_BLOC_H
#define TESK_POLY_BLOC_H

#include "tesk/base/print.h"
#include "tesk/poly/dmp.h"

namespace tesk {

struct sBloc {
    sDMP__BigDexp__VGF* head;
    sDMP__BigDexp__VGF* nf;
    int len;
    sBloc* next;
};
struct sList_Bloc {
    sBloc* elt;
    sList_Bloc* next;
};
static_assert(sizeof(sBloc) == 32 && sizeof(sList_Bloc) == 16);

// Not provided: fatal "Pas fait Hash_Bloc\n".
[[noreturn]] unsigned Hash_Bloc(sBloc* b, unsigned seed);

namespace poly {
struct Bloc_Spec : Spec_Base {
    using R = sBloc;
    static constexpr unsigned K = 500;
    static const char* name() { return "Bloc"; }
    static unsigned stride() { return 32; }
    static unsigned shown_size() { return 32; }
    static Tesk_Malloc_Fn hook() { return Tesk_int_Tesk_malloc; }
    static void on_kill(sBloc* b);                          // the head term and the normal form
    static void on_kill_all(sBloc* b) { on_kill(b); }
    static void copy_fields(sBloc* d, sBloc* s);            // copies of both polynomials
};
struct List_Bloc_Spec : Spec_Base {
    using R = sList_Bloc;
    using Elt = sBloc*;
    static constexpr unsigned K = 500;
    static const char* name() { return "List_Bloc"; }
    static unsigned stride() { return 16; }
    static unsigned shown_size() { return 16; }
    static Tesk_Malloc_Fn hook() { return Tesk_int_Tesk_malloc; }
    static void on_kill_all(sList_Bloc* c) { Family<Bloc_Spec>::kill_all(c->elt); }
    static sBloc* copy_elt(sBloc* b) { return Family<Bloc_Spec>::copy(b); }
    static unsigned hash_elt(sBloc* b, unsigned seed) { return Hash_Bloc(b, seed); }
};
extern template struct Family<Bloc_Spec>;
extern template struct Family<List_Bloc_Spec>;
extern template struct List_Family<List_Bloc_Spec>;
}  // namespace poly

TESK_FAMILY_NAMES(Bloc, poly::Family<poly::Bloc_Spec>)
TESK_LIST_FAMILY_NAMES(List_Bloc, poly::List_Family<poly::List_Bloc_Spec>)

// A new cell in front of rest holding a new block {head, nf, len, nil};
// nf's leading coefficient becomes 1, so nf must be monic or meant so.
sList_Bloc* creat_List_Bloc(sDMP__BigDexp__VGF* head, sDMP__BigDexp__VGF* nf, int len, sList_Bloc* rest);

// A block prints nothing; a list of blocks prints its brackets and separators.
inline Basic_Print operator<<(Basic_Print p, sBloc*) { return p; }
inline Fortran_Print operator<<(Fortran_Print p, sBloc*) { return p; }
inline Posso_Print operator<<(Posso_Print p, sBloc*) { return p; }
inline Lisp_Print operator<<(Lisp_Print p, sBloc*) { return p; }
Fortran_Print operator<<(Fortran_Print p, sList_Bloc* l);  // "[" blocks joined by "," "]"
Basic_Print operator<<(Basic_Print p, sList_Bloc* l);      // the same on the pretty printer
Posso_Print operator<<(Posso_Print p, sList_Bloc* l);      // "{" joined by " , " "}"
Lisp_Print operator<<(Lisp_Print p, sList_Bloc* l);        // "(" joined by " " ")"; "NIL" when empty

}  // namespace tesk

#endif
