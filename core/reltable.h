// Relative index tables: growable arrays of fixed-size elements addressed by
// a 32-bit index taken relative to a movable origin.
//
// Storage is a list of chunks from the zone allocator.  Chunk 0 holds 1,024
// elements and every further chunk twice as many as the one before, so chunk
// k holds 1024*2^k elements and starts at absolute index 1024*(2^k - 1).
// Chunks never move and are never freed one by one: growing never copies,
// and an element keeps its address for the life of the table.  A table is
// forgotten (not freed) by clearing its chunk count; its chunks go with the
// zone that holds them.
//
// One template, five instances per build (each build has its own copies):
//   rel_Expos      monomial exponent words (u64*, null = the monomial 1)  8 bytes
//   rel_Indexes    polynomial ids (u32)                                   4 bytes
//   rel_Crit       critical pairs (Crit)                                  8 bytes
//   rel_CBoolean   one-byte flags (0 or 1)                                1 byte
//   rel_MatrixRow  matrix-row entries (MatrixRow_entry)                  32 bytes
// and the operations under their names: reset_relative_X, set_relative_X,
// get_relative_X, add_relative_X (Expos, CBoolean), swap_relative_Expos.
//
// Errors (fatal channel, nothing changed): "Illegal access get_relative_ %s\n",
// "Illegal access in swap_relative_%s\n", "Illegal add_relative_ %s\n",
// "Cannot extend %s data type cur=%d>=%d\n" (%s the table name).
#pragma once
#include "core/quor_build.h"

#include <bit>

namespace quor {
inline constexpr u32 kRelFirstChunk = 1024;  // elements of chunk 0
inline constexpr u32 kRelMaxChunks = 31;     // chunks a table may use
inline constexpr u32 kRelChunkSlots = 32;    // room in the chunk arrays

// Chunk holding absolute index a, given exactly doubling chunks from 1,024:
// chunk k covers [1024*(2^k - 1), 1024*(2^(k+1) - 1)).
inline u32 rel_chunk_of(u64 a) { return u32(std::bit_width((a >> 10) + 1u)) - 1u; }
// First absolute index of chunk k (64-bit: the late chunks pass 2^32).
inline u64 rel_chunk_start(u32 k) { return u64(kRelFirstChunk) * ((u64(1) << k) - 1); }
}  // namespace quor

namespace quor::QUOR_NS {

struct sDpol;
using Dpol = sDpol*;
struct sCrit;
using Crit = sCrit*;

// Element of the matrix-row table, one per row of a matrix, in row order.
// Layout (32 bytes): descriptor (header-only Dpol made for the row), source
// (the polynomial the row is a multiple of), multiplier (its exponent words,
// null for 1), hash of the multiplier (0 for 1), 4 bytes of padding.
struct MatrixRow_entry {
  Dpol descriptor;
  Dpol source;
  u64* multiplier;
  u32 hash;
};
static_assert(sizeof(MatrixRow_entry) == 32, "matrix-row entries are 32 bytes");

[[noreturn]] void reltable_fail(const char* format, const char* name);
[[noreturn]] void reltable_fail_extend(const char* name, u32 cur);
// Zone memory for one chunk of elements (64-bit byte count).
void* reltable_chunk(u64 bytes);

// The table.  State (the module globals of one table): current = chunks in
// use (0: no storage), relative_ptr = the origin, size_relative[k] = elements
// of chunk k (64-bit so that late chunk sizes cannot wrap), abs_ptr[k] = base
// of chunk k.
template <class T>
struct RelTable {
  const char* name;
  u32 current = 0;
  u32 relative_ptr = 0;
  u64 size_relative[kRelChunkSlots] = {};
  T* abs_ptr[kRelChunkSlots] = {};

  // Elements of all chunks in use.
  u64 capacity() const { return current == 0 ? 0 : rel_chunk_start(current); }

  // Address of relative index i, or null past the last chunk.
  T* locate(u32 i) const {
    const u64 a = u64(relative_ptr) + i;  // never wraps back to the low chunks
    const u32 k = rel_chunk_of(a);
    if (k >= current) return nullptr;
    return abs_ptr[k] + (a - rel_chunk_start(k));
  }

  // Gives the table chunk 0 when it has none; origin back to 0 (chunks kept).
  void reset() {
    if (current == 0) grow();
    relative_ptr = 0;
  }
  // Drops the chunks (they stay in their zone) and the origin.
  void forget() {
    current = 0;
    relative_ptr = 0;
  }
  // Forgets the table and gives it a fresh chunk 0 with the origin at 0.
  void fresh() {
    forget();
    grow();
  }
  // Appends one chunk, twice the size of the last (1,024 for the first).
  void grow() {
    if (current >= kRelMaxChunks) reltable_fail_extend(name, current);
    const u64 n = current == 0 ? kRelFirstChunk : 2 * size_relative[current - 1];
    abs_ptr[current] = static_cast<T*>(reltable_chunk(n * sizeof(T)));
    size_relative[current] = n;
    ++current;
  }
  // Stores v at relative index i, appending chunks until it fits.
  void set(u32 i, const T& v) {
    T* p = locate(i);
    while (p == nullptr) {
      grow();
      p = locate(i);
    }
    *p = v;
  }
  // The element at relative index i; fatal past the last chunk.
  T get(u32 i) const {
    const T* p = locate(i);
    if (p == nullptr) reltable_fail("Illegal access get_relative_ %s\n", name);
    return *p;
  }
  // Address of the element at relative index i; fatal past the last chunk.
  T* at(u32 i) const {
    T* p = locate(i);
    if (p == nullptr) reltable_fail("Illegal access get_relative_ %s\n", name);
    return p;
  }
  // Moves the origin forward by k; an origin past the capacity is fatal (equal is fine).
  void add(u32 k) {
    const u64 o = u64(relative_ptr) + k;
    if (o > capacity()) reltable_fail("Illegal add_relative_ %s\n", name);
    relative_ptr = u32(o);
  }
  // Exchanges the elements at relative indices i and j; fatal past the last chunk.
  void swap(u32 i, u32 j) {
    T* p = locate(i);
    T* q = locate(j);
    if (p == nullptr || q == nullptr) reltable_fail("Illegal access in swap_relative_%s\n", name);
    T t = *p;
    *p = *q;
    *q = t;
  }
};

extern RelTable<u64*> rel_Expos;
extern RelTable<u32> rel_Indexes;
extern RelTable<Crit> rel_Crit;
extern RelTable<u8> rel_CBoolean;
extern RelTable<MatrixRow_entry> rel_MatrixRow;

// Chunk 0 when missing, origin 0 (chunks and their contents stay).
inline void reset_relative_Expos() { rel_Expos.reset(); }
inline void reset_relative_Indexes() { rel_Indexes.reset(); }
inline void reset_relative_Crit() { rel_Crit.reset(); }
inline void reset_relative_CBoolean() { rel_CBoolean.reset(); }

// Store at relative index i, growing as needed.
inline void set_relative_Expos(u32 i, u64* v) { rel_Expos.set(i, v); }
inline void set_relative_Indexes(u32 i, u32 v) { rel_Indexes.set(i, v); }
inline void set_relative_Crit(u32 i, Crit v) { rel_Crit.set(i, v); }
inline void set_relative_CBoolean(u32 i, u8 v) { rel_CBoolean.set(i, v); }
inline void set_relative_MatrixRow(u32 i, const MatrixRow_entry& v) { rel_MatrixRow.set(i, v); }

// Element at relative index i (fatal past the end).
inline u64* get_relative_Expos(u32 i) { return rel_Expos.get(i); }
inline u32 get_relative_Indexes(u32 i) { return rel_Indexes.get(i); }
inline Crit get_relative_Crit(u32 i) { return rel_Crit.get(i); }
inline u8 get_relative_CBoolean(u32 i) { return rel_CBoolean.get(i); }
inline MatrixRow_entry get_relative_MatrixRow(u32 i) { return rel_MatrixRow.get(i); }

// Origin forward by k (fatal beyond the capacity).
inline void add_relative_Expos(u32 k) { rel_Expos.add(k); }
inline void add_relative_CBoolean(u32 k) { rel_CBoolean.add(k); }

// Exchange relative indices i and j (fatal past the end).
inline void swap_relative_Expos(u32 i, u32 j) { rel_Expos.swap(i, j); }

// Forgets all five tables (their chunks stay in their zone): the start of a
// basis computation, and after the zones were reset under them.
void forget_relative_tables();
// Forget the row table and give it a fresh chunk 0 (start of every matrix).
inline void fresh_relative_MatrixRow() { rel_MatrixRow.fresh(); }

}  // namespace quor::QUOR_NS
