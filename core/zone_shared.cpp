// Zone allocator, the part one copy serves for both builds: the recorded
// system blocks, the carving buffer, the block pool, the reserved range the
// zone blocks come from, and the system wrappers.
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "core/zone_shared.h"

extern "C" {
quor::pseudo_share_record pseudo_share_memory[quor::kPseudoShareRecords] = {};
quor::u32 pseudo_share_memory_min = 0;
quor::u32 pseudo_share_memory_cur = 0;
}

namespace quor {

void** Quor_malloc_mem = nullptr;
u64* Quor_malloc_mem_sz = nullptr;
u32 Quor_malloc_cur = 0;
char* buf_malloc_cur = nullptr;
char* buf_malloc_lim = nullptr;

namespace {
u32 malloc_capacity = 0;  // entries of the two record tables

inline std::uintptr_t addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// Room for one more record; false when the tables cannot grow.
bool record_room() {
  if (Quor_malloc_cur < malloc_capacity) return true;
  const u32 cap = malloc_capacity == 0 ? 1024 : malloc_capacity * 2;
  if (cap <= malloc_capacity) return false;
  auto* mem = static_cast<void**>(std::realloc(Quor_malloc_mem, size_t(cap) * sizeof(void*)));
  if (mem == nullptr) return false;
  Quor_malloc_mem = mem;
  auto* sz = static_cast<u64*>(std::realloc(Quor_malloc_mem_sz, size_t(cap) * sizeof(u64)));
  if (sz == nullptr) return false;
  Quor_malloc_mem_sz = sz;
  malloc_capacity = cap;
  return true;
}

// ---- the reserved range ----
// Zone blocks are carved upward from one range of address space reserved
// without access; each block is made readable and writable when handed out.
// malloc may return a later block below an earlier one, which would break
// the moving of results down after a restore.
constexpr u64 kSpaceReserve = u64(64) << 30;
char* space_base = nullptr;
char* space_cur = nullptr;
char* space_end = nullptr;

u64 page_size() {
  static const u64 ps = u64(sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096);
  return ps;
}

void* map_none(void* at, u64 bytes, int extra) {
  return mmap(at, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | extra, -1, 0);
}

// Maps a range of at least need bytes at `at` (null: anywhere): the wish,
// or, while the address space is limited (ulimit -v), half of the largest
// range left, so that the host's own allocations and the threads' stacks
// keep the other half; need itself when that is less.  Its size goes to
// *size; null when even need cannot be mapped.
char* map_range(u64 need, char* at, u64* size) {
  const u64 ps = page_size();
  auto try_map = [&](u64 sz) -> char* {
    void* p = map_none(at, sz, at ? MAP_FIXED_NOREPLACE : 0);
    if (p == MAP_FAILED) return nullptr;
    if (at && p != at) {
      munmap(p, sz);
      return nullptr;
    }
    *size = sz;
    return static_cast<char*>(p);
  };
  need = (need + ps - 1) & ~(ps - 1);
  const u64 wish = std::max(kSpaceReserve, need);
  if (char* p = try_map(wish)) return p;
  for (u64 sz = wish / 2; sz > need; sz /= 2)
    if (char* p = try_map(sz)) {
      munmap(p, sz);
      return try_map(std::max(need, (sz / 2 + ps - 1) & ~(ps - 1)));
    }
  return try_map(need);
}

bool reserve_space(u64 need) {
  u64 sz = 0;
  char* p = map_range(need, nullptr, &sz);
  if (!p) return false;
  space_base = space_cur = p;
  space_end = space_base + sz;
  return true;
}

// The range grows only in place: a range elsewhere could lie lower.
bool extend_space(u64 need) {
  u64 sz = 0;
  if (!map_range(need, space_end, &sz)) return false;
  space_end += sz;
  return true;
}
}  // namespace

char* zone_space_take(u64 bytes) {
  const u64 ps = page_size();
  if (bytes == 0 || bytes > (u64(1) << 46)) return nullptr;
  bytes = (bytes + ps - 1) & ~(ps - 1);
  if (space_base == nullptr && !reserve_space(bytes)) return nullptr;
  if (u64(space_end - space_cur) < bytes && !extend_space(bytes)) return nullptr;
  if (mprotect(space_cur, bytes, PROT_READ | PROT_WRITE) != 0) return nullptr;
  char* p = space_cur;
  space_cur += bytes;
  return p;
}

void zone_space_release() {
  if (space_base == nullptr) return;
  // A range cut down by an address-space limit is dropped whole: the next
  // request reserves again, as large as the limit then allows.
  if (u64(space_end - space_base) < kSpaceReserve) {
    munmap(space_base, size_t(space_end - space_base));
    space_base = space_cur = space_end = nullptr;
    return;
  }
  if (space_cur == space_base) return;
  // Mapping fresh inaccessible pages over the used part gives its memory back.
  void* p = map_none(space_base, u64(space_cur - space_base), MAP_FIXED);
  if (p == MAP_FAILED) {
    // Could not replace the pages: drop them and keep the range closed.
    madvise(space_base, size_t(space_cur - space_base), MADV_DONTNEED);
    mprotect(space_base, size_t(space_cur - space_base), PROT_NONE);
  }
  space_cur = space_base;
}

u64 zone_space_used() { return space_base == nullptr ? 0 : u64(space_cur - space_base); }

u64 zone_space_room() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  u64 reach = pages > 0 ? u64(pages) * page_size() : ~u64(0);
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit r{};
    if (getrlimit(resource, &r) == 0 && r.rlim_cur != RLIM_INFINITY) reach = std::min<u64>(reach, r.rlim_cur);
  }
  const u64 used = zone_space_used();
  const u64 range = space_base == nullptr ? kSpaceReserve : u64(space_end - space_cur);
  return std::min(reach > used ? reach - used : 0, range);
}

u64 zone_space_discard(void* p, u64 n) {
  char* const a = static_cast<char*>(p);
  if (space_base == nullptr || a < space_base || a + n > space_cur) return 0;
  const u64 ps = page_size();
  char* const lo = reinterpret_cast<char*>((addr(a) + ps - 1) & ~(ps - 1));
  char* const hi = reinterpret_cast<char*>(addr(a + n) & ~(ps - 1));
  if (hi <= lo || madvise(lo, size_t(hi - lo), MADV_DONTNEED) != 0) return 0;
  return u64(hi - lo);
}

void zero_memory(void* p, u64 n) {
  char* const a = static_cast<char*>(p);
  char* const e = a + n;
  const u64 ps = page_size();
  char* const lo = reinterpret_cast<char*>((addr(a) + ps - 1) & ~(ps - 1));
  char* const hi = reinterpret_cast<char*>(addr(e) & ~(ps - 1));
  // Below a few pages the system call costs more than it saves.
  if (hi < lo + 16 * ps || madvise(lo, size_t(hi - lo), MADV_DONTNEED) != 0) {
    std::memset(a, 0, n);
    return;
  }
  std::memset(a, 0, size_t(lo - a));
  std::memset(hi, 0, size_t(e - hi));
}

// ---- scratch chunks ----

namespace {
std::mutex scratch_lock;
// Chunks given back, with their sizes; freed at the process end too.
struct ScratchChunks {
  std::vector<std::pair<void*, u64>> list;
  void release() {
    for (const auto& c : list) munmap(c.first, size_t(c.second));
    list.clear();
    list.shrink_to_fit();
  }
  ~ScratchChunks() { release(); }
} scratch_free;

// Whether the process runs under a limit of its address space or data.
bool memory_limited() {
  rlimit as{}, data{};
  return (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY) ||
         (getrlimit(RLIMIT_DATA, &data) == 0 && data.rlim_cur != RLIM_INFINITY);
}
}  // namespace

void* scratch_chunk_take(u64 bytes, u64* size) {
  {
    const std::lock_guard<std::mutex> hold(scratch_lock);
    // The smallest chunk that will do; chunks come in few sizes.
    auto& list = scratch_free.list;
    std::size_t best = list.size();
    for (std::size_t i = 0; i < list.size(); ++i)
      if (list[i].second >= bytes && (best == list.size() || list[i].second < list[best].second)) best = i;
    if (best < list.size()) {
      const auto [p, n] = list[best];
      list[best] = list.back();
      list.pop_back();
      *size = n;
      return p;
    }
  }
  // Mapped, not malloc'd: freed, they go back to the system, where large
  // blocks of the allocator's would raise its mapping threshold and then
  // stay in its heap.
  const u64 ps = page_size();
  bytes = (bytes + ps - 1) & ~(ps - 1);
  void* p = mmap(nullptr, size_t(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  *size = bytes;
  return p;
}

void scratch_chunk_give(void* p, u64 size) {
  if (p == nullptr) return;
  // Under a memory limit, what is kept here the host may need.
  if (memory_limited()) {
    munmap(p, size_t(size));
    return;
  }
  try {
    const std::lock_guard<std::mutex> hold(scratch_lock);
    scratch_free.list.emplace_back(p, size);
    return;
  } catch (const std::bad_alloc&) {
  }
  munmap(p, size_t(size));  // no room to keep it
}

namespace {
// The scratch region: one reserved range that a phase's scratch is laid out
// in from its start, the next phase taking the same pages again.  Pooled
// chunks change hands between phases and end up touched in different
// places; here every page is one the largest phase has touched.
constexpr u64 kRegionReserve = u64(64) << 30;  // address space only
constexpr u64 kRegionStep = u64(4) << 20;      // made usable this much at a time
char* region_base = nullptr;
u64 region_usable = 0;  // bytes from the base made readable and writable
bool region_tried = false;  // since the last release
bool region_held = false;
}  // namespace

char* scratch_region_enter() {
  const std::lock_guard<std::mutex> hold(scratch_lock);
  if (region_held) return nullptr;
  if (!region_tried) {
    region_tried = true;
    // Under a limit of the address space the reservation would count whole.
    if (!memory_limited()) {
      void* p = mmap(nullptr, size_t(kRegionReserve), PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (p != MAP_FAILED) region_base = static_cast<char*>(p);
    }
  }
  if (region_base == nullptr) return nullptr;
  region_held = true;
  return region_base;
}

bool scratch_region_reach(u64 bytes) {
  const std::lock_guard<std::mutex> hold(scratch_lock);
  if (bytes <= region_usable) return true;
  if (bytes > kRegionReserve) return false;
  const u64 want = std::min(kRegionReserve, (bytes + kRegionStep - 1) & ~(kRegionStep - 1));
  if (mprotect(region_base + region_usable, size_t(want - region_usable), PROT_READ | PROT_WRITE) != 0) return false;
  region_usable = want;
  return true;
}

void scratch_region_leave() {
  const std::lock_guard<std::mutex> hold(scratch_lock);
  region_held = false;
}

void scratch_chunks_release() {
  const std::lock_guard<std::mutex> hold(scratch_lock);
  scratch_free.release();
  // The region goes too: under a limit of the address space set before the
  // next request, the reservation would count whole.
  if (region_base != nullptr && !region_held) {
    munmap(region_base, size_t(kRegionReserve));
    region_base = nullptr;
    region_usable = 0;
  }
  if (!region_held) region_tried = false;
}

// ---- recorded system blocks ----

void* Quor_buf_malloc(u64 size, u64* recorded) {
  *recorded = 0;
  if (size < kBufMallocSize) {
    if (buf_malloc_cur != nullptr) {
      // Pieces start 16-aligned, as malloc's would.
      const std::uintptr_t a = (addr(buf_malloc_cur) + 15) & ~std::uintptr_t(15);
      if (a + size < addr(buf_malloc_lim)) {
        buf_malloc_cur = reinterpret_cast<char*>(a + size);
        return reinterpret_cast<char*>(a);
      }
    }
    buf_malloc_cur = buf_malloc_lim = nullptr;
    auto* b = static_cast<char*>(jc_malloc(kBufMallocSize));
    if (b == nullptr) return nullptr;
    buf_malloc_cur = b + size;
    buf_malloc_lim = b + kBufMallocSize;
    *recorded = kBufMallocSize;
    return b;
  }
  void* p = jc_malloc(size);
  if (p != nullptr) *recorded = size;
  return p;
}

void* Quor_malloc(u64 size) {
  if (!record_room()) return nullptr;
  u64 recorded = 0;
  void* p = Quor_buf_malloc(size, &recorded);
  if (p != nullptr && recorded != 0) {
    // A fresh block serves its request from its start.
    Quor_malloc_mem[Quor_malloc_cur] = p;
    Quor_malloc_mem_sz[Quor_malloc_cur] = recorded;
    ++Quor_malloc_cur;
  }
  return p;
}

// ---- system wrappers ----
void* zmalloc(u64 n) { return std::malloc(size_t(n)); }
void zfree(void* p) { std::free(p); }
void* zrealloc(void* p, u64 n) { return std::realloc(p, size_t(n)); }
void* jc_malloc(u64 n) { return std::malloc(size_t(n)); }
void jc_free(void* p, u64 n) {
  (void)n;
  std::free(p);
}
void jc_reset_malloc() {}
const char* jc_malloc_report() { return "use malloc"; }
void remap_vector() {}

}  // namespace quor

QUOR_EXPORT void Quor_malloc_reset() {
  using namespace quor;
  for (u32 i = Quor_malloc_cur; i-- > 0;) jc_free(Quor_malloc_mem[i], Quor_malloc_mem_sz[i]);
  Quor_malloc_cur = 0;
  jc_reset_malloc();
  buf_malloc_cur = buf_malloc_lim = nullptr;
  zone_space_release();
  scratch_chunks_release();
  pseudo_share_memory_min = 0;
  pseudo_share_memory_cur = 0;
  // Both builds' zones pointed into what was just released.
  quor_int::zone_forget_state();
  quor_gf::zone_forget_state();
}

QUOR_EXPORT void* Tesk_new_operator(quor::i32 n) { return n < 0 ? nullptr : quor::Quor_malloc(quor::u64(n)); }
QUOR_EXPORT void* Tesk_new_tab_operator(quor::i32 n) { return n < 0 ? nullptr : quor::Quor_malloc(quor::u64(n)); }
QUOR_EXPORT void Tesk_delete_operator() {
  // The memory belongs to the recorded blocks and goes with the memory reset.
  static bool said = false;
  if (!said) {
    said = true;
    std::fputs("NYA Tesk_delete_operator\n", stderr);
  }
}
