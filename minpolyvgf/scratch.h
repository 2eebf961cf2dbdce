// Scratch arrays and wide accumulators shared by the dense polynomial code of
// both builds (build-independent; included by the dual headers).
#ifndef QUOR_MINPOLYVGF_SCRATCH_H
#define QUOR_MINPOLYVGF_SCRATCH_H
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

#include "core/quor_build.h"

namespace quor {

// Temporary array of n entries: on the stack when small, on the heap
// otherwise (buffers sized by a matrix dimension in the tens of thousands
// would overflow a host thread's stack).  Entries are not initialised.
template <class T, std::size_t kInline = 256>
class Scratch {
 public:
  explicit Scratch(std::ptrdiff_t n) {
    const std::size_t m = n > 0 ? std::size_t(n) : 1;
    if (m <= kInline) {
      p_ = inline_;
    } else {
      heap_.reset(new T[m]);
      p_ = heap_.get();
    }
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  T* data() { return p_; }
  operator T*() { return p_; }

 private:
  T inline_[kInline];
  std::unique_ptr<T[]> heap_;
  T* p_;
};

// Residue arithmetic of one width.  A product of two residues plus one
// residue is formed in Wide and reduced at once.
template <class T>
struct ResidueOps {
  static_assert(std::is_same_v<T, u16> || std::is_same_v<T, u32>, "residues are u16 or u32");
  using Wide = std::conditional_t<sizeof(T) == 2, u32, u64>;
  static constexpr u64 kMax = (u64(1) << (8 * sizeof(T))) - 1;
  // (2^w - 1)^2 + (2^w - 1) < 2^(2w): a product plus an addend never wraps.
  static_assert(sizeof(T) == 4 || kMax * kMax + kMax <= u64(UINT32_MAX),
                "16-bit product plus addend fits 32 bits");
  static T mul_add(T a, T b, T c, u32 p) { return T((Wide(a) * b + c) % p); }
  static T mul(T a, T b, u32 p) { return T((Wide(a) * b) % p); }
};

// Sum of products of residues reduced once at the end (delayed reduction).
// The sums of this library have fewer than 2^31 terms (a degree or a
// dimension is a signed 32-bit value).
template <class T>
struct DotAcc;

template <>
struct DotAcc<u16> {
  // each product is below 2^32, so 2^31 of them stay below 2^63
  static_assert((u64(0xFFFF) * 0xFFFF) <= UINT64_MAX / u64(INT32_MAX),
                "2^31 products of 16-bit residues fit 64 bits");
  u64 s = 0;
  void add(u16 a, u16 b) { s += u32(a) * b; }
  void add(u16 a) { s += a; }
  u32 reduce(u32 p) const { return u32(s % p); }
};

template <>
struct DotAcc<u32> {
  // Each product is below 2^64; its low and high words are summed apart
  // (the form the vector kernel below can hold in 64-bit lanes), and 2^31
  // words of 32 bits stay below 2^63.
  static_assert(u64(UINT32_MAX) * u64(INT32_MAX) < (u64(1) << 63), "2^31 32-bit words fit 63 bits");
  u64 lo = 0, hi = 0;
  void add(u32 a, u32 b) {
    const u64 t = u64(a) * b;
    lo += u32(t);
    hi += t >> 32;
  }
  void add(u32 a) { lo += a; }
  u32 reduce(u32 p) const { return u32((((unsigned __int128)hi << 32) + lo) % p); }
};

// sum a[i] b[i] mod p over n < 2^31 entries of 32-bit residues, no alignment
// needed.  Four 64-bit lanes per vector hold the DotAcc<u32> sums of every
// fourth pair of entries, so each lane takes fewer words than the bound above.
__attribute__((target("avx2"))) inline u32 dot_u32_avx2(const u32* a, const u32* b, std::ptrdiff_t n, u32 p) {
  const __m256i mask = _mm256_set1_epi64x(i64(UINT32_MAX));
  __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
  std::ptrdiff_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i even = _mm256_mul_epu32(va, vb);
    const __m256i odd = _mm256_mul_epu32(_mm256_srli_epi64(va, 32), _mm256_srli_epi64(vb, 32));
    lo = _mm256_add_epi64(lo, _mm256_add_epi64(_mm256_and_si256(even, mask), _mm256_and_si256(odd, mask)));
    hi = _mm256_add_epi64(hi, _mm256_add_epi64(_mm256_srli_epi64(even, 32), _mm256_srli_epi64(odd, 32)));
  }
  alignas(32) u64 l[4], h[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(l), lo);
  _mm256_store_si256(reinterpret_cast<__m256i*>(h), hi);
  DotAcc<u32> acc;
  acc.lo = l[0] + l[1] + l[2] + l[3];
  acc.hi = h[0] + h[1] + h[2] + h[3];
  for (; i < n; ++i) acc.add(a[i], b[i]);
  return acc.reduce(p);
}

// The same sum by DotAcc<u32> alone (processors without AVX2).
inline u32 dot_u32_plain(const u32* a, const u32* b, std::ptrdiff_t n, u32 p) {
  DotAcc<u32> acc;
  for (std::ptrdiff_t i = 0; i < n; ++i) acc.add(a[i], b[i]);
  return acc.reduce(p);
}

// sum a[i] b[i] mod p, the vector kernel where the processor has it.
inline u32 dot_u32(const u32* a, const u32* b, std::ptrdiff_t n, u32 p) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 ? dot_u32_avx2(a, b, n, p) : dot_u32_plain(a, b, n, p);
}

}  // namespace quor
#endif
