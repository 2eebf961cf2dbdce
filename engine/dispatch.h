// The computation request: Quor_int_groebner / Quor_groebner (declared in
// core/call_quor.h) apply the options of the descriptor, run the engine entry
// the strategy code asks for and hand back the result polynomials.
//
// Integer build: the engine runs modulo a block of primes per pass; the
// first pass writes the elimination trace and fixes the result shape, later
// passes replay it on fresh, growing blocks, and the coefficients are rebuilt
// by Chinese remaindering and rational reconstruction until every result
// reconstructs.  A pass whose primes misbehave (the elimination reports a bad
// prime, a leading coefficient vanishes, the shape differs from the first
// pass) is computed again with other primes; repeated disagreement of later
// passes restarts from a new first pass.  Results are primitive with a
// positive leading coefficient (the no-op strategy returns its inputs).
//
// Memory: the results live in zone 3, which only the next memory reset
// releases; zones 1 and 2 are back at their marks of entry when a call
// returns.  An interrupt returns 0 polynomials.
//
// This version computes QUOR_COMPUTE_GBASIS, QUOR_COMPUTE_MATRIXN and, in
// the integer build, QUOR_COMPUTE_NOP, QUOR_COMPUTE_GBASIS_NF and
// QUOR_COMPUTE_GBASIS_NF_RECOMPUTE (the first _nb inputs reduced, 1 <= _nb
// <= n; code 6 returns pairs (L, L NF) with L the lcm of the denominators of
// the exact normal form NF) and QUOR_COMPUTE_GBASIS_MULTI with a second
// basis (_nb2 > 0).  The integer build's QUOR_COMPUTE_MATRIXN and
// QUOR_COMPUTE_GBASIS_MULTI return the rational form (engine/rrform.h),
// primitive: lc(F) f, and c_j x_j + B_j(x_last) for (f'/d) x_j + R_j.  Every
// other code needs what the library lacks (the Tesk bridge's change
// of ordering, the radical stage) and ends, before any work, in the fatal
// channel with "Strategy %s is not available in this version\n" naming the
// request's code; unknown codes end with "Unknown strategy code %d\n".  No
// strategy answers with an empty or a wrong result.
#pragma once
#include "core/quor_build.h"

#include <cstddef>

#include "core/call_quor.h"
#include "core/poly.h"

namespace quor {
// Largest block of primes of one pass.
inline constexpr u32 kMaxPrimeBlock = 256;
// Smallest automatic first block.
inline constexpr u32 kMinAutoBlock = 8;
// A request ends fatally when it reaches this many passes.
inline constexpr i32 kMaxPasses = 10000;
// Above this memory counter (kilobytes) the block stops doubling.
inline constexpr u32 kBlockFreezeKb = 512000;
// Consecutive rejected later passes after which the first pass is distrusted.
inline constexpr u32 kRejectsBeforeRestart = 3;
// Zone-table capacity unit of the _memory option.
inline constexpr u32 kZoneTableUnit = 30000;
// Range of a non-zero _index option (below the smallest there is no table prime).
inline constexpr u32 kMinMaxIndex = 512;
inline constexpr u32 kMaxMaxIndex = u32(1) << 27;
// Largest _memory option: zone tables of 30 million blocks.
inline constexpr u32 kMaxMemoryOption = 1000;
}  // namespace quor

namespace quor::QUOR_NS {

// The body of Quor_int_groebner / Quor_groebner without their entry guard,
// for callers already inside one (the host's compute entry): the guard's
// state belongs to the host's call, and a nested exported call would open a
// second guard for nothing.
#if QUOR_INT
UI32 groebner_request(Dpol_INT* base, UI32 n, Dpol_INT* resultat, I32 mingbasis_strong, I32 restrict2, double* t,
                      I32 bk0, I32 pas0, I32 final_restrict, QUOR_Comp_Desc env);
#else
UI32 groebner_request(Dpol* base, UI32 n, Dpol* resultat, I32 mingbasis_strong, I32 restrict2, double* t, I32 bk0,
                      I32 pas0, I32 final_restrict, QUOR_Comp_Desc env);
#endif

// Switches a strategy sets for its own request (cleared when the request
// returns, also on a fatal error); read by the two-stage driver.
extern i32 want_buildmatrix;
extern i32 want_radical_strateg1;
extern i32 want_add_equations;

#if QUOR_INT
// Debugging hold: when set, the request waits in Quor_int_attendre for a debugger.
QUOR_EXPORT i32 QUOR_NAME(debug_quor);

// First block of primes: pas0 (at least 1) when pas0 >= 0, else 2w+1 (at
// least 8) for the largest input coefficient of w 32-bit words; at most 256.
u32 first_prime_block(i32 pas0, Dpol_INT* base, u32 n);
// Offset of the first block in the prime table from the _off option:
// negative -> (random() + 1) mod 1250, else (8 _off) mod 20000.
u32 prime_offset(i32 off);
// The block of a pass from the table offset on: block, or the primes left
// when fewer; fatal when none is left.
u32 block_in_table(u32 offset, u32 block);
// Bytes of values (the modulus's limbs for each term) that one batch of the
// lift combines and reconstructs before giving its scratch back; a batch
// takes one result at least (the results are the same; tests lower it).
extern u64 lift_batch_bytes;
#endif

}  // namespace quor::QUOR_NS

// Two-stage driver called directly (rational form or, with the build-matrix
// switch, the multiplication matrix); fatal while that unit is missing.
QUOR_EXPORT quor::u32 QUOR_NAME(gbasis_rr_form)(quor::QUOR_NS::Dpol* base, quor::u32 n,
                                                quor::QUOR_NS::Dpol* resultat, double* t);
// Local date and time "%a %b %e %H:%M:%S" into s (at most size bytes); the characters written.
QUOR_EXPORT int QUOR_NAME(recompute)(char* s, std::size_t size);
// Nothing.
QUOR_EXPORT void QUOR_NAME(memory_state)();
