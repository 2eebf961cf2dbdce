// Minimal polynomials of linearly recurrent sequences over Z/p, by
// Berlekamp-Massey and by Pade approximation, one copy per build.
// Polynomials as in minpolyvgf/unipoly.h; sequences are read, never written
// (except SOLVE's M, returned reversed).
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/euclid.h"

namespace quor::QUOR_NS {

// Connection polynomial K (K[0] = 1, n + 1 entries) of s[0..n-1]; *deg := the
// linear complexity L, K zero-filled up to L, so K[L-i] (i = 0..L) is the
// monic minimal polynomial even when its constant term is 0.
void berlekamp(const Dom* s, i32 n, Dom* K, i32* deg);
// Monic minimal polynomial of s[0..2N-1] into out (N + 2 entries, zero above
// the degree); returns its degree, also in *deg; -1 (out all zero) when the
// terms determine none (N < 0, or the approximant has no constant term).
i32 algo_AD_part1(const Dom* s, i32 N, Dom* out, i32* deg);
// The two Pade cofactors of s[0..2N] and of the reversed sequence, each scaled
// to a monic remainder of degree N (out1, out2: N + 2 entries); 1 on success,
// 0 when a remainder degree is not N (written to its degree; caller retries).
i32 algo_AD(const Dom* s, i32 N, Dom* out1, i32* deg1, Dom* out2, i32* deg2);
// The numerator out (deg M + 1 entries) from the cofactors P, Q (deg M + 2
// entries each, returned unchanged) and the sequence M (returned reversed);
// *degout = -1 when it is zero.
void SOLVE(Dom* out, i32* degout, Dom* P, Dom* Q, i32 degQ, Dom* M, i32 degM);

}  // namespace quor::QUOR_NS
