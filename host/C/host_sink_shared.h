// Host services that one copy serves for both builds: the kernel handle, the
// message sink, the end-of-process hook and the switch of GMP's memory
// functions (process-wide state of GMP).
#pragma once
#include "core/quor_build.h"

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
QUOR_EXPORT __attribute__((noreturn)) void Quor_pop_safe_gmp_alloc_fnct();

// Asks the host for its "version" text (no cache); true when it is longer than 6 characters,
// version = the number starting at its seventh character.
bool host_version_probe(double& version);

}  // namespace quor
