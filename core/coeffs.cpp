// Residue coefficients: primes, inverses, conversions, per-prime vectors.
#include "core/coeffs.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/bigint.h"
#include "core/channels.h"
#include "core/zone.h"

namespace quor::QUOR_NS {

int QUOR_NAME(want_raw_output) = 0;
int QUOR_NAME(want_lift) = 1;
int QUOR_NAME(want_chinese_only) = 0;
int QUOR_NAME(want_small) = 0;

#if QUOR_INT
u32 QUOR_NAME(vectorize) = 5;
u32 QUOR_NAME(maxi_vectorize) = 5;
u32* QUOR_NAME(Primes) = nullptr;
u32 offset_primes = 0;
u32* Primes_ori = nullptr;
u32* modulo6 = nullptr;
u32* modulo32 = nullptr;
double QUOR_NAME(taille_maxi) = 0.0;

namespace {
// The primes just below 2^32 are found by sieving a window [2^32 - W, 2^32)
// with the primes below 2^16; W is wide enough for 40,000 of them (the
// smallest lies 892,097 below 2^32).
std::vector<u32> build_default_primes() {
  const u64 top = u64(1) << 32;
  const u64 window = 900000;
  const u64 lo = top - window;
  std::vector<u8> small(65536, 1);
  std::vector<u8> composite(window, 0);
  for (u32 i = 2; i < 65536; ++i) {
    if (!small[i]) continue;
    for (u32 j = i * i; j < 65536; j += i) small[j] = 0;
    u64 start = ((lo + i - 1) / i) * i;
    for (u64 m = start; m < top; m += i) composite[m - lo] = 1;
  }
  std::vector<u32> all;
  for (u64 m = lo; m < top; ++m)
    if (!composite[m - lo]) all.push_back(u32(m));
  return std::vector<u32>(all.end() - kDefaultPrimesCount, all.end());
}
}  // namespace

const u32* default_primes32() {
  static const std::vector<u32> table = build_default_primes();
  return table.data();
}

namespace {
// Private state of the random stream: every block of primes restarts the
// same sequence.
char random_state[128];

void reseed_random() {
  initstate(1, random_state, sizeof random_state);
  setstate(random_state);
}
}  // namespace

void init_Dom() {
  const u32 v = QUOR_NAME(vectorize);
  const u32 o = offset_primes;
  if (v > QUOR_NAME(maxi_vectorize) || v == 0)
    QUOR_NAME(Fatal)("Not enough primes in default table\n");
  const i64 s = i64(kDefaultPrimesCount) - i64(v) - i64(o);
  if (s < 0) QUOR_NAME(Fatal)("Offset is not valid [2] ! %u %u %u %d\n", kDefaultPrimesCount, v, o, int(s));
  const u32* table = default_primes32();
  // One allocation, four arrays of v cells: primes, copy, 10^6, 2^32.
  u32* cells = static_cast<u32*>(QUOR_NAME(xmalloc_spec)(u64(16) * v, 5));
  QUOR_NAME(Primes) = cells;
  Primes_ori = cells + v;
  modulo6 = cells + 2 * u64(v);
  modulo32 = cells + 3 * u64(v);
  for (u32 k = 0; k < v; ++k) {
    const u32 p = table[s + k];
    if (p < (u32(1) << 31))
      QUOR_NAME(Fatal)("Valid prime p[%d]=%lu should >= 2^%u (in reset_Dom)\n", int(k), (unsigned long)p, 31u);
    QUOR_NAME(Primes)[k] = p;
    Primes_ori[k] = p;
    const u64 t = 1000 % p, w = 65536 % p;
    modulo6[k] = u32((t * t) % p);
    modulo32[k] = u32((w * w) % p);
  }
  QUOR_NAME(init_INT)();
  reseed_random();
}

// Extended Euclid on (p, a), keeping a's cofactor reduced modulo p.
u32 inv_Dom(u32 a, u32 p) {
  a %= p;
  if (a == 0) QUOR_NAME(Fatal)("non inversible pour p=%lu!\n", (unsigned long)p);
  if (p % a == 0) return 1;  // only a = 1 for a prime p
  u64 r0 = p, r1 = a, t0 = 0, t1 = 1;
  for (;;) {
    const u64 q = r0 / r1, r2 = r0 - q * r1;
    if (r2 == 0) break;
    const u64 qt = (q * t1) % p;
    const u64 t2 = t0 >= qt ? t0 - qt : t0 + p - qt;
    r0 = r1; r1 = r2; t0 = t1; t1 = t2;
  }
  return u32(t1);
}

void String_to_Dom_length(const char* text, u32* out, u32) {
  QUOR_NAME(convert_modulos)(text, out, QUOR_NAME(Primes), QUOR_NAME(vectorize));
}

void String_Float_to_Dom_length(const char*, u32*, u32) {
  QUOR_NAME(Fatal)("Pas fait String_Float_to_Dom_length\n");
}

int see_Dom(Dom a) {
  if (!QUOR_NAME(want_raw_output) && a == 1) return 0;
  QUOR_NAME(Output)("%u", a);
  return 1;
}

void enregistre(INT coefficient) {
  const double e = QUOR_NAME(estime_log_INT)(coefficient);
  if (e > QUOR_NAME(taille_maxi)) QUOR_NAME(taille_maxi) = e;
}

#else  // prime-field build

i32 nb_threads = 1;

u32 QUOR_NAME(vectorize) = 1;
u32* QUOR_NAME(Primes) = nullptr;
u32 modulo6 = 0;
u32 modulo32 = 0;

void set_field_prime(u32 p) {
  QUOR_NAME(Primes) = static_cast<u32*>(QUOR_NAME(xmalloc)(sizeof(u32)));
  QUOR_NAME(Primes)[0] = p;
  QUOR_NAME(vectorize) = 1;
  const u64 t = 1000 % p, w = 65536 % p;
  modulo6 = u32((t * t) % p);
  modulo32 = u32((w * w) % p);
}

// inv(1) = 1, inv(a) = inv(p mod a) * (p - p div a) mod p; exact for p < 2^16
// (products below 2^32).  Iterative form of the recursion.
u32 inv_Dom(u32 a, u32 p) {
  a %= p;
  if (a == 0) QUOR_NAME(Fatal)("non inversible !\n");
  if (p >= 65536) {
    // Wider primes would overflow the 32-bit recursion; keep it exact.
    u64 r = 1, b = a, e = p - 2;
    while (e) { if (e & 1) r = r * b % p; b = b * b % p; e >>= 1; }
    return u32(r);
  }
  u32 r = 1;
  while (a > 1) {
    r = (r * (p - p / a)) % p;
    a = p % a;
  }
  return r;
}

Dom complex_String_to_Dom(const char* text, u32 length, u32 i) {
  const u32 p = QUOR_NAME(Primes)[i];
  const char* s = text;
  const char* end = text + length;
  bool neg = false;
  while (s < end && (*s == ' ' || *s == '-')) {
    if (*s == '-') neg = true;
    ++s;
  }
  // Chunks of six digits from the right, the leftmost one holding the rest.
  // Each chunk is read without writing into the text (which need not be
  // writable nor terminated at length); a non-digit ends a chunk's number.
  u64 L = u64(end - s);
  u64 acc = 0, power = 1;
  while (L > 0) {
    const u64 n = L >= 6 ? 6 : L;
    const char* chunk = s + (L - n);
    u64 val = 0;
    for (u64 k = 0; k < n && chunk[k] >= '0' && chunk[k] <= '9'; ++k) val = val * 10 + u64(chunk[k] - '0');
    acc = (acc + (val % p) * power) % p;
    power = (power * modulo6) % p;
    L -= n;
  }
  if (neg && acc != 0) acc = p - acc;
  return Dom(acc);
}

void QUOR_NAME(init_urgent_implement_Dom)() {}

#endif

void QUOR_NAME(vect_set_one)(u32* v) {
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) v[k] = 1;
}

void QUOR_NAME(vect_set)(u32* dst, const u32* src) {
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) dst[k] = src[k];
}

void QUOR_NAME(vect_inv)(u32* v) {
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k) v[k] = inv_Dom(v[k], QUOR_NAME(Primes)[k]);
}

int QUOR_NAME(find_property)(u32* const* vectors, u32 n) {
  if (n < 1) return 1;
  for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
    if (QUOR_NAME(Primes)[k] == 2) return 0;
  for (u32 j = 0; j < n; ++j)
    for (u32 k = 0; k < QUOR_NAME(vectorize); ++k)
      if (vectors[j][k] != 1) return 0;
  return 1;
}

void QUOR_NAME(display_tab_Dom)(const u32* v, u32 n) {
  if (QUOR_NAME(want_raw_output)) {
    QUOR_NAME(Output)("<");
    for (u32 k = 0; k < n; ++k) QUOR_NAME(Output)("%lu ", (unsigned long)v[k]);
    QUOR_NAME(Output)(">");
    return;
  }
#if QUOR_INT
  GC_state mark;
  QUOR_NAME(save_GC_state)(&mark);
  INT out[2];
  if (QUOR_NAME(lift_one_INT)(v, out)) {
    if (QUOR_NAME(is_one_INT)(out[1])) {
      QUOR_NAME(see_INT)(out[0]);
    } else {
      QUOR_NAME(Output)("(");
      QUOR_NAME(see_INT)(out[0]);
      QUOR_NAME(Output)("/");
      QUOR_NAME(see_INT)(out[1]);
      QUOR_NAME(Output)(")");
    }
  } else {
    QUOR_NAME(Output)("NYA");
  }
  QUOR_NAME(restore_GC_state)(&mark);
#endif
}

u32 QUOR_NAME(numberOfPrimes)() {
#if QUOR_INT
  return QUOR_NAME(maxi_vectorize);
#else
  return 1;
#endif
}

u32* QUOR_NAME(listOfPrimes)() { return QUOR_NAME(Primes); }

void monic_residues(Dom* c, u32 n, u32 p) {
  if (n == 0 || c == nullptr || c[0] == 1) return;
  const u32 i = inv_Dom(c[0], p);
  if (i == p - 1) {
    for (u32 j = 0; j < n; ++j) c[j] = neg_mod<Dom>(c[j], p);
  } else {
    for (u32 j = 0; j < n; ++j) c[j] = mul_mod<Dom>(c[j], Dom(i), p);
  }
}

void monic_all_slots(Dom* const* coeffs, u32 nslots, u32 n, const u32* primes) {
  for (u32 k = 0; k < nslots; ++k) monic_residues(coeffs[k], n, primes[k]);
}

}  // namespace quor::QUOR_NS
