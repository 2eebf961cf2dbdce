// OpenMP teams under an address-space limit (team_shared.h).
#include "core/team_shared.h"

#include <omp.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace quor {

namespace {

// Left free under the limit after the new threads' stacks: the request's
// next allocations and the runtime's own records for the threads.
constexpr u64 kReserve = u64(32) << 20;
// A thread's cost beside its stack: the malloc arena its first allocation
// maps (64 MB of address space on 64-bit systems), the guard page, its
// thread-local data and the runtime's records.
constexpr u64 kThreadExtra = (u64(64) << 20) + (u64(256) << 10);

// The OpenMP runtime's reading of a stack size: a number, then an optional
// unit B, K, M or G (kilobytes when none); 0 when unreadable.
u64 parse_stack_size(const char* s) {
  if (s == nullptr) return 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(s, &end, 10);
  if (end == s || v == 0) return 0;
  while (std::isspace(static_cast<unsigned char>(*end))) ++end;
  u64 unit = 1024;
  switch (std::toupper(static_cast<unsigned char>(*end))) {
    case '\0': break;
    case 'B': unit = 1; break;
    case 'K': unit = u64(1) << 10; break;
    case 'M': unit = u64(1) << 20; break;
    case 'G': unit = u64(1) << 30; break;
    default: return 0;
  }
  return v > (~u64(0)) / unit ? 0 : u64(v) * unit;
}

// Bytes of address space the process holds now; 0 when unknown.
u64 address_space_used() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long long pages = 0;
  const bool read = std::fscanf(f, "%llu", &pages) == 1;
  std::fclose(f);
  const long ps = sysconf(_SC_PAGESIZE);
  return read && ps > 0 ? u64(pages) * u64(ps) : 0;
}

}  // namespace

u64 omp_thread_stack_bytes() {
  if (const u64 s = parse_stack_size(std::getenv("OMP_STACKSIZE"))) return s;
  if (const u64 s = parse_stack_size(std::getenv("GOMP_STACKSIZE"))) return s;
  size_t size = 0;
  pthread_attr_t attr;
  if (pthread_getattr_default_np(&attr) == 0) {
    pthread_attr_getstacksize(&attr, &size);
    pthread_attr_destroy(&attr);
  }
  return size != 0 ? u64(size) : u64(8) << 20;
}

u32 team_width(u32 wanted) {
  if (wanted <= 1) return 1;
  if (omp_in_parallel()) return wanted;  // a nested region runs on its caller
  rlimit as{};
  if (getrlimit(RLIMIT_AS, &as) != 0 || as.rlim_cur == RLIM_INFINITY) return wanted;
  // Threads of an earlier team are counted again (their stacks are in
  // `used`): a team may come out smaller than it could, never too large.
  const u64 limit = u64(as.rlim_cur), used = address_space_used();
  const u64 room = used != 0 && used + kReserve < limit ? limit - used - kReserve : 0;
  const u64 more = room / (omp_thread_stack_bytes() + kThreadExtra);
  const u32 width = u32(std::min<u64>(wanted, 1 + more));
  if (width > 1) {
    // The runtime makes the team's threads now, before any of them
    // allocates: a thread's first allocation maps its arena, which would
    // otherwise race for the room of the stacks still to come.
#pragma omp parallel num_threads(width)
    {
    }
  }
  return width;
}

}  // namespace quor
