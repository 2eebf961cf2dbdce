// Zone allocator: every record of the core lives in zone memory.
//
// A build has three zones.  Zone 1 is the working zone: every allocation goes
// to whichever zone sits in the zone-1 globals, and marks are taken there.
// Zone 2 holds results that must survive a zone-1 restore, zone 3 long-lived
// data (slabs, input polynomials, per-prime constants).  Code that wants zone
// 2 or 3 swaps it in (swap_zone / swap_zone3), allocates, and swaps it back.
//
// Zone blocks are carved strictly upward from one reserved address range, so
// a block taken later always lies above every block taken earlier in the same
// request (in both builds).  Moving results "down" after a restore relies on
// it.
//
// Relocation contract (big integers and any survivor of a restored mark):
//   save a mark, compute, restore the mark, then visit the survivors in
//   ascending address order and give each a copy made with
//   zone_alloc_exact(n, a) -- n its exact byte count, a <= the alignment of
//   its current address -- moved with memmove.  Such a copy lands either in
//   a fresh block or at or below its source, ending no later than the source
//   ends, so it never overwrites a survivor not yet moved.  alloc64 does NOT
//   give this guarantee (it pads by 16-20 bytes, so a copy may end beyond its
//   source).  Allocating in zone 2 or 3 meanwhile is safe: a zone reuses only
//   its own spare blocks, never another zone's (they may hold survivors).
//
// Every shortage is fatal through the build's fatal channel; nothing here
// returns null except the refusing stack guard's 0 and the system wrappers.
#include "core/quor_build.h"

// ---- build-independent part (one copy for both builds) ----
#ifndef QUOR_CORE_ZONE_COMMON_H
#define QUOR_CORE_ZONE_COMMON_H
#include <cstddef>
#include <cstdio>

namespace quor {

// Zone mark, kept on the caller's stack.  Layout, in this order:
//   cur_garbages    i32    blocks in use (the current block is slot - 1)
//   bignum_tas      char*  bump pointer
//   bot_bignum_tas  char*  end of the current block
// Save copies these three fields of a zone, restore copies them back; the
// blocks taken after the mark stay recorded as spare blocks.
struct GC_state {
  i32 cur_garbages;
  char* bignum_tas;
  char* bot_bignum_tas;
};

// Record of the block pool (32 of them).  The library appends records only
// as taken; give_block_memory reuses a record an outside party marked
// available when its size is exactly the block size wanted.
struct pseudo_share_record {
  u32 size;        // bytes of the block
  char* address;   // start of the block
  u8 available;    // 1: may be handed out
  u8 taken;        // 1: in use
};
inline constexpr u32 kPseudoShareRecords = 32;

// Requests below this are carved from a shared 1,000,000-byte buffer.
inline constexpr u64 kBufMallocSize = 1000000;
// Stack requests above this are reported (and refused by the refusing guard).
inline constexpr i64 kAllocaLimit = 1000000;

// ---- recorded system blocks (both builds) ----
// Every fresh system block Quor_malloc takes (growable table, no limit); the
// memory reset frees them all, last first.
QUOR_EXPORT void** Quor_malloc_mem;
QUOR_EXPORT u64* Quor_malloc_mem_sz;
QUOR_EXPORT u32 Quor_malloc_cur;
extern char* buf_malloc_cur;  // next free byte of the carving buffer (null: none)
extern char* buf_malloc_lim;  // end of the carving buffer

// size bytes, 16-aligned, recorded for the reset; null on failure.
QUOR_EXPORT void* Quor_malloc(u64 size);
// size bytes, 16-aligned; *recorded = bytes of a fresh system block to record
// (0 when carved from the current buffer).  Null (and *recorded 0) on failure.
QUOR_EXPORT void* Quor_buf_malloc(u64 size, u64* recorded);

// ---- reserved range of zone blocks (both builds) ----
// bytes (rounded up to a page) of committed memory at an address above every
// block taken since the last release; null when it cannot be had.
char* zone_space_take(u64 bytes);
// Gives every zone block back to the system; the next block starts low again.
void zone_space_release();
// Bytes of zone blocks handed out since the last release.
u64 zone_space_used();

// ---- system wrappers ----
void* zmalloc(u64 n);               // malloc
void zfree(void* p);                // free
void* zrealloc(void* p, u64 n);     // realloc
void* jc_malloc(u64 n);             // malloc
void jc_free(void* p, u64 n);       // free (n ignored)
void jc_reset_malloc();             // nothing
const char* jc_malloc_report();     // "use malloc"
void remap_vector();                // nothing
}  // namespace quor

// Block pool and its counters (exported): min = first record searched,
// cur = records in use.  The memory reset sets both to 0.
QUOR_EXPORT quor::pseudo_share_record pseudo_share_memory[quor::kPseudoShareRecords];
QUOR_EXPORT quor::u32 pseudo_share_memory_min;
QUOR_EXPORT quor::u32 pseudo_share_memory_cur;

// Frees every recorded system block and every zone block of both builds,
// empties the pool and the carving buffer, and makes both builds forget the
// zone state that pointed into them (zone_forget_state of each build).
QUOR_EXPORT void Quor_malloc_reset();

// Tesk engine hooks: n bytes from Quor_malloc (null for n < 0).
QUOR_EXPORT void* Tesk_new_operator(quor::i32 n);
QUOR_EXPORT void* Tesk_new_tab_operator(quor::i32 n);
// Releases nothing (the memory belongs to the recorded blocks); says
// "NYA Tesk_delete_operator" on standard error the first time.
QUOR_EXPORT void Tesk_delete_operator();
#endif  // QUOR_CORE_ZONE_COMMON_H

// ---- per-build part ----
#if QUOR_INT
#ifndef QUOR_GUARD_CORE_ZONE_H_INT
#define QUOR_GUARD_CORE_ZONE_H_INT
#define QUOR_HDR_OPEN
#endif
#else
#ifndef QUOR_GUARD_CORE_ZONE_H_GF
#define QUOR_GUARD_CORE_ZONE_H_GF
#define QUOR_HDR_OPEN
#endif
#endif
#ifdef QUOR_HDR_OPEN
#undef QUOR_HDR_OPEN

namespace quor::QUOR_NS {

// ---- zone state (zone 1 shown; zones 2 and 3 carry the suffix 2 / 3) ----
// all_garbages / zone_memory_size: the zone's blocks and their usable sizes,
// slot order; slots cur_garbages .. max_garbages-1 are spare blocks.
extern char* bignum_tas;          // bump pointer
extern char* bot_bignum_tas;      // end of the current block
extern char** all_garbages;       // block table (limit_garbages entries)
extern u32* zone_memory_size;     // usable bytes of each block
extern i32 cur_garbages;          // blocks in use
extern i32 max_garbages;          // blocks recorded
extern u32 limit_garbages;        // capacity of both tables
extern u32 cur_id_garbage;        // identity (1, 2, 3) of the zone in these slots
extern char* bignum_tas2;
extern char* bot_bignum_tas2;
extern char** all_garbages2;
extern u32* zone_memory2_size;
extern i32 cur_garbages2;
extern i32 max_garbages2;
extern u32 limit_garbages2;
extern u32 cur_id_garbage2;
extern char* bignum_tas3;
extern char* bot_bignum_tas3;
extern char** all_garbages3;
extern u32* zone_memory3_size;
extern i32 cur_garbages3;
extern i32 max_garbages3;
extern u32 limit_garbages3;
extern u32 cur_id_garbage3;

// Usable size of the next zone block (a block is this + 8 bytes); only grows,
// survives the memory reset.  Raise it before one large request to avoid the
// "INCREASE HEAP" path.
extern u32 zone_memory_allocated;
// Capacity given to each zone's tables (default 30000).
extern u32 dynamic_max_garbages;
// Start of the last zone block handed out (0 after a reset).
QUOR_EXPORT char* QUOR_NAME(previous_alloc);
// Bytes of all slabs made by generate.
extern u64 ct_obj_alloc;

// ---- large-allocation statistics and big-reservation mode (survive resets) ----
extern u32 total_allocated;        // kilobytes (size >> 10 per allocation)
extern double total_allocated_meg; // kilobytes (size / 1024 per allocation)
extern double malloc_demand[10];   // kilobytes per kind 0..9
extern u32 count_Quor_xmalloc;     // number of large allocations
inline constexpr i32 kBigMemoryMax = 1000;          // reservations at most
inline constexpr u32 kBigMemorySize = 102100000;    // bytes per reservation
extern i32 use_big_memory;         // TESKBIGMEM seen at the first xmalloc
extern i32 cur_big_memory;         // reservations taken (0 again after a reset)
extern u32 size_big_memory[kBigMemoryMax];   // bytes left in each reservation
extern char* ptr_big_memory[kBigMemoryMax];  // next free byte of each

// ---- zone memory ----
// size bytes of zone 1, 16-aligned (asks alloc_internal for size+16, +4 when size%8).
QUOR_EXPORT void* QUOR_NAME(alloc64)(u64 size);
// Same as alloc64.
QUOR_EXPORT void* QUOR_NAME(alloc)(u64 size);
// Raw bump allocation of size bytes in zone 1, no alignment.
QUOR_EXPORT void* QUOR_NAME(alloc_internal)(u64 size);
// Exactly size bytes at the first multiple of align (a power of 2, <= 4096;
// anything else is fatal) at or above the bump pointer: the relocation
// primitive (see the contract above).
void* zone_alloc_exact(u64 size, u32 align);
// Gives back the tail of the last allocation (asked m bytes, needs n <= m): the
// bump pointer moves back by m - round8(n).  p is not used.
QUOR_EXPORT void QUOR_NAME(realloca)(void* p, u64 n, u64 m);
// Exchange every field of zone 1 with zone 2 / zone 3 (twice is the identity).
QUOR_EXPORT void QUOR_NAME(swap_zone)();
QUOR_EXPORT void QUOR_NAME(swap_zone3)();

// ---- marks ----
QUOR_EXPORT void QUOR_NAME(save_GC_state)(GC_state* m);              // zone 1 -> m
QUOR_EXPORT void QUOR_NAME(restore_GC_state)(const GC_state* m);     // m -> zone 1
QUOR_EXPORT void QUOR_NAME(save_tesk_state_z3)(GC_state* m);         // zone 3 -> m
QUOR_EXPORT void QUOR_NAME(restore_tesk_state_z3)(const GC_state* m);// m -> zone 3
QUOR_EXPORT void QUOR_NAME(restore_tesk_state_z2)(const GC_state* m);// m -> zone 2
QUOR_EXPORT void QUOR_NAME(save_tesk_state2)(GC_state* m1, GC_state* m2);  // zone 1 -> m1, zone 2 -> m2
QUOR_EXPORT void QUOR_NAME(restore_tesk_state2)(const GC_state* m1, const GC_state* m2);
// Restores zone 1 from m and zeroes [restored bump pointer, restored block end).
QUOR_EXPORT void QUOR_NAME(restore_destroy_tesk_state)(const GC_state* m);

// Forget the free list of monomial records / of monomial list cells.
QUOR_EXPORT void QUOR_NAME(restore_memory_obj_0)();
QUOR_EXPORT void QUOR_NAME(restore_memory_obj_1)();

// A slab of count records of size bytes in zone 3, linked through their first
// word (the last holds null); returns the first record.
QUOR_EXPORT void* QUOR_NAME(generate)(u32 count, u32 size, const char* name);
// Diagnostic: names the zone and slot of every block in use that holds p.
QUOR_EXPORT void QUOR_NAME(rechercher_pointer)(const void* p);
// A new zone block of zone_memory_allocated + 8 bytes, 8-aligned, above every
// block handed out before; null when none can be had.
QUOR_EXPORT char* QUOR_NAME(give_block_memory)();
// Makes (p, size) the current block of zone 1 (fatal when the tables are full).
void update_all_garbages(char* p, u32 size);

// ---- large and system allocations ----
// size bytes outside the zones, kept until the memory reset; kind 0..9
// selects the statistic (0 default, 3 zone tables, 5 reconstruction).
QUOR_EXPORT void* QUOR_NAME(xmalloc_spec)(u64 size, i32 kind);
// xmalloc_spec(size, 0).
QUOR_EXPORT void* QUOR_NAME(xmalloc)(u64 size);
// Quor_malloc(size); fatal "Cannot allocate memory !" when it fails.
void* CALL_MALLOC_check(u64 size);
// Stack-request guard: always 1; above 1,000,000 bytes first writes
// "*** alloca %d\n" (resp. "*** alloca %d in %s\n") on standard error.
QUOR_EXPORT i32 QUOR_NAME(chk_alloca_size)(i32 n);
QUOR_EXPORT i32 QUOR_NAME(chk_alloca_size_msg)(i32 n, const char* name);
// Refusing guard for requests sized by the input: 1 when 0 <= n <= 1,000,000
// (take the stack), 0 otherwise (take zone memory instead).  Silent.
i32 stack_request_fits(i64 n);
// Vector length of the dense kernels: n rounded up to 4 (integer build) / 8.
QUOR_EXPORT u32 QUOR_NAME(align_vector_size)(u32 n);

// ---- memory reset and tables (called by the request set-up) ----
// Allocates the six zone tables (dynamic_max_garbages entries each, kind 3)
// and sets the three limits.
void zone_init_tables();
// Grows every zone's tables to capacity entries, copying the current ones;
// never shrinks.  Sets dynamic_max_garbages.
void zone_grow_tables(u32 capacity);
// Forgets this build's zone state after its memory was released: tables
// null, limits dynamic_max_garbages, pointers and counts 0, identities 1 2 3,
// previous_alloc 0, the monomial free lists and the big-reservation carving.
// (The pair free list root_of_Crit, the polynomial ids and the once-flags of
// the set-up belong to their owners.)  Keeps zone_memory_allocated and the
// statistics.
void zone_forget_state();
// The zone part of a memory reset: with keep_other 0 releases every system
// block of both builds (Quor_malloc_reset, which also makes the other build
// forget its zone state); then forgets this build's zone state.
void zone_reset_memory(i32 keep_other);

}  // namespace quor::QUOR_NS
#endif
