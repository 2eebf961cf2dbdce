// The size of the last allocation that failed on this thread, so that the
// host error an entry point makes of a std::bad_alloc can say how much was
// asked.  The library's own operator new records it (one copy for both
// builds); under AddressSanitizer the sanitizer's allocator stays in place
// and nothing is recorded.
#pragma once
#include "core/quor_build.h"

namespace quor {

// Bytes of the last failed operator new of this thread since the last forget (0: none known).
u64 last_failed_allocation();
// Forgets the recorded size.
void forget_failed_allocation();

}  // namespace quor
