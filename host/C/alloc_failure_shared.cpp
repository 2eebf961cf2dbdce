// The library's operator new and delete: malloc and free, as the default
// ones, with the size of a failed request kept for the entry points' report.
// They are local to the library (the version script exports no C++ name),
// so the host's own allocations are not affected.
#include "host/C/host_alloc_failure.h"

#include <cstdlib>
#include <new>

// A sanitizer's runtime brings its own operator new and delete.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUOR_SANITIZER_NEW 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUOR_SANITIZER_NEW 1
#endif
#endif

namespace quor {
namespace {
thread_local u64 failed_size = 0;
}  // namespace

u64 last_failed_allocation() { return failed_size; }
void forget_failed_allocation() { failed_size = 0; }

#if !defined(QUOR_SANITIZER_NEW)
namespace {
void* allocate(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* p = std::malloc(size)) return p;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      failed_size = size;
      throw std::bad_alloc();
    }
    handler();
  }
}
}  // namespace
#endif

}  // namespace quor

#if !defined(QUOR_SANITIZER_NEW)
void* operator new(std::size_t size) { return quor::allocate(size); }
void* operator new[](std::size_t size) { return quor::allocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif
