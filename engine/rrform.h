// Rational form of a triangular basis (integer build).
//
// A zero-dimensional ideal in shape position has the basis f(x_last) of
// degree d and, for each other variable, x_j - v_j(x_last) with deg v_j < d.
// The rational form multiplies every tail by f'/d modulo f, prime slot by
// prime slot, before the lift:
//   x_j + R_j(x_last),  R_j = (v_j f'/d) mod f  in place of  x_j + v_j,
// which stands for the ideal element (f'/d) x_j + R_j: x_j = -d R_j / f'.
// Its coefficients grow like those of f, far less than those of v_j.
//
// The prime-field build computes no rational form: Quor_Pprime does nothing.
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

#if QUOR_INT
// 1 when this processor runs the AVX2 kernels of mul_mod_monic.
bool rr_simd_available();

// Replaces in place every polynomial of G[0..nG-1] but f (the first one in
// x_last alone) by its rational form, in every prime slot of the block; a
// result term is kept where any slot is non-zero.  Host errors, before
// anything changes: no univariate polynomial ("Cannot find the univariate
// polynomial !" and what the basis holds), another polynomial not led by one
// of the other variables to the first power or with a tail term that is not
// a power of x_last below d ("Pas une base reduite:", the polynomial and its
// lead or term), f not square-free at any prime of the block.  f not
// square-free at some primes only, or of lower degree at one: a bad prime
// (elim_status), G unchanged.
void apply_rr(Dpol* G, u32 nG);

// R_j = V_j Dp mod F modulo p for j < m: F monic of degree d given by
// F[0..d-1], Dp, every V_j and R_j of d residues, lowest degree first.
// Scratch of O(d) rows in the current zone, given back.  simd: the AVX2
// kernels (only where the processor has them; the tests take both).
void mul_mod_monic(u32 p, const u32* F, const u32* Dp, u32 d, const u32* const* V, u32* const* R, u32 m,
                   bool simd = rr_simd_available());
#endif

}  // namespace quor::QUOR_NS

// Integer build: makes prime slot k current (context_vectorize,
// Quor_int_Prime, Prime_inv) and writes R[0..d-1] = V Dp mod F modulo its
// prime (F monic of degree d, F[d] not read; d = 0: the context only).
// Prime-field build: nothing.
QUOR_EXPORT void QUOR_NAME(Pprime)(quor::u32 k, const quor::u32* F, const quor::u32* Dp, const quor::u32* V,
                                   quor::u32* R, quor::u32 d);
