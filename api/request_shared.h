// Request state one copy serves for both builds.
#pragma once
#include "core/quor_build.h"

namespace quor {
// Counts the releases of the library memory (either build); a handle taken
// under one generation is dead under any other.
u64 memory_generation();
// Called by the memory reset after it released the blocks.
void memory_generation_advance();
}  // namespace quor
