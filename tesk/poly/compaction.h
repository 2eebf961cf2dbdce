// Coefficient compaction of polynomials (integer build).  A computation runs
// inside a saved heap state; the state is restored and the coefficients that
// must survive are slid down onto the heap's top.  These operations gather
// the addresses of those coefficients' handles and hand them to the heap's
// sliding compactor (vgf_heap.h), which moves them and rewrites the handles.
//
// Gathering stops when the count reaches the capacity, starting at
// MAX_COEF_DMP__<instance> (at least 1): the overflow is reported through
// Erreur and the call retries with twice the capacity (the global keeps its
// value).  The handles go into a heap buffer kept from call to call, so no
// capacity costs stack.  Header cells are skipped: only terms are gathered.
#ifndef TESK_POLY_COMPACTION_H
#define TESK_POLY_COMPACTION_H

#include "tesk/poly/dmp.h"

namespace tesk::poly {

template <class I>
struct Compaction {
    using C = vgf::VGF;
    using P = Term<I>;
    using Lst = List<I>;
    using LL = List_List<I>;
    // a, then the terms of p and of q (either may be zero).
    static void glisser(C& a, P* p, P* q);
    static void glisser(C& a, C& b, C& c, P* p, P* q);
    static void glisser(C& a, C& b, P* p);
    // The terms of p; verif is passed to the compactor.
    static void glisser(P* p, Boolean verif);
    // The terms of p, copied into the second zone.
    static void glisser2(P* p);
    // The terms of every polynomial of the list (of every list).
    static void glisser_List(Lst* l);
    static void glisser_List(Lst* l, Boolean verif);
    static void glisser_List_List(LL* l);
    static void glisser_garb_List(Lst* l);  // polynomials led by header cells
};

extern template struct Compaction<BigDexp__VGF>;
extern template struct Compaction<BigLexp__VGF>;

}  // namespace tesk::poly

#define TESK_COMPACTION_NAMES(I)                                                    \
    TESK_FWD(glisser_DMP__##I, poly::Compaction<poly::I>::glisser)                  \
    TESK_FWD(glisser2_DMP__##I, poly::Compaction<poly::I>::glisser2)                \
    TESK_FWD(glisser_List_DMP__##I, poly::Compaction<poly::I>::glisser_List)        \
    TESK_FWD(glisser_List_List_DMP__##I, poly::Compaction<poly::I>::glisser_List_List) \
    TESK_FWD(glisser_garb_List_DMP__##I, poly::Compaction<poly::I>::glisser_garb_List)

namespace tesk {
TESK_COMPACTION_NAMES(BigDexp__VGF)
TESK_COMPACTION_NAMES(BigLexp__VGF)
}  // namespace tesk

#endif
