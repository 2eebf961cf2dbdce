// The library's side of the host: message sink, host error call, interrupt
// poll, host version, SIGINT handler, switch of GMP's memory functions, the
// single end-of-process hook and the no-raise regions.
//
// Fatal path rule.  A host error unwinds (C++ exception) from the raise to
// the host's caller of the entry point.  It must never cross an OpenMP
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
#include "core/quor_build.h"

#ifndef QUOR_HOST_C_HOST_SERVICES_COMMON_H
#define QUOR_HOST_C_HOST_SERVICES_COMMON_H
#include <atomic>
#include <cstddef>
#include <gmp.h>

#include "host/C/host_api.h"

namespace quor {

// Kernel handle stored by every entry point before anything else (one copy).
extern HostKernel Host_kernel;
// Mode of the message sink: 0 silent, 1 host printf with line rule,
// 2 host user info, 3 standard error, 4 host printf; other values silent.
QUOR_EXPORT i32 Quor_verb_info;

// Message sink of both builds: shows text as Quor_verb_info says (no kernel stored: standard error).
QUOR_EXPORT void info_Host(const char* text);
// Line counter of mode 1 (texts since the last newline); tests reset it.
extern int info_Host_line_count;

// Ends the process with status, through the installed hook if any; never returns.
[[noreturn]] void process_exit(int status);
using ProcessExitHook = void (*)(int status);
// Installs the hook process_exit calls (nullptr: std::exit); returns the previous. A hook must not return.
ProcessExitHook set_process_exit_hook(ProcessExitHook hook);

// GMP memory functions (process-wide, so one remembered triple for both builds).
using GmpAlloc = void* (*)(std::size_t);
using GmpRealloc = void* (*)(void*, std::size_t, std::size_t);
using GmpFree = void (*)(void*, std::size_t);
// Installs alloc/realloc/free; the first install after a restore remembers the functions in place (the host's).
QUOR_EXPORT void Quor_push_gmp_alloc_fnct(GmpAlloc alloc, GmpRealloc realloc, GmpFree free);
// Puts the remembered (host's) functions back; does nothing when none are remembered.
QUOR_EXPORT void Quor_pop_gmp_alloc_fnct();
// True while the library's functions are installed (a triple is remembered).
bool gmp_alloc_switched();
// Emergency stop: prints "Quor_pop_safe_gmp_alloc_fnct %f\n" (host version) on stderr, exits with status 4.
QUOR_EXPORT [[noreturn]] void Quor_pop_safe_gmp_alloc_fnct();

// Asks the host for its "version" text (no cache); true when it is longer than 6 characters,
// version = the number starting at its seventh character.
bool host_version_probe(double& version);

}  // namespace quor
#endif

#if QUOR_INT
#ifndef QUOR_GUARD_HOST_C_HOST_SERVICES_H_INT
#define QUOR_GUARD_HOST_C_HOST_SERVICES_H_INT
#define QUOR_HDR_OPEN
#endif
#else
#ifndef QUOR_GUARD_HOST_C_HOST_SERVICES_H_GF
#define QUOR_GUARD_HOST_C_HOST_SERVICES_H_GF
#define QUOR_HDR_OPEN
#endif
#endif
#ifdef QUOR_HDR_OPEN
#undef QUOR_HDR_OPEN

namespace quor::QUOR_NS {

// Stop flag: 1 once SIGINT was caught on an older host; cleared by the init and compute entries.
QUOR_EXPORT volatile i32 QUOR_NAME(stop_immediately_semaphore);

// Fatal sink: leaves integer mode, raises the host error with text; never returns.
QUOR_EXPORT [[noreturn]] void QUOR_NAME(error_Host)(const char* text);

// Interrupt poll of the engine's loops: raises a kept fatal message when safe; asks the host
// on every 4096th call (hosts from version 11).
QUOR_EXPORT void QUOR_NAME(checkInterrupt)();
// Calls of the poll so far (the host is asked when it reaches a multiple of 4096).
extern u32 interrupt_counter;

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

// RAII no-raise region; its destructor raises the kept message when the outermost region closes.
class NoRaiseRegion {
 public:
  NoRaiseRegion();
  ~NoRaiseRegion() noexcept(false);
  NoRaiseRegion(const NoRaiseRegion&) = delete;
  NoRaiseRegion& operator=(const NoRaiseRegion&) = delete;
};

}  // namespace quor::QUOR_NS
#endif
