// Lextriangular decomposition of a zero-dimensional ideal over the prime
// field (DRLDRL__GFC), variable 0 the greatest: triangular sets T_1 .. T_r,
// each the reduced lexicographic basis {t_0(x_0, ..), .., t_(n-1)(x_(n-1))}
// with one polynomial per variable, monic in its main variable, whose zero
// sets are disjoint and together are the zeros of the ideal.  The ideals of
// the sets are radical and intersect to the radical of the input; the sum of
// their degrees (products of the main degrees) counts the distinct zeros.
//
// The input is first made radical (each variable's minimal polynomial on the
// quotient made square-free).  Then a work stack of decomposition states,
// each holding the reduced basis of a radical ideal P: the lexicographic
// basis of P (by linear algebra on the quotient) is either triangular, and
// is a result, or has, at its lowest variable x_j with two polynomials, a
// smallest one whose leading coefficient c (in x_(j+1) ..) vanishes on some
// zeros of P only; P then splits into P + (c) and P : c = P + (q(c)), q the
// minimal polynomial of c on the quotient of P with its roots at 0 divided out.
//
// Each quotient, of dim standard monomials, is worked by its multiplication
// matrices (at most (n+3) * 4 bytes per entry of the dim x dim square), or, where
// those would pass the 1 GB allowed, by reductions by its basis and
// S-polynomial bases of the larger ideals (8 bytes an entry): both give the
// same sets.  Past 1 GB for these too, the decomposition is refused.  A
// reduction whose products pass the exponents is made in wider ones: only
// sets that do not fit are refused.
#ifndef TESK_ALGO_LEXTRI_H
#define TESK_ALGO_LEXTRI_H

#include "tesk/poly/dmp.h"
#include "tesk/poly/state.h"

namespace tesk::algo {

enum class Lextri_Status {
    Done,      // the decomposition (empty for the whole ring)
    Not_Dim0,  // the ideal is not zero-dimensional: nothing computed
};

// How the quotients are worked: the matrices where they fit, else the
// reductions (Auto); or one of the two whatever the size, refused past its limit.
enum class Lextri_Route { Auto, Matrices, Reductions };

struct Lextri {
    using I = poly::DRLDRL__GFC;

    // Once per process: the prime-field package and the decomposition-state family.
    static void init();
    // The triangular sets of the ideal of F (left intact; the prime and the
    // variables in force), each by decreasing main variable; null for the
    // whole ring.  Null unless *status is Done.
    static poly::List_List<I>* decompose(poly::List<I>* F, Lextri_Status* status,
                                         Lextri_Route route = Lextri_Route::Auto);
};

}  // namespace tesk::algo

namespace tesk {
TESK_FWD(init_LEXTRI__DMP__DRLDRL__GFC, algo::Lextri::init)
TESK_FWD(lextri_DMP__DRLDRL__GFC, algo::Lextri::decompose)
}  // namespace tesk

#endif
