// Dense matrix-vector kernels of the sparse linear-algebra library, one copy
// per build.
//
// Row layouts (n = QUOR_NAME(align_vector_size)(D): D rounded up to 8 in the
// prime-field build, to 4 in the integer build):
//   row table   rows[r] -> row r, 16-byte aligned, D coefficients then zeros to n
//   contiguous  row r at rows + r * n, same padding
//   packed      rows back to back; the row starting at column s holds D - s
//               coefficients (columns s..D-1)
// Row lists: stride-2 {row index, start column} ended by a negative row index,
// or compact (one row index per row) with an explicit count.
// Value conventions of the prime-field build: the SSE family and
// dot_product_dense_C read 16-bit words as signed (matrix entries in the
// symmetric range [-(p-1)/2, (p-1)/2]) and return the symmetric representative;
// the plain loops read unsigned residues in [0, p) and return residues.
// The SSE kernels read x over n entries: Krylov vectors have room for n words.
#pragma once
#include "core/quor_build.h"

#include "minpolyvgf/session.h"

namespace quor::QUOR_NS {

// Plain dot product of unsigned residues over n entries; *out := the result in [0, p), also returned.
QUOR_EXPORT Dom QUOR_NAME(dot_product_dense)(Dom* out, const Dom* a, const Dom* b, i32 n);
// Serial: y[list[2r]] := row r (contiguous) . x, rows taken until a negative index.
QUOR_EXPORT void QUOR_NAME(dense_matrix_I32_align)(Dom* y, const Dom* x, i32 D, const i32* list, const Dom* rows);
// Serial, packed rows: y[row] := sum rows_k[i] x[s + i], i < D - s (0 when s >= D).
QUOR_EXPORT void QUOR_NAME(dense_matrix_I32)(Dom* y, const Dom* x, i32 D, const i32* list, const Dom* packed);
// y[list[r]] := row r (contiguous) . x for r < count, unsigned residues
// (prime-field build: on an OpenMP team; integer build: serial).
QUOR_EXPORT void QUOR_NAME(dense_matrix_I32_align_vect)(Dom* y, const Dom* x, i32 D, const i32* list, i32 count,
                                            const Dom* rows);
// Non-zero entries among the first D of each listed contiguous row.
QUOR_EXPORT u32 QUOR_NAME(sparsity_align2)(i32 D, const i32* list, const Dom* rows);
// *out := sum mod p of each listed contiguous row's entry at its own row index.
QUOR_EXPORT void QUOR_NAME(dense_trace_I32_align)(Dom* out, i32 D, const i32* list, const Dom* rows);
// Not available: says "NYA" on standard error (prime-field build); nothing (integer build).
QUOR_EXPORT void QUOR_NAME(dense_matrix)();
// p - a, 0 for a = 0.
QUOR_EXPORT u32 QUOR_NAME(NEG)(u32 a, u32 p);
// The next 16-byte boundary strictly above ptr.
QUOR_EXPORT void* QUOR_NAME(realign_ptr)(void* ptr);
// Dot product over n entries, no alignment needed: the prime-field build reads
// signed words and stores the symmetric representative (the value of the SSE
// kernels); the integer build stores the residue.
QUOR_EXPORT void QUOR_NAME(dot_product_dense_C)(Dom* out, const Dom* a, const Dom* b, i32 n);

#if !QUOR_INT
// SSE dot products (n a multiple of 8, rows and x 16-byte aligned): *out :=
// symmetric representative of sum row[i] x[i], i < n.
void dot_product_dense_sse_prefetch(Dom* out, const Dom* row, const Dom* x, i32 n);
QUOR_EXPORT void dot_product_dense_sse(Dom* out, const Dom* row, const Dom* x, i32 n);
// Two, four, eight rows against one x in one pass.
QUOR_EXPORT void dot_product_dense_sse2(Dom* out1, Dom* out2, const Dom* row1, const Dom* row2, const Dom* x, i32 n);
QUOR_EXPORT void dot_product_dense_sse4(Dom* out1, Dom* out2, Dom* out3, Dom* out4, const Dom* row1, const Dom* row2,
                            const Dom* row3, const Dom* row4, const Dom* x, i32 n);
QUOR_EXPORT void dot_product_dense_sse8(Dom* out1, Dom* out2, Dom* out3, Dom* out4, Dom* out5, Dom* out6, Dom* out7,
                            Dom* out8, const Dom* row1, const Dom* row2, const Dom* row3, const Dom* row4,
                            const Dom* row5, const Dom* row6, const Dom* row7, const Dom* row8, const Dom* x,
                            i32 n);
// Threaded: y[list[r]] := table[r] . x (SSE, n = aligned D) for r < count, in
// nb_threads chunks dealt cyclically to the team.
void dense_matrix_I32_align_vect_openmp(Dom* y, const Dom* x, i32 D, const i32* list, i32 count,
                                        const Dom* const* table);
// Non-zero entries among the first D of each listed row of the table.
u32 sparsity_align2_openmp(i32 D, const i32* list, const Dom* const* table);
// *out := sum mod p of each listed row's (symmetric) entry at its own row index.
void dense_trace_I32_align_openmp(Dom* out, i32 D, const i32* list, const Dom* const* table);
// (a b mod 2^32) mod p.
QUOR_EXPORT u32 MUL(u32 a, u32 b, u32 p);
// (a b + c) mod p with a 64-bit product.
QUOR_EXPORT u32 ADDMUL(u32 a, u32 b, u32 c, u32 p);
#endif

}  // namespace quor::QUOR_NS
