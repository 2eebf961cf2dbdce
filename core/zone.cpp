// Zone allocator, per-build part: three zones of bump-allocated blocks, marks,
// slabs, large allocations with statistics.
#include "core/zone.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/channels.h"
#include "core/monomial.h"

namespace quor::QUOR_NS {

// ---- state ----
char* bignum_tas = nullptr;
char* bot_bignum_tas = nullptr;
char** all_garbages = nullptr;
u32* zone_memory_size = nullptr;
i32 cur_garbages = 0;
i32 max_garbages = 0;
u32 limit_garbages = 30000;
u32 cur_id_garbage = 1;
char* bignum_tas2 = nullptr;
char* bot_bignum_tas2 = nullptr;
char** all_garbages2 = nullptr;
u32* zone_memory2_size = nullptr;
i32 cur_garbages2 = 0;
i32 max_garbages2 = 0;
u32 limit_garbages2 = 30000;
u32 cur_id_garbage2 = 2;
char* bignum_tas3 = nullptr;
char* bot_bignum_tas3 = nullptr;
char** all_garbages3 = nullptr;
u32* zone_memory3_size = nullptr;
i32 cur_garbages3 = 0;
i32 max_garbages3 = 0;
u32 limit_garbages3 = 30000;
u32 cur_id_garbage3 = 3;
i32 dead_garbages = INT32_MAX, dead_garbages2 = INT32_MAX, dead_garbages3 = INT32_MAX;
i32 given_garbages = INT32_MAX, given_garbages2 = INT32_MAX, given_garbages3 = INT32_MAX;

u32 zone_memory_allocated = 0;
u32 dynamic_max_garbages = 30000;
char* QUOR_NAME(previous_alloc) = nullptr;
u64 ct_obj_alloc = 0;

u32 total_allocated = 0;
double total_allocated_meg = 0;
double malloc_demand[10] = {};
u32 count_Quor_xmalloc = 0;
i32 use_big_memory = 0;
i32 cur_big_memory = 0;
u32 size_big_memory[kBigMemoryMax] = {};
char* ptr_big_memory[kBigMemoryMax] = {};

namespace {
// The environment is read by the first large allocation of the process.
bool xmalloc_started = false;

// Largest raw zone request: its block (request + 64 + 8) must keep a 32-bit size.
constexpr u64 kMaxZoneRequest = 0xFFFFFFFFull - 64 - 8;

inline std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
inline char* ptr(std::uintptr_t a) { return reinterpret_cast<char*>(a); }
inline std::uintptr_t round_up(std::uintptr_t a, std::uintptr_t m) { return (a + m - 1) & ~(m - 1); }

// The fields of one zone, whichever slots it sits in.
struct ZoneRef {
  char*& tas;
  char*& bot;
  char**& all;
  u32*& size;
  i32& cur;
  i32& max;
  u32& limit;
  u32& id;
  i32& dead;
  i32& given;
};
ZoneRef zone1() {
  return {bignum_tas, bot_bignum_tas, all_garbages, zone_memory_size,
          cur_garbages, max_garbages, limit_garbages, cur_id_garbage, dead_garbages, given_garbages};
}
ZoneRef zone2() {
  return {bignum_tas2, bot_bignum_tas2, all_garbages2, zone_memory2_size,
          cur_garbages2, max_garbages2, limit_garbages2, cur_id_garbage2, dead_garbages2, given_garbages2};
}
ZoneRef zone3() {
  return {bignum_tas3, bot_bignum_tas3, all_garbages3, zone_memory3_size,
          cur_garbages3, max_garbages3, limit_garbages3, cur_id_garbage3, dead_garbages3, given_garbages3};
}

constexpr i32 kNoSlot = INT32_MAX;

// The zone now uses its blocks below slot cur: none of them is dead or given back.
void note_used(ZoneRef z) {
  z.dead = std::max(z.dead, z.cur);
  z.given = std::max(z.given, z.cur);
}

// Gives back the pages of z's dead spare blocks not given back yet.
void give_back(ZoneRef z) {
  if (z.all == nullptr || z.dead >= z.max) return;
  for (i32 s = std::min(z.given, z.max) - 1; s >= z.dead && s >= z.cur; --s) {
    zone_space_discard(z.all[s], z.size[s]);
    z.given = s;
  }
}

void swap_zones(ZoneRef a, ZoneRef b) {
  std::swap(a.tas, b.tas);
  std::swap(a.bot, b.bot);
  std::swap(a.all, b.all);
  std::swap(a.size, b.size);
  std::swap(a.cur, b.cur);
  std::swap(a.max, b.max);
  std::swap(a.limit, b.limit);
  std::swap(a.id, b.id);
  std::swap(a.dead, b.dead);
  std::swap(a.given, b.given);
}
void save(ZoneRef z, GC_state* m) {
  m->cur_garbages = z.cur;
  m->bignum_tas = z.tas;
  m->bot_bignum_tas = z.bot;
}
void restore(ZoneRef z, const GC_state* m) {
  z.cur = m->cur_garbages;
  z.tas = m->bignum_tas;
  z.bot = m->bot_bignum_tas;
}

void forget_zone(ZoneRef z, u32 id) {
  z.tas = nullptr;
  z.bot = nullptr;
  z.all = nullptr;
  z.size = nullptr;
  z.cur = 0;
  z.max = 0;
  z.limit = dynamic_max_garbages;
  z.id = id;
  z.dead = z.given = kNoSlot;
}

void grow_zone_tables(ZoneRef z, u32 capacity) {
  auto** all = static_cast<char**>(QUOR_NAME(xmalloc_spec)(u64(capacity) * sizeof(char*), 3));
  auto* size = static_cast<u32*>(QUOR_NAME(xmalloc_spec)(u64(capacity) * sizeof(u32), 3));
  if (z.all != nullptr && z.max > 0) {
    std::memcpy(all, z.all, size_t(z.max) * sizeof(char*));
    std::memcpy(size, z.size, size_t(z.max) * sizeof(u32));
  }
  z.all = all;
  z.size = size;
  z.limit = capacity;
}
}  // namespace

// ---- zone memory ----

void update_all_garbages(char* p, u32 size) {
  // Both the block in use and a spare block moved to the end need a slot.
  if (i64(cur_garbages) + 1 >= i64(limit_garbages) || i64(max_garbages) + 1 >= i64(limit_garbages))
    QUOR_NAME(Fatal)("Limit for allocations (%d-->%d): in update_all_garbages [NEW_MSG] !\n",
                     int(cur_id_garbage), int(limit_garbages));
  if (all_garbages == nullptr || zone_memory_size == nullptr)
    QUOR_NAME(Fatal)("var all_garbages not set !\n");
  const bool displaced = cur_garbages < max_garbages;
  if (displaced) {
    all_garbages[max_garbages] = all_garbages[cur_garbages];
    zone_memory_size[max_garbages] = zone_memory_size[cur_garbages];
  }
  // A spare block that may hold survivors, moved last, must not count as dead.
  if (displaced && cur_garbages < dead_garbages) dead_garbages = kNoSlot;
  all_garbages[cur_garbages] = p;
  zone_memory_size[cur_garbages] = size;
  ++cur_garbages;
  ++max_garbages;
  note_used(zone1());
  bignum_tas = p;
  bot_bignum_tas = p + size;
}

char* QUOR_NAME(give_block_memory)() {
  const u64 wanted = u64(zone_memory_allocated) + 8;
  char* a = nullptr;
  // A block an outside party made available, of exactly this size, and above
  // the last block (blocks must keep increasing).
  const u32 used = std::min(pseudo_share_memory_cur, kPseudoShareRecords);
  for (u32 i = pseudo_share_memory_min; i < used; ++i) {
    pseudo_share_record& r = pseudo_share_memory[i];
    if (!r.available || r.size != wanted || r.address == nullptr) continue;
    if (QUOR_NAME(previous_alloc) != nullptr &&
        round_up(addr(r.address), 8) <= addr(QUOR_NAME(previous_alloc)))
      continue;
    a = r.address;
    for (u32 j = i + 1; j < used; ++j) pseudo_share_memory[j - 1] = pseudo_share_memory[j];
    pseudo_share_memory_cur = used - 1;
    break;
  }
  if (a == nullptr) {
    a = zone_space_take(wanted);
    if (a == nullptr) return nullptr;
    if (pseudo_share_memory_cur < kPseudoShareRecords)
      pseudo_share_memory[pseudo_share_memory_cur++] = {u32(wanted), a, 0, 1};
  }
  a = ptr(round_up(addr(a), 8));
  if (QUOR_NAME(previous_alloc) != nullptr && addr(a) < addr(QUOR_NAME(previous_alloc))) {
    std::fprintf(stderr, "decreasing address previous=%x new=%x!\n",
                 unsigned(addr(QUOR_NAME(previous_alloc))), unsigned(addr(a)));
    std::fflush(stderr);
  }
  QUOR_NAME(previous_alloc) = a;
  return a;
}

namespace {
// The zone's own texts, then what was asked and why it cannot be had.
[[noreturn]] void refuse_zone_request(u64 n) {
  QUOR_NAME(Fatal)("Not enough memory in alloc (%d,%d) NEW! (%llu bytes asked at once, at most %llu)\n",
                   int(zone_memory_allocated), int(cur_garbages), (unsigned long long)n,
                   (unsigned long long)kMaxZoneRequest);
}
[[noreturn]] void no_block_left(const char* text, int first, const char* block) {
  char head[96];
  std::snprintf(head, sizeof head, text, first, int(cur_garbages));
  if (block == nullptr)
    QUOR_NAME(Fatal)("%s (a block of %u bytes asked: the memory is exhausted)\n", head, zone_memory_allocated + 8);
  QUOR_NAME(Fatal)("%s (the table of %u zone blocks is full; option o[4] enlarges it)\n", head, limit_garbages);
}
}  // namespace

void* QUOR_NAME(alloc_internal)(u64 n) {
  if (n >= zone_memory_allocated) {
    if (n > kMaxZoneRequest) refuse_zone_request(n);
    const u32 before = zone_memory_allocated;
    zone_memory_allocated = u32(n + 64);
    QUOR_NAME(Stderr)("INCREASE HEAP %d\n", int(zone_memory_allocated));
    zone_give_back_dead();
    char* p = QUOR_NAME(give_block_memory)();
    if (p == nullptr || i64(cur_garbages) >= i64(limit_garbages)) {
      bot_bignum_tas = nullptr;
      // The block size outlives the request: a size that could not be had
      // would make every later block, and so the next request, fail too.
      struct Restore {
        u32 size;
        ~Restore() { zone_memory_allocated = size; }
      } restore{before};
      no_block_left("Not enough memory in alloc (%d,%d) NEW!", int(zone_memory_allocated), p);
    }
    update_all_garbages(p, zone_memory_allocated);
  }
  for (;;) {
    // Bump.  The pointer must stay strictly below the block end.
    const std::uintptr_t b = addr(bignum_tas);
    if (b != 0 && b + n < addr(bot_bignum_tas)) {
      bignum_tas = ptr(b + n);
      return ptr(b);
    }
    // Zone 1's spare blocks, in slot order, while usable.
    while (cur_garbages < max_garbages) {
      char* a = all_garbages[cur_garbages];
      const u32 sz = zone_memory_size[cur_garbages];
      if (n > sz || addr(a) <= addr(bot_bignum_tas)) break;
      ++cur_garbages;
      note_used(zone1());
      bot_bignum_tas = a + sz;
      bignum_tas = a + n;
      if (addr(a) + n < addr(bot_bignum_tas)) return a;
    }
    // A new block.  The spare blocks of zones 2 and 3 are not lent: after a
    // restore they may still hold survivors waiting to be moved down, and the
    // moving itself allocates in the other zones.  The dead ones go back to
    // the system first: the new block's pages then take their place instead
    // of adding to them (giving back only one block's worth, and keeping the
    // others resident, left katsura-11 modulo 65521 at 152 MB instead of 143
    // MB, at the same speed).
    zone_give_back_dead();
    char* p = QUOR_NAME(give_block_memory)();
    if (p == nullptr || i64(cur_garbages) >= i64(limit_garbages)) {
      bot_bignum_tas = nullptr;
      QUOR_NAME(Stderr)(" Total number of malloc: %u\n", count_Quor_xmalloc);
      no_block_left("Not enough memory in alloc (%d,%d)!", int(n), p);
    }
    update_all_garbages(p, zone_memory_allocated);
  }
}

void* QUOR_NAME(alloc64)(u64 size) {
  // Common case first: the request fits in the current block.
  const std::uintptr_t b = addr(bignum_tas);
  if (size <= kMaxZoneRequest && b != 0) {
    const u64 asked = size + 16 + ((size & 7) != 0 ? 4 : 0);
    if (b + asked < addr(bot_bignum_tas)) {
      bignum_tas = ptr(b + asked);
      return ptr(round_up(b, 16));
    }
  }
  if (size > kMaxZoneRequest) refuse_zone_request(size);
  const u64 asked = size + 16 + ((size & 7) != 0 ? 4 : 0);
  char* p = static_cast<char*>(QUOR_NAME(alloc_internal)(asked));
  return ptr(round_up(addr(p), 16));
}

void* QUOR_NAME(alloc)(u64 size) { return QUOR_NAME(alloc64)(size); }

void* zone_alloc_exact(u64 size, u32 align) {
  if (align == 0) align = 1;
  if ((align & (align - 1)) != 0 || align > 4096)
    QUOR_NAME(Fatal)("Not enough memory in alloc (%d,%d) NEW!\n", int(zone_memory_allocated), int(cur_garbages));
  if (size > kMaxZoneRequest - align) refuse_zone_request(size);
  const std::uintptr_t b = addr(bignum_tas);
  if (b != 0) {
    const std::uintptr_t a = round_up(b, align);
    if (a + size < addr(bot_bignum_tas)) {
      bignum_tas = ptr(a + size);
      return ptr(a);
    }
  }
  // Another block: take room for the worst alignment, then give back what the
  // block's own alignment did not need, so the copy ends at start + size.
  char* p = static_cast<char*>(QUOR_NAME(alloc_internal)(size + align - 1));
  const std::uintptr_t a = round_up(addr(p), align);
  bignum_tas = ptr(a + size);
  return ptr(a);
}

void QUOR_NAME(realloca)(void* p, u64 n, u64 m) {
  (void)p;
  if (n > m) QUOR_NAME(Fatal)("Aie dans realloc ou erreur impossible ![n=%u,m=%u]\n", unsigned(n), unsigned(m));
  const u64 keep = (n + 7) & ~u64(7);
  // Never forward: with m not a multiple of 8 the rounded size may exceed it.
  if (keep < m) bignum_tas -= (m - keep);
}

void zone_spares_dead() { dead_garbages = cur_garbages; }

void zone_all_spares_dead() {
  for (ZoneRef z : {zone1(), zone2(), zone3()}) z.dead = z.cur;
}

void zone_give_back_dead() {
  for (ZoneRef z : {zone1(), zone2(), zone3()}) give_back(z);
}

bool zone2_holds_above(const GC_state* m, const void* p) {
  const ZoneRef z = zone2();
  const char* a = static_cast<const char*>(p);
  for (i32 s = std::max(m->cur_garbages - 1, 0); s < z.cur; ++s) {
    const char* from = s == m->cur_garbages - 1 ? m->bignum_tas : z.all[s];
    if (a >= from && a < z.all[s] + z.size[s]) return true;
  }
  return false;
}

void QUOR_NAME(swap_zone)() { swap_zones(zone1(), zone2()); }
void QUOR_NAME(swap_zone3)() { swap_zones(zone1(), zone3()); }

// ---- marks ----
void QUOR_NAME(save_GC_state)(GC_state* m) { save(zone1(), m); }
void QUOR_NAME(restore_GC_state)(const GC_state* m) { restore(zone1(), m); }
void QUOR_NAME(save_tesk_state_z3)(GC_state* m) { save(zone3(), m); }
void QUOR_NAME(restore_tesk_state_z3)(const GC_state* m) { restore(zone3(), m); }
void QUOR_NAME(restore_tesk_state_z2)(const GC_state* m) { restore(zone2(), m); }
void QUOR_NAME(save_tesk_state2)(GC_state* m1, GC_state* m2) {
  save(zone1(), m1);
  save(zone2(), m2);
}
void QUOR_NAME(restore_tesk_state2)(const GC_state* m1, const GC_state* m2) {
  restore(zone1(), m1);
  restore(zone2(), m2);
}
void QUOR_NAME(restore_destroy_tesk_state)(const GC_state* m) {
  restore(zone1(), m);
  if (bignum_tas != nullptr && addr(bot_bignum_tas) > addr(bignum_tas))
    std::memset(bignum_tas, 0, size_t(bot_bignum_tas - bignum_tas));
}

void QUOR_NAME(restore_memory_obj_0)() { root_of_Expos = nullptr; }
void QUOR_NAME(restore_memory_obj_1)() { QUOR_NAME(root_of_List_Expos) = nullptr; }

void* QUOR_NAME(generate)(u32 count, u32 size, const char* name) {
  (void)name;
  const u64 bytes = u64(count) * size + 8;
  QUOR_NAME(swap_zone3)();
  ct_obj_alloc += bytes;
  char* p = static_cast<char*>(QUOR_NAME(alloc64)(bytes));
  QUOR_NAME(swap_zone3)();
  if (count == 0) return nullptr;
  p = ptr(round_up(addr(p), 8));
  for (u32 i = 0; i + 1 < count; ++i) {
    char* rec = p + u64(i) * size;
    char* next = rec + size;
    std::memcpy(rec, &next, sizeof next);
  }
  char* const end = nullptr;
  std::memcpy(p + u64(count - 1) * size, &end, sizeof end);
  return p;
}

void QUOR_NAME(rechercher_pointer)(const void* p) {
  const ZoneRef zones[3] = {zone1(), zone2(), zone3()};
  for (const ZoneRef& z : zones) {
    if (z.all == nullptr) continue;
    for (i32 i = 0; i < z.cur; ++i) {
      const std::uintptr_t a = addr(z.all[i]);
      if (addr(p) >= a && addr(p) < a + z.size[i]) {
        QUOR_NAME(Stderr)("find pointer in zone Z%d at slot %d ", int(z.id), int(i + 1));
        QUOR_NAME(Stderr)(" [Z%d Z%d", int(cur_id_garbage), int(cur_id_garbage2));
        QUOR_NAME(Stderr)(" Z%d", int(cur_id_garbage3));
        QUOR_NAME(Stderr)("]\n");
      }
    }
  }
}

// ---- large and system allocations ----

void* CALL_MALLOC_check(u64 size) {
  void* p = Quor_malloc(size);
  if (p == nullptr) QUOR_NAME(Fatal)("Cannot allocate memory !");
  return p;
}

namespace {
// Opens a reservation; its whole size counts in the statistics.
void open_big_reservation(i32 kind) {
  char* r = static_cast<char*>(CALL_MALLOC_check(kBigMemorySize));
  ptr_big_memory[cur_big_memory] = r;
  size_big_memory[cur_big_memory] = kBigMemorySize;
  ++cur_big_memory;
  total_allocated += kBigMemorySize >> 10;
  total_allocated_meg += kBigMemorySize / 1024.0;
  if (kind >= 0 && kind <= 9) malloc_demand[kind] += kBigMemorySize / 1024.0;
}
// Serves size bytes from reservation i; the next piece stays 16-aligned.
char* carve_big(i32 i, u64 size) {
  char* p = ptr_big_memory[i];
  const u64 step = std::min<u64>((size + 15) & ~u64(15), size_big_memory[i]);
  ptr_big_memory[i] += step;
  size_big_memory[i] -= u32(step);
  ++count_Quor_xmalloc;
  return p;
}
}  // namespace

void* QUOR_NAME(xmalloc_spec)(u64 size, i32 kind) {
  if (!xmalloc_started) {
    xmalloc_started = true;
    for (double& d : malloc_demand) d = 0;
    if (std::getenv("TESKBIGMEM") != nullptr) {
      QUOR_NAME(Stderr)("Use Big Memory !\n");
      use_big_memory = 1;
      open_big_reservation(-1);
    }
  }
  if (!use_big_memory) {
    void* p = CALL_MALLOC_check(size);
    ++count_Quor_xmalloc;
    total_allocated += u32(size >> 10);
    total_allocated_meg += double(size) / 1024.0;
    if (kind >= 0 && kind <= 9) malloc_demand[kind] += double(size) / 1024.0;
    return p;
  }
  for (i32 i = 0; i < cur_big_memory; ++i)
    if (size_big_memory[i] > size) return carve_big(i, size);
  if (cur_big_memory >= kBigMemoryMax) QUOR_NAME(Fatal)("Maximum of big allocation is %u\n", unsigned(kBigMemoryMax));
  if (size > kBigMemorySize)
    QUOR_NAME(Fatal)("%u is too big (limit is %u)\n", unsigned(std::min<u64>(size, 0xFFFFFFFFu)), kBigMemorySize);
  open_big_reservation(kind);
  return carve_big(cur_big_memory - 1, size);
}

void* QUOR_NAME(xmalloc)(u64 size) { return QUOR_NAME(xmalloc_spec)(size, 0); }

i32 QUOR_NAME(chk_alloca_size)(i32 n) {
  if (n > kAllocaLimit) std::fprintf(stderr, "*** alloca %d\n", n);
  return 1;
}

i32 QUOR_NAME(chk_alloca_size_msg)(i32 n, const char* name) {
  if (n > kAllocaLimit) std::fprintf(stderr, "*** alloca %d in %s\n", n, name != nullptr ? name : "");
  return 1;
}

i32 stack_request_fits(i64 n) { return (n >= 0 && n <= kAllocaLimit) ? 1 : 0; }

u32 QUOR_NAME(align_vector_size)(u32 n) {
#if QUOR_INT
  return (n + 3) & ~u32(3);
#else
  return (n + 7) & ~u32(7);
#endif
}

// ---- memory reset and tables ----

void zone_init_tables() {
  grow_zone_tables(zone1(), dynamic_max_garbages);
  grow_zone_tables(zone2(), dynamic_max_garbages);
  grow_zone_tables(zone3(), dynamic_max_garbages);
}

void zone_grow_tables(u32 capacity) {
  if (capacity <= dynamic_max_garbages) return;
  grow_zone_tables(zone1(), capacity);
  grow_zone_tables(zone2(), capacity);
  grow_zone_tables(zone3(), capacity);
  dynamic_max_garbages = capacity;
}

void zone_forget_state() {
  forget_zone(zone1(), 1);
  forget_zone(zone2(), 2);
  forget_zone(zone3(), 3);
  QUOR_NAME(previous_alloc) = nullptr;
  QUOR_NAME(restore_memory_obj_0)();
  QUOR_NAME(restore_memory_obj_1)();
  // The reservations were recorded blocks: they are gone, the mode stays.
  for (i32 i = 0; i < cur_big_memory; ++i) {
    ptr_big_memory[i] = nullptr;
    size_big_memory[i] = 0;
  }
  cur_big_memory = 0;
}

void zone_reset_memory(i32 keep_other) {
  if (keep_other == 0) Quor_malloc_reset();
  zone_forget_state();
}

i32 deja_vu_init_mem = 0;

void* ScratchArena::take(u64 n) {
  n = (n + 63) & ~u64(63);
  if (!region_tried_) {
    region_tried_ = true;
    region_ = scratch_region_enter();
  }
  if (region_ != nullptr && !region_full_) {
    if (scratch_region_reach(region_used_ + n)) {
      void* p = region_ + region_used_;
      region_used_ += n;
      return p;
    }
    // The region is exhausted: the rest of the phase takes chunks (the
    // region stays held, what it gave is still in use).
    region_full_ = true;
  }
  if (n > left_) {
    if (count_ == capacity_) {
      const u32 cap = capacity_ ? 2 * capacity_ : 16;
      auto* grown = static_cast<Chunk*>(std::realloc(chunks_, cap * sizeof(Chunk)));
      if (grown == nullptr) QUOR_NAME(Fatal)("Cannot allocate memory !");
      chunks_ = grown;
      capacity_ = cap;
    }
    // Chunks of 1 MB, the size the elimination's arenas take; a request of
    // a quarter of that or more has a chunk of its own, and the current
    // chunk goes on serving the small ones.
    constexpr u64 kChunk = u64(1) << 20;
    const bool own = n >= kChunk / 4;
    u64 size = 0;
    void* c = scratch_chunk_take(own ? n + 64 : kChunk, &size);
    if (c == nullptr)
      QUOR_NAME(Fatal)("Not enough memory in alloc (%d,%d)! (a block of %llu bytes asked: the memory is exhausted)\n",
                       int(n), int(cur_garbages), (unsigned long long)(own ? n + 64 : kChunk));
    chunks_[count_++] = Chunk{c, size};
    const std::uintptr_t a = round_up(addr(c), 64);
    if (own) return ptr(a);
    cur_ = ptr(a);
    left_ = size - (a - addr(c));
  }
  char* p = cur_;
  cur_ += n;
  left_ -= n;
  return p;
}

void ScratchArena::release() {
  if (region_ != nullptr) scratch_region_leave();
  region_ = nullptr;
  region_used_ = 0;
  region_tried_ = region_full_ = false;
  for (u32 i = count_; i-- > 0;) scratch_chunk_give(chunks_[i].at, chunks_[i].size);
  std::free(chunks_);
  chunks_ = nullptr;
  count_ = capacity_ = 0;
  cur_ = nullptr;
  left_ = 0;
}

Zone3Scope::Zone3Scope() { QUOR_NAME(swap_zone3)(); }
Zone3Scope::~Zone3Scope() { QUOR_NAME(swap_zone3)(); }

void require_open_memory() {
  // Checked before anything allocates: a zone failure inside GMP's frames
  // could only end the process.
  if (!deja_vu_init_mem || all_garbages == nullptr || all_garbages3 == nullptr)
    QUOR_NAME(Fatal)("Quor interface error: no request is open\n");
}

}  // namespace quor::QUOR_NS

