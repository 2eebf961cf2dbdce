// Scratch arrays and wide accumulators shared by the dense polynomial code of
// both builds (build-independent; included by the dual headers).
#ifndef QUOR_MINPOLYVGF_SCRATCH_H
#define QUOR_MINPOLYVGF_SCRATCH_H
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
  // each product is below 2^64, so 2^31 of them stay below 2^95 (a 64-bit
  // sum plus a carry count)
  static_assert(sizeof(unsigned __int128) == 16, "128-bit accumulator");
  unsigned __int128 s = 0;
  void add(u32 a, u32 b) { s += u64(a) * b; }
  void add(u32 a) { s += a; }
  u32 reduce(u32 p) const { return u32(s % p); }
};

}  // namespace quor
#endif
