// Multi-precision integers of the integer build (INT = GMP integer by value)
// whose limbs live in zone memory while an integer call runs.
//
// Rules of the integer layer:
//  - Every operation returning an INT initialises a fresh GMP integer; its
//    limbs come from the allocator GMP currently uses (the zone while integer
//    mode is on).  Nothing is freed one by one: storage goes back by
//    restoring a zone mark; survivors are relocated below the mark with
//    in_place_copy_INT / glisser_INT*, lowest limb address first.
//  - "In place" (_d) operations compute into the first operand's storage and
//    return it: store the result back over the variable.
//  - A fatal condition must never unwind through GMP's own frames.  The GMP
//    allocation callbacks (bignum_alloc / bignum_realloc) hold the build's
//    no-raise depth (host/C/host_services.h) while they ask the zone: a zone
//    failure there ends the process (status 1, message on standard error)
//    instead of raising.  Every other fatal check of this layer is made
//    before or after a GMP call, never from inside one, and leaves through
//    the ordinary fatal channel, which gives GMP back to the host's functions
//    before the host error unwinds.
//
// The prime-field build has no GMP: it keeps do-nothing functions under the
// integer layer's names so the shared source links.
#pragma once
#include "core/quor_build.h"

#include <cstddef>
#include <cstdio>

#include "core/bigint_shared.h"

#if QUOR_INT
#include <gmp.h>
#endif

namespace quor::QUOR_NS {

#if QUOR_INT
// GMP integer by value: {alloc limbs, signed size, limb pointer}.
using INT = __mpz_struct;
static_assert(sizeof(INT) == 16, "INT is two 64-bit words");

// construction
QUOR_EXPORT INT QUOR_NAME(cINT_I32)(i32 v);                 // new INT of v
QUOR_EXPORT INT QUOR_NAME(cINT_Dom)(u32 v);                 // new INT of an unsigned word
QUOR_EXPORT INT QUOR_NAME(copy_INT)(INT a);                 // new copy of a
// predicates, sign and size
QUOR_EXPORT int QUOR_NAME(is_zero_INT)(INT a);              // 1 when a = 0
QUOR_EXPORT int QUOR_NAME(is_one_INT)(INT a);               // 1 when a = 1
QUOR_EXPORT int QUOR_NAME(is_neg_one_INT)(INT a);           // 1 when a = -1
QUOR_EXPORT int QUOR_NAME(GetSign_Int)(INT a);              // -1, 0 or 1
QUOR_EXPORT void QUOR_NAME(SetSign_Int)(INT* a, i32 s);     // s=0: zero; s>0: |a|; s<0: -|a|
QUOR_EXPORT u32 QUOR_NAME(GetLSize_Int)(INT a);             // limbs in use
QUOR_EXPORT u32 QUOR_NAME(Relative_GetLSize_Int)(INT a);    // 32-bit magnitude words (2 x limbs)
QUOR_EXPORT double QUOR_NAME(estime_log_INT)(INT a);        // size in 32-bit words, as a double
// arithmetic, new result
QUOR_EXPORT INT QUOR_NAME(add_INT)(INT a, INT b);           // a + b
QUOR_EXPORT INT QUOR_NAME(sub_INT)(INT a, INT b);           // a - b
QUOR_EXPORT INT QUOR_NAME(mult_INT)(INT a, INT b);          // a * b
QUOR_EXPORT INT QUOR_NAME(quot_INT)(INT a, INT b);          // a / b truncated (b != 0)
QUOR_EXPORT INT QUOR_NAME(exquo_INT)(INT a, INT b);         // a / b, b divides a
QUOR_EXPORT INT QUOR_NAME(divide_INT)(INT a, INT b, INT* r);  // truncated quotient, *r = remainder
QUOR_EXPORT INT QUOR_NAME(mod_INT)(INT a, INT b);           // a mod b in [0, |b|)
QUOR_EXPORT INT QUOR_NAME(gcd_INT)(INT a, INT b);           // gcd >= 0
QUOR_EXPORT INT QUOR_NAME(sqrt_INT)(INT a);                 // floor(sqrt(a)), a >= 0
// arithmetic, in place (store the result back)
QUOR_EXPORT INT QUOR_NAME(add_INT_d)(INT a, INT b);         // a := a + b
QUOR_EXPORT INT QUOR_NAME(add_INT_dd)(INT a, INT b);        // a := a + b
QUOR_EXPORT INT QUOR_NAME(mult_INT_d)(INT a, INT b);        // a := a * b
QUOR_EXPORT INT QUOR_NAME(mod_INT_d)(INT a, INT b);         // a := a mod b, non-negative
// comparison
QUOR_EXPORT int QUOR_NAME(compare_INT)(INT a, INT b);       // sign of a - b
QUOR_EXPORT int QUOR_NAME(ucompare_INT)(INT a, INT b);      // sign of |a| - |b|
// residues
QUOR_EXPORT u32 QUOR_NAME(INT_to_Dom)(INT a, u32 p);        // a mod p in [0, p), floor division
// Unsigned decimal digits to their residues modulo primes[0..n-1] (scratch in one mark).
QUOR_EXPORT void QUOR_NAME(convert_modulos)(const char* text, u32* res, const u32* primes, u32 n);
// printing
QUOR_EXPORT void QUOR_NAME(see_INT)(INT a);                 // decimal on the output channel
QUOR_EXPORT void QUOR_NAME(see_INT_mod)(INT a, u32 p);      // a mod p as "%u"
QUOR_EXPORT void QUOR_NAME(see_FRAC_INT_float)(INT a, INT b, u32 prec);  // a/b as a float of prec bits
// transfer format: word 0 sign (0xFFFFFFFF negative, 1 otherwise), then the
// magnitude in 32-bit words, least significant first (2 x limbs words), then
// zero padding up to len words.  Fatal when len < 2 x limbs + 1.
QUOR_EXPORT void QUOR_NAME(export_INT)(u32* out, INT a, u32 len);
// New INT from len transfer words (negative when word 0 is negative as i32).
QUOR_EXPORT INT QUOR_NAME(import_INT)(const u32* in, u32 len);
// New copy (current allocator) of a host GMP integer; digits also to f when given.
QUOR_EXPORT INT QUOR_NAME(import_gmp_INT)(const __mpz_struct* a, FILE* f);
// relocation: *a replaced by a copy of itself at the bump pointer, taking
// exactly the room of its limbs in use (a zero takes none)
void in_place_copy_INT(INT* a);
QUOR_EXPORT void QUOR_NAME(glisser_INT1)(INT* a);
QUOR_EXPORT void QUOR_NAME(glisser_INT2)(INT* a, INT* b);   // lower limbs first
QUOR_EXPORT void QUOR_NAME(glisser_INT4)(INT* a, INT* b, INT* c, INT* d);  // ascending limb address
void sort_Adresses(INT** v, u32 n);             // sort by ascending limb address
// integer mode
QUOR_EXPORT void QUOR_NAME(enter_INT)();      // GMP allocates from the zone
QUOR_EXPORT void QUOR_NAME(exit_INT)();       // the host's GMP functions back
QUOR_EXPORT u32 QUOR_NAME(init_INT)();        // enter once; build lifting constants; returns #primes
QUOR_EXPORT void QUOR_NAME(safe_exit_INT)();  // not provided: fatal
// The zone's GMP functions.
void* bignum_alloc(std::size_t size);
void* bignum_realloc(void* old, std::size_t old_size, std::size_t new_size);
void bignum_free(void* p, std::size_t size);
// Size statistics of a printed coefficient (raises QUOR_NAME(taille_maxi)).
void enregistre(INT coefficient);
#else
// Prime-field build: the integer layer's names as do-nothing functions.
QUOR_EXPORT void QUOR_NAME(init_INT)(...);
QUOR_EXPORT void QUOR_NAME(estime_log_INT)(...);
QUOR_EXPORT void QUOR_NAME(is_one_INT)(...);
QUOR_EXPORT void QUOR_NAME(is_neg_one_INT)(...);
QUOR_EXPORT void QUOR_NAME(see_INT)(...);
QUOR_EXPORT void QUOR_NAME(GetSign_Int)(...);
QUOR_EXPORT void QUOR_NAME(maxi_INT)(...);
QUOR_EXPORT void QUOR_NAME(ucompare_INT)(...);
QUOR_EXPORT void QUOR_NAME(compare_INT)(...);
QUOR_EXPORT void QUOR_NAME(gcd_INT)(...);
QUOR_EXPORT void QUOR_NAME(SetSign_Int)(...);
QUOR_EXPORT void QUOR_NAME(exquo_INT)(...);
QUOR_EXPORT void QUOR_NAME(internal_sendINT)(...);
#endif

// Keeps integer mode (GMP allocating from the zones) on for its lifetime,
// entering it only when it is off; nothing in the prime-field build.
class IntModeScope {
 public:
  IntModeScope();
  ~IntModeScope();
  IntModeScope(const IntModeScope&) = delete;
  IntModeScope& operator=(const IntModeScope&) = delete;

 private:
  [[maybe_unused]] bool entered_ = false;
};

}  // namespace quor::QUOR_NS
