// The prime of the block-Wiedemann side as signed values (prime-field build).
#include "core/quor_build.h"
#if !QUOR_INT
#ifndef QUOR_GUARD_MINPOLYVGF_PRIME_SIGN_H_GF
#define QUOR_GUARD_MINPOLYVGF_PRIME_SIGN_H_GF
namespace quor::QUOR_NS {
// p, and (p - 1) / 2; -1 until whoever prepares block work sets both.
extern i32 PrimeSign;
extern i32 PrimeHalf;
}  // namespace quor::QUOR_NS
#endif
#endif
