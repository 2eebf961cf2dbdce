// Zone allocator, the part one copy serves for both builds: the recorded
// system blocks, the carving buffer, the block pool, the reserved range the
// zone blocks come from, and the system wrappers (core/zone.h holds each
// build's zones).
#pragma once
#include "core/quor_build.h"

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
// Bytes the zones can still be given: what is left of the reserved range
// (of the range a first block would reserve), within the physical memory
// and the process's address-space and data limits.
u64 zone_space_room();
// Gives back to the system the whole pages of [p, p + n) when they lie in the
// reserved range (they read as zero when touched again); elsewhere nothing.
// Returns the bytes given back.
u64 zone_space_discard(void* p, u64 n);
// Zeroes the n bytes at p (private anonymous memory: the zone's or malloc's).
// Whole pages go back to the system, which hands them out zeroed when first
// touched: the pages of a large table a small request never reaches cost nothing.
void zero_memory(void* p, u64 n);

// ---- scratch chunks (both builds) ----
// System memory for what threads write while a region runs.  A chunk given
// back serves again, call after call, until the memory reset: its pages are
// faulted in once per request, not once per matrix (a fault costs more than
// most of what is written there, and more again with threads running).
// Thread-safe.
// A chunk of at least bytes bytes, its size in *size; null when the system has no memory.
void* scratch_chunk_take(u64 bytes, u64* size);
// Gives back a chunk of that size from scratch_chunk_take.
void scratch_chunk_give(void* p, u64 size);
// Frees every chunk given back, and the scratch region when no phase holds it.
void scratch_chunks_release();
// The scratch region's base for the calling phase alone; null when another
// phase holds it or the system gives none (then take chunks).
char* scratch_region_enter();
// Makes the region's first bytes usable; false when it cannot (take chunks for the rest).
bool scratch_region_reach(u64 bytes);
// Gives the region back for the next phase.
void scratch_region_leave();

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

// Each build's part of Quor_malloc_reset: forgets the zone state that pointed
// into the released blocks.
namespace quor::quor_int { void zone_forget_state(); }
namespace quor::quor_gf { void zone_forget_state(); }
