// Polynomials of the core: residue form Dpol (both builds) and integer form
// Dpol_INT (integer build), their creation in zone memory, the sorts of
// polynomial tables and of terms, homogenisation, the monic normalisation,
// the division by a common power of the homogenising variable, the printer.
//
// Dpol record: ONE zone allocation (alloc64) holding, in this order,
//   offset  0  u32 id          number from gen_sym_Dpol (first after a reset: 1)
//           4  u32 new_flag    0 at creation; a row descriptor's matrix-half flag
//           8  u32 row_flag    0 at creation; the row's reduce flag after conversion
//          12  u32 input_flag  0 at creation; 1 on every input of the main loop
//          16  u32 nb_terms    n
//          20  u32 property    0 at creation; the text reader's "all coefficients are one"
//          24  monoms          -> n record addresses (Expos, header first), lead first
//          32  coeffs[V]       -> per prime slot k, n residues (Dom) in term order
//   then the V residue arrays of m = n + (n mod 2) cells each, then (8-aligned)
//   the m monomial pointers.  V = QUOR_NAME(vectorize).  With n = 0 monoms and
//   every coeffs[k] are null.  Arrays are not cleared.
//
// Dpol_INT record (integer build): one zone allocation holding
//   offset  0  u32 id, new_flag, row_flag, input_flag (as above)
//          16  u32 complete_flag  1 once every coefficient is final, 0 while they
//                                 hold Chinese-remainder values (0 at creation)
//          20  u32 nb_terms
//          24  monoms           -> n record addresses
//          32  coeffs[m]        m inline INT values (uninitialised)
//   then the m monomial pointers.
//
// Invariants: terms in strictly decreasing monomial order, no zero
// coefficient (in the integer build one residue may be zero modulo some
// primes); monomial records are shared freely and never freed one by one.
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <string>
#include "core/bigint.h"
#include "core/monomial.h"

namespace quor {
// Size of a request's polynomial table, on the host side and in the record program.
inline constexpr u32 kMaxiBase = 100000;

// Shell sort with the gaps n/2, n/4, ..., 1: at each gap an insertion pass
// that exchanges elements j and j + gap while out_of_order(j, j + gap); equal
// keys must answer false so they are never exchanged.  Index based, so the
// caller's swap can move parallel arrays together.
template <class OutOfOrder, class Swap>
inline void shell_sort_indices(u32 n, OutOfOrder out_of_order, Swap swap) {
  for (u32 gap = n / 2; gap > 0; gap /= 2)
    for (u32 i = gap; i < n; ++i)
      for (u32 j = i - gap;; j -= gap) {
        if (!out_of_order(j, j + gap)) break;
        swap(j, j + gap);
        if (j < gap) break;
      }
}
}  // namespace quor

namespace quor::QUOR_NS {

struct sDpol {
  u32 id;
  u32 new_flag;
  u32 row_flag;
  u32 input_flag;
  u32 nb_terms;
  u32 property;
  u64** monoms;
  Dom* coeffs[];  // V pointers, one per prime slot
};
using Dpol = sDpol*;
static_assert(offsetof(sDpol, monoms) == 24 && offsetof(sDpol, coeffs) == 32);

#if QUOR_INT
struct sDpol_INT {
  u32 id;
  u32 new_flag;
  u32 row_flag;
  u32 input_flag;
  u32 complete_flag;
  u32 nb_terms;
  u64** monoms;
  INT coeffs[];  // m inline integers
};
using Dpol_INT = sDpol_INT*;
static_assert(offsetof(sDpol_INT, monoms) == 24 && offsetof(sDpol_INT, coeffs) == 32);
#endif

// Running polynomial counter (reset to 0 by the memory reset).
extern u32 gen_sym_Dpol;
// Automatic renormalisation switch (renorm_poly divides only when set).
extern i32 want_automatique;
// Polynomials renorm_poly found divisible by h while want_automatique was 0.
extern u32 nb_of_renormed;
// Set by the printer when a coefficient could not be lifted.
extern i32 want_output_is_bad;
#if !QUOR_INT
// Printer switch: residues above p/2 printed as negative numbers.
QUOR_EXPORT i32 Quor_want_mods;
#endif

// Bytes of the zone block of a Dpol of n terms with V prime slots (64-bit).
u64 Dpol_bytes(u32 n, u32 V);
// A Dpol of n terms laid out as new_Dpol does, id 0, without numbering it.
Dpol raw_new_Dpol(u32 n);
// A new Dpol of n terms in the current zone (fresh id, flags 0, arrays uncleared).
Dpol new_Dpol(u32 n);
#if QUOR_INT
// A new Dpol_INT of n terms in the current zone (fresh id, INTs uninitialised).
Dpol_INT new_Dpol_INT(u32 n);
#endif

// Exponent words of the leading monomial of p (p must have a term).
inline u64* lead_Expos(const sDpol* p) { return p->monoms[0] + 1; }

// Sorts n polynomials by leading exponents compared slot by slot from slot 0, larger first.
void resort_Dpol(Dpol* table, u32 n);
// Sorts n polynomials by total degree of the leading monomial, smaller first (no term: 0).
void sort_totaldeg_Dpol(Dpol* table, u32 n);
#if !QUOR_INT
// Sorts the terms of p by comp5_Expos, largest first, moving the residues along.
void force_sort_Dpol(Dpol p);
#endif

// Homogenises n monomials (exponent words; null entries skipped) to their largest total degree.
void renormalize_input(u64** monomials, u32 n);
// Homogenises the monomials of p in place; returns the degree D.
u32 homogenous_Dpol(Dpol p);

// Makes p monic in every prime slot, in place (each slot checked on its own).
void monic_d(Dpol p);
// Truncates p to its leading run agreeing with the lead on block 1; null when that run is the lead alone or there is none.
Dpol coeff_Dpol(Dpol p);
// Divides the n monomials at *monoms by the largest power of h dividing them all (only when want_automatique; else counts).
void renorm_poly(u32* n, u64*** monoms);

// The text the printer writes for p ("f%d = " then the terms, no newline).
std::string Dpol_to_string(const sDpol* p);

}  // namespace quor::QUOR_NS

// Prints p on the output channel (C linkage: replayed record programs call it).
QUOR_EXPORT void QUOR_NAME(see_Dpol)(const quor::QUOR_NS::sDpol* p);
