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
#pragma once
#include "core/quor_build.h"

#include "core/zone_shared.h"

// ---- per-build part ----

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
// Spare blocks known to hold nothing: slots dead_garbages .. max-1 of a zone
// (none when it is max or more), and among them the slots given_garbages ..
// max-1 whose pages went back to the system (they come back zeroed when
// touched).  They move with the zone's other fields.
extern i32 dead_garbages, dead_garbages2, dead_garbages3;
extern i32 given_garbages, given_garbages2, given_garbages3;

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

// ---- spare blocks given back ----
// The working zone's spare blocks (those after the current one) hold nothing
// the caller needs: no survivor of a restored mark waits in them.  Their
// pages go back to the system when a block must be taken fresh (its pages
// then take their place instead of adding to them) or at
// zone_give_back_dead; the zone reuses the blocks as before, their pages
// made resident again only as they are touched.
void zone_spares_dead();
// zone_spares_dead for the three zones.
void zone_all_spares_dead();
// Gives back now the pages of every block zone_spares_dead declared, in the
// three zones, that no zone has used since.
void zone_give_back_dead();

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

// Whether p lies in what zone 2 holds above its mark m (the blocks in use
// from the mark's block on, that block from the mark's bump pointer up).
bool zone2_holds_above(const GC_state* m, const void* p);

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

// Bump memory for the scratch of one phase, laid out from the start of the
// scratch region (or, when another phase holds it, taken from the scratch
// chunks) and given back on release or destruction: the pages a phase leaves
// then serve the next phase (an elimination after the symbolic
// preprocessing), where the working zone would keep the scratch resident
// under everything allocated after it.
class ScratchArena {
 public:
  // With region false the phase takes chunks only (a team's phases, whose
  // chunks the workers' own storage takes in turn).
  explicit ScratchArena(bool region = true) : region_tried_(!region) {}
  ~ScratchArena() { release(); }
  ScratchArena(const ScratchArena&) = delete;
  ScratchArena& operator=(const ScratchArena&) = delete;
  // n bytes, 64-aligned (fatal, as a zone block that cannot be had, when the system has none).
  void* take(u64 n);
  // Gives every chunk back.
  void release();

 private:
  struct Chunk {
    void* at;
    u64 size;
  };
  Chunk* chunks_ = nullptr;  // malloc'd, capacity_ entries
  u32 count_ = 0, capacity_ = 0;
  char* cur_ = nullptr;
  u64 left_ = 0;
  // The scratch region, when this phase holds it: bytes laid out from its base.
  char* region_ = nullptr;
  u64 region_used_ = 0;
  bool region_tried_ = false, region_full_ = false;
};

// Makes zone 3 the working zone for its lifetime (swaps back on every exit).
class Zone3Scope {
 public:
  Zone3Scope();
  ~Zone3Scope();
  Zone3Scope(const Zone3Scope&) = delete;
  Zone3Scope& operator=(const Zone3Scope&) = delete;
};

// Set once this build's zone tables are made (by the request set-up), cleared by the memory reset.
extern i32 deja_vu_init_mem;
// Fatal "Quor interface error: no request is open\n" unless the zone
// tables of this build exist (init_urgent since the last memory reset).
void require_open_memory();

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
