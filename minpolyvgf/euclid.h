// Extended Euclid with cofactors, gcd and square-free part over Z/p, one copy
// per build.  Polynomials as in minpolyvgf/unipoly.h; degrees by pointer.
// Only the cofactors of the second input B are carried: every remainder R
// satisfies R = V B mod A for its cofactor V.
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/unipoly.h"

namespace quor::QUOR_NS {

// One step: (A, B) := (B, A mod B), (U, V) := (V, U - (A div B) V); a zero B
// is reported ("B=0 !!") and changes nothing.  Arrays need room for the
// largest degree reached (max(deg U, deg V + deg A - deg B) + 1 for V).
void quo2(Dom* A, i32* degA, Dom* B, i32* degB, Dom* U, i32* degU, Dom* V, i32* degV);
// Euclid on (A, B) until the remainder degree is at most stop; then A := that
// remainder R and B := its cofactor V (R = V B mod A_in).  B needs deg A + 1 entries.
void egcd(Dom* A, i32* degA, Dom* B, i32* degB, i32 stop);
// Euclid until a zero remainder: A := the last nonzero remainder (a gcd, not
// monic), B := the cofactor of the zero remainder (A_in / gcd up to a
// constant).  B needs deg A + 1 entries.
void gcd(Dom* A, i32* degA, Dom* B, i32* degB);
// f := its square-free part up to a constant; returns the new degree.
i32 new_sqr_free(Dom* f, i32 d);
// new_sqr_free then monic; *flag := 1 when the degree dropped (never cleared).
i32 sqr_free(Dom* f, i32 d, i32* flag);

}  // namespace quor::QUOR_NS
