// OpenMP teams under an address-space limit (ulimit -v).  The OpenMP runtime
// ends the process when it cannot create a thread, so before a region that
// may add threads the team is bounded by the room the limit leaves for their
// stacks.  One copy serves both builds: the runtime's threads are the
// process's.
#pragma once
#include "core/quor_build.h"

namespace quor {

// Stack bytes of a thread the OpenMP runtime creates: OMP_STACKSIZE (or
// GOMP_STACKSIZE) when set and readable, else the threads' default size.
u64 omp_thread_stack_bytes();

// The team, 1 .. wanted, that a parallel region started now may have: all of
// it without a limit or inside a region, else as many threads as the room
// under the limit holds with a reserve kept, down to the caller alone.
// Called before the region, with nothing large allocated in between.
u32 team_width(u32 wanted);

}  // namespace quor
