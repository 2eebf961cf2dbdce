// One F4 step: symbolic preprocessing of the pair halves of one degree into a
// sparse matrix of coded rows, the call of the elimination, and the
// conversion of result rows back into polynomials.
//
// Columns: the distinct monomials of the matrix, ncols of them.  A column's
// position is its rank in ascending monomial order (0 = smallest); its column
// number is ncols - position, so column 1 is the largest monomial.  After a
// step the request's hash table keeps the order: slot [position].code_slot
// names the slot holding the monomial of that position, and every entry's
// value is its position.  A row's entry j lies at column lead + o_j, o_j its
// offset in the column code (o_0 = 0 for the lead).
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include "core/hashtable.h"
#include "core/poly.h"
#include "engine/lzw_code.h"

namespace quor {
// Prime-field build: entries of a matrix's rows from which they are coded on
// the elimination's team: below, the team's chunks and the copies into the
// zone cost more than they save (the rows are the same; tests lower it).
extern u64 symbolic_entries_per_coding_team;
// Prime-field build: products to look up (or reductor tests, in units of 64)
// from which a batch of preprocessing is shared by the team: below, waking
// the team costs more than it saves (the matrix is the same; tests lower it).
extern u64 symbolic_lookups_per_team;
}  // namespace quor

namespace quor::QUOR_NS {
// Divisibility filter of the exponent words e in the request's layout: bit
// j*b + t - 1 set when slot j is at least t (t = 1 .. b, b = 64 / slots, at
// least 1; slots past 64 share bits).  A divisor's bits are a subset of its
// multiple's.  The vector path where the processor and simd_cap allow it.
u64 divisor_filter(const u64* e);

// Row record of the matrix, one zone allocation per row.  Layout:
//   offset  0  code / mult_hash  coded form: the columns after the lead
//                                (CODE_LZW); unexpanded form: the hash of
//                                the multiplier
//           8  u32 input_flag    the descriptor's input_flag (0 here)
//          12  u32 new_flag      the half's flag; 0 for a reductor row
//          16  u32 lead          lead column, 1 .. ncols
//          20  u32 span          ncols - lead + 1
//          24  u32 key           sort key: the descriptor's id
//          28  u32 flag          1: a row to reduce; 0: a known pivot
//          32  u32 dense         0: coded (1: span residues per slot, dense)
//          36  u32 nb_codes      codes in the string (unexpanded: terms)
//          40  u32 encoding      CODE_LZW, or CODE_UNEXPANDED
//          44  u32 (padding)
//          48  multiplier        unexpanded form: the multiplier's words (null for 1)
//          56  source_monoms     unexpanded form: the source's monomials
//          64  coeffs[V]         per prime slot, the row's residues in column
//                                order, lead first (as built: the source's
//                                own arrays; the elimination replaces them)
struct sALGO_Dpol {
  union {
    u8* code;
    u64 mult_hash;
  };
  u32 input_flag;
  u32 new_flag;
  u32 lead;
  u32 span;
  u32 key;
  u32 flag;
  u32 dense;
  u32 nb_codes;
  u32 encoding;
  u32 pad_;
  u64* multiplier;
  u64** source_monoms;
  Dom* coeffs[];
};
static_assert(offsetof(sALGO_Dpol, input_flag) == 8 && offsetof(sALGO_Dpol, encoding) == 40 &&
              offsetof(sALGO_Dpol, coeffs) == 64);

// Bytes of a row record with V prime slots.
inline u64 ALGO_Dpol_bytes(u32 V) { return sizeof(sALGO_Dpol) + u64(V) * sizeof(Dom*); }

// Column order of the next step: comp5_Expos when set, else comp4_Expos;
// the main loop sets it before its last step, the step clears it.
extern i32 use_strong_order;

// The matrix of one step as symbolic preprocessing leaves it.
struct SymbolicMatrix {
  ALGO_Dpol* rows;  // nrows row records (array rounded up to even), row order
  u32 nrows;
  u32 ncols;
  u32 nreduce;      // rows of halves with flag 1
  i32 stopped;      // 1: interrupted, the matrix is incomplete
  u32 nhalves;      // row entries of halves (the first ones)
  u32 nentries;     // row entries stored (nrows unless interrupted)
  // Both in the step's working memory (ncols entries each):
  const u64* const* col_words;  // per column code, its exponent words
  const u8* col_made;           // per column code, 1 when its record was made for the step
};

// Steps up to the elimination: rows of the nsel halves out[0..nsel-1]
// (multipliers / flags in rel_Expos / rel_CBoolean, origin 0) and their
// reductors from table[0..nred-1], columns ordered, rows coded; room is the
// limit of rows.  Fatal past quor_max_index or room rows.
SymbolicMatrix symbolic_build_matrix(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32 room);

// Gives the multipliers of the reductor rows back to the monomial free list.
void release_reductor_multipliers(const SymbolicMatrix& M);

// Codes the rows left in the unexpanded form (the eliminations read coded rows only).
void code_unexpanded_rows(SymbolicMatrix& M);

// One F4 step: halves out[0..nsel-1], reductors table[0..nred-1], *room free
// entries behind the halves; on return the k new polynomials are out[0..k-1]
// and *room = k (0 also when interrupted).
void internal_symbolic_reduction(u32 nsel, Dpol* table, u32 nred, Dpol* out, u32* room);

// Polynomial (current zone, not numbered) of the coded result row whose lead
// lies at position lp = ncols - lead of the table's order.
QUOR_EXPORT Dpol QUOR_NAME(clone_lzw_ALGO_Dpol)(const sALGO_Dpol* row, Table_de_Recherche t, u32 lp);
// The polynomials of the coded result rows[0..n-1] of a matrix of ncols
// columns, into out[0..n-1] (current zone): records[pos] the record at
// position pos of the table's order, or the table's own when records is
// null; count is scratch for n entries; on width threads.
void clone_lzw_rows(const ALGO_Dpol* rows, u32 n, u32 ncols, Table_de_Recherche t, u64* const* records, Dpol* out,
                    u32* count, u32 width);
// The record of every position 0 .. ncols-1 of the table's order, in the zone.
u64** records_by_position(Table_de_Recherche t, u32 ncols);

}  // namespace quor::QUOR_NS

// Rows are built unexpanded (multiplier, source monomials, multiplier hash)
// when set, and coded just before the elimination (0 at load).
QUOR_EXPORT quor::i32 QUOR_NAME(no_expand);
// Polynomial of a dense row (span residues per slot) whose lead is at position lp.
QUOR_EXPORT quor::QUOR_NS::sDpol* QUOR_NAME(clone_ALGO_Dpol)(const quor::QUOR_NS::sALGO_Dpol* row,
                                                            quor::Table_de_Recherche t, quor::u32 lp);
// Codes n ascending positions (first = lead) into buffer; fatal unless the
// code stays below capacity bytes; *codes / *bytes get the counts.
QUOR_EXPORT void QUOR_NAME(compactify)(quor::u8* buffer, quor::u64 capacity, const quor::u32* positions,
                                      quor::u32 n, quor::u32* codes, quor::u64* bytes);
