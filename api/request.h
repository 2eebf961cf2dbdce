// Request set-up and memory of the public interface (one copy per build):
// the state a request opens with, the switches it sets, the memory reset
// that ends it, and the small services (version, report, clock, hooks).
// The exported calls themselves are declared in core/call_quor.h.
//
// Memory reset and the other build: the system blocks of both builds come
// from one pool, so a reset of either build releases both builds' memory.
// Every reset therefore also clears, in BOTH builds, the request state that
// pointed into it: the result count global_nb, the export buffer, the
// monomial table, the pair sentinel and the once-flags.  A receive that
// checks its index against global_nb can never read released memory.
#pragma once
#include "core/quor_build.h"

#include "api/record.h"
#include "core/call_quor.h"
#include "core/monomial.h"

#include "api/request_shared.h"

namespace quor {
// Largest number of variables of a request (the name table keeps one slot for "?").
inline constexpr u32 kMaxVariables = QUOR_MAX_VARIABLE_NAMES - 1;
// Exponents a request accepts: 0 .. kMaxExponent, also for the total degree.
inline constexpr i32 kMaxExponent = 32767;
}  // namespace quor

namespace quor::QUOR_NS {

// ---- switches set by init_urgent / init (read by the Parts that use them) ----
extern i32 want_pipe;
extern i32 want_secure;

// ---- once-flags, cleared by the memory reset ----
extern i32 deja_vu_Expos;      // variable-name table cleared
extern i32 deja_vu_init_Crit;  // pair sentinel made

// ---- variables of the request ----
extern char* internal_id_vars[QUOR_MAX_VARIABLE_NAMES];
extern u32 current_id_vars;

// ---- fixed data ----
QUOR_EXPORT const i32 QUOR_NAME(version);          // 12625 integer, 12624 prime field
QUOR_EXPORT const char* const QUOR_NAME(version_svn);  // " 398M "

// ---- request state of the host entry layer (cleared by every memory reset of either build) ----
// Polynomials of the request the host may read back (-1 before the first init).
extern i32 global_nb;
// Export buffer of the integer receive entry (null: not taken since the last reset).
QUOR_EXPORT u32* QUOR_NAME(zone);
// Forgets the results of this build: global_nb = 0, export buffer null.
void forget_request_results();
// Forgets everything of this build that pointed into released blocks (zone
// state, free lists, tables, sentinel, once-flags, results).
void forget_build_memory();

// 1 when p is a prime (p < 2^32).
bool is_prime_u32(u32 p);

}  // namespace quor::QUOR_NS
