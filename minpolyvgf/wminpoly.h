// Minimal polynomial of a sparse matrix A by Wiedemann's method, one copy per
// build: the projections u.A^i.b (i < 2D) of random u and b go through
// Berlekamp-Massey, and the generator found is handed back monic (optionally
// square-free).  One projection may miss a factor of the minimal polynomial
// (probability about 2D/p); the same input always gives the same answer
// (every entry reseeds the random stream).
//
// Arguments of the entries (matrix layout: minpolyvgf/apply.h, contiguous
// dense rows of residues in [0, p)):
//   prime    the prime p (2 <= p; prime-field build: p <= 65521)
//   D        size of A (0 <= D)
//   pairs    copy list: pair form (w_minpoly2), shift form (w_minpoly)
//   nosp     dense row list
//   cfs      the dense rows as one block, row r at r * align_vector_size(D);
//            also the output: coefficients of degree 0 up as unsigned 32-bit
//            words, so the block needs room for D + 1 such words (it may be
//            null when there are no dense rows: then nothing is handed back)
// Result: the degree of the polynomial.  Bad arguments are fatal (host error).
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/apply.h"

// Shift-form copies, no square-free step; "Prime = %d" on the diagnostic stream.
QUOR_EXPORT quor::i32 QUOR_NAME(w_minpoly)(quor::u32 prime, quor::i32 D, quor::i32* pairs, quor::i32* nosp,
                                           void* cfs);
// Pair-form copies; sqfr non-zero: the square-free part; prints the second
// half of the Krylov vectors on standard output.
QUOR_EXPORT quor::i32 QUOR_NAME(w_minpoly2)(quor::u32* prime, quor::i32 D, quor::i32* pairs, quor::i32* nosp,
                                            void* cfs, quor::i32 sqfr);

namespace quor::QUOR_NS {

// u . v mod p over n residues (0 for n <= 0).
u32 dot_product(const Dom* u, const Dom* v, i32 n);
// The drivers on the matrix globals (prime set by init_wiedemann): the
// minimal polynomial into out (D + 1 words, may be null); its degree.
i32 minpoly_sparse2(i32 D, u32* out, i32 sqfr);
i32 minpoly_sparse(i32 D, u32* out);

}  // namespace quor::QUOR_NS
