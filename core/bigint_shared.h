// The integer layer's part that one copy serves for both builds.
#pragma once
#include "core/quor_build.h"

#include <cstddef>

// GMP memory functions, process-wide (one copy serves both builds).
namespace quor {
using gmp_alloc_fn = void* (*)(std::size_t);
using gmp_realloc_fn = void* (*)(void*, std::size_t, std::size_t);
using gmp_free_fn = void (*)(void*, std::size_t);
// Install (a, r, f) as GMP's memory functions, remembering the current ones
// first unless a triple is already remembered.
void memo_mp_set_memory_functions(gmp_alloc_fn a, gmp_realloc_fn r, gmp_free_fn f);
// Put the remembered triple back and forget it.
void memo_reset_mp_set_memory_functions();
// Same, only when a triple is remembered.
void memo_reset_mp_set_memory_functions_safe();
// 1 while a remembered triple is pending (the library's functions installed).
int memo_mp_memory_functions_set();
}  // namespace quor
