// The library's side of the host: message sink, host error call, interrupt
// poll, host version, SIGINT handler, switch of GMP's memory functions, the
// single end-of-process hook and the no-raise regions.
//
// Fatal path rule.  A host error unwinds (C++ exception) from the raise to
// the entry guard of the exported function, which hands it to the host
// (a C++ exception or a longjmp of the host's).  It must never cross an OpenMP
// parallel region (std::terminate) nor GMP's frames (GMP's state is left
// half-updated).  Code that enters such a stretch opens a NoRaiseRegion
// around it (outside the parallel region, or around the call into GMP):
//   - inside, report a fatal condition with defer_fatal() (or the channel
//     Fatal_deferred): the first message is kept and the call returns; the
//     code must then leave the region promptly (test fatal_kept() in loops);
//   - when the outermost region closes outside any parallel region, its
//     destructor raises the kept message as the build's host error;
//   - the non-returning fatal sink reached inside a region (a path not
//     written for the region) can neither unwind nor return: it writes the
//     message to standard error and ends the process with status 1.
// A region opened inside a callback that GMP calls (its memory functions)
// must not defer: its exit would raise within GMP's frames.  There a fatal
// condition takes the sink's emergency end.
// The interrupt poll does not ask the host inside a region; outside one it
// is also a safe point that raises a message still kept.
#pragma once
#include "core/quor_build.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "host/C/host_sink_shared.h"

namespace quor::QUOR_NS {

// Stop flag: 1 once SIGINT was caught on an older host; cleared by the init and compute entries.
QUOR_EXPORT volatile i32 QUOR_NAME(stop_immediately_semaphore);
// The stop flag read and written whole, without a race with the SIGINT
// handler or with a thread of the host that sets it while a computation runs.
inline i32 stop_flag() { return __atomic_load_n(&QUOR_NAME(stop_immediately_semaphore), __ATOMIC_RELAXED); }
inline void set_stop_flag(i32 v) { __atomic_store_n(&QUOR_NAME(stop_immediately_semaphore), v, __ATOMIC_RELAXED); }
// Whether the computation was asked to stop (polled by the engine's loops).
inline bool stop_requested() { return stop_flag() != 0; }

// Fatal sink: leaves integer mode, raises the host error with text; never returns.
QUOR_EXPORT __attribute__((noreturn)) void QUOR_NAME(error_Host)(const char* text);

// Interrupt poll of the engine's loops: raises a kept fatal message when safe; asks the host
// on every 4096th call (hosts from version 11).
QUOR_EXPORT void QUOR_NAME(checkInterrupt)();
// Calls of the poll so far (the host is asked when it reaches a multiple of 4096).
extern u32 interrupt_counter;
// True once an interrupt ended the last compute call: set while the poll lets
// the host look (left set when the host unwinds) and by a compute entry that
// returns -2; the init and compute entries clear it.
extern bool request_interrupted;

// Host version, cached after the first successful probe; 0 when it cannot be read.
double HostVersion();
// Forgets the cached version (a new host session).
void HostVersion_forget();

// SIGINT handler of hosts below version 11: sets the build's stop flag.
void catch_sigint(int signal_number);

// Releases the library memory before an interrupt unwinds on hosts from
// version 13; set by the request set-up (null: nothing to release).
extern void (*reset_memory_hook)();

// Open no-raise regions of this build (see the rule at the top).
extern std::atomic<int> no_raise_depth;
// True where a host error must not unwind: inside a no-raise region or an OpenMP parallel region.
bool raise_unsafe();
// Raises text now when raising is safe; otherwise keeps it (first message wins) and returns.
void defer_fatal(const char* text);
// True when a fatal message is kept and waits for the region's exit.
bool fatal_kept();
// Raises the kept message when raising is safe (does not return then); otherwise does nothing.
void raise_kept_fatal();


// Raises the build's host error for a failed allocation: "not enough memory",
// with the bytes asked when the library's allocator recorded them.
[[noreturn]] void raise_allocation_failure();

// Open entry guards of this build on the calling thread.  Per thread: the
// guards belong to the host's calling thread, and a team of the library's
// must neither see nor move them (a shared count raced with the host's call
// and left the outermost guard throwing with nothing to catch it).
extern thread_local int guard_depth;
// What unwinds the library's own frames inside an entry guard: a host error
// or an interrupt becomes this exception, its message kept in the build's
// state, and the outermost guard hands it to the host once every destructor
// of the library has run.  A host that unwinds with longjmp then skips none
// of them: nothing the library owns outlives the request.
struct GuardedRaise {};
// Keeps text (or the interrupt) as what the outermost guard raises, and unwinds to it.
[[noreturn]] void unwind_to_guard(bool interrupt, const char* text);
// Keeps the "not enough memory" message of a failed allocation.
void keep_allocation_failure();
// Keeps the message of another exception of the library's (text: its what()).
void keep_library_exception(const char* what);
// Inside an outer guard: unwinds on to it.  Outermost: hands the kept message
// to the host (an interrupt: the memory released on hosts from version 13,
// then the host's interrupt check, then the host error "interrupted").
[[noreturn]] void deliver_guarded_raise();

// Where the calling thread's outermost open guard's level lies on its stack.
extern thread_local std::uintptr_t outermost_guard;

// One level of guard_depth for the guard's lifetime.
class GuardLevel {
 public:
  GuardLevel() {
    // A host that unwound past a guard with longjmp skipped its exit: a guard
    // that lies no deeper on the stack than the outermost one is a new outermost one.
    const auto here = reinterpret_cast<std::uintptr_t>(this);
    if (guard_depth > 0 && here >= outermost_guard) guard_depth = 0;
    if (guard_depth++ == 0) outermost_guard = here;
  }
  ~GuardLevel() { --guard_depth; }
  GuardLevel(const GuardLevel&) = delete;
  GuardLevel& operator=(const GuardLevel&) = delete;
};

// Runs the body of an exported function so that no exception of the
// library's leaves it: the host errors and interrupts of the library,
// std::bad_alloc and the standard library's errors are caught here, the
// objects of the body released on the way, and become the build's host
// error; the host's own unwinding passes through.
template <class Body>
auto entry_guard(Body&& body) -> decltype(body()) {
  {
    const GuardLevel level;
    try {
      return body();
    } catch (const GuardedRaise&) {
    } catch (const std::bad_alloc&) {
      keep_allocation_failure();
    } catch (const std::length_error&) {
      keep_allocation_failure();
    } catch (const std::logic_error& e) {
      keep_library_exception(e.what());
    } catch (const std::runtime_error& e) {
      keep_library_exception(e.what());
    }
  }
  // Outside the handler: a host's longjmp from here leaves no exception half-caught.
  deliver_guarded_raise();
}

// RAII no-raise region; its destructor raises the kept message when the outermost region closes.
class NoRaiseRegion {
 public:
  NoRaiseRegion();
  ~NoRaiseRegion() noexcept(false);
  NoRaiseRegion(const NoRaiseRegion&) = delete;
  NoRaiseRegion& operator=(const NoRaiseRegion&) = delete;
};

}  // namespace quor::QUOR_NS
