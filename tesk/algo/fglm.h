// Change of ordering of the Tesk engine (integer build): from the reduced
// basis of a zero-dimensional ideal for the degree order (BigDexp__VGF, as
// the sugar loop returns it) to its reduced lexicographic basis
// (BigLexp__VGF), by linear algebra on the quotient.
//
// The monomials are walked in increasing lexicographic order, each one a
// variable times an earlier standard one, multiples of the leading monomials
// already found skipped.  The normal form of each by the degree basis is
// written on the degree staircase and tested against the earlier ones by an
// incremental Gauss-Jordan elimination (the square matrix M, kept so that it
// sends the k-th independent vector to the k-th unit vector): a dependence
// gives a basis polynomial, an independence a new standard monomial.
#ifndef TESK_ALGO_FGLM_H
#define TESK_ALGO_FGLM_H

#include "tesk/poly/dmp.h"

namespace tesk::algo {

// What change_ordering met.
enum class Fglm_Status {
    Done,             // the lex basis
    Not_Dim0,         // the ideal is not zero-dimensional: nothing computed
    Bad_Prime,        // a pivot vanishes modulo some primes of the vector only
};

struct Fglm {
    using Src = poly::BigDexp__VGF;
    using Dst = poly::BigLexp__VGF;

    // Once per process: the lexicographic package and the block families.
    static void init();
    // n variables for the lexicographic package (a, b as for the degree one).
    static void set(unsigned n, unsigned a, unsigned b);
    // The reduced lex basis of the ideal of G (the reduced, monic degree basis,
    // no header cells; left intact), by decreasing leading monomial; {1} for
    // the whole ring.  Null unless *status is Done.  *solutions: the
    // dimension of the quotient (-1 when not zero-dimensional).
    static poly::List<Dst>* change_ordering(poly::List<Src>* G, Fglm_Status* status, int* solutions = nullptr);
};

}  // namespace tesk::algo

namespace tesk {
TESK_FWD(init_ORDERING__DMP__BigDexp__VGF__DMP__BigLexp__VGF, algo::Fglm::init)
TESK_FWD(set_ORDERING__DMP__BigDexp__VGF__DMP__BigLexp__VGF, algo::Fglm::set)
}  // namespace tesk

#endif
