// Monomial hash table: numbers monomials (matrix columns) in order of first
// insertion, and looks up products m1*m2 from two stored hashes without
// forming them.
//
// Hash of a monomial with B exponent words: its 4B slots read as a number in
// base 65536, slot 0 most significant, reduced modulo p = quor_hash_prime.  It
// is linear, so hash(m1*m2) = (hash(m1) + hash(m2)) mod p.  Stored hashes are
// valid only for the p in force when they were computed.
//
// Table layout (one zone allocation of 16 + 24*(p + 1) bytes):
//   header  {u32 count (entries = next code); u32 mask; slot array address}
//   slots 0 .. p (slot p is never probed), 24 bytes each, see Table_slot.
// Probes stay in the slots 0 .. span - 1.  The span is a power of 2 at least
// twice count, or p once a power of 2 no longer fits below p; mask is span - 1,
// or QUOR_FULL_SPAN for p.  A step uses a few thousand columns, whose hashes
// spread over all of p: the span keeps the pages touched in proportion to
// them.  A probe starts at (hash mod p) & mask, goes down, wraps once from 0
// to span - 1; an empty slot ends it; a second wrap means the table is full
// (fatal, only when the span is p).  An insertion that brings count above
// span / 2 doubles the span and enters every entry again in code order: the
// slots, codes and flags are then those the same insertions leave in a table
// of that span, and no slot index or reference outlives an insertion.
// The slots from span up are empty.  A record's header keeps hash mod p.
#pragma once
#include "core/quor_build.h"

#include "core/monomial.h"

namespace quor {
struct Table_slot {
  u64* monom;      // the entry's exponent words (record + 1 word); null = empty
  u32 code;        // the entry's code (rank of first insertion)
  u32 code_slot;   // in slot [c]: index of the slot holding the entry of code c
  u32 collision;   // 1 once a probe has passed over this slot
  u32 value;       // the caller's value
};
static_assert(sizeof(Table_slot) == 24);

struct sTable_de_Recherche {
  u32 count;          // number of entries = next code
  u32 mask;           // probe span - 1, or QUOR_FULL_SPAN when the span is p
  Table_slot* slots;  // p + 1 slots, following the header
};
static_assert(sizeof(sTable_de_Recherche) == 16);
using Table_de_Recherche = sTable_de_Recherche*;

// The mask of a table whose probes span all p slots: a start slot ANDed with it stays.
inline constexpr u32 QUOR_FULL_SPAN = ~0u;

// Capacities below this have no hash prime.
inline constexpr u32 QUOR_MIN_MAX_INDEX = 512;
}  // namespace quor

namespace quor::QUOR_NS {

extern u32 quor_max_index;   // capacity of a step (default 500000)
extern u32 quor_hash_prime;  // p (default 600011)
QUOR_EXPORT Table_de_Recherche QUOR_NAME(ptr_Base_Exposants);  // the request's table

// Hash of the exponent words e with the current p.
u64 hash_Expos(const u64* e);
// Stores hash_Expos of each record's monomial in its header (null entries skipped).
void set_hash(u32 count, u64** records);
// Sets quor_hash_prime from quor_max_index (fatal below 512).
void set_hash_prime();
// Hash prime for capacity c, or 0 when c < 512 (no message).
u32 hash_prime_for(u32 c);
// A new table of p + 1 slots in the current zone, not cleared.
Table_de_Recherche dynamic_Table_de_Recherche();
// Empties every slot 0 .. p - 1 (monomial, collision flag), sets count to 0 and the span to 1024 (p when smaller).
void clear_Table_de_Recherche(Table_de_Recherche t);
// Empties only the slots of the entries (cost proportional to count); count = 0, the span kept.
void empty_Table_de_Recherche(Table_de_Recherche t);
// Enters words[t->count .. n-1] (exponent words of distinct records absent from
// t, each header holding its hash) with the next codes, leaving the slots and
// collision flags get_code would have; fatal as get_code when full.
void append_codes(Table_de_Recherche t, const u64* const* words, u32 n);
// quor_max_index.
QUOR_EXPORT u32 QUOR_NAME(max_index)();

// Numbers m2 (m1 null) or m1*m2 (m1 exponent words, h1 its hash; m2 a record):
// 1 when inserted, 0 when present; out the code and the stored record.
QUOR_EXPORT i32 QUOR_NAME(get_code)(u64 h1, const u64* m1, u64* m2, Table_de_Recherche t, u32* code,
                        u64** record);
// Numbers record and sets its value: 1 when inserted, 0 when present.
QUOR_EXPORT i32 QUOR_NAME(insert_code)(u64* record, Table_de_Recherche t, u32 value);
// Value of a record known to be in the table (slots of the table, header just before them).
u32 find_code1(const u64* record, Table_slot* slots);
// Value of m1*m2 (m2 when m1 is null) known to be in the table.
u32 find_code(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t);
// find_code under its exported name.
QUOR_EXPORT u32 QUOR_NAME(find_code)(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t);
// Value of m1*m2 as i32, or -1 when absent (a stored 0xFFFFFFFF also reads -1:
// use find_code_exact where values may be negative).
i32 find_code_or_fail(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t);
// 1 with *value when m1*m2 (m2 when m1 is null) is in the table, else 0.
i32 find_code_exact(u64 h1, const u64* m1, const u64* m2, Table_de_Recherche t, u32* value);
// A stored hash or the sum of two, mod p (below 2p while the prime they
// were made with is in force; reduced in full otherwise): what headers keep.
inline u32 hash_start_slot(u64 h) {
  const u32 p = quor_hash_prime;
  if (h >= p) h -= p;
  if (h >= p) h %= p;
  return u32(h);
}
// Slot where a probe of t for the stored hash h (or sum of two) starts.
inline u32 probe_start(Table_de_Recherche t, u64 h) { return hash_start_slot(h) & t->mask; }
// Number of slots t's probes span (a power of 2, or p).
inline u32 probe_span(Table_de_Recherche t) { return t->mask == QUOR_FULL_SPAN ? quor_hash_prime : t->mask + 1; }
// The table whose slot array s is: the header lies just before its slots.
inline Table_de_Recherche table_of_slots(Table_slot* s) { return reinterpret_cast<Table_de_Recherche>(s) - 1; }
// Hints the cache to fetch the slot a lookup of hash h starts at.  Hint
// helpers are always inlined: a function whose only effect is a hint looks
// free of effects to the optimiser, which then drops the calls.
__attribute__((always_inline)) inline void prefetch_slot(Table_de_Recherche t, u64 h) {
  __builtin_prefetch(t->slots + probe_start(t, h));
}
// QUOR_NAME(get_code) for callers inside the library (no call through the export table).
i32 get_code(u64 h1, const u64* m1, u64* m2, Table_de_Recherche t, u32* code, u64** record);
// Exponent words of the entry with that code (code < count).
inline u64* monom_of_code(Table_de_Recherche t, u32 code) {
  return t->slots[t->slots[code].code_slot].monom;
}
// Prints the monomial with that code.
QUOR_EXPORT void QUOR_NAME(see_Expos_Table)(u32 code, Table_de_Recherche t);
// Prints the monomial with code k - base.
QUOR_EXPORT void QUOR_NAME(see_local_Expos)(u32 base, Table_de_Recherche t, u32 k);
#if !QUOR_INT
// Kept for the host's debugging hook; does nothing.
QUOR_EXPORT void see_local_code();
#endif

}  // namespace quor::QUOR_NS
