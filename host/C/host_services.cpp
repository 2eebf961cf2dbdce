// Per-build host services: the fatal sink, the interrupt poll, the host
// version cache, the SIGINT handler and the no-raise regions.
#include "host/C/host_services.h"

#include <omp.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "host/C/host_alloc_failure.h"

namespace quor::QUOR_NS {

static_assert(sizeof(std::sig_atomic_t) == sizeof(i32), "the stop flag is written by a signal handler");

volatile i32 QUOR_NAME(stop_immediately_semaphore) = 0;
u32 interrupt_counter = 0;
bool request_interrupted = false;
void (*reset_memory_hook)() = nullptr;
std::atomic<int> no_raise_depth{0};

namespace {

bool version_cached = false;
double cached_version = 0.0;

// The message kept inside a no-raise region: state 0 none, 1 being written, 2 ready.
constexpr std::size_t kKeptSize = 65526;
std::atomic<int> kept_state{0};
char kept_text[kKeptSize];

void leave_integer_mode() {
#if QUOR_INT
  Quor_pop_gmp_alloc_fnct();
#endif
}

void keep(const char* text) {
  int expected = 0;
  if (!kept_state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) return;
  std::strncpy(kept_text, text, kKeptSize - 1);
  kept_text[kKeptSize - 1] = '\0';
  kept_state.store(2, std::memory_order_release);
}

// With no host kernel (a process of the block method) nobody else would
// tell why the process ends.
void tell_stderr(const char* text) {
  std::fputs(text, stderr);
  const std::size_t n = std::strlen(text);
  if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

void QUOR_NAME(error_Host)(const char* text) {
  if (text == nullptr) text = "";
  if (raise_unsafe()) {
    // Unwinding from here would cross an OpenMP region or GMP's frames, and
    // the caller expects no return: the only safe end is the process's.
    keep(text);
    if (!omp_in_parallel()) leave_integer_mode();
    std::fputs(text, stderr);
    std::fflush(stderr);
    process_exit(1);
  }
  leave_integer_mode();
  if (guard_depth > 0) unwind_to_guard(false, text);
  if (Host_kernel != nullptr)
    HostRaiseError(Host_kernel, text);
  else
    tell_stderr(text);
  process_exit(1);
}

namespace {

// The message of the raise on its way to the outermost guard.
bool guarded_interrupt = false;
char guarded_text[kKeptSize];

void keep_guarded(bool interrupt, const char* text) {
  guarded_interrupt = interrupt;
  if (text != guarded_text) {
    std::strncpy(guarded_text, text, kKeptSize - 1);
    guarded_text[kKeptSize - 1] = '\0';
  }
}

void allocation_failure_text(char* text, std::size_t size) {
  const u64 bytes = last_failed_allocation();
  forget_failed_allocation();
  if (bytes != 0)
    std::snprintf(text, size, "not enough memory: %llu bytes asked (the memory is exhausted)",
                  (unsigned long long)bytes);
  else
    std::snprintf(text, size, "not enough memory: an allocation failed (the memory is exhausted)");
}

}  // namespace

thread_local int guard_depth = 0;
thread_local std::uintptr_t outermost_guard = 0;

void unwind_to_guard(bool interrupt, const char* text) {
  keep_guarded(interrupt, text);
  throw GuardedRaise{};
}

void keep_allocation_failure() {
  char text[160];
  allocation_failure_text(text, sizeof text);
  keep_guarded(false, text);
}

void keep_library_exception(const char* what) {
  guarded_interrupt = false;
  std::snprintf(guarded_text, sizeof guarded_text, "Quor internal error: %s", what != nullptr ? what : "");
}

void deliver_guarded_raise() {
  if (guard_depth > 0) throw GuardedRaise{};
  leave_integer_mode();
  if (guarded_interrupt) {
    guarded_interrupt = false;
    if (HostVersion() >= 13.0 && reset_memory_hook != nullptr) reset_memory_hook();
    if (Host_kernel != nullptr) HostCheckInterrupt(Host_kernel);
    // The computation is gone, whatever the host's check did.
    keep_guarded(false, "interrupted");
  }
  if (Host_kernel != nullptr)
    HostRaiseError(Host_kernel, guarded_text);
  else
    tell_stderr(guarded_text);
  process_exit(1);
}

void raise_allocation_failure() {
  char text[160];
  allocation_failure_text(text, sizeof text);
  QUOR_NAME(error_Host)(text);
}

double HostVersion() {
  if (version_cached) return cached_version;
  double v = 0.0;
  if (!host_version_probe(v)) return 0.0;
  cached_version = v;
  version_cached = true;
  return v;
}

void HostVersion_forget() {
  version_cached = false;
  cached_version = 0.0;
}

void QUOR_NAME(checkInterrupt)() {
  if (kept_state.load(std::memory_order_relaxed) == 2) raise_kept_fatal();
  if (HostVersion() < 11.0) return;  // older hosts: the SIGINT flag does the work
  ++interrupt_counter;
  if (interrupt_counter % 4096 != 0) return;
  if (Host_kernel == nullptr || raise_unsafe()) return;
#if QUOR_INT
  // Leave integer mode for the host's look, and come back to the same functions.
  const bool switched = gmp_alloc_switched();
  GmpAlloc lib_alloc = nullptr;
  GmpRealloc lib_realloc = nullptr;
  GmpFree lib_free = nullptr;
  if (switched) {
    mp_get_memory_functions(&lib_alloc, &lib_realloc, &lib_free);
    Quor_pop_gmp_alloc_fnct();
  }
#endif
  const bool was_interrupted = request_interrupted;
  request_interrupted = true;  // stays so when the host unwinds from here
  if (guard_depth > 0) {
    // Inside a guard the host's check, which may unwind, is made by the
    // guard once the library's frames are gone; here the host is only asked.
    if (HostGetInterruptValue(Host_kernel) != 0) unwind_to_guard(true, "interrupted");
  } else if (HostVersion() >= 13.0 && HostGetInterruptValue(Host_kernel) != 0) {
    if (reset_memory_hook != nullptr) {
      reset_memory_hook();
      HostCheckInterrupt(Host_kernel);
      // The library memory is gone: the computation must not go on.
      QUOR_NAME(error_Host)("interrupted");
    }
    HostCheckInterrupt(Host_kernel);
  } else {
    HostCheckInterrupt(Host_kernel);
  }
  request_interrupted = was_interrupted;
#if QUOR_INT
  if (switched) Quor_push_gmp_alloc_fnct(lib_alloc, lib_realloc, lib_free);
#endif
}

void catch_sigint(int) { set_stop_flag(1); }

bool raise_unsafe() {
  return no_raise_depth.load(std::memory_order_relaxed) > 0 || omp_in_parallel();
}

void defer_fatal(const char* text) {
  if (text == nullptr) text = "";
  if (!raise_unsafe()) QUOR_NAME(error_Host)(text);
  keep(text);
}

bool fatal_kept() { return kept_state.load(std::memory_order_acquire) != 0; }

void raise_kept_fatal() {
  if (kept_state.load(std::memory_order_acquire) != 2 || raise_unsafe()) return;
  std::string text(kept_text);
  kept_state.store(0, std::memory_order_release);
  QUOR_NAME(error_Host)(text.c_str());
}

NoRaiseRegion::NoRaiseRegion() { no_raise_depth.fetch_add(1, std::memory_order_relaxed); }

NoRaiseRegion::~NoRaiseRegion() noexcept(false) {
  const int depth = no_raise_depth.fetch_sub(1, std::memory_order_relaxed) - 1;
  if (depth != 0) return;
  if (std::uncaught_exceptions() > 0) {
    // Another error is already unwinding: it wins, and the kept one must not
    // surface later in an unrelated call.
    kept_state.store(0, std::memory_order_release);
    return;
  }
  raise_kept_fatal();
}

}  // namespace quor::QUOR_NS
