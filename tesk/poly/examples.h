// Standard benchmark systems, random polynomials on a monomial support, the
// weight analysis of a system, and the factorisation and real-root hooks,
// which this build does not provide.  Written once over the instance
// (Examples<I>); TESK_EXAMPLES_NAMES gives the per-instance names
// (cyclic_List_DMP__BigDexp__VGF, random_DMP__DRLDRL__GFC, ...).
//
// A generator over n variables uses x_0 .. x_(n-1) of the package's current
// variables (fatal when there are fewer, or when an exponent does not fit the
// type); with homog set the last of them, x_(n-1), is the homogenising
// variable.  Lists are built by putting each new polynomial in front.
#ifndef TESK_POLY_EXAMPLES_H
#define TESK_POLY_EXAMPLES_H

#include <cstdint>

#include "tesk/poly/dmp.h"

namespace tesk::poly {

template <class I>
struct Examples {
    using M = Dmp<I>;
    using P = Term<I>;
    using Lst = List<I>;
    using E = typename I::E;
    using X = typename M::X;
    using D = typename I::D;
    using C = typename D::C;

    // [s, b_(k-1), ..., b_0]: b_i = x_i^2 - x_i (homog: - x_i*x_(n-1)),
    // s = sum 2^i*x_i + 2^k (homog: times x_(n-1)); k = n, or n-1 with homog.
    static Lst* exemple_binaire(unsigned n, int homog);
    // [c_(k-1), ..., c_0]: c_d the sum of the k cyclic products of d
    // consecutive variables, c_0 = x_0*...*x_(k-1) - 1 (homog: - x_(n-1)^(n-1)).
    static Lst* cyclic(unsigned n, int homog);
    // [s, e_(k-1), ..., e_0] over u_0 .. u_k = x_0 .. x_k, k = n-1 (one less
    // with homog, h = x_(k+1)): e_i = sum_j u_|j|*u_|i-j| - u_i (times h),
    // s = u_0 + 2*u_1 + ... + 2*u_k - 1 (or - h).
    static Lst* katsura(unsigned n, int homog);
    static P* equation(int i, int k, int homog);  // e_i above
    static P* varU(int i, int k);                  // x_|i|, null when |i| > k

    // A copy of s with random coefficients, the terms that draw 0 left out;
    // d is not used.
    static P* random(unsigned d, P* s);
    // k random polynomials on the monomials of degree at most d (exactly d
    // with want_homog), written as a list and a newline on Fortran and returned.
    static Lst* random_List(unsigned d, unsigned k);

    // Looks for variable scalings that make the leading two coefficients of
    // every polynomial 1 or -1 (l's coefficients are changed on the way) and
    // writes "#weights <w_0 w_1 ... >\n" with Output.  Fatal "Erreur
    // impossible dans analyse\n" when the term to scale is not a variable.
    static void analyse_system(Lst* l);

    // Not provided in this build.
    static P* sqfr(P*) { return nullptr; }
    static P* sqfr_radical(P*) { return nullptr; }
    static int uspensky(P*) { return 0; }
    [[noreturn]] static void ntl_factor(P*, int) { Fatal("NTL not compiled\n"); }
    static void info_factors() {}
};

template <class I> void analyse_system(List<I>* l) { Examples<I>::analyse_system(l); }
template <class I> int uspensky(Term<I>* p) { return Examples<I>::uspensky(p); }
template <class I> [[noreturn]] void ntl_factor(Term<I>* p, int flag) { Examples<I>::ntl_factor(p, flag); }

#define TESK_EXAMPLES_DECLARE(inst, dom) extern template struct Examples<inst>;
TESK_POLY_INSTANCES(TESK_EXAMPLES_DECLARE)
#undef TESK_EXAMPLES_DECLARE

}  // namespace tesk::poly

#define TESK_EXAMPLES_NAMES(I, DOM)                                                           \
    TESK_FWD(exemple_binaire_List_DMP__##I, poly::Examples<poly::I>::exemple_binaire)         \
    TESK_FWD(cyclic_List_DMP__##I, poly::Examples<poly::I>::cyclic)                           \
    TESK_FWD(katsura_List_DMP__##I, poly::Examples<poly::I>::katsura)                         \
    TESK_FWD(random_DMP__##I, poly::Examples<poly::I>::random)                                \
    TESK_FWD(random_List_DMP__##I, poly::Examples<poly::I>::random_List)                      \
    TESK_FWD(sqfr_DMP__##I, poly::Examples<poly::I>::sqfr)                                    \
    TESK_FWD(sqfr_radical_DMP__##I, poly::Examples<poly::I>::sqfr_radical)                    \
    TESK_FWD(info_factors_DMP__##I, poly::Examples<poly::I>::info_factors)

namespace tesk {

TESK_POLY_INSTANCES(TESK_EXAMPLES_NAMES)

using poly::analyse_system;
using poly::ntl_factor;
using poly::uspensky;

}  // namespace tesk

#endif
