// Decomposition states of the lextriangular decomposition (prime-field
// build): a work stack of pairs of polynomial lists with a step counter.
//
// Record sState, 32 bytes: n (i32, the step counter), pending (the
// polynomials still to process), T (the triangular set so far), next (the
// family's link).  A state does not own its lists; copies share them.
// Blocks of 500 records.
#ifndef TESK_POLY_STATE_H
#define TESK_POLY_STATE_H

#include <cstddef>

#include "tesk/poly/dmp.h"

namespace tesk {

struct sState {
    int n;
    sList_DMP__DRLDRL__GFC* pending;
    sList_DMP__DRLDRL__GFC* T;
    sState* next;
    sState(int n_, sList_DMP__DRLDRL__GFC* pending_, sList_DMP__DRLDRL__GFC* T_, sState* next_)
        : n(n_), pending(pending_), T(T_), next(next_) {}
    // Records come from the family's free list and go back to it.
    static void* operator new(std::size_t);
    static void operator delete(void* p);
};
static_assert(sizeof(sState) == 32);

namespace poly {
struct State_Spec : Spec_Base {
    using R = sState;
    static constexpr unsigned K = 500;
    static const char* name() { return "State"; }
    static unsigned stride() { return 32; }
    static unsigned shown_size() { return 32; }
    static Tesk_Malloc_Fn hook() { return Tesk_Tesk_malloc; }
};
extern template struct Family<State_Spec>;
}  // namespace poly

TESK_FAMILY_NAMES(State, poly::Family<poly::State_Spec>)

}  // namespace tesk

#endif
