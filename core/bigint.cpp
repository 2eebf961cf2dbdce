// Multi-precision integers over GMP with zone-resident limbs (integer build).
#include "core/bigint.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/zone.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {


static_assert(__GNU_MP_RELEASE >= 60200,
              "a zero INT without limbs (alloc 0) needs GMP 6.2 or later");

namespace {
inline INT fresh() {
  INT r;
  mpz_init(&r);
  return r;
}
inline u64 limbs(const INT& a) { return u64(a._mp_size < 0 ? -i64(a._mp_size) : i64(a._mp_size)); }
}  // namespace

// ---- GMP allocation callbacks ----
// GMP calls these from inside its own frames: a zone failure here must not
// unwind through GMP.  The zone is asked inside a no-raise region, where the
// fatal sink ends the process instead of raising.  The region is held open
// by the depth counter alone: closing a NoRaiseRegion may raise a kept
// message, which must not happen in GMP's frames either; a kept message
// surfaces at the next safe point instead.
namespace {
// GMP runs on the request's thread only (the integer build has no threads),
// and every allocation passes here: a plain load and store keep the counter
// without the cost of a locked read-modify-write.
struct InsideGmp {
  InsideGmp() { no_raise_depth.store(no_raise_depth.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
  ~InsideGmp() { no_raise_depth.store(no_raise_depth.load(std::memory_order_relaxed) - 1, std::memory_order_relaxed); }
};
}  // namespace

void* bignum_alloc(std::size_t size) {
  InsideGmp guard;
  return QUOR_NAME(alloc64)(u64(size));
}

void* bignum_realloc(void* old, std::size_t old_size, std::size_t new_size) {
  InsideGmp guard;
  void* p = QUOR_NAME(alloc64)(u64(new_size));
  // Whole 32-bit words of the old contents, never more than the new size.
  u64 n = u64(old_size) & ~u64(3);
  if (n > new_size) n = new_size;
  if (old != nullptr && n) std::memcpy(p, old, n);
  return p;
}

void bignum_free(void*, std::size_t) {}

// ---- construction, predicates, sizes ----
INT QUOR_NAME(cINT_I32)(i32 v) { INT r = fresh(); mpz_set_si(&r, v); return r; }
INT QUOR_NAME(cINT_Dom)(u32 v) { INT r = fresh(); mpz_set_ui(&r, v); return r; }
INT QUOR_NAME(copy_INT)(INT a) { INT r = fresh(); mpz_set(&r, &a); return r; }
int QUOR_NAME(is_zero_INT)(INT a) { return a._mp_size == 0; }
int QUOR_NAME(is_one_INT)(INT a) { return a._mp_size == 1 && a._mp_d[0] == 1; }
int QUOR_NAME(is_neg_one_INT)(INT a) { return a._mp_size == -1 && a._mp_d[0] == 1; }
int QUOR_NAME(GetSign_Int)(INT a) { return a._mp_size > 0 ? 1 : (a._mp_size < 0 ? -1 : 0); }

void QUOR_NAME(SetSign_Int)(INT* a, i32 s) {
  if (s == 0) a->_mp_size = 0;
  else if (s > 0 && a->_mp_size < 0) a->_mp_size = -a->_mp_size;
  else if (s < 0 && a->_mp_size > 0) a->_mp_size = -a->_mp_size;
}

u32 QUOR_NAME(GetLSize_Int)(INT a) { return u32(limbs(a)); }
u32 QUOR_NAME(Relative_GetLSize_Int)(INT a) { return u32(2 * limbs(a)); }

double QUOR_NAME(estime_log_INT)(INT a) {
  const u64 n = limbs(a);
  if (n == 0) return 0.0;
  const double t = double(a._mp_d[n - 1]);
  if (n == 1) return std::log(t) / 22.18071;
  double s = double(a._mp_d[n - 2]);
  if (n > 2) s += 1.0;
  return double(n - 1) + (std::log(t) + std::log(1.0 + s / t * std::ldexp(1.0, -32))) / 22.18071;
}

// ---- arithmetic ----
INT QUOR_NAME(add_INT)(INT a, INT b) { INT r = fresh(); mpz_add(&r, &a, &b); return r; }
INT QUOR_NAME(sub_INT)(INT a, INT b) { INT r = fresh(); mpz_sub(&r, &a, &b); return r; }
INT QUOR_NAME(mult_INT)(INT a, INT b) { INT r = fresh(); mpz_mul(&r, &a, &b); return r; }
INT QUOR_NAME(quot_INT)(INT a, INT b) { INT r = fresh(); mpz_tdiv_q(&r, &a, &b); return r; }
INT QUOR_NAME(exquo_INT)(INT a, INT b) { INT r = fresh(); mpz_divexact(&r, &a, &b); return r; }
INT QUOR_NAME(divide_INT)(INT a, INT b, INT* rem) {
  INT q = fresh();
  *rem = fresh();
  mpz_tdiv_qr(&q, rem, &a, &b);
  return q;
}
INT QUOR_NAME(mod_INT)(INT a, INT b) { INT r = fresh(); mpz_mod(&r, &a, &b); return r; }
INT QUOR_NAME(gcd_INT)(INT a, INT b) { INT r = fresh(); mpz_gcd(&r, &a, &b); return r; }
INT QUOR_NAME(sqrt_INT)(INT a) { INT r = fresh(); mpz_sqrt(&r, &a); return r; }
INT QUOR_NAME(add_INT_d)(INT a, INT b) { mpz_add(&a, &a, &b); return a; }
INT QUOR_NAME(add_INT_dd)(INT a, INT b) { mpz_add(&a, &a, &b); return a; }
INT QUOR_NAME(mult_INT_d)(INT a, INT b) { mpz_mul(&a, &a, &b); return a; }
INT QUOR_NAME(mod_INT_d)(INT a, INT b) { mpz_mod(&a, &a, &b); return a; }
int QUOR_NAME(compare_INT)(INT a, INT b) { return mpz_cmp(&a, &b); }
int QUOR_NAME(ucompare_INT)(INT a, INT b) { return mpz_cmpabs(&a, &b); }

u32 QUOR_NAME(INT_to_Dom)(INT a, u32 p) { return u32(mpz_fdiv_ui(&a, p)); }

void QUOR_NAME(convert_modulos)(const char* text, u32* res, const u32* primes, u32 n) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  u64 len = 0;
  while (text[len] >= '0' && text[len] <= '9') ++len;
  char* digits = static_cast<char*>(QUOR_NAME(alloc64)(len + 1));
  std::memcpy(digits, text, len);
  digits[len] = '\0';
  INT v = fresh();
  if (len) mpz_set_str(&v, digits, 10);
  for (u32 k = 0; k < n; ++k) res[k] = u32(mpz_fdiv_ui(&v, primes[k]));
  QUOR_NAME(restore_GC_state)(&mark);
}

// ---- printing ----
void QUOR_NAME(see_INT)(INT a) {
  // The digits go to zone memory inside a mark: a huge integer must not
  // take its digit buffer from the stack.
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  const u64 size = u64(mpz_sizeinbase(&a, 10)) + 2;
  char* buf = static_cast<char*>(QUOR_NAME(alloc64)(size));
  mpz_get_str(buf, 10, &a);
  QUOR_NAME(Output_string)(buf);
  QUOR_NAME(restore_GC_state)(&mark);
}

void QUOR_NAME(see_INT_mod)(INT a, u32 p) { QUOR_NAME(Output)("%u", QUOR_NAME(INT_to_Dom)(a, p)); }

void QUOR_NAME(see_FRAC_INT_float)(INT a, INT b, u32 prec) {
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  mpf_t fa, fb;
  mpf_init2(fa, prec);
  mpf_init2(fb, prec);
  mpf_set_z(fa, &a);
  mpf_set_z(fb, &b);
  mpf_div(fa, fa, fb);
  FILE* out = QUOR_NAME(output) ? QUOR_NAME(output) : stdout;
  mpf_out_str(out, 10, prec, fa);
  QUOR_NAME(restore_GC_state)(&mark);
}

// ---- transfer format ----
void QUOR_NAME(export_INT)(u32* out, INT a, u32 len) {
  const u64 k = limbs(a);
  if (u64(len) < 2 * k + 1)
    QUOR_NAME(Fatal)("export_INT: %u words cannot hold an integer of %llu words\n", len,
                     (unsigned long long)(2 * k + 1));
  out[0] = a._mp_size < 0 ? 0xFFFFFFFFu : 1u;
  for (u64 i = 0; i < k; ++i) {
    const u64 limb = a._mp_d[i];
    out[1 + 2 * i] = u32(limb);
    out[2 + 2 * i] = u32(limb >> 32);
  }
  for (u64 i = 2 * k + 1; i < len; ++i) out[i] = 0;
}

INT QUOR_NAME(import_INT)(const u32* in, u32 len) {
  INT r = fresh();
  if (len <= 1) return r;
  mpz_import(&r, std::size_t(len - 1), -1, sizeof(u32), 0, 0, in + 1);
  if (i32(in[0]) < 0) mpz_neg(&r, &r);
  return r;
}

INT QUOR_NAME(import_gmp_INT)(const __mpz_struct* a, FILE* f) {
  INT r = fresh();
  mpz_set(&r, a);
  if (f) mpz_out_str(f, 10, a);
  return r;
}

// ---- relocation ----
void in_place_copy_INT(INT* a) {
  const u64 n = limbs(*a);
  if (n == 0) {
    // A zero keeps no limbs: a copy must not take room its original may
    // never have had.
    *a = fresh();
    return;
  }
  mp_limb_t* dst = static_cast<mp_limb_t*>(zone_alloc_exact(n * sizeof(mp_limb_t), alignof(mp_limb_t)));
  if (dst != a->_mp_d) std::memmove(dst, a->_mp_d, n * sizeof(mp_limb_t));
  a->_mp_d = dst;
  a->_mp_alloc = int(n);
}

void QUOR_NAME(glisser_INT1)(INT* a) { in_place_copy_INT(a); }

void QUOR_NAME(glisser_INT2)(INT* a, INT* b) {
  if (a->_mp_d <= b->_mp_d) {
    in_place_copy_INT(a);
    in_place_copy_INT(b);
  } else {
    in_place_copy_INT(b);
    in_place_copy_INT(a);
  }
}

void QUOR_NAME(glisser_INT4)(INT* a, INT* b, INT* c, INT* d) {
  INT* v[4] = {a, b, c, d};
  sort_Adresses(v, 4);
  for (INT* x : v) in_place_copy_INT(x);
}

// Shell sort, gaps n/2 .. 1, ascending by limb address.
void sort_Adresses(INT** v, u32 n) {
  for (u32 gap = n / 2; gap >= 1; gap /= 2) {
    for (u32 i = gap; i < n; ++i) {
      for (u64 j = i; j >= gap && v[j - gap]->_mp_d >= v[j]->_mp_d; j -= gap) {
        INT* t = v[j];
        v[j] = v[j - gap];
        v[j - gap] = t;
      }
    }
  }
}

// ---- integer mode ----
void QUOR_NAME(enter_INT)() { Quor_push_gmp_alloc_fnct(bignum_alloc, bignum_realloc, bignum_free); }
void QUOR_NAME(exit_INT)() { Quor_pop_gmp_alloc_fnct(); }

namespace {
bool int_mode_entered_once = false;
}  // namespace

// The constants are rebuilt at every call: a block of the same size may hold
// other primes (the next pass), and constants built before a memory reset
// point into freed zone memory.
u32 QUOR_NAME(init_INT)() {
  if (!int_mode_entered_once) {
    QUOR_NAME(enter_INT)();
    int_mode_entered_once = true;
  }
  init_Lift_INT();
  return QUOR_NAME(numberOfPrimes)();
}

void QUOR_NAME(safe_exit_INT)() { QUOR_NAME(Fatal)("pas fait: safe_exit_INT\n"); }


IntModeScope::IntModeScope() {
  if (!gmp_alloc_switched()) {
    QUOR_NAME(enter_INT)();
    entered_ = true;
  }
}

IntModeScope::~IntModeScope() {
  if (entered_) QUOR_NAME(exit_INT)();
}

}  // namespace quor::QUOR_NS
