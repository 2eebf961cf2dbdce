// The prime of the block-Wiedemann side as signed values (prime-field build).
#pragma once
#include "core/quor_build.h"

#if !QUOR_INT
namespace quor::QUOR_NS {
// p, and (p - 1) / 2; -1 until whoever prepares block work sets both.
extern i32 PrimeSign;
extern i32 PrimeHalf;
}  // namespace quor::QUOR_NS
#endif
