// Monomials of the core: packed exponent records, the layout of a request,
// the two-block order, word-parallel arithmetic, lists of monomials.
//
// Record layout (`Expos`, sz_Expos = 8 + 8*B bytes, B = nb_of_blocks_of_variables):
//   word 0       header: the hash (below quor_hash_prime, see core/hashtable.h);
//                while the record is free, the link to the next free record
//   words 1 .. B exponents, unsigned 16 bits, four per word: slot i lives in word
//                1 + i/4, bits 16*(i%4) .. 16*(i%4)+15
// Slots 0 .. n-1 are the variables (block 1 first, then block 2), slot n is the
// homogenising variable, slots n+1 .. 4B-1 are spare and always 0 (equality,
// hashing and the block-2 scan read whole words).
//
// Two addresses of a monomial are in use: the record address (hash at [0]),
// handed out by polynomials and the hash table, and the address of its
// exponent words (record + 1 word), taken by the order, the arithmetic and the
// printers.  sub_Expos, nil_or_sub_Expos and lcm_Expos return a header-less
// record: exponents from word 0, record address == exponent address.
//
// Exponent bound: every slot, and every slot of a product formed by word
// addition, must stay <= EXPOS_MAX_EXPONENT (2^15 - 1).  Nothing here checks
// it: a carry would spill into the next slot and divisibility would lie.
// Whoever brings exponents in (host transfer, text reader, homogenisation)
// refuses larger ones with expos_in_range / expos_product_in_range.
#pragma once
#include "core/quor_build.h"

#include <string>

namespace quor {
using NNI = u16;              // one exponent slot
using Expos = u64*;           // a monomial (record address or exponent words, see above)
using const_Expos = const u64*;

// The top bit of every 16-bit slot: set in a word difference exactly when some
// slot went negative, provided all slots are <= EXPOS_MAX_EXPONENT.
inline constexpr u64 EXPOS_SIGN_MASK = 0x8000800080008000ULL;
inline constexpr u32 EXPOS_MAX_EXPONENT = 0x7FFF;
// An in-range slot leaves its sign bit clear, so a word difference shows a
// slot's borrow in its own sign bit and a sum of in-range slots cannot carry.
static_assert((EXPOS_MAX_EXPONENT & 0x8000u) == 0 && 2 * EXPOS_MAX_EXPONENT <= 0xFFFFu);
// Entries of the table of variable names.
inline constexpr u32 QUOR_MAX_VARIABLE_NAMES = 10000;

// List_Expos cell, 16 bytes: the monomial's exponent words, then the next cell
// (null at the end).  While a cell is free, word 0 links the free list.
struct sList_Expos {
  u64* expos;
  sList_Expos* next;
};
using List_Expos = sList_Expos*;
static_assert(sizeof(sList_Expos) == 16);

// Sort/merge predicate on the exponent words of two cells: non-zero when the
// first must stand before the second.
using List_Expos_before = i32 (*)(const u64* a, const u64* b);

// Slot i of the exponent words e.
inline u32 expos_slot(const u64* e, u32 i) { return u32(e[i >> 2] >> (16 * (i & 3))) & 0xFFFFu; }
// Sets slot i of the exponent words e to v (v < 2^16).
inline void expos_set_slot(u64* e, u32 i, u32 v) {
  const u32 sh = 16 * (i & 3);
  e[i >> 2] = (e[i >> 2] & ~(0xFFFFULL << sh)) | (u64(v & 0xFFFFu) << sh);
}
// The four slots of word w side by side, f bits each, slot 0 lowest (every
// slot below 2^f, 1 <= f <= 16): pairs first, then the two pairs.
inline u64 expos_pack_word(u64 w, u32 f) {
  const u64 m0 = ((u64(1) << f) - 1) * 0x0000000100000001ULL;  // slots 0 and 2
  const u64 m1 = (u64(1) << (2 * f)) - 1;
  const u64 x = (w & m0) | ((w >> (16 - f)) & (m0 << f));
  return (x & m1) | ((x >> (32 - 2 * f)) & (m1 << (2 * f)));
}
// The mask of expos_pack_word_pext for f bits a slot.
inline u64 expos_pack_lanes(u32 f) { return ((u64(1) << f) - 1) * 0x0001000100010001ULL; }
// expos_pack_word(w, f) by one parallel bit extract (lanes = expos_pack_lanes(f)); needs BMI2.
__attribute__((target("bmi2"))) inline u64 expos_pack_word_pext(u64 w, u64 lanes) {
  return __builtin_ia32_pext_di(w, lanes);
}
// Sum of the four 16-bit slots of one word.
inline u32 expos_word_degree(u64 w) {
  const u64 s = (w & 0x0000FFFF0000FFFFULL) + ((w >> 16) & 0x0000FFFF0000FFFFULL);
  return u32(s) + u32(s >> 32);
}
}  // namespace quor

namespace quor::QUOR_NS {

// ---- layout of the current request (set by set_Expos) ----
extern u32 nb_of_affine_variables;       // n: index of the homogenising slot
extern u32 real_nb_of_affine_variables;  // n as declared: the printers loop up to it
extern u32 nb_of_variables;              // n + 1 slots in use
extern u32 nb_of_blocks_of_variables;    // B = ceil((n + 1) / 4) exponent words
extern u32 max_nb_of_variables;          // 4B - 1: last slot, spare slots included
extern u32 sz_Expos;                     // 8 + 8B bytes per record
extern u32 var_second_block;             // k: variables of block 1 = first slot of block 2
// Variable names read by the printers (slot n is the homogenising one, "?");
// filled by the declaration of the variables, defined in core/monomial.cpp.
extern char* Liste_variables[QUOR_MAX_VARIABLE_NAMES];

// Free lists (forgotten, not walked, by the memory reset).
extern u64* root_of_Expos;
QUOR_EXPORT List_Expos QUOR_NAME(root_of_List_Expos);
extern List_Expos z_List_Expos;  // sort sentinel (next points to itself)

// Lays out monomials for n variables with var_second_block already set;
// prints "Blocks %u %u\n" unless want_quiet.
void set_Expos(u32 n);

// ---- records ----
// A record from the free list (header undefined).
QUOR_EXPORT u64* QUOR_NAME(new_Expos)();
// Pushes a record (either form) back on the free list; null ignored; returns 0.
QUOR_EXPORT i32 QUOR_NAME(kill_Expos)(u64* record);
// A record of sz_Expos bytes from the current zone (not the free list).
QUOR_EXPORT u64* QUOR_NAME(new_heap_Expos)();
// Exponent words of a new record, all zero (the unit monomial); header unset.
u64* zero_Expos();
// Exponent words of a new record holding a copy of the B words at e; header unset.
u64* copy_offset_Expos(const u64* e);
#if QUOR_INT
// *slot (a record address) is replaced by a copy (header + B words) made in the current zone.
void in_place_copy_Expos(u64** slot);
// Shell-sorts count places by the monomial address each holds, ascending.
void sort_Expos_Adresses(u64*** slots, u32 count);
#endif
// Clears the B words at dst and copies slots 0 .. k-1 of record src into it.
void copy_block1_Expos(u64* dst, const u64* src);

// ---- arithmetic (arguments are exponent words) ----
// Product into the B words at out (out may alias a or b).
inline void mul_Expos(u64* out, const u64* a, const u64* b);
// Header-less record a - b (the caller guarantees b | a).
u64* sub_Expos(const u64* a, const u64* b);
// As sub_Expos, but a unit quotient is recycled and null returned.
u64* nil_or_sub_Expos(const u64* a, const u64* b);
// Header-less record of the slot-wise maxima of a and b.
QUOR_EXPORT u64* QUOR_NAME(lcm_Expos)(const u64* a, const u64* b);
// 1 when d divides m, else 0.
inline i32 is_sub_Expos1(const u64* m, const u64* d);
// 1 with q = m - d when d divides m; else 0 (q may be partly written).
QUOR_EXPORT i32 QUOR_NAME(is_sub_in_place_Expos)(const u64* m, const u64* d, u64* q);
// 1 when the B words at a and b are equal.
inline i32 equal_Expos(const u64* a, const u64* b);
// Total degree: sum of all slots (homogenising slot included).
inline u32 degree_Expos(const u64* e);

// ---- exponent bound checks (for whoever brings exponents in) ----
// 1 when every slot of e is <= EXPOS_MAX_EXPONENT.
inline i32 expos_in_range(const u64* e);
// 1 when every slot of a * b stays <= EXPOS_MAX_EXPONENT (a, b themselves in range).
inline i32 expos_product_in_range(const u64* a, const u64* b);

// ---- order: 1 when a > b, -1 when a < b, 0 when slots 0 .. n are equal ----
// Block 1 degree, block 1 reverse lex, block 2 reverse lex (homogeneous input).
i32 comp_Expos(const u64* a, const u64* b);
// Same function as comp_Expos under another name.
i32 comp4_Expos(const u64* a, const u64* b);
// As comp_Expos with the block-2 degree compared before its reverse lex scan.
i32 comp5_Expos(const u64* a, const u64* b);

// ---- order keys ----
// Packs monomials into keys of one or two words whose unsigned order (word 0
// first) is the order of comp4_Expos, or comp5_Expos when strong: block 1's
// degree and its slots from the top down, the block-2 degree (strong), block
// 2's slots from the top down, each slot complemented within its width (the
// larger exponent is the smaller monomial), then a tail field of the caller's.
// The widths come from the OR of the words of every monomial to be keyed.
struct ExposKeyLayout {
  struct Field {
    u32 kind;  // 0 slot, 1 degree of block 1, 2 degree of block 2, 3 tail
    u32 slot;  // kind 0
    u32 bits;
    u32 word;  // key word and shift of the field's lowest bit
    u32 shift;
    u32 src_word;   // kind 0: the exponent word and shift of the slot
    u32 src_shift;
    u64 mask;       // 2^bits - 1
  };
  Field f[4 * 16 + 3];
  u32 nf = 0;
  u32 words = 0;  // key words; 0: the layout needs more than two (or B > 16)
  bool degrees = false;  // a block degree is one of the fields
  // Not strong: every slot in one width, packed word by word (the fields
  // above are then unused).
  u32 fixed_width = 0;  // 0: the fields
  u32 fixed_degree_bits = 0;  // block 1's degree (none without a block 1)
  u32 fixed_bits = 0;   // degree, slot and tail bits
  u32 tail_bits = 0;

  // Lays out keys for monomials whose words OR to any, with tails bits for the tail.
  void plan(const u64* any, bool strong, u32 tails);
  // Writes the words key of e, with tail in the tail field.
  void make(const u64* e, u64 tail, u64* key) const;
  // The tail field of a key.
  u64 tail_of(const u64* key) const;
};

// ---- lists ----
// A cell from the free list (fields undefined).
QUOR_EXPORT List_Expos QUOR_NAME(new_List_Expos)();
// Recycles the cell, returns its next field; null gives null.
QUOR_EXPORT List_Expos QUOR_NAME(kill_List_Expos)(List_Expos cell);
// (Re)links the sort sentinel z_List_Expos, a cell outside zone memory, and returns it.
QUOR_EXPORT List_Expos QUOR_NAME(init_Objet_List_Expos)();
// a followed by b.
QUOR_EXPORT List_Expos QUOR_NAME(append_List_Expos)(List_Expos a, List_Expos b);
// list with x inserted before the first cell c with before(x, c) != 0, else at the end.
QUOR_EXPORT List_Expos QUOR_NAME(merge_boolean_List_Expos)(List_Expos x, List_Expos list, List_Expos_before before);
// Stable bottom-up merge sort of list by before (needs the sentinel).
QUOR_EXPORT List_Expos QUOR_NAME(trier_boolean_List_Expos)(List_Expos list, List_Expos_before before);

// ---- printing ----
// The text of a monomial ("1", "x1^2*x3", "?" for an unnamed variable).
std::string expos_to_string(const u64* m, i32 with_header);
// Prints the monomial through the output channel (m a record when with_header).
void see_Expos2(const u64* m, i32 with_header);
// see_Expos2(e, 0).
void see_Expos(const u64* e);

// ---- inline word kernels ----
inline void mul_Expos(u64* out, const u64* a, const u64* b) {
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) out[w] = a[w] + b[w];
}
inline i32 is_sub_Expos1(const u64* m, const u64* d) {
  for (u32 w = nb_of_blocks_of_variables; w-- > 0;)
    if ((m[w] - d[w]) & EXPOS_SIGN_MASK) return 0;
  return 1;
}
inline i32 equal_Expos(const u64* a, const u64* b) {
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w)
    if (a[w] != b[w]) return 0;
  return 1;
}
inline u32 degree_Expos(const u64* e) {
  u32 d = 0;
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w) d += expos_word_degree(e[w]);
  return d;
}
inline i32 expos_in_range(const u64* e) {
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w)
    if (e[w] & EXPOS_SIGN_MASK) return 0;
  return 1;
}
inline i32 expos_product_in_range(const u64* a, const u64* b) {
  // Both operands below 2^15 per slot: the sum cannot carry, and its top bits
  // tell which slots reached 2^15.
  const u32 nb = nb_of_blocks_of_variables;
  for (u32 w = 0; w < nb; ++w)
    if ((a[w] + b[w]) & EXPOS_SIGN_MASK) return 0;
  return 1;
}

}  // namespace quor::QUOR_NS
