// Normal forms by a Groebner basis over the Tesk polynomial package, for the
// bridge's normal-form call: NF_BigDexp__VGF (integer build: every prime of
// the coefficient vector at once) and NF_DRLDRL__GFC (prime-field build).
//
// The basis is made monic before it reduces: over VGF each prime uses the
// basis made monic in its own slot, so a leading coefficient that vanishes
// modulo one prime (a bad prime) is told to the caller instead.  The normal
// form is exact, every term reduced, with multiplier 1.
#ifndef TESK_ALGO_NORMAL_FORM_H
#define TESK_ALGO_NORMAL_FORM_H

#include <vector>

#include "tesk/algo/bridge_setup.h"
#include "tesk/poly/dmp.h"

namespace tesk::algo {

// Full reduction by monic reducers.  The first steps merge the reducer into
// the remainder held as one chain, which costs the remainder's length a
// step; a longer reduction keeps the remainder as a heap of streams: p's
// own terms and, for each step, the tail of the reducer shifted and scaled,
// so that a step costs about the reducer's length.  The terms of one
// monomial are summed before a single modular reduction where the domain
// allows it.  The reducer of a monomial is chosen as reduce_all says.
template <class I>
struct Heap_Reduction {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    using E = typename I::E;

    // Every term of p (consumed) reduced by the monic R, not scaled; fatal
    // "Reduce by a non monic polynomial !" when a reducer used is not monic.
    // The reducer of a monomial: the first of R that divides it or, with
    // by_basis (R a Groebner basis, whose remainder is the same whichever
    // divisor reduces), the shortest divisor, the least leading monomial
    // among equals, which keeps the steps far fewer.
    static P* reduce_all(P* p, const std::vector<P*>& R, bool by_basis = false);

private:
    // The reduction steps merged before the heap takes over.
    static constexpr std::size_t kMergedSteps = 256;
};

extern template struct Heap_Reduction<poly::BigDexp__VGF>;
extern template struct Heap_Reduction<poly::DRLDRL__GFC>;
extern template struct Heap_Reduction<poly::DRLDRL16__GFC>;

template <class I>
struct Normal_Forms {
    using M = poly::Dmp<I>;
    using P = poly::Term<I>;
    using Lst = poly::List<I>;
    using D = typename I::D;
    using C = typename D::C;

    // 1 when c is invertible modulo every prime of the domain.
    static bool invertible(C c);
    // Monic copies of the non-zero polynomials of G (header cells skipped);
    // false, and nothing kept, when a leading coefficient is not invertible.
    static bool monic_reducers(Lst* G, std::vector<P*>& R);
    // p (consumed) with every term reduced by the monic reducers R.
    static P* normal_form(P* p, const std::vector<P*>& R);
    // For each f of F (left intact), in order, the constant 1 and NF(f) by
    // G; with univ, f is first divided exactly by every polynomial of H
    // (fatal "Not an exact quotient !" otherwise), and "Take NF of deg %d
    // --> " (degree of the quotient) and "%d \n" (degree of its normal form)
    // go to the diagnostic stream.  Null with *bad = 1 when a leading
    // coefficient of G or H vanishes modulo a prime, else *bad = 0.
    static Lst* compute(Lst* F, Lst* G, Lst* H, int univ, int* bad);
};

extern template struct Normal_Forms<poly::BigDexp__VGF>;
extern template struct Normal_Forms<poly::DRLDRL__GFC>;

}  // namespace tesk::algo

// The bridge's normal-form calls of each build (Normal_Forms::compute): the
// list of 2 nF polynomials (multiplier, normal form); 1 for a bad prime
// (nothing written), else 0.  F, G and H are left intact.
TESK_EXPORT int Tesk_normalForm_VGF(tesk::List_DMP__BigDexp__VGF F, tesk::List_DMP__BigDexp__VGF G,
                                    tesk::List_DMP__BigDexp__VGF H, int univ, tesk::List_DMP__BigDexp__VGF* out);
TESK_EXPORT int Tesk_normalForm_GFC(tesk::List_DMP__DRLDRL__GFC F, tesk::List_DMP__DRLDRL__GFC G,
                                    tesk::List_DMP__DRLDRL__GFC H, int univ, tesk::List_DMP__DRLDRL__GFC* out);

#endif
