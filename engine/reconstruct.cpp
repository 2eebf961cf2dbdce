// Chinese remaindering, rational reconstruction and primitive parts (integer
// build).
//
// Every multi-step computation here follows one idiom: save a zone mark,
// compute with fresh INTs (all above the mark), restore the mark, relocate
// the survivors in ascending limb order.  Only values created after the mark
// may be relocated that way: a value living elsewhere (a global constant, a
// caller's operand) is first copied above the mark.
#include "engine/reconstruct.h"

#include <omp.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/channels.h"
#include "core/coeffs.h"
#include "core/team_shared.h"
#include "core/zone.h"
#include "host/C/host_services.h"

namespace quor::QUOR_NS {


u32 valid_number_of_primes = 0;
u32* valid_Primes = nullptr;
INT QUOR_NAME(product_of_primes) = {0, 0, nullptr};
INT QUOR_NAME(maxi_INT) = {0, 0, nullptr};
INT* chinese_cstes = nullptr;
// QUOR_NAME(want_quiet) is owned by the request set-up (api/request.cpp).
char* info_lift_package = nullptr;

namespace {

inline INT fresh() {
  INT r;
  mpz_init(&r);
  return r;
}
inline u64 limbs(const INT& a) { return u64(a._mp_size < 0 ? -i64(a._mp_size) : i64(a._mp_size)); }

struct Mark {
  GC_state m;
  Mark() { QUOR_NAME(save_GC_state)(&m); }
  void restore() { QUOR_NAME(restore_GC_state)(&m); }
};

// Residues of term j over the block, gathered from the per-prime arrays.
std::vector<u32>& gather(u32* const* rows, u32 j) {
  static std::vector<u32> buf;
  buf.resize(valid_number_of_primes);
  for (u32 k = 0; k < valid_number_of_primes; ++k) buf[k] = rows[k][j];
  return buf;
}

// Product of primes[a..b): the running product is the only survivor of
// each step.
INT product_of(const u32* primes, u32 a, u32 b) {
  Mark mk;
  INT acc = QUOR_NAME(cINT_Dom)(primes[a]);
  for (u32 i = a + 1; i < b; ++i) {
    INT t = fresh();
    mpz_mul_ui(&t, &acc, primes[i]);
    mk.restore();
    in_place_copy_INT(&t);
    acc = t;
  }
  return acc;
}

// Node of the constant tree for [lo, hi) with sibling range [slo, shi).
void fill_tree(const u32* primes, const std::vector<u32>& c, u32 lo, u32 hi, u32 slo, u32 shi,
               INT* tree, u32& idx) {
  INT& slot = tree[idx++];
  if (hi - lo == 1) {
    Mark mk;
    INT sib = product_of(primes, slo, shi);
    INT t = fresh();
    mpz_mul_ui(&t, &sib, c[lo]);
    mk.restore();
    in_place_copy_INT(&t);
    slot = t;
    return;
  }
  slot = product_of(primes, slo, shi);
  const u32 mid = lo + (hi - lo) / 2;
  fill_tree(primes, c, lo, mid, mid, hi, tree, idx);
  fill_tree(primes, c, mid, hi, lo, mid, tree, idx);
}

// v := the value of the node for [lo, hi).  Every temporary is cleared, so
// that the routine also runs on integers of GMP's own allocator (threads).
void chinese_rec(mpz_ptr v, const u32* r, const INT* tree, u32 lo, u32 hi, u32& idx) {
  const INT& K = tree[idx++];
  if (hi - lo == 1) {
    mpz_mul_ui(v, &K, r[lo]);
    return;
  }
  const u32 mid = lo + (hi - lo) / 2;
  mpz_t b;
  mpz_init(b);
  chinese_rec(v, r, tree, lo, mid, idx);
  chinese_rec(b, r, tree, mid, hi, idx);
  mpz_add(b, v, b);
  mpz_mul(v, &K, b);
  mpz_clear(b);
}

// x := the Chinese-remainder value of the residues over the n primes of the
// block (not reduced modulo their product); temporaries cleared as above.
void chinese_into(mpz_ptr x, const u32* r, const INT* tree, u32 n) {
  if (n <= 1) {
    mpz_set_ui(x, n ? r[0] : 0);
    return;
  }
  u32 idx = 0;
  mpz_t b;
  mpz_init(b);
  chinese_rec(x, r, tree, 0, n / 2, idx);
  chinese_rec(b, r, tree, n / 2, n, idx);
  mpz_add(x, x, b);
  mpz_clear(b);
}

// num = r1 with the sign of t1, den = |t1|, both divided by their gcd.
void finish_fraction(const INT& r1, const INT& t1, INT* num, INT* den) {
  *num = fresh();
  *den = fresh();
  mpz_set(num, &r1);
  if (mpz_sgn(&t1) < 0) mpz_neg(num, num);
  mpz_abs(den, &t1);
  INT g = fresh();
  mpz_gcd(&g, num, den);
  if (mpz_cmp_ui(&g, 1) != 0 && mpz_sgn(&g) != 0) {
    mpz_divexact(num, num, &g);
    mpz_divexact(den, den, &g);
  }
}

// One step of the half-extended Euclid: (r0, r1) = (r1, r0 - q r1),
// (t0, t1) = (t1, t0 - q t1), the new t reduced modulo *mod when given;
// the four are then moved down to the mark.
void euclid_step(Mark& mk, INT& r0, INT& r1, INT& t0, INT& t1, const INT* mod = nullptr) {
  INT q = fresh(), r2 = fresh(), t2 = fresh();
  mpz_tdiv_qr(&q, &r2, &r0, &r1);
  mpz_mul(&t2, &q, &t1);
  mpz_sub(&t2, &t0, &t2);
  if (mod) mpz_mod(&t2, &t2, mod);
  r0 = r1;
  r1 = r2;
  t0 = t1;
  t1 = t2;
  mk.restore();
  QUOR_NAME(glisser_INT4)(&r0, &r1, &t0, &t1);
}

// Lcm of the denominators, coefs[j] = num_j * (L / den_j).
void primitive_from(INT* extra, INT* coefs, const INT* table, u32 nterms) {
  INT L = QUOR_NAME(cINT_I32)(1);
  for (u32 j = 0; j < nterms; ++j) mpz_lcm(&L, &L, &table[3 * j + 2]);
  for (u32 j = 0; j < nterms; ++j) {
    INT t = fresh();
    mpz_divexact(&t, &L, &table[3 * j + 2]);
    mpz_mul(&t, &t, &table[3 * j + 1]);
    coefs[j] = t;
  }
  if (extra) *extra = L;
}

// A scratch table of n INT slots in zone 2 (dropped by drop_zone2_table).
INT* zone2_table(GC_state* m2, u64 n) {
  QUOR_NAME(swap_zone)();
  QUOR_NAME(save_GC_state)(m2);
  INT* t = static_cast<INT*>(QUOR_NAME(alloc64)(n * sizeof(INT) + 1));
  QUOR_NAME(swap_zone)();
  return t;
}
void drop_zone2_table(const GC_state* m2) {
  QUOR_NAME(swap_zone)();
  QUOR_NAME(restore_GC_state)(m2);
  QUOR_NAME(swap_zone)();
}

// Ends a reconstruction on its scratch table: the primitive part when every
// term was lifted (returns 1), else the Chinese-remainder values (returns 0).
int primitive_or_chinese(bool lifted, INT* extra, INT* coefs, const INT* table, u32 nterms, const GC_state* m2) {
  if (lifted)
    primitive_from(extra, coefs, table, nterms);
  else
    for (u32 j = 0; j < nterms; ++j) coefs[j] = table[3 * j];
  drop_zone2_table(m2);
  return lifted ? 1 : 0;
}

// A fresh integer holding v in exactly its limbs (one allocation).
INT exact_copy(const INT& v) {
  INT r;
  mpz_init2(&r, mp_bitcnt_t(limbs(v) ? limbs(v) : 1) * GMP_NUMB_BITS);
  mpz_set(&r, &v);
  return r;
}

// Scratch slots of PolyLift.
enum { kA, kR0, kR1, kT0, kT1, kQ, kW, kL, kSlots };
// Bits by which an accepted reconstruction stays below the modulus when
// the balanced bound does not vouch for it (see PolyLift::term, euclid).
constexpr u64 kLooseMarginBits = 64;

// Rational reconstruction of the terms of one polynomial modulo Mod.
//
// The scratch integers live in zone 2 (taken after the caller's zone-2
// mark, dropped with it) with room for every intermediate value, so that
// the Euclidean steps allocate nothing; keep() re-homes any of them that
// GMP had to move (its new limbs would sit in zone 1 above a mark).
//
// Terms share the lcm L of the denominators found so far: a value a whose
// multiple a*L mod Mod (symmetric) lies far enough below Mod is the fraction
// (a*L mod Mod)/L (see term), so that once one term has given the common
// denominator the others need a modulus of about their numerators' size
// instead of the product of numerator and denominator; the algorithm runs
// only for the other terms.  A fraction is stored unreduced as (a*L mod Mod)/L:
// the lcm of the stored denominators, and the primitive part built from
// them, are those of the reduced fractions.
struct PolyLift {
  INT s[kSlots];
  mp_limb_t* home[kSlots];
  u64 room;

  explicit PolyLift(const INT& mod) : room(2 * limbs(mod) + 8) {
    QUOR_NAME(swap_zone)();
    for (int i = 0; i < kSlots; ++i) {
      mpz_init2(&s[i], mp_bitcnt_t(room) * GMP_NUMB_BITS);
      home[i] = s[i]._mp_d;
    }
    mpz_set_ui(&s[kL], 1);
    QUOR_NAME(swap_zone)();
  }

  // Call right after restoring a zone-1 mark, before anything allocates.
  // The slots trade their limbs (mpz_swap): only limbs outside the set
  // taken in zone 2 were moved by GMP.
  void keep() {
    for (int i = 0; i < kSlots; ++i) {
      bool home_limbs = false;
      for (int k = 0; k < kSlots && !home_limbs; ++k) home_limbs = s[i]._mp_d == home[k];
      if (home_limbs) continue;
      const u64 n = limbs(s[i]);
      if (n + 8 > room) room = n + 8;
      QUOR_NAME(swap_zone)();
      mp_limb_t* d = static_cast<mp_limb_t*>(QUOR_NAME(alloc64)(room * sizeof(mp_limb_t)));
      QUOR_NAME(swap_zone)();
      if (n) std::memmove(d, s[i]._mp_d, n * sizeof(mp_limb_t));
      s[i]._mp_d = d;
      s[i]._mp_alloc = int(room);
    }
    for (int i = 0; i < kSlots; ++i) home[i] = s[i]._mp_d;
  }

  // Half-extended Euclid on (Mod, a), a not small: (r0, r1) = (Mod, a),
  // (t0, t1) = (0, 1).  true with the fraction r1/t1: at the first small
  // remainder when its cofactor is small too (the balanced bound); failing
  // that, before it or after it, at the first remainder that the next
  // quotient exceeds by 2^kLooseMarginBits (then |r1 t1| is about Mod over
  // that quotient: a fraction of unbalanced sizes, a small numerator over a
  // large denominator or the reverse, reconstructs as soon as Mod exceeds
  // their product by that margin, and a random value shows such a quotient
  // once in 2^63).  false when a remainder reaches 0 first (the value needs
  // more primes).  small_bits bounds the bit length of every small value.
  //
  // While r1 is far above the bound, Lehmer steps replace runs of about 30
  // quotient steps by one 2x2 matrix of single words, found on the leading
  // bits alone (Knuth's two trial quotients, algorithm L of TAOCP 4.5.2).
  // A matrix with entries of at most 2^61 leaves r0 at least 2^-62 of the
  // r1 before it, so with r1 128 bits above the bound no remainder before
  // the new r1 is small: the first small remainder is still found exactly;
  // and it takes no quotient of 2^61 or more, so every large quotient is
  // seen by a full division.
  //
  // GMP takes the scratch of an operation on large operands through the
  // zone allocator, which frees nothing: every step gives it back (mark
  // restored, slots kept), or the steps of one reconstruction would retain
  // their scratch until the end of the pass.
  template <class Small>
  bool euclid(const INT& a, const INT& mod, Small small, u64 small_bits) {
    INT &r0 = s[kR0], &r1 = s[kR1], &t0 = s[kT0], &t1 = s[kT1], &q = s[kQ], &w = s[kW];
    Mark mk;
    mpz_set(&r0, &mod);
    mpz_set(&r1, &a);
    mpz_set_ui(&t0, 0);
    mpz_set_ui(&t1, 1);
    bool balanced = true;  // the balanced bound is still ahead
    for (;;) {
      if (mpz_sgn(&r1) == 0) return false;
      const u64 nb = mpz_sizeinbase(&r1, 2);
      i64 A = 1, B = 0, C = 0, D = 1;
      if (nb > (balanced ? small_bits : 0) + 128) lehmer_matrix(r0, r1, A, B, C, D);
      if (B == 0) {
        mpz_tdiv_qr(&q, &w, &r0, &r1);
        if (mpz_sizeinbase(&q, 2) > kLooseMarginBits) {
          mk.restore();
          keep();
          return true;
        }
        mpz_swap(&r0, &r1);
        mpz_swap(&r1, &w);
        mpz_mul(&w, &q, &t1);
        mpz_sub(&w, &t0, &w);
        mpz_swap(&t0, &t1);
        mpz_swap(&t1, &w);
      } else {
        apply(r0, r1, A, B, C, D);
        apply(t0, t1, A, B, C, D);
      }
      mk.restore();
      keep();
      if (mpz_sgn(&r1) == 0) return false;
      if (balanced && small(r1)) {
        if (small(t1)) return true;
        balanced = false;
      }
    }
  }

  // (x, y) = (A x + B y, C x + D y), through the scratch slots.
  void apply(INT& x, INT& y, i64 A, i64 B, i64 C, i64 D) {
    INT &u = s[kQ], &v = s[kW];
    const auto addmul = [](INT& to, const INT& f, i64 m) {
      if (m >= 0) mpz_addmul_ui(&to, &f, u64(m));
      else mpz_submul_ui(&to, &f, u64(-m));
    };
    mpz_mul_si(&u, &x, A);
    addmul(u, y, B);
    mpz_mul_si(&v, &x, C);
    addmul(v, y, D);
    mpz_swap(&x, &u);
    mpz_swap(&y, &v);
  }

  // x >> shift for a shift leaving at most 61 bits.
  static i64 leading(const INT& x, u64 shift) {
    const u64 n = limbs(x), i = shift / 64, o = shift % 64;
    if (i >= n) return 0;
    u64 v = x._mp_d[i] >> o;
    if (o != 0 && i + 1 < n) v |= u64(x._mp_d[i + 1]) << (64 - o);
    return i64(v);
  }

  // The matrix of the quotient steps that the leading 61 bits of r0 and r1
  // determine (B = 0: none; the caller takes one full division).  Knuth's
  // invariants keep uh + A, uh + B, vh + C, vh + D in [0, 2^61], so no
  // product below overflows.
  static void lehmer_matrix(const INT& r0, const INT& r1, i64& A, i64& B, i64& C, i64& D) {
    const u64 shift = mpz_sizeinbase(&r0, 2) - 61;
    i64 uh = leading(r0, shift), vh = leading(r1, shift);
    for (;;) {
      if (vh + C <= 0 || vh + D <= 0) return;
      const i64 q = (uh + A) / (vh + C);
      if (q != (uh + B) / (vh + D)) return;
      i64 qc, qd, qv;
      // Never taken while the invariants hold; a guard, not a path.
      if (__builtin_mul_overflow(q, C, &qc) || __builtin_mul_overflow(q, D, &qd) ||
          __builtin_mul_overflow(q, vh, &qv))
        return;
      i64 t = A - qc;
      A = C;
      C = t;
      t = B - qd;
      B = D;
      D = t;
      t = uh - qv;
      uh = vh;
      vh = t;
    }
  }

  // Reconstructs a in [0, Mod): 1 and num/den (fresh) on success, 0 and
  // nothing written on failure.  small(v): |v| lies under the bound.
  template <class Small>
  int term(const INT& a, const INT& mod, Small small, u64 small_bits, INT* num, INT* den) {
    if (mpz_sgn(&a) == 0) {
      *num = fresh();
      *den = QUOR_NAME(cINT_I32)(1);
      return 1;
    }
    if (small(a)) {
      *num = exact_copy(a);
      *den = QUOR_NAME(cINT_I32)(1);
      return 1;
    }
    // GMP's scratch of the steps below goes back before the results are made.
    Mark mk;
    const auto settle = [&] {
      mk.restore();
      keep();
    };
    INT& L = s[kL];
    // Under a known denominator a value needs only its numerator's size:
    // y = a L mod Mod (symmetric) is num L / den exactly when den | L and
    // that is below Mod / 2; when den does not divide L, y is as good as
    // random, below Mod / 2^kLooseMarginBits once in 2^63 tries.  Then y is
    // the fraction (num L / g) / (den / g), g = gcd(den, L): its denominator
    // is only what L lacks, so y reconstructs with a modulus of about the
    // numerator's size too, and a = that fraction / L.
    const u64 mod_bits = mpz_sizeinbase(&mod, 2);
    const u64 loose_bits = mod_bits > kLooseMarginBits + 1 ? mod_bits - 1 - kLooseMarginBits : 0;
    const auto loose = [&](const INT& v) { return mpz_sgn(&v) == 0 || mpz_sizeinbase(&v, 2) <= loose_bits; };
    const bool known = mpz_cmp_ui(&L, 1) != 0 && loose(L);
    if (known) {
      INT &y = s[kW], &h = s[kQ];
      mpz_mul(&y, &a, &L);
      mpz_mod(&y, &y, &mod);
      mpz_mul_2exp(&h, &y, 1);
      if (mpz_cmp(&h, &mod) > 0) mpz_sub(&y, &y, &mod);
      settle();
      if (loose(y)) {
        *num = exact_copy(y);
        *den = exact_copy(L);
        return 1;
      }
      if (mpz_sgn(&y) < 0) mpz_add(&y, &y, &mod);
    }
    // euclid reads its argument before it uses the slot.
    if (!euclid(known ? s[kW] : a, mod, small, small_bits)) return 0;
    INT &r1 = s[kR1], &t1 = s[kT1], &g = s[kQ];
    if (mpz_sgn(&t1) < 0) {
      mpz_neg(&r1, &r1);
      mpz_neg(&t1, &t1);
    }
    mpz_gcd(&g, &r1, &t1);
    if (mpz_cmp_ui(&g, 1) != 0) {
      mpz_divexact(&r1, &r1, &g);
      mpz_divexact(&t1, &t1, &g);
    }
    // With L known the denominator is t1 L = lcm(L, den): a stored
    // denominator is always the lcm of reduced ones.
    if (known) mpz_mul(&L, &L, &t1);
    else mpz_lcm(&L, &L, &t1);
    settle();
    *num = exact_copy(r1);
    *den = exact_copy(known ? L : t1);
    return 1;
  }
};

// One Chinese-remainder step from a modulus M_old to M = M_old * P (P the
// product of the block): x = x_old + M_old * ((c - x_old) * M_old^-1 mod P),
// x_old in [0, M_old), c the block's value.  Only products of a full-size
// integer by a block-size one: the E_old/E_new form (c * E_new + x_old *
// E_old mod M) multiplies two full-size integers and divides by M, which
// dominates long reconstructions.  The constants come from M and E_new =
// M_old * (M_old^-1 mod P); they live above the caller's zone-1 mark.
struct CrtStep {
  INT P, Mold, inv;
  CrtStep(const INT& M, const INT& E_new) : P(QUOR_NAME(product_of_primes)), Mold(fresh()), inv(fresh()) {
    mpz_divexact(&Mold, &M, &P);
    mpz_divexact(&inv, &E_new, &Mold);
  }
  // out = the combined value (out may not alias c or x_old).  Temporaries
  // are cleared: it also runs on integers of GMP's own allocator (threads).
  void combine(INT& out, const INT& c, const INT& x_old) const {
    mpz_t reduced;
    mpz_init(reduced);
    const INT* x = &x_old;
    if (mpz_sgn(&x_old) < 0 || mpz_cmp(&x_old, &Mold) >= 0) {
      mpz_fdiv_r(reduced, &x_old, &Mold);
      x = reduced;
    }
    mpz_fdiv_r(&out, x, &P);
    mpz_sub(&out, &c, &out);
    mpz_mul(&out, &out, &inv);
    mpz_fdiv_r(&out, &out, &P);
    mpz_mul(&out, &out, &Mold);
    mpz_add(&out, &out, x);
    mpz_clear(reduced);
  }
};

}  // namespace


// ---- constants of the block ----
INT prime_product(u32 a, u32 b) { return product_of(valid_Primes, a, b); }

INT QUOR_NAME(compute_bound)(INT P) {
  Mark mk;
  INT h = fresh();
  mpz_fdiv_q_2exp(&h, &P, 1);
  if (valid_number_of_primes > 1) mpz_fdiv_q_ui(&h, &h, valid_Primes[0]);
  INT B = fresh();
  mpz_sqrt(&B, &h);
  mk.restore();
  in_place_copy_INT(&B);
  return B;
}

INT* init_Chinese_cstes(const u32* primes, u32 n) {
  INT* tree = static_cast<INT*>(QUOR_NAME(xmalloc_spec)(u64(2) * n * sizeof(INT) + 1, 5));
  for (u64 i = 0; i < 2 * u64(n); ++i) mpz_init(&tree[i]);
  if (n < 2) return tree;
  Mark outer;
  INT P = product_of(primes, 0, n);
  // c_i = ((P / p_i) mod p_i)^-1 mod p_i
  std::vector<u32> c(n);
  for (u32 i = 0; i < n; ++i) {
    Mark mk;
    INT Pi = fresh();
    mpz_divexact_ui(&Pi, &P, primes[i]);
    const u32 r = u32(mpz_fdiv_ui(&Pi, primes[i]));
    mk.restore();
    c[i] = inv_Dom(r, primes[i]);
  }
  u32 idx = 0;
  const u32 mid = n / 2;
  fill_tree(primes, c, 0, mid, mid, n, tree, idx);
  fill_tree(primes, c, mid, n, 0, mid, tree, idx);
  outer.restore();
  glisser_INTs(tree, idx);
  return tree;
}

void init_Lift_INT() {
  if (!QUOR_NAME(want_lift)) return;
  u32 n = QUOR_NAME(numberOfPrimes)();
  // Residue arrays and primes exist for the block only: never read past it.
  if (n > QUOR_NAME(vectorize)) n = QUOR_NAME(vectorize);
  init_Lift_over(QUOR_NAME(listOfPrimes)(), n);
}

void init_Lift_over(u32* primes, u32 n) {
  valid_number_of_primes = n;
  valid_Primes = primes;
  if (n == 0 || valid_Primes == nullptr) return;
  QUOR_NAME(product_of_primes) = prime_product(0, n);
  QUOR_NAME(maxi_INT) = QUOR_NAME(compute_bound)(QUOR_NAME(product_of_primes));
  chinese_cstes = init_Chinese_cstes(valid_Primes, n);
}

LiftContext lift_context() {
  return {valid_number_of_primes, valid_Primes, QUOR_NAME(product_of_primes), QUOR_NAME(maxi_INT), chinese_cstes};
}

void set_lift_context(const LiftContext& c) {
  valid_number_of_primes = c.n;
  valid_Primes = c.primes;
  QUOR_NAME(product_of_primes) = c.P;
  QUOR_NAME(maxi_INT) = c.B;
  chinese_cstes = c.tree;
}

void QUOR_NAME(re_init_Chineese_INT)() { init_Lift_INT(); }
void QUOR_NAME(init_Chineese_INT)() { init_Lift_INT(); }
void QUOR_NAME(recursive_init_Chinese)() { init_Lift_INT(); }

// ---- Chinese remaindering ----
INT Chinese_INT(const u32* residues, const INT* tree, u32 n) {
  Mark mk;
  INT x = fresh();
  chinese_into(&x, residues, tree, n);
  mk.restore();
  in_place_copy_INT(&x);
  return x;
}

// ---- rational reconstruction ----
int internal_lift_INT(INT x, INT P, INT B, INT* num, INT* den) {
  Mark mk;
  INT a = fresh();
  mpz_mod(&a, &x, &P);
  if (mpz_cmp(&a, &B) < 0) {
    mk.restore();
    in_place_copy_INT(&a);
    *num = a;
    *den = QUOR_NAME(cINT_I32)(1);
    return 1;
  }
  INT r0 = fresh(), r1 = a, t0 = fresh(), t1 = QUOR_NAME(cINT_I32)(1);
  mpz_set(&r0, &P);
  // A remainder reaching 0 before falling under B means gcd(a, P) >= B: a
  // numerator divisible by block primes beyond what the bound covers.  The
  // value needs more primes; it is not an error.
  bool ok = true;
  for (;;) {
    if (mpz_sgn(&r1) == 0) { ok = false; break; }
    euclid_step(mk, r0, r1, t0, t1);
    if (mpz_sgn(&r1) == 0) { ok = false; break; }
    if (mpz_cmpabs(&r1, &B) < 0) break;
  }
  if (ok && mpz_cmpabs(&t1, &B) >= 0) ok = false;
  if (!ok) {
    if (!QUOR_NAME(want_small) && !QUOR_NAME(want_quiet))
      QUOR_NAME(Stderr)("Bad convergence v2= %f v3=%f b=%f\n", QUOR_NAME(estime_log_INT)(t1),
                        QUOR_NAME(estime_log_INT)(r1), QUOR_NAME(estime_log_INT)(B));
    mk.restore();
    *num = fresh();
    *den = QUOR_NAME(cINT_I32)(1);
    return 0;
  }
  finish_fraction(r1, t1, num, den);
  mk.restore();
  QUOR_NAME(glisser_INT2)(num, den);
  return 1;
}

int QUOR_NAME(lift_INT)(INT x, INT* num, INT* den) {
  return internal_lift_INT(x, QUOR_NAME(product_of_primes), QUOR_NAME(maxi_INT), num, den);
}

int QUOR_NAME(try_lift_one_INT)(const u32* residues, INT* rec) {
  rec[0] = Chinese_INT(residues, chinese_cstes, valid_number_of_primes);
  if (mpz_sgn(&rec[0]) == 0) {
    rec[1] = fresh();
    rec[2] = QUOR_NAME(cINT_I32)(1);
    return 1;
  }
  return QUOR_NAME(lift_INT)(rec[0], &rec[1], &rec[2]);
}

int QUOR_NAME(try_lift_row_INT)(u32* const* rows, u32 j, INT* rec) {
  return QUOR_NAME(try_lift_one_INT)(gather(rows, j).data(), rec);
}

int QUOR_NAME(lift_one_INT)(const u32* residues, INT out[2]) {
  if (QUOR_NAME(want_chinese_only)) {
    out[0] = Chinese_INT(residues, chinese_cstes, valid_number_of_primes);
    out[1] = QUOR_NAME(cINT_I32)(1);
    return 1;
  }
  INT rec[3];
  const int ok = QUOR_NAME(try_lift_one_INT)(residues, rec);
  out[0] = rec[1];
  out[1] = rec[2];
  return ok;
}

int QUOR_NAME(lift_row_INT)(u32* const* rows, u32 j, INT out[2], i32 flag) {
  if (flag != 1) return 1;
  return QUOR_NAME(lift_one_INT)(gather(rows, j).data(), out);
}

int QUOR_NAME(recursive_lift_row_INT)(u32* const* rows, u32 j, INT out[2], i32 flag) {
  return QUOR_NAME(lift_row_INT)(rows, j, out, flag);
}

// ---- primitive parts ----
int QUOR_NAME(primpart)(INT* extra, INT* coefs, u32* const* rows, u32 nterms) {
  GC_state m2;
  INT* table = zone2_table(&m2, 3 * u64(nterms));
  PolyLift lift(QUOR_NAME(product_of_primes));
  const INT& P = QUOR_NAME(product_of_primes);
  const INT& B = QUOR_NAME(maxi_INT);
  const auto small = [&](const INT& v) { return mpz_cmpabs(&v, &B) < 0; };
  // Last term first (the largest values sit in the tail); after a failure
  // the remaining terms only get their Chinese-remainder value.
  bool all = true;
  for (u32 j = nterms; j-- > 0;) {
    INT* rec = &table[3 * j];
    rec[0] = Chinese_INT(gather(rows, j).data(), chinese_cstes, valid_number_of_primes);
    if (!all) continue;
    mpz_mod(&lift.s[kA], &rec[0], &P);
    const int ok = lift.term(lift.s[kA], P, small, mpz_sizeinbase(&B, 2), &rec[1], &rec[2]);
    if (!ok) {
      all = false;
      if (!QUOR_NAME(want_small) && !QUOR_NAME(want_quiet))
        QUOR_NAME(Stderr)("Bad convergence v2= %f v3=%f b=%f\n", QUOR_NAME(estime_log_INT)(lift.s[kT1]),
                          QUOR_NAME(estime_log_INT)(lift.s[kR1]), QUOR_NAME(estime_log_INT)(B));
    }
  }
  return primitive_or_chinese(all, extra, coefs, table, nterms, &m2);
}

INT QUOR_NAME(inv_mod_INT)(INT a, INT m) {
  Mark mk;
  INT r0 = fresh(), r1 = fresh(), t0 = fresh(), t1 = QUOR_NAME(cINT_I32)(1);
  mpz_set(&r0, &m);
  mpz_mod(&r1, &a, &m);
  if (mpz_sgn(&r1) == 0) {
    if (mpz_cmp_ui(&m, 1) == 0) {
      mk.restore();
      return fresh();
    }
    QUOR_NAME(Fatal)("(G5) The primes are not coprime");
  }
  while (!mpz_divisible_p(&r0, &r1)) euclid_step(mk, r0, r1, t0, t1, &m);
  // The last remainder is the gcd: anything but 1 leaves no inverse.
  if (mpz_cmp_ui(&r1, 1) != 0) QUOR_NAME(Fatal)("(G5) The primes are not coprime");
  mk.restore();
  in_place_copy_INT(&t1);
  return t1;
}

u32 QUOR_NAME(compute_bound_size)(INT M) {
  const u64 L = 2 * limbs(M);
  if (L == 0) QUOR_NAME(Fatal)("pas fait in compute_bound_size n=%d --> l=%d!\n", 0, int(L));
  const u64 h = (L - 1) / 2;
  if (h < 4) QUOR_NAME(Fatal)("pas fait in compute_bound_size n=%d --> l=%d!\n", int(h), int(L));
  return u32(h - 2);
}

int QUOR_NAME(try_upgrade_lift_one_INT)(const u32* residues, INT* rec, INT x_old, INT M, u32 bound,
                                        INT E_old, INT E_new, i32 update_only) {
  (void)E_old;  // implied by M and E_new
  {
    Mark mk;
    const CrtStep step(M, E_new);
    INT c = Chinese_INT(residues, chinese_cstes, valid_number_of_primes);
    INT x = fresh();
    step.combine(x, c, x_old);
    mk.restore();
    in_place_copy_INT(&x);
    rec[0] = x;
  }
  if (update_only) return 0;
  const u64 b = bound;
  if (mpz_sgn(&rec[0]) == 0 || (b > 2 * limbs(rec[0]) && b > 2)) {
    rec[1] = QUOR_NAME(copy_INT)(rec[0]);
    rec[2] = QUOR_NAME(cINT_I32)(1);
    return 1;
  }
  Mark mk;
  INT r0 = fresh(), r1 = fresh(), t0 = fresh(), t1 = QUOR_NAME(cINT_I32)(1);
  mpz_set(&r0, &M);
  mpz_set(&r1, &rec[0]);
  bool ok = true;
  while (b <= 2 * limbs(r1)) {
    if (mpz_sgn(&r1) == 0) { ok = false; break; }
    euclid_step(mk, r0, r1, t0, t1);
  }
  // r1 = 0: needs more primes (see internal_lift_INT).
  if (mpz_sgn(&r1) == 0 || b <= 2 * limbs(t1)) ok = false;
  if (!ok) {
    mk.restore();
    rec[1] = fresh();
    rec[2] = QUOR_NAME(cINT_I32)(1);
    return 0;
  }
  finish_fraction(r1, t1, &rec[1], &rec[2]);
  mk.restore();
  QUOR_NAME(glisser_INT2)(&rec[1], &rec[2]);
  return 1;
}

int QUOR_NAME(try_upgrade_lift_row_INT)(u32* const* rows, u32 j, INT* rec, INT x_old, u32 bound, INT M,
                                        INT E_old, INT E_new, i32 update_only) {
  return QUOR_NAME(try_upgrade_lift_one_INT)(gather(rows, j).data(), rec, x_old, M, bound, E_old, E_new,
                                             update_only);
}

int QUOR_NAME(primpart_upgrade)(INT* extra, INT* coefs, u32* const* rows, u32 nterms, INT M, u32 bound,
                                INT E_old, INT E_new) {
  (void)E_old;  // implied by M and E_new
  combine_upgrade(coefs, rows, nterms, M, E_new);
  return primpart_lift(extra, coefs, nterms, M, bound);
}

int primpart_lift(INT* extra, INT* coefs, u32 nterms, const INT& M, u32 bound) {
  GC_state m2;
  INT* table = zone2_table(&m2, 3 * u64(nterms));
  PolyLift lift(M);
  const u64 b = bound;
  const auto small = [b](const INT& v) { return b > 2 * limbs(v); };
  bool failed = false;
  for (u32 j = nterms; j-- > 0;) {
    INT* rec = &table[3 * j];
    rec[0] = coefs[j];
    if (failed) continue;
    // A small value has at most (b - 1) / 2 limbs.
    if (!lift.term(rec[0], M, small, 32 * b, &rec[1], &rec[2])) failed = true;
  }
  return primitive_or_chinese(!failed, extra, coefs, table, nterms, &m2);
}

void combine_upgrade(INT* coefs, u32* const* rows, u32 nterms, INT M, INT E_new) {
  combine_upgrade_many({{coefs, rows, nterms}}, M, E_new);
}

void combine_upgrade_many(const std::vector<UpgradeJob>& jobs, const INT& M, const INT& E_new) {
  const CrtStep step(M, E_new);
  std::vector<std::pair<u32, u32>> work;
  for (u32 i = 0; i < jobs.size(); ++i)
    for (u32 j = 0; j < jobs[i].nterms; ++j) work.emplace_back(i, j);
  const u32 V = valid_number_of_primes;
  // Small work stays on the caller, in the zones.
  if (limbs(M) < kTeamCombineLimbs || work.size() < 2 || omp_get_max_threads() < 2) {
    std::vector<u32> res(V);
    for (auto [i, j] : work) {
      for (u32 k = 0; k < V; ++k) res[k] = jobs[i].rows[k][j];
      Mark mk;
      INT c = fresh(), x = fresh();
      chinese_into(&c, res.data(), chinese_cstes, V);
      step.combine(x, c, jobs[i].coefs[j]);
      mk.restore();
      in_place_copy_INT(&x);
      jobs[i].coefs[j] = x;
    }
    return;
  }
  // A team: the zones are not shared between threads, so GMP takes its own
  // allocator for the team's integers; the results are copied into the
  // zone afterwards and given back.
  std::vector<__mpz_struct> out(work.size());
  void* (*zone_alloc)(std::size_t);
  void* (*zone_realloc)(void*, std::size_t, std::size_t);
  void (*zone_free)(void*, std::size_t);
  mp_get_memory_functions(&zone_alloc, &zone_realloc, &zone_free);
  mp_set_memory_functions(nullptr, nullptr, nullptr);
  void (*own_free)(void*, std::size_t);
  mp_get_memory_functions(nullptr, nullptr, &own_free);
  {
    NoRaiseRegion guard;
#pragma omp parallel num_threads(team_width(u32(omp_get_max_threads())))
    {
      std::vector<u32> res(V);
      mpz_t c;
      mpz_init(c);
#pragma omp for schedule(dynamic, 4)
      for (std::size_t k = 0; k < work.size(); ++k) {
        const auto [i, j] = work[k];
        for (u32 r = 0; r < V; ++r) res[r] = jobs[i].rows[r][j];
        chinese_into(c, res.data(), chinese_cstes, V);
        mpz_init(&out[k]);
        step.combine(out[k], *c, jobs[i].coefs[j]);
      }
      mpz_clear(c);
    }
  }
  mp_set_memory_functions(zone_alloc, zone_realloc, zone_free);
  for (std::size_t k = 0; k < work.size(); ++k) {
    const auto [i, j] = work[k];
    jobs[i].coefs[j] = exact_copy(out[k]);
    own_free(out[k]._mp_d, std::size_t(out[k]._mp_alloc) * sizeof(mp_limb_t));
  }
}

// ---- relocation of rows ----
void glisser_INTs(INT* row, u32 n) { glisser_INTs_add1(nullptr, row, n); }

void glisser_INTs_add1(INT* extra, INT* row, u32 n) {
  const u64 count = u64(n) + (extra ? 1 : 0);
  if (count == 0) return;
  GC_state m2;
  QUOR_NAME(swap_zone)();
  QUOR_NAME(save_GC_state)(&m2);
  INT** v = static_cast<INT**>(QUOR_NAME(alloc64)(count * sizeof(INT*)));
  QUOR_NAME(swap_zone)();
  for (u32 i = 0; i < n; ++i) v[i] = &row[i];
  if (extra) v[n] = extra;
  sort_Adresses(v, u32(count));
  for (u64 i = 0; i < count; ++i) in_place_copy_INT(v[i]);
  drop_zone2_table(&m2);
}

void relocate_INTs(std::vector<INT*>& v) {
  std::sort(v.begin(), v.end(), [](const INT* a, const INT* b) { return std::less<>()(a->_mp_d, b->_mp_d); });
  for (INT* x : v) in_place_copy_INT(x);
}

// ---- printing services ----
namespace {
void print_fraction(const INT& num, const INT& den) {
  if (mpz_cmp_ui(&den, 1) == 0) {
    QUOR_NAME(see_INT)(num);
  } else {
    QUOR_NAME(Output)("(");
    QUOR_NAME(see_INT)(num);
    QUOR_NAME(Output)("/");
    QUOR_NAME(see_INT)(den);
    QUOR_NAME(Output)(")");
  }
}
}  // namespace

void QUOR_NAME(output_INT)(FILE* stream, INT x) {
  QUOR_NAME(output) = stream;
  QUOR_NAME(see_INT)(x);
}

void QUOR_NAME(lift_output)(FILE* stream, const u32* residues) {
  QUOR_NAME(output) = stream;
  Mark mk;
  INT out[2];
  if (!QUOR_NAME(lift_one_INT)(residues, out)) QUOR_NAME(Output)("NYA");
  else print_fraction(out[0], out[1]);
  mk.restore();
}

int QUOR_NAME(lift_output_sgn)(FILE* stream, const u32* residues, int first, int alone) {
  QUOR_NAME(output) = stream;
  Mark mk;
  INT out[2];
  int more;
  if (!QUOR_NAME(lift_one_INT)(residues, out)) {
    QUOR_NAME(Output)(first ? "NYA" : "+NYA");
    more = !alone;
  } else if (mpz_cmp_ui(&out[1], 1) == 0 && QUOR_NAME(is_one_INT)(out[0])) {
    if (alone) QUOR_NAME(Output)(first ? "1" : "+1");
    else if (!first) QUOR_NAME(Output)("+");
    more = 0;
  } else if (mpz_cmp_ui(&out[1], 1) == 0 && QUOR_NAME(is_neg_one_INT)(out[0])) {
    QUOR_NAME(Output)(alone ? "-1" : "-");
    more = 0;
  } else if (mpz_cmp_ui(&out[1], 1) == 0) {
    if (!first && mpz_sgn(&out[0]) > 0) QUOR_NAME(Output)("+");
    QUOR_NAME(see_INT)(out[0]);
    more = !alone;
  } else {
    if (!first) QUOR_NAME(Output)("+");
    print_fraction(out[0], out[1]);
    more = !alone;
  }
  mk.restore();
  return more;
}

int QUOR_NAME(lift_array)(u32* const* rows, INT* out, u32 n) {
  INT L = QUOR_NAME(cINT_I32)(1);
  for (u32 i = 0; i < n; ++i) {
    INT v[2];
    if (!QUOR_NAME(lift_row_INT)(rows, i, v, 1)) return 0;
    INT g = fresh(), f = fresh(), m = fresh();
    mpz_gcd(&g, &v[1], &L);
    mpz_divexact(&f, &v[1], &g);  // den / g
    for (u32 k = 0; k < i; ++k) mpz_mul(&out[k], &out[k], &f);
    mpz_divexact(&m, &L, &g);     // L / g
    out[i] = fresh();
    mpz_mul(&out[i], &v[0], &m);
    mpz_mul(&L, &L, &f);
  }
  return 1;
}

void QUOR_NAME(invalid)(u32 p) { QUOR_NAME(Fatal)("invalid function does not work (prime %u) !\n", p); }

void QUOR_NAME(init_urgent_implement_Dom)() {
  // Static storage: the text must outlive memory resets.
  static char buffer[200];
  std::snprintf(buffer, sizeof buffer, "New Lift 2.0 + GC + GMP %u.%u.%u", 5u, 1u, 4294967294u);
  info_lift_package = buffer;
}

}  // namespace quor::QUOR_NS
