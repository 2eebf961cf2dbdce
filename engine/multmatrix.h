// Matrix of multiplication by the last variable on the staircase of a
// reduced zero-dimensional basis, handed to the sparse FGLM, and the
// parametrisation read back from it.
//
// Matrix form (the sparse FGLM's): coordinates 0 .. D-1 number the staircase
// monomials in increasing comp5_Expos order (1 has coordinate 0).  Row c is
// the normal form of x_last * m_c:
//   copy pairs   i32 (c, c') for a product that is the staircase monomial
//                of coordinate c', ended by -1 (room 2D + 1);
//   dense list   i32 (c, 0) for any other product, in dense-row order, ended
//                by -1 (room 2(D + 1));
//   dense rows   one buffer per dense row (and per variable beyond them):
//                `stride` Dom entries, 16-byte aligned, row[k] = coefficient
//                of coordinate k of the normal form of the product (minus the
//                tail of the basis element when the product is its leading
//                monomial), zero from D on.  Prime-field build: symmetric
//                signed 16-bit values in [-(p-1)/2, (p-1)/2]; integer build:
//                residues.
//
// Products that are proper multiples of a leading monomial get their normal
// form through a reduction graph fixed once for all primes: a node is a
// monomial over the staircase, reduced by one basis element g as q * lead(g);
// its value is -sum c_t NF(q * m_t) over the tail terms c_t m_t of g, every
// q * m_t being a staircase coordinate or a smaller node.  Nodes are numbered
// in increasing monomial order, so one pass in that order evaluates them.
//
// Results of build_last_matrix (coefficients in every prime slot of the
// block, one sparse FGLM per prime; terms kept where any slot is non-zero):
//   result[j], j < n-1:  x_j + g_j(x_last), terms x_j, then x_last powers
//                        from the highest down;
//   result[n-1]:         the monic minimal polynomial of x_last.
// A variable not under the staircase is parametrised through its basis
// element x_j + sum c_t m_t: each staircase monomial m_t is replaced by the
// product of the parametrisations of its variables, modulo the minimal
// polynomial.  With MINPOLY set in the environment only the minimal
// polynomial is computed and returned (in result[0]).
#pragma once
#include "core/quor_build.h"

#include "core/poly.h"

namespace quor::QUOR_NS {

// The prime-independent part of the matrix (all arrays in zone memory).
struct MultMatrix {
  u32 D = 0;                  // staircase size
  u32 n = 0;                  // variables (x_last = n - 1)
  u32 ndense = 0;             // dense rows: leads containing x_last, then normal-form rows
  u32 nrows = 0;              // row buffers: max(ndense, n)
  u32 stride = 0;             // Dom entries per row buffer: D + 1 rounded up to 8
  u64** stair = nullptr;      // D exponent-word pointers, by coordinate
  i32* pairs = nullptr;       // copy pairs, ended by -1
  i32* dense = nullptr;       // dense row list, ended by -1
  i32* idx = nullptr;         // n: coordinate of x_j under the staircase, else -1; idx[n-1] = 0
  Dpol* dense_poly = nullptr; // ndense: the basis element of a leading-monomial row, else null
  u32** dense_cols = nullptr; // ndense: coordinate of each term after the lead (null for a node row)
  i32* dense_node = nullptr;  // ndense: the node of a normal-form row, else -1
  u32 nnodes = 0;             // nodes of the reduction graph (see above)
  Dpol* node_poly = nullptr;  // nnodes: the basis element reducing the node
  i32** node_child = nullptr; // nnodes: per tail term of node_poly: coordinate (>= 0) or ~node of q * m_t
  Dpol* var_poly = nullptr;   // n: basis element with lead x_j for x_j not under the staircase, else null
};

// Builds the matrix form of the D x D multiplication matrix by x_last for the
// reduced, zero-dimensional basis G[0..nG-1] (sorted in place by leading
// degree; G itself is not modified otherwise).  Fatal when the staircase size
// differs from D or when G is not reduced.
// quor_max_index / quor_hash_prime are the caller's again on return.
void build_mult_matrix(Dpol* G, u32 nG, u32 D, MultMatrix* M);

// Writes the dense rows of M for prime slot `slot` of G (prime p) into
// rows[0 .. ndense-1], each cleared over M->stride entries first (normal-form
// rows evaluate the reduction graph: O(nodes * D) memory while it runs).
void fill_dense_rows(const MultMatrix* M, u32 slot, u32 p, Dom** rows);

// Minimal polynomial of x_last and parametrisation of the other variables
// (see above) into result (room for n entries); returns the count written.
// nG = 0 returns 0 at once.
u32 build_last_matrix(Dpol* G, u32 nG, Dpol* result, u32 D);

// Residues of the sparse FGLMs of every prime slot, in zone memory:
// res[k * n + j] / deg[k * n + j] = g_j (j < n-1) or the monic minimal
// polynomial (j = n-1) modulo the prime of slot k, lowest degree first, deg
// -1 for none; only j >= j0 are computed (j0 = n-1 for the minimal
// polynomial alone).
struct ShapeResidues {
  Dom** res;
  i32* deg;
  u32 j0;
};

// The sparse FGLM of every prime slot on M (square-free part of the minimal
// polynomial and numerators reduced by it when sqfr; N: sequence length of
// the minimal polynomial alone, <= 0 for D), then the parametrisation of the
// variables over the staircase.  Fatal on the FGLM's failures, except the
// soft failure of a slot (want_fglm_soft_failure), which leaves its
// minimal polynomial at degree -1.
ShapeResidues sparse_fglm_slots(const MultMatrix* M, i32 sqfr, bool minpoly_only, i32 N);

// Result j of r as a polynomial over every slot (x_j + g_j, or the minimal
// polynomial for j = n-1), as univariate_result makes it.
Dpol shape_result(const ShapeResidues& r, u32 j);

// A row buffer table for M: nrows pointers to zeroed, 16-byte aligned buffers
// of M->stride entries in zone memory.
Dom** new_row_table(u32 nrows, u32 stride);

// Read-back of a one-variable result: the polynomial sum a_i x_last^i
// (a_0 .. a_deg from coefficient slot k at coeffs[k], deg[k] per slot; -1 =
// zero) with the terms kept where any of the `slots` slots is non-zero; with
// lead_var >= 0 a first term x_lead_var of coefficient 1 precedes them.
Dpol univariate_result(i32 lead_var, u32 slots, Dom* const* coeffs, const i32* deg);

}  // namespace quor::QUOR_NS
